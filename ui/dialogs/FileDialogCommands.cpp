#include "ui/dialogs/FileDialogCommands.h"

#include <cstdio>
#include <mutex>
#include <string>

#include "ui/dialogs/FileBrowserDialog.h"
#include "ui/dialogs/FileDialogTemplates.h"

namespace brellin {

FileDialogCommands::FileDialogCommands(WindowSystem& windowSystem, PlayList& playList)
    : system(windowSystem), entries(playList) {}

void FileDialogCommands::addTo(DialogRegistry& registry) {
    registry.add(IDM_OPEN_FILES, {&openFileTemplate()}, [this](MainWindow& window) { openFiles(window); });
    registry.add(IDM_SAVE_PLAYLIST, {&saveFileTemplate()}, [this](MainWindow& window) { savePlayList(window); });
    registry.add(IDM_PLAYLIST, {&playListTemplate(), &fileInformationTemplate()},
                 [this](MainWindow& window) { showPlayList(window); });
}

void FileDialogCommands::openFiles(MainWindow& window) {
    FileBrowserDialog browser(system);
    browser.patterns = "*.MID;*.MIDI;*.RMI;*.KAR;*.BRL";
    browser.defaultExtension = ".mid";
    browser.acceptsTypedName = false;
    browser.collectsSelection = true;
    browser.setStartPath(window.playList.currentFile);
    browser.doModal(window.hwnd, IDD_OPEN_FILE);
    if (browser.result == FileBrowserDialog::CANCELLED) return;
    if (browser.result == FileBrowserDialog::NEW_LIST) window.playList.clear();
    const bool wasPlaying = window.isPlaying();
    if (wasPlaying) window.stopPlayback();
    browser.selections.visit([&](const TextBuffer& path) {
        window.playList.openPath(path.text());
        return true;
    });
    if (wasPlaying) window.startPlayback();
}

void FileDialogCommands::savePlayList(MainWindow& window) {
    FileBrowserDialog browser(system);
    browser.patterns = "*.BRL";
    browser.defaultExtension = ".brl";
    browser.acceptsTypedName = true;
    browser.collectsSelection = false;
    browser.setStartPath(window.playList.currentFile);
    browser.doModal(window.hwnd, IDD_SAVE_FILE);
    if (browser.result == FileBrowserDialog::CANCELLED) return;
    const std::string path = browser.path;
    if (PlayList::playListFileExists(path.c_str()) && window.hwnd != nullptr &&
        window.hwnd->messageBox("Over write, ok?", "REPORT", MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) != IDYES) {
        return;
    }
    if (!window.playList.writePlayList(path.c_str())) {
        if (window.hwnd != nullptr) {
            window.hwnd->messageBox("Cannot create a play-list file.", "ERROR", MB_OK | MB_ICONWARNING);
        }
        return;
    }
    std::snprintf(window.playList.playListPath, sizeof window.playList.playListPath, "%s", path.c_str());
    window.playList.addRecent(window.playList.playListPath);
}

void FileDialogCommands::showPlayList(MainWindow& window) {
    PlayList& playList = window.playList;
    // The current entry's path, to find it again after the dialog moved or
    // removed entries.
    std::string current;
    {
        std::lock_guard<PlayListEntries> guard(entries);
        if (playList.currentIndex >= 0) {
            if (TextBuffer* entry = entries.list().at(static_cast<std::uint32_t>(playList.currentIndex))) {
                current = entry->text();
            }
        }
    }
    PlayListDialog dialog(system, entries, titleScan);
    dialog.chosenIndex = playList.currentIndex;
    if (window.isPlaying()) dialog.playingPath = playList.currentFile;
    dialog.doModal(window.hwnd, IDD_PLAYLIST);

    std::string path;
    std::int32_t index = 0;
    {
        std::lock_guard<PlayListEntries> guard(entries);
        StringList& list = entries.list();
        const auto count = static_cast<std::int32_t>(list.count());
        if (dialog.playChosen) {
            index = dialog.chosenIndex >= 0 && dialog.chosenIndex < count ? dialog.chosenIndex : 0;
        } else {
            const std::int32_t found = current.empty() ? -1 : list.find(current.c_str());
            index = found >= 0
                        ? found
                        : (playList.currentIndex >= 0 && playList.currentIndex < count ? playList.currentIndex : 0);
        }
        if (TextBuffer* entry = list.at(static_cast<std::uint32_t>(index))) path = entry->text();
    }
    playList.currentIndex = index;
    if (!dialog.playChosen) return;
    playList.makeCurrent(path.c_str());
    if (window.isPlaying()) {
        window.stopPlayback();
        window.startPlayback();
    }
}

}  // namespace brellin
