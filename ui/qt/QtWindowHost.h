// QtWindowHost: one top-level window of the framework on a frameless
// QWidget. It turns the widget's Qt events into the window's messages and
// the framework's requests into Qt calls; it holds no player state.
//
// Events in (all delivered through the window's procedure):
//   - left/right button press and release, mouse moves (also without a
//     button): WM_LBUTTONDOWN ... WM_MOUSEMOVE in client coordinates. While a
//     button is held, Qt's implicit grab keeps the mouse on this window, which
//     is what SetCapture asks for.
//   - keys as Windows virtual-key numbers (WM_KEYDOWN / WM_KEYUP). An
//     auto-repeated press is another WM_KEYDOWN with bit 30 of lParam set
//     (the action repeats); X11's auto-repeat releases are not real releases
//     and are dropped.
//   - closeEvent (the window manager's close) is refused and becomes WM_CLOSE.
//   - paint: WM_PAINT, whose handler copies the back buffer with
//     copyToScreen; resizes: WM_SIZE; timers: WM_TIMER with the caller's id.
//
// Painting: on an X server (when XcbPresenter can write the window's
// visual, at a device pixel ratio of 1) invalidated rectangles are collected
// and painted once, just before the event loop next waits: WM_PAINT is
// delivered then and copyToScreen puts the pixels straight into the X
// window. Qt's backing store is then behind the screen; the next expose
// (the window uncovered or shown again) repaints it whole through Qt first.
// Elsewhere (offscreen, Wayland, scaled screens) invalidation is
// QWidget::update and WM_PAINT comes from the paint event.
//
// The host is created by QtWindowSystem::createWindow and deleted by its
// Window after `destroy`; the widget is deleted later by Qt (deleteLater), as
// `destroy` may run inside the widget's own event delivery.
#pragma once

#include <QBasicTimer>
#include <QPainter>
#include <QRegion>
#include <cstdint>
#include <map>
#include <memory>

#include "ui/framework/Host.h"
#include "ui/qt/SurfaceWidget.h"

class QMenu;
class QSystemTrayIcon;

namespace brellin {

class QtWindowSystem;

class QtWindowHost : public WindowHost {
public:
    QtWindowHost(QtWindowSystem& system, WindowProcedure classProcedure, const CreationRecord& record);
    ~QtWindowHost() override;

    // ControlHost
    WindowProcedure windowProcedure() const override { return procedure; }
    void setWindowProcedure(WindowProcedure newProcedure) override { procedure = newProcedure; }
    Control* controlData() const override { return control; }
    void setControlData(Control* data) override { control = data; }
    LResult defaultProcedure(MessageId msg, WParam wParam, LParam lParam) override;

    // WindowHost
    Window* windowData() const override { return window; }
    void setWindowData(Window* data) override { window = data; }
    void invalidateRect(const Rect& rect) override;
    void showWindow(bool visible) override;
    void updateWindow() override;
    void setWindowPos(std::int32_t x, std::int32_t y, bool move, bool topmost) override;
    void moveWindow(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height) override;
    Rect windowRect() const override;
    Rect clientRect() const override;
    Point clientToScreen(Point client) const override;
    bool canPositionWindow() const override;
    void startSystemMove() override;
    void setTimer(std::uintptr_t id, std::uint32_t ms) override;
    void killTimer(std::uintptr_t id) override;
    void postMessage(MessageId msg, WParam wParam, LParam lParam) override;
    LResult sendMessage(MessageId msg, WParam wParam, LParam lParam) override;
    void setCapture() override { captured = true; }
    void releaseCapture() override { captured = false; }
    void setForeground() override;
    void trackPopupMenu(const MenuPopup& popup, Point screen, std::uint32_t alignment) override;
    int messageBox(const char* text, const char* caption, std::uint32_t flags) override;
    bool addTrayIcon(const char* tip) override;
    void removeTrayIcon() override;
    void setTrayMenu(const MenuPopup& popup) override;
    Rect beginPaint() override;
    void copyToScreen(const Surface& surface, const Rect& rect) override;
    void endPaint() override;
    void destroy() override;

    // The widget, for tests and for placing dialogs; null after destroy.
    QWidget* widget() const;
    bool hasCapture() const { return captured; }
    // How many WM_PAINTs went straight to the X server (tests).
    std::uint64_t directPaints() const { return directPaintCount; }

private:
    class Widget;
    friend class Widget;

    LResult deliver(MessageId msg, WParam wParam, LParam lParam);
    // True when WM_PAINT can go straight to the X window now.
    bool canPaintDirectly() const;
    // Delivers WM_PAINT for what was invalidated since the last one, on the
    // direct path (or hands it to Qt if that path has gone meanwhile).
    void paintPending();

    QtWindowSystem& system;
    Widget* view = nullptr;
    std::uint64_t serial = 0;
    WindowProcedure procedure;
    Control* control = nullptr;
    Window* window = nullptr;
    bool captured = false;
    std::map<std::uintptr_t, std::unique_ptr<QBasicTimer>> timers;
    std::unique_ptr<QSystemTrayIcon> trayIcon;
    // The tray icon's own menu (setTrayMenu); the icon does not own it.
    std::unique_ptr<QMenu> trayMenu;
    // False from `destroy` on; a modal loop run by this host (menu, message
    // box) holds a copy to learn whether the host survived it.
    std::shared_ptr<bool> lifeToken = std::make_shared<bool>(true);

    // Between beginPaint and endPaint: the painter of the paint event in progress.
    QPainter* painter = nullptr;
    // What the paint event repaints: its rectangles (the clock, a meter bar,
    // the title) and their bounding box, which is what beginPaint reports.
    QRegion updateRegion;
    QRect updateRect;

    // The direct path: rectangles invalidated since the last WM_PAINT; true
    // while its WM_PAINT runs, and whether anything was copied in it.
    QRegion pendingPaint;
    bool paintingDirectly = false;
    bool copiedDirectly = false;
    // The backing store misses pixels put directly (see above).
    bool storeBehind = false;
    std::uint64_t directPaintCount = 0;
};

}  // namespace brellin
