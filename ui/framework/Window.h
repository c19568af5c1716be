// Window: a top-level window of the program. Every message the host
// delivers becomes a call of one virtual operation (see onMessage); a derived
// class overrides the operations it handles. The window draws into its back
// buffer, a Surface the size of the client area, and the default onPaint
// copies the repainted part of it to the screen.
//
// The Window owns its host (from `create` until WM_CLOSE or destruction) and
// its back buffer unless it was given one. User-interface thread only.
#pragma once

#include <memory>
#include <string>

#include "common/ResultCode.h"
#include "display/Surface.h"
#include "ui/framework/Control.h"
#include "ui/framework/Host.h"

namespace brellin {

class Window {
public:
    // The window class of every top-level window.
    static constexpr const char* className = "AppBase";

    // `surface`: the picture to use as the back buffer (the skin's display
    // Surface of the main window), kept by the caller; null: the window
    // makes and owns one.
    explicit Window(WindowSystem& system, Surface* surface = nullptr);
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    // The operations a window overrides; each says what its default does.

    // Creates the back buffer and the window (registering the window class
    // first if this is the first window; that window owns the message loop),
    // then shows it. False with RESULT_UNSUPPORTED_FORMAT (the class) or
    // RESULT_DEVICE_ERROR (the window). While the window exists: true, nothing new.
    virtual bool create();
    // Invalidates the back buffer's dirty rectangle, then empties it.
    virtual void invalidate();
    // Routes a message to its handler (routeMessage); 0 = not handled.
    virtual LResult onMessage(MessageId msg, WParam wParam, LParam lParam);
    // Shows the window, paints it, sizes the back buffer to the client
    // area and invalidates all of it. Returns 1.
    virtual LResult show();
    // WM_DESTROY: the message-loop owner posts the quit message. Returns 1.
    virtual LResult onDestroy();
    // WM_COMMAND: returns 1.
    virtual LResult onCommand(std::uint16_t code, std::uint16_t id, LParam lParam);
    // The mouse messages, in client coordinates: return 1.
    virtual LResult onLButtonDown(WParam keys, std::int32_t x, std::int32_t y);
    virtual LResult onLButtonUp(WParam keys, std::int32_t x, std::int32_t y);
    virtual LResult onRButtonDown(WParam keys, std::int32_t x, std::int32_t y);
    virtual LResult onRButtonUp(WParam keys, std::int32_t x, std::int32_t y);
    virtual LResult onMouseMove(WParam keys, std::int32_t x, std::int32_t y);
    // WM_MOUSEWHEEL: delta in WHEEL_DELTA units a notch, positive away from the user.
    virtual LResult onMouseWheel(WParam keys, std::int32_t delta, std::int32_t x, std::int32_t y);
    // WM_KEYDOWN, WM_KEYUP: Windows virtual-key numbers. Return 1.
    virtual LResult onKeyDown(WParam virtualKey, LParam lParam);
    virtual LResult onKeyUp(WParam virtualKey, LParam lParam);
    // WM_CLOSE: destroys the window. Returns 1.
    virtual LResult onClose();
    // WM_PAINT: copies the update rectangle from the back buffer. Returns 1.
    virtual LResult onPaint();
    // WM_TIMER: returns 1.
    virtual LResult onTimer(std::uintptr_t timerId);
    // WM_SIZE: returns 1.
    virtual LResult onSize(WParam type, std::uint32_t width, std::uint32_t height);
    // WM_NOTIFY: returns 1.
    virtual LResult onNotify(WParam controlId, LParam header);
    // Before the window is made: may change the creation record before the window is made. Returns 1.
    virtual LResult preCreate(CreationRecord& record);
    // The tip a host shows while the pointer rests at (x, y), client
    // coordinates; empty: none. The default has none.
    virtual std::string toolTipAt(std::int32_t x, std::int32_t y) const;

    // The routing shared by Window and Dialog: the handler's result, or 0 for
    // a message no handler takes.
    LResult routeMessage(MessageId msg, WParam wParam, LParam lParam);

    // DestroyWindow: routes WM_DESTROY, then lets go of the host.
    void destroyWindow();

    // The procedure of the window class: 0 for a message the object handled,
    // else the host's default handling.
    static LResult windowProcedure(ControlHost* handle, MessageId msg, WParam wParam, LParam lParam);

    ResultCode lastError = RESULT_OK;
    WindowHost* hwnd = nullptr;
    Control control;
    bool ownsMessageLoop = false;
    // The back buffer: ownBackBuffer, or the caller's surface.
    Surface* backBuffer = nullptr;

protected:
    // Gives the back buffer a derived window keeps as its own member (which
    // does not exist yet when this base is constructed); before create.
    void useBackBuffer(Surface* surface) { givenBackBuffer = surface; }

    WindowSystem& system;

private:
    Surface* givenBackBuffer;
    std::unique_ptr<Surface> ownBackBuffer;
};

}  // namespace brellin
