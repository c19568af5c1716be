#include "ui/framework/Window.h"

#include "ui/framework/Routing.h"

namespace brellin {

Window::Window(WindowSystem& windowSystem, Surface* surface) : system(windowSystem), givenBackBuffer(surface) {}

Window::~Window() {
    destroyWindow();
    backBuffer = nullptr;
    ownBackBuffer.reset();
    control.restore();
}

bool Window::create() {
    // One object, one window: a second create would lose the first one's host.
    if (hwnd != nullptr) return true;
    if (givenBackBuffer != nullptr) {
        backBuffer = givenBackBuffer;
    } else {
        if (!ownBackBuffer) ownBackBuffer = std::make_unique<Surface>();
        backBuffer = ownBackBuffer.get();
    }
    if (!system.windowClassRegistered) {
        if (!system.registerWindowClass(className, &Window::windowProcedure)) {
            lastError = RESULT_UNSUPPORTED_FORMAT;
            return false;
        }
        system.windowClassRegistered = true;
        ownsMessageLoop = true;
    }
    CreationRecord record;
    record.createParameter = &record;
    record.style = WS_POPUP | WS_VISIBLE | WS_BORDER | WS_SYSMENU;
    record.windowName = "Application Window";
    record.className = className;
    preCreate(record);
    WindowHost* handle = system.createWindow(record);
    if (handle == nullptr) {
        lastError = RESULT_DEVICE_ERROR;
        return false;
    }
    hwnd = handle;
    control.attach(handle);
    handle->setWindowData(this);
    lastError = RESULT_OK;
    show();
    return true;
}

void Window::invalidate() {
    if (hwnd == nullptr || backBuffer == nullptr) return;
    DirtyRect dirty = backBuffer->dirtyRect();
    Rect rect{dirty.left, dirty.top, dirty.right, dirty.bottom};
    if (!rect.isEmpty()) hwnd->invalidateRect(rect);
    backBuffer->resetDirtyRect();
}

LResult Window::onMessage(MessageId msg, WParam wParam, LParam lParam) { return routeMessage(msg, wParam, lParam); }

LResult Window::show() {
    if (hwnd == nullptr) return 1;
    hwnd->showWindow(true);
    hwnd->updateWindow();
    Rect client = hwnd->clientRect();
    if (backBuffer != nullptr) backBuffer->resize(client.width(), client.height());
    hwnd->invalidateRect(client);
    return 1;
}

LResult Window::onDestroy() {
    if (ownsMessageLoop) system.postQuitMessage(0);
    return 1;
}

LResult Window::onCommand(std::uint16_t, std::uint16_t, LParam) { return 1; }
LResult Window::onLButtonDown(WParam, std::int32_t, std::int32_t) { return 1; }
LResult Window::onLButtonUp(WParam, std::int32_t, std::int32_t) { return 1; }
LResult Window::onRButtonDown(WParam, std::int32_t, std::int32_t) { return 1; }
LResult Window::onRButtonUp(WParam, std::int32_t, std::int32_t) { return 1; }
LResult Window::onMouseMove(WParam, std::int32_t, std::int32_t) { return 1; }
LResult Window::onMouseWheel(WParam, std::int32_t, std::int32_t, std::int32_t) { return 1; }
std::string Window::toolTipAt(std::int32_t, std::int32_t) const { return {}; }
LResult Window::onKeyDown(WParam, LParam) { return 1; }
LResult Window::onKeyUp(WParam, LParam) { return 1; }

LResult Window::onClose() {
    destroyWindow();
    return 1;
}

LResult Window::onPaint() {
    if (hwnd == nullptr) return 1;
    Rect update = hwnd->beginPaint();
    if (backBuffer != nullptr && !update.isEmpty()) hwnd->copyToScreen(*backBuffer, update);
    hwnd->endPaint();
    return 1;
}

LResult Window::onTimer(std::uintptr_t) { return 1; }
LResult Window::onSize(WParam, std::uint32_t, std::uint32_t) { return 1; }
LResult Window::onNotify(WParam, LParam) { return 1; }
LResult Window::preCreate(CreationRecord&) { return 1; }

LResult Window::routeMessage(MessageId msg, WParam wParam, LParam lParam) {
    return routeToHandler(*this, msg, wParam, lParam);
}

void Window::destroyWindow() {
    if (hwnd == nullptr) return;
    WindowHost* handle = hwnd;
    // WM_DESTROY reaches the object while the handle is still valid, as
    // DestroyWindow sends it before the window goes.
    windowProcedure(handle, WM_DESTROY, 0, 0);
    handle->setWindowData(nullptr);
    control.attach(nullptr);
    hwnd = nullptr;
    handle->destroy();
    delete handle;
}

LResult Window::windowProcedure(ControlHost* handle, MessageId msg, WParam wParam, LParam lParam) {
    auto* host = static_cast<WindowHost*>(handle);
    if (host == nullptr) return 0;
    Window* window = host->windowData();
    if (window != nullptr && window->onMessage(msg, wParam, lParam) != 0) return 0;
    return host->defaultProcedure(msg, wParam, lParam);
}

}  // namespace brellin
