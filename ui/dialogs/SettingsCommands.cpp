#include "ui/dialogs/SettingsCommands.h"

#include <utility>

#include "common/ExecutablePath.h"
#include "ui/dialogs/ConfigureDialog.h"
#include "ui/dialogs/PlayModeDialog.h"
#include "ui/dialogs/SettingsTemplates.h"

namespace brellin {

SettingsCommands::SettingsCommands(WindowSystem& windowSystem, std::string folderOfProgram)
    : system(windowSystem), programFolder(std::move(folderOfProgram)) {}

void SettingsCommands::addTo(DialogRegistry& registry) {
    registry.add(IDM_CONFIGURE, {&configureTemplate(), &compactConfigureTemplate()},
                 [this](MainWindow& window) { configure(window); });
    registry.add(IDM_PLAY_MODE, {&playModeTemplate()}, [this](MainWindow& window) { playMode(window); });
}

std::string SettingsCommands::folder() const {
    if (!programFolder.empty()) return programFolder;
    char path[4096];
    return dataFolder(path, sizeof path) ? std::string(path) : std::string("/");
}

void SettingsCommands::configure(MainWindow& window) {
    const std::uint16_t layout = system.screenSize().x >= COMPACT_SCREEN_WIDTH ? IDD_CONFIGURE : IDD_CONFIGURE_SMALL;
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
            const Engine::Failure what = window.engine.failure();
            const std::string text = what.detail.empty() ? what.text : what.text + "\n" + what.detail;
            host->messageBox(text.c_str(), "ERROR", MB_OK | MB_ICONWARNING);
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
    // A controller on the desktop shows the new order (Shuffle, LoopStatus).
    window.mediaMayHaveChanged();

    if (window.hwnd != nullptr) window.hwnd->setWindowPos(0, 0, false, settings.fAlwaysOnTop != 0);
    if (skinBefore != settings.SkinFileName) {
        settings.playSettingsChanged = true;
        window.loadSkinAndPlace(programFolder.empty() ? nullptr : where.c_str());
    }
}

}  // namespace brellin
