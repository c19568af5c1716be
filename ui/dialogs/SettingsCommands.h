// SettingsCommands: the main window's "Configure..." (40002) and "Play
// mode..." (40003); `addTo` registers both with their templates in the main
// window's dialogs.
//
// After Configure's OK the engine is started anew: playback stops first if a
// song is playing, the start takes its one fallback to 11K/8bit/mono/8ch
// with the notice, and when even that fails the window closes (the program
// ends) after the message; otherwise the song starts again. After Play mode
// the window's z-order follows "Always on top" and a changed skin is loaded.
// User-interface thread only.
#pragma once

#include <string>

#include "ui/window/MainWindow.h"

namespace brellin {

class SettingsCommands {
public:
    // `folderOfProgram` (ending in "/"): where the sound fonts and skins are;
    // empty: the program's data folder.
    explicit SettingsCommands(WindowSystem& system, std::string folderOfProgram = std::string());

    void addTo(DialogRegistry& registry);

    void configure(MainWindow& window);
    void playMode(MainWindow& window);

    // Screens narrower than this get the compact Configure layout (pixels).
    static constexpr std::int32_t COMPACT_SCREEN_WIDTH = 320;

    // Set before "Configure..." runs: where "Set links to registory" writes
    // (empty fields: the user's own XDG folders and the program's path).
    std::string linkDataHome;
    std::string linkConfigHome;
    std::string linkProgramPath;

private:
    std::string folder() const;

    WindowSystem& system;
    std::string programFolder;
};

}  // namespace brellin
