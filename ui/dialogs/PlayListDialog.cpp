#include "ui/dialogs/PlayListDialog.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <utility>

#include "common/FileObject.h"
#include "midi/MidiFileInfo.h"
#include "ui/dialogs/DialogText.h"
#include "ui/dialogs/FileDialogTemplates.h"
#include "ui/dialogs/FileInformationDialog.h"
#include "ui/framework/ListView.h"

namespace brellin {

// What the dialog and its title checker share. Lock order: `mutex`, then the
// play-list lock; nobody takes `mutex` while holding the play-list lock.
struct PlayListDialog::TitleCheck {
    std::mutex mutex;
    std::condition_variable wake;      // the wake event
    std::condition_variable finished;  // the thread has ended
    bool woken = false;
    bool quit = false;
    bool done = false;
    std::int32_t selectedIndex = -1;
    // Where the checker reads and posts; used only while `quit` is false.
    PlayListEntries* entries = nullptr;
    DialogHost* host = nullptr;
    TitleScan scan;
    // The last title measured, waiting for the dialog.
    bool ready = false;
    std::int32_t index = -1;
    std::string path;
    std::string title;
};

namespace {

void runTitleChecker(std::shared_ptr<PlayListDialog::TitleCheck> check);

}  // namespace

void scanTitle(const std::string& path, std::string& title) {
    MidiFileInfo info;
    title.clear();
    if (scanMidiFile(path.c_str(), info)) title = fieldText(info.title, info.titleLength);
}

PlayListDialog::PlayListDialog(WindowSystem& windowSystem, PlayListEntries& playListEntries, TitleScan titleScan)
    : Dialog(windowSystem), entries(playListEntries), scan(std::move(titleScan)), listControl(*this) {}

PlayListDialog::~PlayListDialog() { stopTitleChecker(); }

LResult PlayListDialog::onInitDialog() {
    playChosen = false;
    stopTitleChecker();
    check = std::make_shared<TitleCheck>();
    check->entries = &entries;
    check->host = hwnd;
    check->scan = scan;
    checker = std::thread(runTitleChecker, check);
    if (hwnd == nullptr) return 0;
    listControl.attach(hwnd->item(IDC_FILE_LIST));
    listControl.subclass();
    hwnd->setFocus(IDC_FILE_LIST);
    hwnd->postMessage(WM_DIALOG_REFRESH, 0, 0);
    return 0;
}

namespace {

void runTitleChecker(std::shared_ptr<PlayListDialog::TitleCheck> check) {
    std::unique_lock<std::mutex> guard(check->mutex);
    for (;;) {
        check->wake.wait(guard, [&] { return check->woken || check->quit; });
        if (check->quit) break;
        check->woken = false;
        const std::int32_t index = check->selectedIndex;
        std::string path;
        bool found = false;
        if (index >= 0) {
            std::lock_guard<PlayListEntries> entriesGuard(*check->entries);
            if (TextBuffer* entry = check->entries->list().at(static_cast<std::uint32_t>(index))) {
                path = entry->text();
                found = true;
            }
        }
        if (!found) continue;
        guard.unlock();
        std::string title;
        check->scan(path, title);  // outside every lock: a slow file never blocks the dialog
        guard.lock();
        if (check->quit) break;
        check->ready = true;
        check->index = index;
        check->path = std::move(path);
        check->title = std::move(title);
        check->host->postMessage(WM_TITLE_READY, 0, 0);
    }
    check->done = true;
    check->finished.notify_all();
}

}  // namespace

void PlayListDialog::stopTitleChecker() {
    if (!check) return;
    {
        std::unique_lock<std::mutex> guard(check->mutex);
        check->quit = true;
        check->wake.notify_all();
        check->finished.wait_for(guard, std::chrono::milliseconds(titleCheckerWait), [&] { return check->done; });
        if (!check->done) titleCheckerLeft = true;
    }
    if (checker.joinable()) {
        if (titleCheckerLeft) {
            checker.detach();  // it ends by itself; the shared state lives on with it
        } else {
            checker.join();
        }
    }
    check.reset();
}

LResult PlayListDialog::onMessage(MessageId msg, WParam wParam, LParam lParam) {
    if (msg == WM_DIALOG_REFRESH) {
        refresh();
        select(chosenIndex);
        // The current entry is the list's focused and selected row, so the
        // keys, the title line and Info start there (not at the first row,
        // which a list view would otherwise make current when it takes the focus).
        if (hwnd != nullptr && chosenIndex >= 0 && static_cast<std::size_t>(chosenIndex) < shown.size()) {
            hwnd->selectListViewItem(IDC_FILE_LIST, chosenIndex, true, true);
        }
        return 1;
    }
    if (msg == WM_TITLE_READY) {
        showTitle();
        return 1;
    }
    return Dialog::onMessage(msg, wParam, lParam);
}

void PlayListDialog::refresh() {
    if (hwnd != nullptr) hwnd->clearListView(IDC_FILE_LIST);
    if (hwnd != nullptr) hwnd->setBusyCursor(true);
    shown.clear();
    {
        std::lock_guard<PlayListEntries> guard(entries);
        entries.list().visit([&](const TextBuffer& text) {
            shown.emplace_back(text.text(), text.length());
            return true;
        });
    }
    if (hwnd == nullptr) return;
    for (const std::string& entry : shown) {
        const std::size_t slash = entry.rfind('/');
        const std::string name = slash == std::string::npos ? entry : entry.substr(slash + 1);
        const int icon = !playingPath.empty() && entry == playingPath ? LIST_ICON_PLAYING : LIST_ICON_FILE;
        hwnd->addListViewItem(IDC_FILE_LIST, displayText(name).c_str(), icon);
    }
    hwnd->setBusyCursor(false);
}

void PlayListDialog::select(std::int32_t item) {
    selectedIndex = item;
    if (!check) return;
    std::lock_guard<std::mutex> guard(check->mutex);
    check->selectedIndex = item;
    check->woken = true;
    check->wake.notify_one();
}

void PlayListDialog::showTitle() {
    if (!check || hwnd == nullptr) return;
    std::int32_t index;
    std::string path;
    std::string title;
    {
        std::lock_guard<std::mutex> guard(check->mutex);
        if (!check->ready) return;
        check->ready = false;
        index = check->index;
        path = std::move(check->path);
        title = std::move(check->title);
    }
    // A title that arrives after the selection moved on, or for an entry
    // that has changed since, is dropped.
    if (index != selectedIndex) return;
    {
        std::lock_guard<PlayListEntries> guard(entries);
        TextBuffer* entry = entries.list().at(static_cast<std::uint32_t>(index));
        if (entry == nullptr || path != entry->text()) return;
    }
    hwnd->setItemText(IDC_PLAYLIST_TITLE, displayText(title).c_str());
}

LResult PlayListDialog::onNotify(WParam, LParam header) {
    const auto* notify = reinterpret_cast<const NotifyHeader*>(header);
    if (notify == nullptr || notify->code != LVN_ITEMCHANGED || notify->id != IDC_FILE_LIST) return 1;
    select(reinterpret_cast<const ListViewNotify*>(header)->item);
    return 1;
}

bool PlayListDialog::unchanged(StringList& list) const {
    if (list.count() != shown.size()) return false;
    std::size_t i = 0;
    return list.visit([&](const TextBuffer& text) { return shown[i++] == text.text(); }) == list.count();
}

LResult PlayListDialog::onCommand(std::uint16_t, std::uint16_t id, LParam) {
    switch (id) {
        case IDOK: {
            // The entry chosen is the one shown at that row, wherever it is now.
            std::int32_t chosen = selectedIndex;
            if (selectedIndex >= 0 && static_cast<std::size_t>(selectedIndex) < shown.size()) {
                std::lock_guard<PlayListEntries> guard(entries);
                std::int32_t found = entries.list().find(shown[static_cast<std::size_t>(selectedIndex)].c_str());
                if (found >= 0) chosen = found;
            }
            chosenIndex = chosen;
            playChosen = true;
            closeDialog();
            return 1;
        }
        case IDCANCEL: onClose(); return 1;
        case IDC_PLAYLIST_DEL: deleteSelected(); return 1;
        case IDC_PLAYLIST_CHECK: removeMissing(); return 1;
        case IDC_PLAYLIST_INFO: showInformation(); return 1;
        case IDC_PLAYLIST_UP: move(-1); return 1;
        case IDC_PLAYLIST_DOWN: move(+1); return 1;
        default: return 0;
    }
}

void PlayListDialog::move(std::int32_t step) {
    const std::int32_t to = selectedIndex + step;
    if (selectedIndex < 0 || to < 0) return;
    bool moved = false;
    {
        std::lock_guard<PlayListEntries> guard(entries);
        StringList& list = entries.list();
        if (unchanged(list) && static_cast<std::uint32_t>(to) < list.count()) {
            // Swapped in place: nothing is removed, so nothing can be lost.
            TextBuffer* a = list.at(static_cast<std::uint32_t>(selectedIndex));
            TextBuffer* b = list.at(static_cast<std::uint32_t>(to));
            std::swap(*a, *b);
            moved = true;
        }
    }
    if (moved) chosenIndex = to;
    refresh();
    if (moved) selectedIndex = chosenIndex;
}

void PlayListDialog::deleteSelected() {
    if (hwnd == nullptr) return;
    {
        std::lock_guard<PlayListEntries> guard(entries);
        StringList& list = entries.list();
        for (int i = hwnd->listViewCount(IDC_FILE_LIST) - 1; i >= 0; --i) {
            if (!hwnd->isListViewItemSelected(IDC_FILE_LIST, i)) continue;
            if (static_cast<std::size_t>(i) >= shown.size()) continue;
            const std::int32_t found = list.find(shown[static_cast<std::size_t>(i)].c_str());
            if (found >= 0) list.remove(static_cast<std::uint32_t>(found));
        }
    }
    refresh();
}

void PlayListDialog::removeMissing() {
    if (hwnd == nullptr) return;
    const int answer =
        hwnd->messageBox("Remove deleted files, ok?", "REPORT", MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2);
    if (answer != IDYES) return;  // No, or a box closed without an answer
    std::vector<std::string> paths;
    {
        std::lock_guard<PlayListEntries> guard(entries);
        entries.list().visit([&](const TextBuffer& text) {
            paths.emplace_back(text.text(), text.length());
            return true;
        });
    }
    // The files are tried outside the lock; the entries are then removed by
    // path, whatever happened to the list meanwhile.
    std::vector<std::string> missing;
    for (const std::string& entry : paths) {
        FileObject file;
        if (!file.open(entry.c_str(), FileAccess::Read)) missing.push_back(entry);
    }
    {
        std::lock_guard<PlayListEntries> guard(entries);
        for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
            const std::int32_t found = entries.list().find(it->c_str());
            if (found >= 0) entries.list().remove(static_cast<std::uint32_t>(found));
        }
    }
    refresh();
}

