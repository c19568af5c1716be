// DialogTemplate: a dialog's layout as a table (what a DIALOGEX resource
// holds): identifier, caption, rectangle in dialog units, font, and the
// controls in tab order with class, identifier, text, rectangle and style.
//
// The dialog host builds the widgets from the table. Dialog units become
// pixels as Windows does: x * average character width / 4 and
// y * line height / 8 of the dialog's font.
#pragma once

#include <cstdint>

namespace brellin {

enum class ControlClass : std::uint8_t {
    Button,     // push button
    DefButton,  // push button drawn as the default one
    CheckBox,
    RadioButton,
    GroupBox,
    Static,       // text label, left-aligned
    StaticRight,  // text label, right-aligned
    Edit,
    ListBox,
    ComboBox,  // drop-down list
    ListView,
    TrackBar,
    Icon,
};

// Control and dialog styles the hosts act on (Win32 values).
constexpr std::uint32_t STYLE_TABSTOP = 0x00010000u;        // WS_TABSTOP
constexpr std::uint32_t STYLE_GROUP = 0x00020000u;          // WS_GROUP
constexpr std::uint32_t STYLE_DISABLED = 0x08000000u;       // WS_DISABLED
constexpr std::uint32_t STYLE_VSCROLL = 0x00200000u;        // WS_VSCROLL
constexpr std::uint32_t STYLE_BORDER = 0x00800000u;         // WS_BORDER
constexpr std::uint32_t EDIT_READONLY = 0x0800u;            // ES_READONLY
constexpr std::uint32_t EDIT_MULTILINE = 0x0004u;           // ES_MULTILINE
constexpr std::uint32_t EDIT_AUTOHSCROLL = 0x0080u;         // ES_AUTOHSCROLL
constexpr std::uint32_t LIST_MULTIPLE_SELECTION = 0x0008u;  // LBS_EXTENDEDSEL / !LVS_SINGLESEL
constexpr std::uint32_t LISTVIEW_SMALL_ICONS = 0x0002u;     // LVS_SMALLICON
constexpr std::uint32_t LISTVIEW_REPORT = 0x0001u;          // LVS_REPORT
constexpr std::uint32_t TRACKBAR_VERTICAL = 0x0002u;        // TBS_VERT

struct DialogUnitRect {
    std::int16_t x = 0;
    std::int16_t y = 0;
    std::int16_t width = 0;
    std::int16_t height = 0;
};

struct ControlTemplate {
    ControlClass controlClass;
    std::int32_t id;  // -1 (IDC_STATIC) for labels nothing refers to
    const char* text;
    DialogUnitRect rect;
    std::uint32_t style;
};

struct DialogTemplate {
    std::uint16_t id;
    const char* caption;
    DialogUnitRect rect;
    const char* fontFace;
    std::int32_t fontPointSize;
    const ControlTemplate* controls;
    std::int32_t controlCount;
};

constexpr std::int32_t IDC_STATIC = -1;

// The template of that identifier; null if none was registered.
const DialogTemplate* findDialogTemplate(std::uint16_t id);

// Registers a template so findDialogTemplate finds it (at start-up, before
// any dialog opens; the table must outlive the program's dialogs).
void registerDialogTemplate(const DialogTemplate& dialogTemplate);

}  // namespace brellin
