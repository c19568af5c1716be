// The play-list dialog and the File Information dialog against a fake dialog
// host: the buttons act on the entries the list shows (also when the list
// changed behind the dialog), the title checker's titles arrive by posted
// message and stale ones are dropped, a close never waits without bound, and
// Info opens its dialog with the play-list lock released.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/TempDir.h"
#include "tests/midi/MidiBytes.h"
#include "tests/ui/FakeHost.h"
#include "ui/dialogs/DialogText.h"
#include "ui/dialogs/FileDialogTemplates.h"
#include "ui/dialogs/FileInformationDialog.h"
#include "ui/dialogs/PlayListDialog.h"

namespace brellin::test {
namespace {

using brellin::testing::TempDir;
namespace midi = brellin::testing;

std::string nameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// Pumps the dialog's posted messages until `done` holds (bounded); what was
// posted before it held is delivered too.
template <class Condition>
bool pumpUntil(FakeDialogHost& host, Condition done) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        const bool finished = done();
        host.pumpPosted();
        if (finished) return true;
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// A StringList with a mutex of its own as the play-list lock; tryLock tells
// whether anybody holds it.
class MutexPlayListEntries : public PlayListEntries {
public:
    explicit MutexPlayListEntries(StringList& list) : entries(list) {}
    void lock() override { mutex.lock(); }
    void unlock() override { mutex.unlock(); }
    StringList& list() override { return entries; }
    bool tryLock() { return mutex.try_lock(); }

private:
    std::mutex mutex;
    StringList& entries;
};

std::vector<std::string> contents(MutexPlayListEntries& entries) {
    std::vector<std::string> out;
    std::lock_guard<PlayListEntries> guard(entries);
    entries.list().visit([&](const TextBuffer& text) {
        out.emplace_back(text.text());
        return true;
    });
    return out;
}

void command(FakeDialogHost& host, int id) {
    host.deliver(WM_COMMAND, makeCommandWParam(0, static_cast<std::uint16_t>(id)));
}

struct Entries {
    TempDir dir;
    StringList list;
    MutexPlayListEntries entries{list};
    std::string p0, p1, p2, p3;
    Entries() {
        p0 = dir.write("p0.mid", "x");
        p1 = dir.write("p1.mid", "x");
        p2 = dir.path("p2.mid");  // missing
        p3 = dir.write("p3 with space.MID", "x");
        for (const std::string* p : {&p0, &p1, &p2, &p3}) list.append(p->c_str());
    }
};

void quickTitle(const std::string& path, std::string& title) { title = "T " + nameOf(path); }

TEST(PlayListDialog, OpensOnTheCurrentEntryAndMarksThePlayingOne) {
    Entries e;
    FakeWindowSystem system;
    PlayListDialog dialog(system, e.entries, quickTitle);
    dialog.chosenIndex = 2;
    dialog.playingPath = e.p2;
    system.dialogScript = [&](FakeDialogHost& host) {
        host.pumpPosted();
        const FakeListView& view = host.listView(IDC_FILE_LIST);
        EXPECT_EQ(view.focused, 2);
        EXPECT_EQ(view.selected, (std::vector<bool>{false, false, true, false}));
        EXPECT_EQ(view.icons, (std::vector<int>{LIST_ICON_FILE, LIST_ICON_FILE, LIST_ICON_PLAYING, LIST_ICON_FILE}));
        EXPECT_EQ(dialog.selectedIndex, 2);
        // The title line is the current entry's.
        EXPECT_TRUE(pumpUntil(host, [&] { return host.texts[IDC_PLAYLIST_TITLE] == "T p2.mid"; }));
        // The mark follows the file when it moves.
        command(host, IDC_PLAYLIST_UP);
        EXPECT_EQ(host.listView(IDC_FILE_LIST).icons[1], LIST_ICON_PLAYING);
        command(host, IDCANCEL);
    };
    EXPECT_TRUE(dialog.doModal(nullptr, IDD_PLAYLIST));
}

TEST(PlayListDialog, ButtonsActOnTheEntriesShown) {
    Entries e;
    FakeWindowSystem system;
    PlayListDialog dialog(system, e.entries, quickTitle);
    dialog.chosenIndex = 1;
    system.dialogScript = [&](FakeDialogHost& host) {
        host.pumpPosted();
        EXPECT_EQ(host.listView(IDC_FILE_LIST).texts,
                  (std::vector<std::string>{"p0.mid", "p1.mid", "p2.mid", "p3 with space.MID"}));
        EXPECT_EQ(dialog.selectedIndex, 1);

        // Up swaps in place and keeps moving the same entry; the first row stays first.
        command(host, IDC_PLAYLIST_UP);
        EXPECT_EQ(contents(e.entries), (std::vector<std::string>{e.p1, e.p0, e.p2, e.p3}));
        EXPECT_EQ(dialog.chosenIndex, 0);
        command(host, IDC_PLAYLIST_UP);
        host.clickItem(IDC_FILE_LIST, 3);
        command(host, IDC_PLAYLIST_DOWN);
        EXPECT_EQ(contents(e.entries), (std::vector<std::string>{e.p1, e.p0, e.p2, e.p3}));

        // The title of the selected row arrives from the checker.
        EXPECT_TRUE(pumpUntil(host, [&] { return host.texts[IDC_PLAYLIST_TITLE] == "T p3 with space.MID"; }));

        // Check: only Yes removes; No and a box closed without an answer keep all.
        host.messageBoxAnswer = IDNO;
        command(host, IDC_PLAYLIST_CHECK);
        host.messageBoxAnswer = IDCANCEL;
        command(host, IDC_PLAYLIST_CHECK);
        EXPECT_EQ(contents(e.entries).size(), 4u);
        host.messageBoxAnswer = IDYES;
        command(host, IDC_PLAYLIST_CHECK);
        EXPECT_EQ(contents(e.entries), (std::vector<std::string>{e.p1, e.p0, e.p3}));
        ASSERT_EQ(host.messageBoxes.size(), 3u);
        EXPECT_EQ(host.messageBoxes[0].text, "Remove deleted files, ok?");
        EXPECT_EQ(host.messageBoxes[0].caption, "REPORT");
        EXPECT_EQ(host.messageBoxes[0].flags, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2);
        EXPECT_EQ(host.listView(IDC_FILE_LIST).texts.size(), 3u);

        // A recent play list put an entry in front while the dialog showed the
        // old list: Del on the row showing p0 removes p0, not what moved there.
        {
            std::lock_guard<PlayListEntries> guard(e.entries);
            e.list.insert(0, "/elsewhere/new.mid");
        }
        host.clickItem(IDC_FILE_LIST, 1);
        command(host, IDC_PLAYLIST_DEL);
        EXPECT_EQ(contents(e.entries), (std::vector<std::string>{"/elsewhere/new.mid", e.p1, e.p3}));
        EXPECT_EQ(host.listView(IDC_FILE_LIST).texts.size(), 3u);

        // Up on a list changed behind the dialog moves nothing and shows the list anew.
        {
            std::lock_guard<PlayListEntries> guard(e.entries);
            e.list.append("/elsewhere/late.mid");
        }
        host.clickItem(IDC_FILE_LIST, 2);
        command(host, IDC_PLAYLIST_UP);
        EXPECT_EQ(contents(e.entries),
                  (std::vector<std::string>{"/elsewhere/new.mid", e.p1, e.p3, "/elsewhere/late.mid"}));
        EXPECT_EQ(host.listView(IDC_FILE_LIST).texts.size(), 4u);

        // A double click plays the entry shown in the row, wherever it is now.
        host.clickItem(IDC_FILE_LIST, 2);  // p3
        {
            std::lock_guard<PlayListEntries> guard(e.entries);
            e.list.insert(0, "/elsewhere/first.mid");
        }
        host.control(IDC_FILE_LIST).deliver(WM_LBUTTONDBLCLK);
    };
    dialog.doModal(nullptr, IDD_PLAYLIST);
    EXPECT_TRUE(system.lastDialogEnded);
    EXPECT_TRUE(dialog.playChosen);
    EXPECT_EQ(dialog.chosenIndex, 3);
    EXPECT_TRUE(dialog.titleCheckState().expired());
}

// A scan that waits until the test lets the named file through.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    std::set<std::string> started;
    std::set<std::string> open;

