// SettingsTemplates: the layouts of the Configure dialog (118, and 103 for
// screens narrower than 320 pixels) and the Play mode dialog (107), with the
// identifiers of their controls and the texts of their lists.
//
// Rectangles are in dialog units; a combo box's rectangle is its closed box
// (the host sizes the drop-down list itself). Both Configure layouts carry
// the same controls, so ConfigureDialog serves either.
#pragma once

#include <cstdint>

#include "ui/framework/DialogTemplate.h"
#include "ui/window/Resources.h"

namespace brellin {

// Configure.
constexpr int IDC_SAMPLE_RATE = 1004;       // combo: "11K", "22K", "44K"
constexpr int IDC_BIT_RATE = 1005;          // combo: "8bit", "16bit"
constexpr int IDC_CHANNELS = 1007;          // combo: "Mono", "Stereo"
constexpr int IDC_MAX_SOUNDS = 1008;        // combo: "4" ... "32"
constexpr int IDC_INITIAL_POSITION = 1010;  // combo: "Center" ... "Last exec. pos."
constexpr int IDC_SOUND_FONT = 1011;        // combo: the *.BRF files of the program's folder
constexpr int IDC_MIDI_OUT = 1045;          // combo: the built-in synthesizer, then the MIDI ports
constexpr int IDC_REVERB = 1014;            // check box "Reverb"
constexpr int IDC_LOW_PASS = 1015;          // check box "LPF"
constexpr int IDC_REVERB_LEVEL = 1019;      // track bar 1..6
constexpr int IDC_LINK_MODE = 1022;         // combo: "", "play", "iconplay"
constexpr int IDC_SET_LINKS = 1023;         // push button "Set links to registory"
constexpr int IDC_LINK_MID = 1031;
constexpr int IDC_LINK_RMI = 1032;
constexpr int IDC_LINK_BRL = 1033;
constexpr int IDC_LINK_MIDI = 1034;

// Play mode.
constexpr int IDC_PLAY_MODE = 1009;      // combo: "Normal" ... "Random after the 2nd"
constexpr int IDC_LCD_MODE = 1011;       // combo: "Always ON", "OFF when playing"
constexpr int IDC_CLOCK_MODE = 1012;     // combo: "Increment", "Decrement"
constexpr int IDC_SKIN = 1013;           // combo: the *.INI files of the program's folder
constexpr int IDC_VOLUME = 1028;         // track bar 0..128
constexpr int IDC_ALWAYS_ON_TOP = 1032;  // check box "Always on top"

// The list texts, position 0 first.
extern const char* const sampleRateTexts[3];
extern const char* const bitRateTexts[2];
extern const char* const channelTexts[2];
extern const char* const initialPositionTexts[4];
extern const char* const playModeTexts[4];
extern const char* const lcdModeTexts[2];
extern const char* const clockModeTexts[2];
// The "Mode" entries of the file associations and the word each appends to
// the command line that opens a file.
extern const char* const linkModeTexts[3];
extern const char* const linkModeSuffixes[3];

// "Max sounds" lists the voice counts 4 ... 32; position p stands for p + 4.
constexpr std::int32_t MIN_VOICES = 4;
constexpr std::int32_t MAX_VOICES = 32;
// The reverb track bar's range; the volume track bar's range.
constexpr std::int32_t MIN_REVERB_LEVEL = 1;
constexpr std::int32_t MAX_REVERB_LEVEL = 6;
constexpr std::int32_t MAX_VOLUME = 128;

// The three tables (for the hosts and the tests).
const DialogTemplate& configureTemplate();
const DialogTemplate& compactConfigureTemplate();
const DialogTemplate& playModeTemplate();

// Makes findDialogTemplate know the three layouts, for opening these dialogs
// without the main window (SettingsCommands::addTo brings them along);
// calling it again changes nothing.
void registerSettingsTemplates();

}  // namespace brellin
