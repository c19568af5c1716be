#include "ui/dialogs/ListViewControl.h"

namespace brellin {

bool ListViewControl::passesToList(WParam virtualKey) const {
    if (virtualKey == VK_UP || virtualKey == VK_DOWN) return true;
    if (!browsingKeys) return false;
    // Page Up, Page Down, End, Home (33 to 36); digits (0x30 to 0x39) and
    // letters (0x41 to 0x5A); the punctuation keys of names (0xBA to 0xC0,
    // 0xDB to 0xDF: ; = , - . / ` [ \ ] ').
    return (virtualKey >= VK_PRIOR && virtualKey <= VK_HOME) || (virtualKey >= 0x30 && virtualKey <= 0x39) ||
           (virtualKey >= 0x41 && virtualKey <= 0x5A) || (virtualKey >= 0xBA && virtualKey <= 0xC0) ||
           (virtualKey >= 0xDB && virtualKey <= 0xDF);
}

LResult ListViewControl::windowProc(MessageId msg, WParam wParam, LParam lParam) {
    if (msg == WM_KEYDOWN && !passesToList(wParam)) return dialog.onMessage(msg, wParam, lParam);
    if (msg == WM_LBUTTONDBLCLK) return dialog.onCommand(0, IDOK, 0);
    return Control::windowProc(msg, wParam, lParam);
}

}  // namespace brellin
