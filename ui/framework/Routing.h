// The message routing shared by Window and Dialog: one message, one handler.
// Internal to the framework.
#pragma once

#include "ui/framework/Messages.h"

namespace brellin {

template <class Target>
LResult routeToHandler(Target& target, MessageId msg, WParam wParam, LParam lParam) {
    const auto l = static_cast<std::uintptr_t>(lParam);
    switch (msg) {
        case WM_DESTROY: return target.onDestroy();
        case WM_SIZE: return target.onSize(wParam, lowWord(l), highWord(l));
        case WM_PAINT: return target.onPaint();
        case WM_CLOSE: return target.onClose();
        case WM_NOTIFY: return target.onNotify(wParam, lParam);
        case WM_KEYDOWN: return target.onKeyDown(wParam, lParam);
        case WM_KEYUP: return target.onKeyUp(wParam, lParam);
        case WM_COMMAND: return target.onCommand(highWord(wParam), lowWord(wParam), lParam);
        case WM_TIMER: return target.onTimer(wParam);
        case WM_MOUSEMOVE: return target.onMouseMove(wParam, signedLowWord(l), signedHighWord(l));
        case WM_LBUTTONDOWN: return target.onLButtonDown(wParam, signedLowWord(l), signedHighWord(l));
        case WM_LBUTTONUP: return target.onLButtonUp(wParam, signedLowWord(l), signedHighWord(l));
        case WM_RBUTTONDOWN: return target.onRButtonDown(wParam, signedLowWord(l), signedHighWord(l));
        case WM_RBUTTONUP: return target.onRButtonUp(wParam, signedLowWord(l), signedHighWord(l));
        case WM_MOUSEWHEEL:
            return target.onMouseWheel(lowWord(wParam), signedHighWord(wParam), signedLowWord(l), signedHighWord(l));
        default: return 0;
    }
}

}  // namespace brellin
