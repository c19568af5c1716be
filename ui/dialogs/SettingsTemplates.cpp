#include "ui/dialogs/SettingsTemplates.h"

#include "ui/framework/Messages.h"

namespace brellin {

const char* const sampleRateTexts[3] = {"11K", "22K", "44K"};
const char* const bitRateTexts[2] = {"8bit", "16bit"};
const char* const channelTexts[2] = {"Mono", "Stereo"};
const char* const initialPositionTexts[4] = {"Center", "Top-Left", "Bottom-Left", "Last exec. pos."};
const char* const playModeTexts[4] = {"Normal", "Random", "Normal without loop", "Random after the 2nd"};
const char* const lcdModeTexts[2] = {"Always ON", "OFF when playing"};
const char* const clockModeTexts[2] = {"Increment", "Decrement"};
const char* const linkModeTexts[3] = {"", "play", "iconplay"};
const char* const linkModeSuffixes[3] = {"", " play", " iconplay"};

namespace {

constexpr std::uint32_t TAB = STYLE_TABSTOP;
constexpr std::uint32_t TAB_GROUP = STYLE_TABSTOP | STYLE_GROUP;

template <std::size_t N>
constexpr std::int32_t countOf(const ControlTemplate (&)[N]) {
    return static_cast<std::int32_t>(N);
}

// 118: two columns of output settings, the sound font and the output (the
// built-in synthesizer or a MIDI port) across the width, effects with the
// reverb strength, then the file associations; OK at the bottom right.
// 250 x 166 units.
constexpr ControlTemplate CONFIGURE_CONTROLS[] = {
    {ControlClass::Static, IDC_STATIC, "Sampling rate", {7, 9, 50, 10}, 0},
    {ControlClass::ComboBox, IDC_SAMPLE_RATE, "", {58, 7, 48, 12}, TAB_GROUP | STYLE_VSCROLL},
    {ControlClass::Static, IDC_STATIC, "Bit rate", {7, 25, 50, 10}, 0},
    {ControlClass::ComboBox, IDC_BIT_RATE, "", {58, 23, 48, 12}, TAB | STYLE_VSCROLL},
    {ControlClass::Static, IDC_STATIC, "Channels", {7, 41, 50, 10}, 0},
    {ControlClass::ComboBox, IDC_CHANNELS, "", {58, 39, 48, 12}, TAB | STYLE_VSCROLL},
    {ControlClass::Static, IDC_STATIC, "Max sounds", {114, 9, 62, 10}, 0},
    {ControlClass::ComboBox, IDC_MAX_SOUNDS, "", {178, 7, 64, 12}, TAB | STYLE_VSCROLL},
    {ControlClass::Static, IDC_STATIC, "Initial position", {114, 25, 62, 10}, 0},
    {ControlClass::ComboBox, IDC_INITIAL_POSITION, "", {178, 23, 64, 12}, TAB | STYLE_VSCROLL},
    {ControlClass::Static, IDC_STATIC, "Sound font", {7, 59, 50, 10}, 0},
    {ControlClass::ComboBox, IDC_SOUND_FONT, "", {58, 57, 184, 12}, TAB | STYLE_VSCROLL},
    {ControlClass::Static, IDC_STATIC, "Output", {7, 75, 50, 10}, 0},
    {ControlClass::ComboBox, IDC_MIDI_OUT, "", {58, 73, 184, 12}, TAB | STYLE_VSCROLL},
    {ControlClass::Static, IDC_STATIC, "Effect", {7, 94, 50, 10}, 0},
    {ControlClass::CheckBox, IDC_REVERB, "Reverb", {58, 93, 40, 10}, TAB_GROUP},
    {ControlClass::CheckBox, IDC_LOW_PASS, "LPF", {100, 93, 30, 10}, TAB},
    {ControlClass::StaticRight, IDC_STATIC, "LV. Lite", {132, 94, 32, 10}, 0},
    {ControlClass::TrackBar, IDC_REVERB_LEVEL, "", {166, 90, 50, 16}, TAB},
    {ControlClass::Static, IDC_STATIC, "Heavy", {218, 94, 26, 10}, 0},
    {ControlClass::Static, IDC_STATIC, "Link", {7, 114, 50, 10}, 0},
    {ControlClass::CheckBox, IDC_LINK_MID, "MID", {58, 113, 32, 10}, TAB_GROUP},
    {ControlClass::CheckBox, IDC_LINK_MIDI, "MIDI", {92, 113, 34, 10}, TAB},
    {ControlClass::CheckBox, IDC_LINK_RMI, "RMI", {128, 113, 32, 10}, TAB},
    {ControlClass::CheckBox, IDC_LINK_BRL, "BRL", {162, 113, 32, 10}, TAB},
    {ControlClass::Static, IDC_STATIC, "Mode", {7, 131, 50, 10}, 0},
    {ControlClass::ComboBox, IDC_LINK_MODE, "", {58, 129, 48, 12}, TAB | STYLE_VSCROLL},
    {ControlClass::Button, IDC_SET_LINKS, "Set links to registory", {114, 128, 100, 14}, TAB},
    {ControlClass::DefButton, IDOK, "OK", {192, 147, 50, 14}, TAB_GROUP},
};

// 103: the same controls in one column for screens under 320 pixels wide,
// with the short labels. 152 x 164 units.
constexpr ControlTemplate COMPACT_CONFIGURE_CONTROLS[] = {
    {ControlClass::Static, IDC_STATIC, "Sampling rate", {4, 6, 56, 10}, 0},
    {ControlClass::ComboBox, IDC_SAMPLE_RATE, "", {62, 4, 86, 12}, TAB_GROUP | STYLE_VSCROLL},
    {ControlClass::Static, IDC_STATIC, "Bit rate", {4, 20, 56, 10}, 0},
    {ControlClass::ComboBox, IDC_BIT_RATE, "", {62, 18, 86, 12}, TAB | STYLE_VSCROLL},
    {ControlClass::Static, IDC_STATIC, "Channels", {4, 34, 56, 10}, 0},
    {ControlClass::ComboBox, IDC_CHANNELS, "", {62, 32, 86, 12}, TAB | STYLE_VSCROLL},
    {ControlClass::Static, IDC_STATIC, "Max sounds", {4, 48, 56, 10}, 0},
    {ControlClass::ComboBox, IDC_MAX_SOUNDS, "", {62, 46, 86, 12}, TAB | STYLE_VSCROLL},
    {ControlClass::Static, IDC_STATIC, "Initial position", {4, 62, 56, 10}, 0},
    {ControlClass::ComboBox, IDC_INITIAL_POSITION, "", {62, 60, 86, 12}, TAB | STYLE_VSCROLL},
    {ControlClass::Static, IDC_STATIC, "Sound font", {4, 76, 56, 10}, 0},
    {ControlClass::ComboBox, IDC_SOUND_FONT, "", {62, 74, 86, 12}, TAB | STYLE_VSCROLL},
    {ControlClass::Static, IDC_STATIC, "Output", {4, 90, 56, 10}, 0},
    {ControlClass::ComboBox, IDC_MIDI_OUT, "", {62, 88, 86, 12}, TAB | STYLE_VSCROLL},
    {ControlClass::Static, IDC_STATIC, "Effect", {4, 105, 56, 10}, 0},
    {ControlClass::CheckBox, IDC_REVERB, "Reverb", {62, 104, 40, 10}, TAB_GROUP},
    {ControlClass::CheckBox, IDC_LOW_PASS, "LPF", {106, 104, 34, 10}, TAB},
    {ControlClass::Static, IDC_STATIC, "ReverbLV. L", {4, 119, 46, 10}, 0},
    {ControlClass::TrackBar, IDC_REVERB_LEVEL, "", {52, 116, 82, 14}, TAB},
    {ControlClass::Static, IDC_STATIC, "H", {138, 119, 10, 10}, 0},
    {ControlClass::Static, IDC_STATIC, "Set link", {4, 134, 32, 10}, 0},
    {ControlClass::CheckBox, IDC_LINK_MID, "MID", {36, 133, 27, 10}, TAB_GROUP},
    {ControlClass::CheckBox, IDC_LINK_MIDI, "MIDI", {65, 133, 30, 10}, TAB},
    {ControlClass::CheckBox, IDC_LINK_RMI, "RMI", {97, 133, 25, 10}, TAB},
    {ControlClass::CheckBox, IDC_LINK_BRL, "BRL", {124, 133, 26, 10}, TAB},
    {ControlClass::Static, IDC_STATIC, "Mode", {4, 149, 22, 10}, 0},
    {ControlClass::ComboBox, IDC_LINK_MODE, "", {28, 147, 56, 12}, TAB | STYLE_VSCROLL},
    {ControlClass::Button, IDC_SET_LINKS, "Set", {90, 146, 26, 14}, TAB},
    {ControlClass::DefButton, IDOK, "OK", {120, 146, 28, 14}, TAB_GROUP},
};

// 107: four lists, the volume between "Min." and "Max.", always on top.
// No OK button: closing the dialog applies it. 190 x 110 units.
constexpr ControlTemplate PLAY_MODE_CONTROLS[] = {
    {ControlClass::Static, IDC_STATIC, "Play mode", {7, 9, 46, 10}, 0},
    {ControlClass::ComboBox, IDC_PLAY_MODE, "", {56, 7, 126, 12}, TAB_GROUP | STYLE_VSCROLL},
    {ControlClass::Static, IDC_STATIC, "LCD mode", {7, 25, 46, 10}, 0},
    {ControlClass::ComboBox, IDC_LCD_MODE, "", {56, 23, 126, 12}, TAB | STYLE_VSCROLL},
    {ControlClass::Static, IDC_STATIC, "Clock mode", {7, 41, 46, 10}, 0},
    {ControlClass::ComboBox, IDC_CLOCK_MODE, "", {56, 39, 126, 12}, TAB | STYLE_VSCROLL},
    {ControlClass::Static, IDC_STATIC, "Skin", {7, 57, 46, 10}, 0},
    {ControlClass::ComboBox, IDC_SKIN, "", {56, 55, 126, 12}, TAB | STYLE_VSCROLL},
    {ControlClass::Static, IDC_STATIC, "Volume", {7, 75, 46, 10}, 0},
    {ControlClass::StaticRight, IDC_STATIC, "Min.", {56, 75, 18, 10}, 0},
    {ControlClass::TrackBar, IDC_VOLUME, "", {76, 71, 84, 16}, TAB},
    {ControlClass::Static, IDC_STATIC, "Max.", {162, 75, 20, 10}, 0},
    {ControlClass::CheckBox, IDC_ALWAYS_ON_TOP, "Always on top", {56, 93, 90, 10}, TAB_GROUP},
};

constexpr DialogTemplate CONFIGURE_LAYOUT{
    IDD_CONFIGURE, "Configure", {0, 0, 250, 166}, "MS Gothic", 9, CONFIGURE_CONTROLS, countOf(CONFIGURE_CONTROLS)};
constexpr DialogTemplate COMPACT_CONFIGURE_LAYOUT{IDD_CONFIGURE_SMALL,
                                                  "Configure",
                                                  {0, 0, 152, 164},
                                                  "MS Gothic",
                                                  9,
                                                  COMPACT_CONFIGURE_CONTROLS,
                                                  countOf(COMPACT_CONFIGURE_CONTROLS)};
constexpr DialogTemplate PLAY_MODE_LAYOUT{
    IDD_PLAY_MODE, "Play mode", {0, 0, 190, 110}, "MS Gothic", 9, PLAY_MODE_CONTROLS, countOf(PLAY_MODE_CONTROLS)};

}  // namespace

const DialogTemplate& configureTemplate() { return CONFIGURE_LAYOUT; }
const DialogTemplate& compactConfigureTemplate() { return COMPACT_CONFIGURE_LAYOUT; }
const DialogTemplate& playModeTemplate() { return PLAY_MODE_LAYOUT; }

void registerSettingsTemplates() {
    registerDialogTemplate(CONFIGURE_LAYOUT);
    registerDialogTemplate(COMPACT_CONFIGURE_LAYOUT);
    registerDialogTemplate(PLAY_MODE_LAYOUT);
}

}  // namespace brellin