    void scan(const std::string& path, std::string& title) {
        std::unique_lock<std::mutex> guard(mutex);
        started.insert(path);
        changed.notify_all();
        changed.wait(guard, [&] { return open.count(path) != 0; });
        title = "T " + nameOf(path);
    }
    void let(const std::string& path) {
        std::lock_guard<std::mutex> guard(mutex);
        open.insert(path);
        changed.notify_all();
    }
    bool waitStarted(const std::string& path) {
        std::unique_lock<std::mutex> guard(mutex);
        return changed.wait_for(guard, std::chrono::seconds(10), [&] { return started.count(path) != 0; });
    }
};

TEST(PlayListDialogTitleChecker, StaleTitlesAreDroppedAndACloseNeverWaitsLong) {
    Entries e;
    Gate gate;
    FakeWindowSystem system;
    std::weak_ptr<PlayListDialog::TitleCheck> state;
    {
        PlayListDialog dialog(system, e.entries, [&](const std::string& p, std::string& t) { gate.scan(p, t); });
        dialog.titleCheckerWait = 100;
        system.dialogScript = [&](FakeDialogHost& host) {
            host.pumpPosted();
            host.clickItem(IDC_FILE_LIST, 0);
            ASSERT_TRUE(gate.waitStarted(e.p0));
            // The scan runs outside the play-list lock.
            ASSERT_TRUE(e.entries.tryLock());
            e.entries.unlock();
            // The user moves on while p0 is measured; p0's title comes late.
            host.clickItem(IDC_FILE_LIST, 1);
            gate.let(e.p0);
            EXPECT_TRUE(pumpUntil(host, [&] { return host.posts() == 2; }));  // the refresh and p0's title
            EXPECT_EQ(host.texts[IDC_PLAYLIST_TITLE], "");
            // p1's title is shown unless its entry changed in the meantime.
            {
                std::lock_guard<PlayListEntries> guard(e.entries);
                e.list.remove(1);
                e.list.insert(1, "/elsewhere/replaced.mid");
            }
            gate.let(e.p1);
            EXPECT_TRUE(pumpUntil(host, [&] { return host.posts() == 3; }));
            EXPECT_EQ(host.texts[IDC_PLAYLIST_TITLE], "");
            host.clickItem(IDC_FILE_LIST, 3);
            gate.let(e.p3);
            EXPECT_TRUE(pumpUntil(host, [&] { return host.texts[IDC_PLAYLIST_TITLE] == "T p3 with space.MID"; }));

            // Closed while a scan hangs: the close returns after its bound.
            {
                std::lock_guard<std::mutex> guard(gate.mutex);
                gate.open.erase(e.p0);
                gate.started.erase(e.p0);
            }
            host.clickItem(IDC_FILE_LIST, 0);
            ASSERT_TRUE(gate.waitStarted(e.p0));
            state = dialog.titleCheckState();
            const auto before = std::chrono::steady_clock::now();
            host.deliver(WM_CLOSE);
            EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(3));
        };
        dialog.doModal(nullptr, IDD_PLAYLIST);
        EXPECT_TRUE(system.lastDialogEnded);
        EXPECT_FALSE(dialog.playChosen);
        EXPECT_TRUE(dialog.titleCheckerLeft);
        EXPECT_FALSE(state.expired());
    }
    // The dialog and its host are gone; the checker ends by itself without
    // posting anywhere, and its state goes with it.
    gate.let(e.p0);
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!state.expired() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(state.expired());
}

