#include "ui/dialogs/ListViewControl.h"

namespace brellin {

LResult ListViewControl::windowProc(MessageId msg, WParam wParam, LParam lParam) {
    if (msg == WM_KEYDOWN && wParam != VK_UP && wParam != VK_DOWN) return dialog.onMessage(msg, wParam, lParam);
    if (msg == WM_LBUTTONDBLCLK) return dialog.onCommand(0, IDOK, 0);
    return Control::windowProc(msg, wParam, lParam);
}

}  // namespace brellin
