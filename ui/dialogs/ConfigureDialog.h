// ConfigureDialog: "Configure..." of the main menu (template 118, or 103 on
// a screen under 320 pixels wide). It edits the output format, the voices,
// the window's start position, the sound font, where songs play (the
// built-in synthesizer or a MIDI port), reverb and filter in the Settings,
// and writes the file associations ("Set links to registory").
//
// Opening it clears `engineSettingsChanged`; OK stores every choice and sets
// it with `settingsChanged`, so the caller restarts the engine after OK and
// never after Cancel, Esc or the window's close. Lives on the stack of the
// command; user-interface thread only.
#pragma once

#include <string>
#include <vector>

#include "engine/MidiOut.h"
#include "settings/Settings.h"
#include "ui/dialogs/FileAssociations.h"
#include "ui/dialogs/ProgramFiles.h"
#include "ui/framework/Dialog.h"

namespace brellin {

class ConfigureDialog : public Dialog {
public:
    // `programFolder` (ending in "/") is where the sound fonts are.
    ConfigureDialog(WindowSystem& system, Settings& settings, std::string programFolder);

    LResult onInitDialog() override;
    LResult onCommand(std::uint16_t code, std::uint16_t id, LParam lParam) override;

    // "Set links to registory": the ticked types with the chosen mode word,
    // then the outcome in a message box owned by the dialog.
    void setLinks();

    // The writer "Set links to registory" uses (folders and program path
    // may be set before the dialog opens).
    FileAssociations associations;
    // The sound fonts as listed when the dialog opened.
    ProgramFiles soundFonts;
    // The listing of the sound fonts failed (the box stays empty).
    bool soundFontListFailed = false;
    // The MIDI ports of the "Output" list, after its first entry (the built-in synthesizer).
    std::vector<MidiOutChoice> midiPorts;
    static constexpr const char* BUILT_IN_SYNTHESIZER = "Built-in synthesizer";

private:
    void storeChoices();

    Settings& settings;
    std::string folder;
};

}  // namespace brellin
