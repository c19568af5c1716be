// PlayModeDialog: "Play mode..." of the main menu (template 107). It edits
// the play order, the LCD and clock modes, the volume, the skin and "Always
// on top". There is no OK button: closing it (Esc, Enter, the window's close)
// stores the choices; a choice that differs from the setting sets
// `playSettingsChanged`.
//
// The volume reaches the player while the track bar moves: the track bar is
// watched (mouse moves with the left button held, left-button presses and
// releases, keys) and each such message first sends the dialog the track
// bar's own command; the position notices of the track bar itself
// (WM_HSCROLL) do the same, so the last position is never missed. Lives on
// the stack of the command; user-interface thread only.
#pragma once

#include <functional>
#include <string>

#include "settings/Settings.h"
#include "ui/dialogs/ProgramFiles.h"
#include "ui/framework/Control.h"
#include "ui/framework/Dialog.h"

namespace brellin {

class PlayModeDialog : public Dialog {
public:
    // `programFolder` (ending in "/") is where the skins are; `volumeSink`
    // gives Settings::Volume to the player (it limits it to 0..127).
    PlayModeDialog(WindowSystem& system, Settings& settings, std::string programFolder,
                   std::function<void()> volumeSink);

    LResult onMessage(MessageId msg, WParam wParam, LParam lParam) override;
    LResult onInitDialog() override;
    LResult onCommand(std::uint16_t code, std::uint16_t id, LParam lParam) override;
    LResult onClose() override;
    LResult onDestroy() override;

    // The skins as listed when the dialog opened.
    ProgramFiles skins;

private:
    // The volume track bar: sends the dialog its command, then lets the
    // track bar handle the message.
    class VolumeTrackBar : public Control {
    public:
        explicit VolumeTrackBar(PlayModeDialog& owner) : dialog(owner) {}
        LResult windowProc(MessageId msg, WParam wParam, LParam lParam) override;

    private:
        PlayModeDialog& dialog;
    };

    void volumeMoved();
    // Gives the track bar its own handling back and forgets its handle,
    // which the host deletes when the dialog ends.
    void releaseTrackBar();

    Settings& settings;
    std::string folder;
    std::function<void()> applyVolume;
    VolumeTrackBar volumeTrackBar{*this};
};

}  // namespace brellin
