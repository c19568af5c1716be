#include "ui/qt/VirtualKeys.h"

#include <Qt>

namespace brellin {

namespace {

// Windows virtual-key numbers used below.
constexpr std::int32_t VK_BACK = 8, VK_TAB = 9, VK_CLEAR = 12, VK_RETURN = 13, VK_SHIFT = 16, VK_CONTROL = 17,
                       VK_MENU = 18, VK_PAUSE = 19, VK_CAPITAL = 20, VK_ESCAPE = 27, VK_SPACE = 32, VK_PRIOR = 33,
                       VK_NEXT = 34, VK_END = 35, VK_HOME = 36, VK_LEFT = 37, VK_UP = 38, VK_RIGHT = 39, VK_DOWN = 40,
                       VK_SELECT = 41, VK_PRINT = 42, VK_EXECUTE = 43, VK_SNAPSHOT = 44, VK_INSERT = 45, VK_DELETE = 46,
                       VK_HELP = 47, VK_LWIN = 91, VK_APPS = 93, VK_SLEEP = 95, VK_NUMPAD0 = 96, VK_MULTIPLY = 106,
                       VK_ADD = 107, VK_SUBTRACT = 109, VK_DECIMAL = 110, VK_DIVIDE = 111, VK_F1 = 112,
                       VK_NUMLOCK = 144, VK_SCROLL = 145, VK_BROWSER_BACK = 166, VK_BROWSER_FORWARD = 167,
                       VK_BROWSER_REFRESH = 168, VK_BROWSER_STOP = 169, VK_BROWSER_SEARCH = 170,
                       VK_BROWSER_FAVORITES = 171, VK_BROWSER_HOME = 172, VK_VOLUME_MUTE = 173, VK_VOLUME_DOWN = 174,
                       VK_VOLUME_UP = 175, VK_MEDIA_NEXT_TRACK = 176, VK_MEDIA_PREV_TRACK = 177, VK_MEDIA_STOP = 178,
                       VK_MEDIA_PLAY_PAUSE = 179, VK_LAUNCH_MAIL = 180, VK_OEM_1 = 186, VK_OEM_PLUS = 187,
                       VK_OEM_COMMA = 188, VK_OEM_MINUS = 189, VK_OEM_PERIOD = 190, VK_OEM_2 = 191, VK_OEM_3 = 192,
                       VK_OEM_4 = 219, VK_OEM_5 = 220, VK_OEM_6 = 221, VK_OEM_7 = 222;

std::int32_t keypadKey(int qtKey) {
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return VK_NUMPAD0 + (qtKey - Qt::Key_0);
    switch (qtKey) {
        case Qt::Key_Asterisk: return VK_MULTIPLY;
        case Qt::Key_Plus: return VK_ADD;
        case Qt::Key_Minus: return VK_SUBTRACT;
        case Qt::Key_Period:
        case Qt::Key_Comma: return VK_DECIMAL;  // the decimal key, whichever sign the layout prints
        case Qt::Key_Slash: return VK_DIVIDE;
        default: return 0;
    }
}

}  // namespace

std::int32_t virtualKeyFromQt(int qtKey, bool keypad) {
    if (keypad) {
        if (std::int32_t key = keypadKey(qtKey)) return key;
    }
    if ((qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) || (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)) {
        return qtKey;  // Qt's codes for these are their ASCII capitals
    }
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) return VK_F1 + (qtKey - Qt::Key_F1);
    switch (qtKey) {
        case Qt::Key_Return:
        case Qt::Key_Enter: return VK_RETURN;
        case Qt::Key_Escape: return VK_ESCAPE;
        case Qt::Key_Space: return VK_SPACE;
        case Qt::Key_Left: return VK_LEFT;
        case Qt::Key_Up: return VK_UP;
        case Qt::Key_Right: return VK_RIGHT;
        case Qt::Key_Down: return VK_DOWN;
        case Qt::Key_Backspace: return VK_BACK;
        case Qt::Key_Tab:
        case Qt::Key_Backtab: return VK_TAB;
        case Qt::Key_Clear: return VK_CLEAR;
        case Qt::Key_Shift: return VK_SHIFT;
        case Qt::Key_Control: return VK_CONTROL;
        case Qt::Key_Alt:
        case Qt::Key_AltGr: return VK_MENU;
        case Qt::Key_Pause: return VK_PAUSE;
        case Qt::Key_CapsLock: return VK_CAPITAL;
        case Qt::Key_PageUp: return VK_PRIOR;
        case Qt::Key_PageDown: return VK_NEXT;
        case Qt::Key_End: return VK_END;
        case Qt::Key_Home: return VK_HOME;
        case Qt::Key_Select: return VK_SELECT;
        case Qt::Key_Printer: return VK_PRINT;
        case Qt::Key_Execute: return VK_EXECUTE;
        case Qt::Key_Print: return VK_SNAPSHOT;
        case Qt::Key_Insert: return VK_INSERT;
        case Qt::Key_Delete: return VK_DELETE;
        case Qt::Key_Help: return VK_HELP;
        case Qt::Key_Meta:
        case Qt::Key_Super_L: return VK_LWIN;
        case Qt::Key_Super_R: return VK_LWIN + 1;
        case Qt::Key_Menu: return VK_APPS;
        case Qt::Key_Sleep: return VK_SLEEP;
        case Qt::Key_NumLock: return VK_NUMLOCK;
        case Qt::Key_ScrollLock: return VK_SCROLL;
        case Qt::Key_Back: return VK_BROWSER_BACK;
        case Qt::Key_Forward: return VK_BROWSER_FORWARD;
        case Qt::Key_Refresh: return VK_BROWSER_REFRESH;
        case Qt::Key_Stop: return VK_BROWSER_STOP;
        case Qt::Key_Search: return VK_BROWSER_SEARCH;
        case Qt::Key_Favorites: return VK_BROWSER_FAVORITES;
        case Qt::Key_HomePage: return VK_BROWSER_HOME;
        case Qt::Key_VolumeMute: return VK_VOLUME_MUTE;
        case Qt::Key_VolumeDown: return VK_VOLUME_DOWN;
        case Qt::Key_VolumeUp: return VK_VOLUME_UP;
        case Qt::Key_MediaNext: return VK_MEDIA_NEXT_TRACK;
        case Qt::Key_MediaPrevious: return VK_MEDIA_PREV_TRACK;
        case Qt::Key_MediaStop: return VK_MEDIA_STOP;
        case Qt::Key_MediaPlay:
        case Qt::Key_MediaPause:
        case Qt::Key_MediaTogglePlayPause: return VK_MEDIA_PLAY_PAUSE;
        case Qt::Key_LaunchMail: return VK_LAUNCH_MAIL;
        // Punctuation by the US key that carries it, unshifted and shifted.
        case Qt::Key_Semicolon:
        case Qt::Key_Colon: return VK_OEM_1;
        case Qt::Key_Equal:
        case Qt::Key_Plus: return VK_OEM_PLUS;
        case Qt::Key_Comma:
        case Qt::Key_Less: return VK_OEM_COMMA;
        case Qt::Key_Minus:
        case Qt::Key_Underscore: return VK_OEM_MINUS;
        case Qt::Key_Period:
        case Qt::Key_Greater: return VK_OEM_PERIOD;
        case Qt::Key_Slash:
        case Qt::Key_Question: return VK_OEM_2;
        case Qt::Key_QuoteLeft:
        case Qt::Key_AsciiTilde: return VK_OEM_3;
        case Qt::Key_BracketLeft:
        case Qt::Key_BraceLeft: return VK_OEM_4;
        case Qt::Key_Backslash:
        case Qt::Key_Bar: return VK_OEM_5;
        case Qt::Key_BracketRight:
        case Qt::Key_BraceRight: return VK_OEM_6;
        case Qt::Key_Apostrophe:
        case Qt::Key_QuoteDbl: return VK_OEM_7;
        // Shifted digits: the digit key.
        case Qt::Key_Exclam: return '1';
        case Qt::Key_At: return '2';
        case Qt::Key_NumberSign: return '3';
        case Qt::Key_Dollar: return '4';
        case Qt::Key_Percent: return '5';
        case Qt::Key_AsciiCircum: return '6';
        case Qt::Key_Ampersand: return '7';
        case Qt::Key_Asterisk: return '8';
        case Qt::Key_ParenLeft: return '9';
        case Qt::Key_ParenRight: return '0';
        default: return 0;
    }
}

}  // namespace brellin