void PlayListDialog::showInformation() {
    std::string path;
    std::int32_t count = 0;
    bool changed = false;
    {
        std::lock_guard<PlayListEntries> guard(entries);
        StringList& list = entries.list();
        changed = !unchanged(list);
        if (!changed) {
            chosenIndex = selectedIndex;
            if (TextBuffer* entry = selectedIndex >= 0 ? list.at(static_cast<std::uint32_t>(selectedIndex)) : nullptr) {
                path = entry->text();
                count = static_cast<std::int32_t>(list.count());
            }
        }
    }
    if (changed) {
        refresh();  // the list changed behind the dialog: show it as it is now, open nothing
        return;
    }
    if (count == 0) return;
    // The lock is released: the nested dialog may stay open as long as the
    // user likes while the timer and a second instance's hand-over go on.
    FileInformationDialog information(system, path, selectedIndex, count);
    information.doModal(hwnd, IDD_FILE_INFORMATION);
}

bool PlayListDialog::doModal(ControlHost* parentHandle, std::uint16_t id) {
    const bool ran = Dialog::doModal(parentHandle, id);
    stopTitleChecker();
    return ran;
}

LResult PlayListDialog::onClose() {
    playChosen = false;
    closeDialog();
    return 1;
}

void PlayListDialog::closeDialog() {
    if (hwnd != nullptr) hwnd->setBusyCursor(true);
    DialogHost* host = hwnd;
    stopTitleChecker();
    listControl.restore();
    Dialog::onClose();
    if (host != nullptr) host->setBusyCursor(false);
}

}  // namespace brellin
