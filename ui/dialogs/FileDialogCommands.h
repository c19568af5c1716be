// FileDialogCommands: the main window's commands that run the file dialogs:
// 40013 "Open files..." (also the Eject button and the FileOpen key), 40005
// "Save play list..." and 40012 "Display play list..." (also the PlayList
// key), with what the window does after each dialog.
//
// `addTo` registers the three with their templates in the main window's
// dialogs, which guard them with `modalOpen`. User-interface thread only;
// lives as long as the main window and is made for its play list.
#pragma once

#include "ui/dialogs/PlayListDialog.h"
#include "ui/dialogs/PlayListEntries.h"
#include "ui/window/MainWindow.h"

namespace brellin {

class FileDialogCommands {
public:
    FileDialogCommands(WindowSystem& system, PlayList& playList);

    void addTo(DialogRegistry& registry);

    void openFiles(MainWindow& window);
    void savePlayList(MainWindow& window);
    void showPlayList(MainWindow& window);

    // The title checker's measurement (tests give one that blocks).
    TitleScan titleScan = scanTitle;

private:
    WindowSystem& system;
    PlayListLockedEntries entries;
};

}  // namespace brellin
