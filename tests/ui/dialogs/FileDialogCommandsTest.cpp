// The main window's file-dialog commands on a fake window system: 40013 (and
// the Eject button and FileOpen key) with ADD and NEW, 40005 with its
// overwrite question and its failure, 40012 (and the PlayList key) with what
// the window does after the dialog.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/TempDir.h"
#include "tests/ui/FakeHost.h"
#include "ui/dialogs/FileDialogCommands.h"
#include "ui/dialogs/FileDialogTemplates.h"

namespace brellin::test {
namespace {

using brellin::testing::TempDir;

void command(FakeDialogHost& host, int id) {
    host.deliver(WM_COMMAND, makeCommandWParam(0, static_cast<std::uint16_t>(id)));
}

struct Rig {
    TempDir dir;
    std::string root;
    FakeWindowSystem system;
    MainWindow window{system};
    FakeWindowHost* host = nullptr;
    FileDialogCommands commands{system, window.playList};

    Rig() {
        EXPECT_TRUE(window.create());
        host = system.windows.at(0);
        root = dir.root.string() + "/";
        window.loadSkinAndPlace(root.c_str());
        commands.addTo(window.dialogs);
        window.updateMenuState();
        for (const char* name : {"a.mid", "b.mid", "c.mid", "Loud Song.MID"}) dir.write(name, "x");
    }
    void key(int virtualKey) { host->deliver(WM_KEYDOWN, static_cast<WParam>(virtualKey), 0); }
    std::vector<std::string> entryList() {
        std::vector<std::string> out;
        window.playList.lockEntries()->visit([&](const TextBuffer& text) {
            out.emplace_back(text.text());
            return true;
        });
        return out;
    }
    void save(const std::string& typed) {
        system.dialogScript = [typed](FakeDialogHost& dialog) {
            dialog.pumpPosted();
            dialog.texts[IDC_BROWSER_NAME] = typed;
            command(dialog, IDOK);
        };
        host->deliver(WM_COMMAND, makeCommandWParam(0, IDM_SAVE_PLAYLIST));
    }
};

TEST(FileDialogCommands, OpenFilesAddsOrReplacesTheList) {
    Rig rig;
    rig.window.playList.openPath("/music/old.mid");
    rig.window.playList.makeCurrent((rig.root + "a.mid").c_str());
    EXPECT_FALSE(rig.window.modalOpen);

    // ADD keeps the list; the browser starts in the current file's folder.
    rig.system.dialogScript = [&](FakeDialogHost& dialog) {
        dialog.pumpPosted();
        // Go up, Loud Song.MID, a.mid, b.mid, c.mid
        dialog.clickItem(IDC_FILE_LIST, 2);
        dialog.ctrlClickItem(IDC_FILE_LIST, 3);
        command(dialog, IDOK);
    };
    rig.host->deliver(WM_COMMAND, makeCommandWParam(0, IDM_OPEN_FILES));
    EXPECT_EQ(rig.system.dialogTemplates.back(), IDD_OPEN_FILE);
    EXPECT_EQ(rig.entryList(), (std::vector<std::string>{"/music/old.mid", rig.root + "a.mid", rig.root + "b.mid"}));

    // Closed without a choice: nothing changes.
    rig.system.dialogScript = [&](FakeDialogHost& dialog) { dialog.deliver(WM_CLOSE); };
    rig.key(38);  // FileOpen
    EXPECT_EQ(rig.system.dialogTemplates.size(), 2u);
    EXPECT_EQ(rig.entryList().size(), 3u);

    // NEW (here from the Eject button) replaces the list.
    rig.system.dialogScript = [&](FakeDialogHost& dialog) {
        dialog.pumpPosted();
        dialog.clickItem(IDC_FILE_LIST, 1);
        command(dialog, IDC_BROWSER_NEW);
    };
    const SkinRect eject = rig.window.skin.buttonRect(SKIN_BUTTON_EJECT);
    rig.host->deliver(WM_LBUTTONDOWN, MK_LBUTTON, makePointLParam(eject.left + 1, eject.top + 1));
    rig.host->deliver(WM_LBUTTONUP, 0, makePointLParam(eject.left + 1, eject.top + 1));
    EXPECT_EQ(rig.system.dialogTemplates.size(), 3u);
    EXPECT_EQ(rig.entryList(), (std::vector<std::string>{rig.root + "Loud Song.MID"}));
    EXPECT_EQ(rig.window.playList.currentIndex, 0);
    EXPECT_FALSE(rig.window.modalOpen);
}

TEST(FileDialogCommands, OpenFilesOffersKaraokeFilesAsMidiFiles) {
    Rig rig;
    std::filesystem::create_directory(rig.dir.path("karaoke"));
    for (const char* name : {"karaoke/Twinkle.kar", "karaoke/notes.txt", "karaoke/b.mid"}) rig.dir.write(name, "x");
    rig.window.playList.makeCurrent((rig.root + "karaoke/b.mid").c_str());
    std::vector<std::string> listed;
    rig.system.dialogScript = [&](FakeDialogHost& dialog) {
        dialog.pumpPosted();
        listed = dialog.listViews[IDC_FILE_LIST].texts;
        dialog.clickItem(IDC_FILE_LIST, 1);
        command(dialog, IDOK);
    };
    rig.host->deliver(WM_COMMAND, makeCommandWParam(0, IDM_OPEN_FILES));
    EXPECT_EQ(listed, (std::vector<std::string>{"Go up", "Twinkle.kar", "b.mid"}));
    // Chosen, it is a song of the list (not read as a play list).
    EXPECT_EQ(rig.entryList(), (std::vector<std::string>{rig.root + "karaoke/Twinkle.kar"}));
    EXPECT_STREQ(rig.window.playList.currentFile, (rig.root + "karaoke/Twinkle.kar").c_str());
}

TEST(FileDialogCommands, SavePlayListAsksBeforeReplacingExactlyThatFile) {
    Rig rig;
    rig.window.playList.makeCurrent((rig.root + "a.mid").c_str());
    rig.window.playList.openPath((rig.root + "a.mid").c_str());
    rig.window.playList.openPath((rig.root + "b.mid").c_str());
    rig.dir.write("ab.brl", "keep\n");

    // A new name: written without a question; the name is no pattern for ab.brl.
    rig.save("a*");
    EXPECT_EQ(rig.system.dialogTemplates.back(), IDD_SAVE_FILE);
    EXPECT_TRUE(rig.host->messageBoxes.empty());
    EXPECT_EQ(rig.dir.read("a*.brl"), rig.root + "a.mid\n" + rig.root + "b.mid\n");
    EXPECT_EQ(rig.dir.read("ab.brl"), "keep\n");
    EXPECT_STREQ(rig.window.playList.playListPath, (rig.root + "a*.brl").c_str());
    EXPECT_STREQ(rig.window.settings.recent[0].text(), (rig.root + "a*.brl").c_str());

    // The same name again: asked; No keeps the file, Yes replaces it.
    rig.window.playList.openPath((rig.root + "c.mid").c_str());
    rig.system.messageBoxAnswer = IDNO;
    rig.save("a*");
    ASSERT_EQ(rig.host->messageBoxes.size(), 1u);
    EXPECT_EQ(rig.host->messageBoxes[0].text, "Over write, ok?");
    EXPECT_EQ(rig.host->messageBoxes[0].caption, "REPORT");
    EXPECT_EQ(rig.host->messageBoxes[0].flags, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2);
    EXPECT_EQ(rig.dir.read("a*.brl"), rig.root + "a.mid\n" + rig.root + "b.mid\n");
    rig.system.messageBoxAnswer = IDYES;
    rig.save("a*");
    EXPECT_EQ(rig.dir.read("a*.brl"), rig.root + "a.mid\n" + rig.root + "b.mid\n" + rig.root + "c.mid\n");

    // A folder that does not exist: the error box, nothing recorded.
    rig.save(rig.root + "no such folder/list");
    ASSERT_EQ(rig.host->messageBoxes.size(), 3u);
    EXPECT_EQ(rig.host->messageBoxes[2].text, "Cannot create a play-list file.");
    EXPECT_EQ(rig.host->messageBoxes[2].caption, "ERROR");
    EXPECT_EQ(rig.host->messageBoxes[2].flags, MB_OK | MB_ICONWARNING);
    EXPECT_STREQ(rig.window.playList.playListPath, (rig.root + "a*.brl").c_str());
}

TEST(FileDialogCommands, PlayListDialogKeepsOrChangesTheCurrentEntry) {
    Rig rig;
    const std::string a = rig.root + "a.mid", b = rig.root + "b.mid", c = rig.root + "c.mid";
    for (const std::string* p : {&a, &b, &c}) rig.window.playList.openPath(p->c_str());
    rig.window.playList.currentIndex = 1;
    rig.window.playList.makeCurrent(b.c_str());

    // b moves up and the dialog is closed: b stays the current entry at its new place.
    rig.system.dialogScript = [&](FakeDialogHost& dialog) {
        dialog.pumpPosted();
        dialog.clickItem(IDC_FILE_LIST, 1);
        command(dialog, IDC_PLAYLIST_UP);
        dialog.deliver(WM_CLOSE);
    };
    rig.host->deliver(WM_COMMAND, makeCommandWParam(0, IDM_PLAYLIST));
    EXPECT_EQ(rig.system.dialogTemplates.back(), IDD_PLAYLIST);
    EXPECT_EQ(rig.entryList(), (std::vector<std::string>{b, a, c}));
    EXPECT_EQ(rig.window.playList.currentIndex, 0);
    EXPECT_STREQ(rig.window.playList.currentFile, b.c_str());

    // The current entry deleted, the dialog closed: the index stays in range.
    rig.window.playList.currentIndex = 2;
    rig.window.playList.makeCurrent(c.c_str());
    rig.system.dialogScript = [&](FakeDialogHost& dialog) {
        dialog.pumpPosted();
        dialog.clickItem(IDC_FILE_LIST, 2);
        command(dialog, IDC_PLAYLIST_DEL);
        dialog.deliver(WM_CLOSE);
    };
    rig.key(40);  // PlayList
    EXPECT_EQ(rig.entryList(), (std::vector<std::string>{b, a}));
    EXPECT_EQ(rig.window.playList.currentIndex, 0);

    // Enter on a row makes it current.
    rig.system.dialogScript = [&](FakeDialogHost& dialog) {
        dialog.pumpPosted();
        dialog.clickItem(IDC_FILE_LIST, 1);
        command(dialog, IDOK);
    };
    rig.key(40);
    EXPECT_EQ(rig.window.playList.currentIndex, 1);
    EXPECT_STREQ(rig.window.playList.currentFile, a.c_str());

    // Everything deleted, then a double click: the empty path is current.
    rig.system.dialogScript = [&](FakeDialogHost& dialog) {
        dialog.pumpPosted();
        dialog.clickItem(IDC_FILE_LIST, 0);
        dialog.ctrlClickItem(IDC_FILE_LIST, 1);
        command(dialog, IDC_PLAYLIST_DEL);
        dialog.control(IDC_FILE_LIST).deliver(WM_LBUTTONDBLCLK);
    };
    rig.key(40);
    EXPECT_TRUE(rig.entryList().empty());
    EXPECT_EQ(rig.window.playList.currentIndex, 0);
    EXPECT_STREQ(rig.window.playList.currentFile, "");
    EXPECT_FALSE(rig.window.modalOpen);
}

}  // namespace
}  // namespace brellin::test
