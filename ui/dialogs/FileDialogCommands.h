// FileDialogCommands: the main window's commands that run the file dialogs:
// 40013 "Open files..." (also the Eject button and the FileOpen key), 40005
// "Save play list..." and 40012 "Display play list..." (also the PlayList
// key), with what the window does after each dialog.
//
// The main window guards these commands with `modalOpen` and calls `run`;
// commands this table does not provide go to `others` (the configure and
// play-mode dialogs), when given. Registers the file dialogs' templates when
// made. User-interface thread only; lives as long as the main window and is
// made for its play list.
#pragma once

#include "ui/dialogs/PlayListDialog.h"
#include "ui/dialogs/PlayListEntries.h"
#include "ui/window/MainWindow.h"

namespace brellin {

class FileDialogCommands : public DialogCommands {
public:
    FileDialogCommands(WindowSystem& system, PlayList& playList, DialogCommands* others = nullptr);

    bool provides(std::uint16_t id) const override;
    void run(std::uint16_t id, MainWindow& window) override;

    void openFiles(MainWindow& window);
    void savePlayList(MainWindow& window);
    void showPlayList(MainWindow& window);

    // The title checker's measurement (tests give one that blocks).
    TitleScan titleScan = scanTitle;

private:
    WindowSystem& system;
    PlayListLockedEntries entries;
    DialogCommands* others;
};

}  // namespace brellin
