#include "ui/framework/Control.h"

namespace brellin {

Control::~Control() { restore(); }

void Control::attach(ControlHost* handle) {
    restore();
    hwnd = handle;
}

void Control::subclass() {
    if (savedProc != nullptr || hwnd == nullptr) return;
    savedProc = hwnd->windowProcedure();
    hwnd->setControlData(this);
    hwnd->setWindowProcedure(&Control::controlProcedure);
}

void Control::restore() {
    if (savedProc == nullptr) return;
    if (hwnd != nullptr) {
        hwnd->setWindowProcedure(savedProc);
        hwnd->setControlData(nullptr);
    }
    savedProc = nullptr;
}

LResult Control::windowProc(MessageId msg, WParam wParam, LParam lParam) {
    if (savedProc == nullptr) return hwnd ? hwnd->defaultProcedure(msg, wParam, lParam) : 0;
    return savedProc(hwnd, msg, wParam, lParam);
}

LResult Control::controlProcedure(ControlHost* handle, MessageId msg, WParam wParam, LParam lParam) {
    if (handle == nullptr) return 0;
    if (Control* control = handle->controlData()) return control->windowProc(msg, wParam, lParam);
    return handle->defaultProcedure(msg, wParam, lParam);
}

}  // namespace brellin
