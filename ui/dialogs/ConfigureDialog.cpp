#include "ui/dialogs/ConfigureDialog.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "ui/dialogs/SettingsBinding.h"
#include "ui/dialogs/SettingsTemplates.h"

namespace brellin {

namespace {

// The lists and check boxes OK stores, in the order they are filled.
const SettingBinding CONFIGURE_BINDINGS[] = {
    {IDC_SAMPLE_RATE, &Settings::SampleRate, sampleRateTexts, 3},
    {IDC_BIT_RATE, &Settings::BitRate, bitRateTexts, 2},
    {IDC_CHANNELS, &Settings::fStereo, channelTexts, 2},
    {IDC_MAX_SOUNDS, &Settings::MaxChannels, nullptr, MAX_VOICES - MIN_VOICES + 1, MIN_VOICES},
    {IDC_INITIAL_POSITION, &Settings::InitializePositionId, initialPositionTexts, 4},
    {IDC_REVERB, &Settings::fReverb, nullptr, 0},
    {IDC_LOW_PASS, &Settings::fLowPassFilter, nullptr, 0},
};

}  // namespace

ConfigureDialog::ConfigureDialog(WindowSystem& windowSystem, Settings& settingsRecord, std::string programFolder)
    : Dialog(windowSystem), settings(settingsRecord), folder(std::move(programFolder)) {}

LResult ConfigureDialog::onInitDialog() {
    // Only OK asks for a restart: whatever set the flag before is not this
    // dialog's business, and a Cancel must not restart the engine.
    settings.engineSettingsChanged = false;
    if (hwnd == nullptr) return 0;
    DialogHost& host = *hwnd;
    host.setFocus(IDOK);

    host.setTrackRange(IDC_REVERB_LEVEL, MIN_REVERB_LEVEL, MAX_REVERB_LEVEL);
    host.setTrackPosition(IDC_REVERB_LEVEL, std::clamp(settings.ReverbLevel, MIN_REVERB_LEVEL, MAX_REVERB_LEVEL));

    fillBoundControls(host, settings, CONFIGURE_BINDINGS);
    // The level means nothing without the reverb.
    host.enableItem(IDC_REVERB_LEVEL, host.isChecked(IDC_REVERB));

    host.resetItems(IDC_SOUND_FONT);
    soundFontListFailed = !soundFonts.scan(folder.c_str(), "*.BRF");
    for (const std::string& name : soundFonts.names) host.addItem(IDC_SOUND_FONT, name.c_str());
    host.selectItem(IDC_SOUND_FONT, soundFonts.find(settings.SoundFontName));

    // The built-in synthesizer, then the MIDI ports there are now; a port
    // chosen before that is not there now stays listed, so OK keeps it.
    host.resetItems(IDC_MIDI_OUT);
    host.addItem(IDC_MIDI_OUT, BUILT_IN_SYNTHESIZER);
    midiPorts = midiOutChoices();
    int chosen = 0;
    for (std::size_t i = 0; i < midiPorts.size(); ++i)
        if (midiPorts[i].spelling == settings.MidiOut) chosen = static_cast<int>(i) + 1;
    if (chosen == 0 && settings.MidiOut[0] != '\0') {
        midiPorts.push_back({settings.MidiOut, std::string(settings.MidiOut) + " (not found)"});
        chosen = static_cast<int>(midiPorts.size());
    }
    for (const MidiOutChoice& port : midiPorts) host.addItem(IDC_MIDI_OUT, port.label.c_str());
    host.selectItem(IDC_MIDI_OUT, chosen);

    // Filled whatever became of the sound-font listing: the associations
    // need their mode word.
    fillChoiceList(host, IDC_LINK_MODE, linkModeTexts, 3, 0);
    for (int id : {IDC_LINK_MID, IDC_LINK_MIDI, IDC_LINK_RMI, IDC_LINK_BRL}) host.setChecked(id, false);
    return 0;
}

LResult ConfigureDialog::onCommand(std::uint16_t code, std::uint16_t id, LParam lParam) {
    switch (id) {
        case IDOK:
            storeChoices();
            onClose();
            return 1;
        case IDCANCEL: onClose(); return 1;
        case IDC_REVERB:
            if (hwnd != nullptr) hwnd->enableItem(IDC_REVERB_LEVEL, hwnd->isChecked(IDC_REVERB));
            return 1;
        case IDC_SET_LINKS:
            // A button sends BN_CLICKED (0); other notices are not a click.
            if (code == 0) setLinks();
            return 1;
        default: return Dialog::onCommand(code, id, lParam);
    }
}

void ConfigureDialog::storeChoices() {
    if (hwnd == nullptr) return;
    const DialogHost& host = *hwnd;
    storeBoundControls(host, settings, CONFIGURE_BINDINGS);
    // The name as listed (raw bytes), not as the box shows it; with no
    // sound font in the folder the old name stays, and the engine start
    // looks for another one.
    if (const char* name = soundFonts.name(host.selectedItem(IDC_SOUND_FONT))) {
        std::snprintf(settings.SoundFontName, sizeof settings.SoundFontName, "%s", name);
    }
    settings.ReverbLevel = std::clamp(host.trackPosition(IDC_REVERB_LEVEL), MIN_REVERB_LEVEL, MAX_REVERB_LEVEL);
    const int output = host.selectedItem(IDC_MIDI_OUT);
    const std::string port = output >= 1 && static_cast<std::size_t>(output) <= midiPorts.size()
                                 ? midiPorts[static_cast<std::size_t>(output) - 1].spelling
                                 : "";
    std::snprintf(settings.MidiOut, sizeof settings.MidiOut, "%s", port.c_str());
    settings.engineSettingsChanged = true;
    settings.settingsChanged = true;
}

void ConfigureDialog::setLinks() {
    if (hwnd == nullptr) return;
    DialogHost& host = *hwnd;
    LinkTypes types;
    types.mid = host.isChecked(IDC_LINK_MID);
    types.midi = host.isChecked(IDC_LINK_MIDI);
    types.rmi = host.isChecked(IDC_LINK_RMI);
    types.brl = host.isChecked(IDC_LINK_BRL);
    const int mode = std::clamp(host.selectedItem(IDC_LINK_MODE), 0, 2);
    const char* text = TEXT_LINKS_WRITTEN;
    const char* caption = "REPORT";
    switch (associations.write(types, linkModeSuffixes[mode])) {
        case LinkResult::Written: break;
        case LinkResult::NoProgramPath:
            text = TEXT_NO_PROGRAM_PATH;
            caption = "ERROR";
            break;
        case LinkResult::Failed:
            text = TEXT_LINKS_FAILED;
            caption = "ERROR";
            break;
    }
    host.messageBox(text, caption, MB_OK | MB_ICONWARNING);
}

}  // namespace brellin
