// Resources: the program's own numbers and tables: the commands of the main
// window, the identifiers of the menu and the dialog templates, the main
// menu (resource 105) and the version dialog's template (106).
//
// The numbers are the ones the settings file, the menu and the templates have
// always used; the framework only carries them (WM_COMMAND, dialogBox).
#pragma once

#include <cstdint>

#include "ui/framework/DialogTemplate.h"
#include "ui/framework/Menu.h"

namespace brellin {

// Commands of the main window (menu items, buttons, keys, tray icon).
enum CommandId : std::uint16_t {
    IDM_VERSION = 40001,             // "Version info. ...."
    IDM_CONFIGURE = 40002,           // "Configure..."
    IDM_PLAY_MODE = 40003,           // "Play mode..."
    IDM_EXIT = 40004,                // "Exit", the Close button
    IDM_SAVE_PLAYLIST = 40005,       // "Save play list..."
    IDM_HIDE_WINDOW = 40006,         // "Undisplay window"
    IDM_SHOW_WINDOW = 40007,         // "Display window"
    IDM_NEXT = 40008,                // "Next"
    IDM_PREVIOUS = 40009,            // "Previous"
    IDM_PLAY_STOP = 40010,           // "Play/Stop"
    IDM_PLAYLIST = 40012,            // "Display play list..."
    IDM_OPEN_FILES = 40013,          // "Open files..."
    IDM_RECENT_PLACEHOLDER = 40018,  // "(Item)", removed when the recent submenus are filled
    IDM_PAUSE = 40019,               // "Pause/Resume"
    IDM_STOP = 40020,                // stops, also while paused (the media player's Stop)
    IDM_SEEK_FORWARD = 40021,        // "Forward 10 s"
    IDM_SEEK_BACK = 40022,           // "Back 10 s"
    IDM_FASTER = 40023,              // "Faster"
    IDM_SLOWER = 40024,              // "Slower"
    IDM_KEY_UP = 40025,              // "Key up"
    IDM_KEY_DOWN = 40026,            // "Key down"
    IDM_NORMAL_SPEED_KEY = 40027,    // "Original speed and key"
    IDM_RECENT_FIRST = 8950,         // 8950..8954: the recent play lists
    IDM_RECENT_LAST = 8954,
    IDM_SONG_TITLE = 9000,  // posted by the text-event listener
    IDM_TRAY_ICON = 101,    // the tray icon's mouse messages (lParam = the mouse message)
};

// Resources: the menu and the dialog templates.
constexpr std::uint16_t IDR_MAIN_MENU = 105;
constexpr std::uint16_t IDD_OPEN_FILE = 102;
constexpr std::uint16_t IDD_CONFIGURE_SMALL = 103;
constexpr std::uint16_t IDD_VERSION = 106;
constexpr std::uint16_t IDD_PLAY_MODE = 107;
constexpr std::uint16_t IDD_SAVE_FILE = 112;
constexpr std::uint16_t IDD_PLAYLIST = 113;
constexpr std::uint16_t IDD_FILE_INFORMATION = 115;
constexpr std::uint16_t IDD_CONFIGURE = 118;

// Controls of the version dialog.
constexpr int IDC_VERSION_LINE = 1003;    // static text: the version line
constexpr int IDC_VERSION_DETAIL = 1006;  // read-only edit: the second line, gets the focus

// The identifier of the tray icon.
constexpr std::uint32_t TRAY_ICON_ID = 101;

// Menu 105. Popup 0 is shown from the display window, popups 1 and 2 from
// the tray icon (1 while the window is hidden, 2 while it is shown). Each
// popup has the "Recently opened PlayList" submenu at position 6 (separators
// count), holding the placeholder 40018 "(Item)" until it is filled.
constexpr int MAIN_MENU_POPUP_COUNT = 3;
constexpr int RECENT_SUBMENU_POSITION = 6;
const MenuTemplate& mainMenu();

// Template 106 and the text of the version dialog's two lines.
extern const DialogTemplate VERSION_TEMPLATE;
extern const char* const versionLine;
extern const char* const versionDetail;

}  // namespace brellin
