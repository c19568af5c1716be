#include "ui/dialogs/SettingsCommands.h"

#include <utility>

#include "common/ExecutablePath.h"
#include "ui/dialogs/ConfigureDialog.h"
#include "ui/dialogs/PlayModeDialog.h"
#include "ui/dialogs/SettingsTemplates.h"

namespace brellin {

SettingsCommands::SettingsCommands(WindowSystem& windowSystem, std::string folderOfProgram, DialogCommands* following)
    : system(windowSystem), programFolder(std::move(folderOfProgram)), next(following) {
    registerSettingsTemplates();
}

bool SettingsCommands::provides(std::uint16_t id) const {
    if (id == IDM_CONFIGURE || id == IDM_PLAY_MODE) return true;
    return next != nullptr && next->provides(id);
}

void SettingsCommands::run(std::uint16_t id, MainWindow& window) {
    switch (id) {
        case IDM_CONFIGURE: configure(window); break;
        case IDM_PLAY_MODE: playMode(window); break;
        default:
            if (next != nullptr && next->provides(id)) next->run(id, window);
            break;
    }
}

std::string SettingsCommands::folder() const {
    if (!programFolder.empty()) return programFolder;
    char path[4096];
    return dataFolder(path, sizeof path) ? std::string(path) : std::string("/");
}

void SettingsCommands::configure(MainWindow& window) {
    const std::uint16_t layout =
        system.screenSize().x >= COMPACT_SCREEN_WIDTH ? IDD_CONFIGURE : IDD_CONFIGURE_SMALL;
    ConfigureDialog dialog(system, window.settings, folder());
    dialog.associations.dataHome = linkDataHome;
    dialog.associations.configHome = linkConfigHome;
    dialog.associations.programPath = linkProgramPath;
    dialog.doModal(window.hwnd, layout);

    Settings& settings = window.settings;
    if (!settings.engineSettingsChanged) return;
    settings.engineSettingsChanged = false;

    const bool wasPlaying = window.isPlaying();
    if (wasPlaying) window.stopPlayback();
    const EngineStart start = window.engine.startWithFallback();
    WindowHost* host = window.hwnd;
    if (start == EngineStart::StartedWithFallback && host != nullptr) {
        host->messageBox(FALLBACK_FORMAT_NOTICE, "REPORT", MB_OK | MB_ICONWARNING);
    }
    if (start == EngineStart::Failed) {
        if (host != nullptr) {
            host->messageBox(Engine::failureText(window.engine.lastStartCode), "ERROR", MB_OK | MB_ICONWARNING);
        }
        // Without an engine there is nothing to play: the program ends.
        window.onClose();
        return;
    }
    if (wasPlaying) window.startPlayback();
}

void SettingsCommands::playMode(MainWindow& window) {
    Settings& settings = window.settings;
    const std::string skinBefore = settings.SkinFileName;
    const std::string where = folder();
    PlayModeDialog dialog(system, settings, where, [&window] { window.applyVolume(); });
    dialog.doModal(window.hwnd, IDD_PLAY_MODE);

    if (window.hwnd != nullptr) window.hwnd->setWindowPos(0, 0, false, settings.fAlwaysOnTop != 0);
    if (skinBefore != settings.SkinFileName) {
        settings.playSettingsChanged = true;
        window.loadSkinAndPlace(programFolder.empty() ? nullptr : where.c_str());
    }
}

}  // namespace brellin
