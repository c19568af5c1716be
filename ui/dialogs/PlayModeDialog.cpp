#include "ui/dialogs/PlayModeDialog.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "ui/dialogs/SettingsBinding.h"
#include "ui/dialogs/SettingsTemplates.h"

namespace brellin {

namespace {

// The lists and the check box closing the dialog stores.
const SettingBinding PLAY_MODE_BINDINGS[] = {
    {IDC_PLAY_MODE, &Settings::PlayMode, playModeTexts, 4},
    {IDC_LCD_MODE, &Settings::DisplayMode, lcdModeTexts, 2},
    {IDC_CLOCK_MODE, &Settings::TimerMode, clockModeTexts, 2},
    {IDC_ALWAYS_ON_TOP, &Settings::fAlwaysOnTop, nullptr, 0},
};

}  // namespace

PlayModeDialog::PlayModeDialog(WindowSystem& windowSystem, Settings& settingsRecord, std::string programFolder,
                               std::function<void()> volumeSink)
    : Dialog(windowSystem),
      settings(settingsRecord),
      folder(std::move(programFolder)),
      applyVolume(std::move(volumeSink)) {}

LResult PlayModeDialog::VolumeTrackBar::windowProc(MessageId msg, WParam wParam, LParam lParam) {
    const bool watched = (msg == WM_MOUSEMOVE && (wParam & MK_LBUTTON) != 0) || msg == WM_KEYDOWN || msg == WM_KEYUP ||
                         msg == WM_LBUTTONDOWN || msg == WM_LBUTTONUP;
    if (watched && dialog.hwnd != nullptr) {
        DialogHost* host = dialog.hwnd;
        host->windowProcedure()(host, WM_COMMAND, makeCommandWParam(0, IDC_VOLUME), reinterpret_cast<LParam>(hwnd));
    }
    return Control::windowProc(msg, wParam, lParam);
}

LResult PlayModeDialog::onMessage(MessageId msg, WParam wParam, LParam lParam) {
    // The track bar's own position notices; lParam is its handle.
    if (msg == WM_HSCROLL && hwnd != nullptr && lParam != 0 &&
        reinterpret_cast<ControlHost*>(lParam) == hwnd->item(IDC_VOLUME)) {
        volumeMoved();
        return 1;
    }
    return Dialog::onMessage(msg, wParam, lParam);
}

LResult PlayModeDialog::onInitDialog() {
    if (hwnd == nullptr) return 0;
    DialogHost& host = *hwnd;
    host.setTrackRange(IDC_VOLUME, 0, MAX_VOLUME);
    host.setTrackPosition(IDC_VOLUME, std::clamp(settings.Volume, 0, MAX_VOLUME));
    if (ControlHost* trackBar = host.item(IDC_VOLUME)) {
        volumeTrackBar.attach(trackBar);
        volumeTrackBar.subclass();
    }
    fillBoundControls(host, settings, PLAY_MODE_BINDINGS);
    host.setFocus(IDC_PLAY_MODE);

    host.resetItems(IDC_SKIN);
    skins.scan(folder.c_str(), "*.INI");
    for (const std::string& name : skins.names) host.addItem(IDC_SKIN, name.c_str());
    host.selectItem(IDC_SKIN, skins.find(settings.SkinFileName));
    return 0;
}

LResult PlayModeDialog::onCommand(std::uint16_t code, std::uint16_t id, LParam lParam) {
    switch (id) {
        case IDC_VOLUME: volumeMoved(); return 1;
        case IDCANCEL: onClose(); return 1;
        default:
            // IDOK (Enter) closes through the default, which applies the choices.
            return Dialog::onCommand(code, id, lParam);
    }
}

void PlayModeDialog::volumeMoved() {
    if (hwnd == nullptr) return;
    settings.Volume = std::clamp(hwnd->trackPosition(IDC_VOLUME), 0, MAX_VOLUME);
    if (applyVolume) applyVolume();
    settings.playSettingsChanged = true;
}

LResult PlayModeDialog::onClose() {
    if (hwnd != nullptr) {
        if (storeBoundControls(*hwnd, settings, PLAY_MODE_BINDINGS)) settings.playSettingsChanged = true;
        // Only a skin the box really lists: an empty box keeps the setting.
        if (const char* name = skins.name(hwnd->selectedItem(IDC_SKIN))) {
            std::snprintf(settings.SkinFileName, sizeof settings.SkinFileName, "%s", name);
        }
    }
    releaseTrackBar();
    return Dialog::onClose();
}

LResult PlayModeDialog::onDestroy() {
    releaseTrackBar();
    return Dialog::onDestroy();
}

void PlayModeDialog::releaseTrackBar() {
    // The track bar's messages must not reach this dialog once it is gone.
    volumeTrackBar.restore();
    volumeTrackBar.attach(nullptr);
}

}  // namespace brellin