std::string songFile(const std::string& title, const std::string& copyright) {
    std::string body = midi::meta(0, 2, copyright) + midi::meta(0, 3, title);
    body += midi::noteOn(0, 0, 60, 100) + midi::noteOff(192, 0, 60) + midi::endOfTrack();
    return midi::header(0, 1, 96) + midi::track(body);
}

TEST(FileInformationDialog, InfoOpensWithTheLockReleasedAndShowsTheFile) {
    Entries e;
    const std::string longTitle(300, 'L');
    const std::string song =
        e.dir.write("p1.mid", songFile(longTitle, "\x83\x65\x83\x58\x83\x67 Me"));  // "テスト Me" in Shift-JIS
    const auto size = std::filesystem::file_size(song);
    FakeWindowSystem system;
    PlayListDialog dialog(system, e.entries, quickTitle);
    bool lockFree = false;
    system.templateScripts[IDD_FILE_INFORMATION] = [&](FakeDialogHost& host) {
        lockFree = e.entries.tryLock();
        if (lockFree) e.entries.unlock();
        command(host, IDCANCEL);
    };
    system.dialogScript = [&](FakeDialogHost& host) {
        host.pumpPosted();
        host.clickItem(IDC_FILE_LIST, 1);
        command(host, IDC_PLAYLIST_INFO);
        host.clickItem(IDC_FILE_LIST, 2);  // the missing file
        command(host, IDC_PLAYLIST_INFO);
        host.deliver(WM_CLOSE);
    };
    dialog.doModal(nullptr, IDD_PLAYLIST);
    EXPECT_TRUE(lockFree);
    // The last Info run was the missing file: an empty error box, the placeholders.
    const auto& missing = system.dialogTexts[IDD_FILE_INFORMATION];
    EXPECT_EQ(missing.at(IDC_INFO_FILE_NAME), e.p2);
    EXPECT_EQ(missing.at(IDC_INFO_POSITION), "3/4");
    EXPECT_EQ(missing.at(IDC_INFO_SIZE), "Unknown");
    EXPECT_EQ(missing.at(IDC_INFO_TITLE), "");
    const auto& boxes = system.dialogMessageBoxes[IDD_FILE_INFORMATION];
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "");
    EXPECT_EQ(boxes[0].caption, "ERROR");
    EXPECT_EQ(boxes[0].flags & MB_ICON_MASK, MB_ICONWARNING);

    // The song itself, opened directly.
    system.templateScripts[IDD_FILE_INFORMATION] = [&](FakeDialogHost& host) { command(host, IDCANCEL); };
    FileInformationDialog information(system, song, 1, 4);
    information.doModal(nullptr, IDD_FILE_INFORMATION);
    const auto& shown = system.dialogTexts[IDD_FILE_INFORMATION];
    EXPECT_TRUE(system.lastDialogEnded);
    EXPECT_EQ(shown.at(IDC_INFO_POSITION), "2/4");
    EXPECT_EQ(shown.at(IDC_INFO_TITLE), std::string(254, 'L'));
    EXPECT_EQ(shown.at(IDC_INFO_COPYRIGHT), "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88 Me");
    const std::string sizeText = shown.at(IDC_INFO_SIZE);
    EXPECT_EQ(sizeText.substr(0, 3), "0:0");
    EXPECT_EQ(sizeText.substr(4), " (" + std::to_string(size) + "byte)");
    EXPECT_TRUE(system.dialogMessageBoxes[IDD_FILE_INFORMATION].empty());

    // The field rules: minutes and seconds, a file of 8 bytes keeps "Unknown",
    // a cut title keeps whole characters.
    EXPECT_EQ(FileInformationDialog::sizeText(65000, 2345), "1:05 (2345byte)");
    EXPECT_EQ(FileInformationDialog::sizeText(59999, 10), "0:59 (10byte)");
    EXPECT_EQ(FileInformationDialog::sizeText(60000, 10), "1:00 (10byte)");
    const std::string tiny = e.dir.write("tiny.mid", "MThd\0\0\0\6");
    FileInformationDialog small(system, tiny, 0, 1);
    small.doModal(nullptr, IDD_FILE_INFORMATION);
    EXPECT_EQ(system.dialogTexts[IDD_FILE_INFORMATION].at(IDC_INFO_SIZE), "Unknown");
    std::string utf8Title(253, 'a');
    utf8Title += "\xE6\x9B\xB2\xE6\x9B\xB2";  // two 3-byte characters across byte 254
    EXPECT_EQ(fieldText(utf8Title.data(), utf8Title.size()), std::string(253, 'a'));
    std::string sjisTitle(253, 'a');
    sjisTitle += "\x82\xa0\x82\xa0";
    EXPECT_EQ(fieldText(sjisTitle.data(), sjisTitle.size()), std::string(253, 'a'));
}

}  // namespace
}  // namespace brellin::test
