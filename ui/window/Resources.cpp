#include "ui/window/Resources.h"

#include "BrellinVersion.h"
#include "ui/framework/Messages.h"

namespace brellin {

const char* const versionLine = "Brellin " BRELLIN_VERSION;
const char* const versionDetail = "MIDI file player with its own wavetable synthesizer";

namespace {

constexpr MenuItemTemplate RECENT_PLACEHOLDER[] = {
    {MenuItemKind::Command, IDM_RECENT_PLACEHOLDER, "(Item)"},
};

constexpr MenuItemTemplate SEPARATOR{MenuItemKind::Separator, 0, nullptr};
constexpr MenuItemTemplate RECENT_SUBMENU{MenuItemKind::Submenu, 0, "Recently opened PlayList", RECENT_PLACEHOLDER, 1};

constexpr MenuItemTemplate MAIN_MENU_ITEMS[] = {
    {MenuItemKind::Command, IDM_HIDE_WINDOW, "Undisplay window"},
    SEPARATOR,
    {MenuItemKind::Command, IDM_VERSION, "Version info. ...."},
    {MenuItemKind::Command, IDM_CONFIGURE, "Configure..."},
    {MenuItemKind::Command, IDM_PLAY_MODE, "Play mode..."},
    SEPARATOR,
    RECENT_SUBMENU,
    {MenuItemKind::Command, IDM_OPEN_FILES, "Open files..."},
    {MenuItemKind::Command, IDM_PLAYLIST, "Display play list..."},
    {MenuItemKind::Command, IDM_SAVE_PLAYLIST, "Save play list..."},
    SEPARATOR,
    {MenuItemKind::Command, IDM_PAUSE, "Pause/Resume"},
    {MenuItemKind::Command, IDM_SEEK_BACK, "Back 10 s"},
    {MenuItemKind::Command, IDM_SEEK_FORWARD, "Forward 10 s"},
    {MenuItemKind::Command, IDM_SLOWER, "Slower"},
    {MenuItemKind::Command, IDM_FASTER, "Faster"},
    {MenuItemKind::Command, IDM_KEY_DOWN, "Key down"},
    {MenuItemKind::Command, IDM_KEY_UP, "Key up"},
    {MenuItemKind::Command, IDM_NORMAL_SPEED_KEY, "Original speed and key"},
    SEPARATOR,
    {MenuItemKind::Command, IDM_EXIT, "Exit"},
};

constexpr MenuItemTemplate SUB_MENU_1_ITEMS[] = {
    {MenuItemKind::Command, IDM_EXIT, "Exit"},
    SEPARATOR,
    {MenuItemKind::Command, IDM_NEXT, "Next"},
    {MenuItemKind::Command, IDM_PREVIOUS, "Previous"},
    {MenuItemKind::Command, IDM_PLAY_STOP, "Play/Stop"},
    {MenuItemKind::Command, IDM_PAUSE, "Pause/Resume"},
    RECENT_SUBMENU,
    SEPARATOR,
    {MenuItemKind::Command, IDM_OPEN_FILES, "Open files..."},
    {MenuItemKind::Command, IDM_PLAYLIST, "Display play list..."},
    SEPARATOR,
    {MenuItemKind::Command, IDM_SHOW_WINDOW, "Display window"},
};

constexpr MenuItemTemplate SUB_MENU_2_ITEMS[] = {
    {MenuItemKind::Command, IDM_EXIT, "Exit"},
    SEPARATOR,
    {MenuItemKind::Command, IDM_NEXT, "Next"},
    {MenuItemKind::Command, IDM_PREVIOUS, "Previous"},
    {MenuItemKind::Command, IDM_PLAY_STOP, "Play/Stop"},
    {MenuItemKind::Command, IDM_PAUSE, "Pause/Resume"},
    RECENT_SUBMENU,
    SEPARATOR,
    {MenuItemKind::Command, IDM_OPEN_FILES, "Open files..."},
    {MenuItemKind::Command, IDM_PLAYLIST, "Display play list..."},
    SEPARATOR,
    {MenuItemKind::Command, IDM_HIDE_WINDOW, "Undisplay window"},
};

template <std::size_t N>
constexpr MenuPopupTemplate popupOf(const char* name, const MenuItemTemplate (&items)[N]) {
    return MenuPopupTemplate{name, items, static_cast<int>(N)};
}

constexpr MenuPopupTemplate MENU_105_POPUPS[MAIN_MENU_POPUP_COUNT] = {
    popupOf("MainMenu", MAIN_MENU_ITEMS),
    popupOf("SubMenu1", SUB_MENU_1_ITEMS),
    popupOf("SubMenu2", SUB_MENU_2_ITEMS),
};

constexpr MenuTemplate MENU_105{IDR_MAIN_MENU, MENU_105_POPUPS, MAIN_MENU_POPUP_COUNT};

// The version dialog: the icon and both lines on the left, the OK button at
// the right.
constexpr ControlTemplate VERSION_CONTROLS[] = {
    {ControlClass::Icon, IDC_STATIC, "", {7, 7, 20, 20}, 0},
    {ControlClass::Static, IDC_VERSION_LINE, "", {34, 8, 220, 10}, 0},
    {ControlClass::Edit, IDC_VERSION_DETAIL, "", {34, 22, 220, 12}, EDIT_READONLY | EDIT_AUTOHSCROLL | STYLE_TABSTOP},
    {ControlClass::DefButton, IDOK, "OK", {262, 7, 50, 14}, STYLE_TABSTOP | STYLE_GROUP},
};

}  // namespace

const DialogTemplate VERSION_TEMPLATE{IDD_VERSION,
                                      "Version info.",
                                      {0, 0, 319, 42},
                                      "MS Gothic",
                                      9,
                                      VERSION_CONTROLS,
                                      static_cast<std::int32_t>(sizeof VERSION_CONTROLS / sizeof VERSION_CONTROLS[0])};

const MenuTemplate& mainMenu() { return MENU_105; }

}  // namespace brellin
