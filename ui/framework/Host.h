// The window system under the framework: what a Window, Dialog or Control
// asks of the platform, and what the platform creates for them.
//
// The framework decides (which handler a message reaches, what the default
// result is); a host only does (put a window on the screen, deliver its
// events as messages, show a menu). The Qt hosts in ui/qt implement these
// interfaces; the tests use fakes. A host handle plays the part of a window
// handle: Window::hwnd, Dialog::hwnd and Control::hwnd point to one.
//
// Threads: every call is made on the user-interface thread, except
// WindowHost::postMessage, which engine threads call to hand something to
// the window (it must be safe from any thread, and the message arrives later
// on the user-interface thread through the window procedure).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ui/framework/Messages.h"

namespace brellin {

class Control;
class Dialog;
class Surface;
class Window;
struct MenuPopup;

struct Point {
    std::int32_t x = 0;
    std::int32_t y = 0;
};

// left <= x < right, top <= y < bottom.
struct Rect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;

    std::int32_t width() const { return right - left; }
    std::int32_t height() const { return bottom - top; }
    bool isEmpty() const { return right <= left || bottom <= top; }
    bool contains(std::int32_t x, std::int32_t y) const { return x >= left && x < right && y >= top && y < bottom; }
};

// The window procedure of a host handle: the procedure of the window class
// for a Window, the control procedure for a subclassed Control, or the
// host's own procedure for a control's normal handling.
class ControlHost;
using WindowProcedure = LResult (*)(ControlHost* handle, MessageId msg, WParam wParam, LParam lParam);

// Any host handle: a top-level window, a dialog, or a child control of a dialog.
class ControlHost {
public:
    virtual ~ControlHost() = default;

    // GWL_WNDPROC: the procedure that receives this handle's messages. A
    // host starts with its own procedure (the control's normal handling).
    // Setting another one routes the messages there (Qt: an event filter);
    // when a message reaches the host's own procedure again, the control
    // handles it as it would without the filter.
    virtual WindowProcedure windowProcedure() const = 0;
    virtual void setWindowProcedure(WindowProcedure procedure) = 0;
    // GWL_USERDATA of a control: the Control that subclassed it.
    virtual Control* controlData() const = 0;
    virtual void setControlData(Control* control) = 0;
    // DefWindowProcA: the system's handling of a message nobody handled.
    virtual LResult defaultProcedure(MessageId msg, WParam wParam, LParam lParam) = 0;
};

// The creation record (the fields of CREATESTRUCT) that Window::preCreate may change.
struct CreationRecord {
    void* createParameter = nullptr;
    void* instance = nullptr;
    void* menu = nullptr;
    void* parent = nullptr;
    std::int32_t height = CW_USEDEFAULT;
    std::int32_t width = CW_USEDEFAULT;
    std::int32_t y = CW_USEDEFAULT;
    std::int32_t x = CW_USEDEFAULT;
    std::uint32_t style = 0;
    const char* windowName = nullptr;
    const char* className = nullptr;
    std::uint32_t extendedStyle = 0;
};

// One top-level window on the screen. Its messages go to the class
// procedure (Window::windowProcedure) with this handle; until the Window is
// stored as the user data (setWindowData), that procedure finds no object and
// the message gets the default handling.
class WindowHost : public ControlHost {
public:
    // GWL_USERDATA of a top-level window: its Window object.
    virtual Window* windowData() const = 0;
    virtual void setWindowData(Window* window) = 0;

    // InvalidateRect without erasing: the rectangle (client coordinates) is
    // repainted later through WM_PAINT.
    virtual void invalidateRect(const Rect& rect) = 0;
    // ShowWindow SW_SHOW / SW_HIDE.
    virtual void showWindow(bool visible) = 0;
    // UpdateWindow: deliver a pending WM_PAINT now.
    virtual void updateWindow() = 0;
    // SetWindowPos without changing the size. `move` false keeps the
    // position (only the z-order changes); `topmost` picks HWND_TOPMOST or
    // HWND_NOTOPMOST.
    virtual void setWindowPos(std::int32_t x, std::int32_t y, bool move, bool topmost) = 0;
    // Sets position and size together (the skin places and sizes the window).
    virtual void moveWindow(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height) = 0;
    // GetWindowRect (screen coordinates) and GetClientRect (origin 0, 0).
    virtual Rect windowRect() const = 0;
    virtual Rect clientRect() const = 0;
    // ClientToScreen.
    virtual Point clientToScreen(Point client) const = 0;
    // False where a client cannot place its own window (Wayland): the drag
    // then hands over to the compositor with startSystemMove at the press.
    virtual bool canPositionWindow() const = 0;
    virtual void startSystemMove() = 0;

    // SetTimer / KillTimer: WM_TIMER with wParam = id every `ms` milliseconds.
    virtual void setTimer(std::uintptr_t id, std::uint32_t ms) = 0;
    virtual void killTimer(std::uintptr_t id) = 0;
    // PostMessageA: safe from any thread; delivered on the user-interface
    // thread through the window procedure. Messages posted after the window
    // is gone are dropped.
    virtual void postMessage(MessageId msg, WParam wParam, LParam lParam) = 0;
    // SendMessageA: delivers through the window procedure now (UI thread only).
    virtual LResult sendMessage(MessageId msg, WParam wParam, LParam lParam) = 0;

    // SetCapture / ReleaseCapture: mouse messages keep coming to this window
    // while the button is held outside it.
    virtual void setCapture() = 0;
    virtual void releaseCapture() = 0;
    // SetForegroundWindow: raise and activate.
    virtual void setForeground() = 0;

    // TrackPopupMenu of one popup of a menu at a screen point with TPM_*
    // alignment. Returns at once or after the menu closes; the chosen item
    // arrives later as WM_COMMAND (code 0, its id, lParam 0). Disabled items
    // are shown greyed and cannot be chosen.
    virtual void trackPopupMenu(const MenuPopup& popup, Point screen, std::uint32_t alignment) = 0;

    // MessageBoxA owned by this window: MB_* flags, result IDOK, IDCANCEL,
    // IDYES or IDNO. Modal.
    virtual int messageBox(const char* text, const char* caption, std::uint32_t flags) = 0;

    // The tray icon (identifier 101): its mouse messages arrive as
    // WM_COMMAND with id 101 and the mouse message in lParam. Without a tray
    // host, adding fails and the program runs without the icon.
    virtual bool addTrayIcon(const char* tip) = 0;
    virtual void removeTrayIcon() = 0;
    // The menu a tray host shows by itself (a StatusNotifierItem host's own
    // menu): the popup a click on the icon would show. A chosen item's
    // WM_COMMAND is posted to the window. Hosts without such a menu ignore it.
    virtual void setTrayMenu(const MenuPopup& /*popup*/) {}

    // BeginPaint / EndPaint around the drawing of WM_PAINT; copyToScreen is
    // BitBlt SRCCOPY of a rectangle of the surface to the same coordinates
    // of the window. beginPaint returns the update rectangle.
    virtual Rect beginPaint() = 0;
    virtual void copyToScreen(const Surface& surface, const Rect& rect) = 0;
    virtual void endPaint() = 0;

    // DestroyWindow: the window leaves the screen. The Window routes
    // WM_DESTROY itself before, and deletes the host right after; as that
    // can happen inside the host's own event delivery (WM_CLOSE), a host
    // defers deleting its widgets (QObject::deleteLater) and drops
    // messages posted to it from then on.
    virtual void destroy() = 0;
};

// One running modal dialog, built from its template table. Its messages go
// to Dialog::dialogProcedure with this handle.
class DialogHost : public ControlHost {
public:
    virtual Dialog* dialogData() const = 0;
    virtual void setDialogData(Dialog* dialog) = 0;

    // EndDialog: the modal run ends after the current message.
    virtual void endDialog(std::intptr_t result) = 0;
    // GetDlgItem: a child control's handle (null if the template has none).
    virtual ControlHost* item(int id) = 0;
    // SetDlgItemTextA / GetDlgItemTextA (bytes as UTF-8).
    virtual void setItemText(int id, const char* text) = 0;
    virtual std::string itemText(int id) const = 0;
    // SetFocus on a control.
    virtual void setFocus(int id) = 0;
    // EnableWindow on a control.
    virtual void enableItem(int id, bool enabled) = 0;
    // BM_SETCHECK / BM_GETCHECK of check boxes and radio buttons.
    virtual void setChecked(int id, bool checked) = 0;
    virtual bool isChecked(int id) const = 0;
    // List boxes and combo boxes: LB_/CB_RESETCONTENT, ADDSTRING, GETCOUNT,
    // GETCURSEL, SETCURSEL (-1 for none), GETTEXT.
    virtual void resetItems(int id) = 0;
    virtual int addItem(int id, const char* text) = 0;
    virtual int itemCount(int id) const = 0;
    virtual int selectedItem(int id) const = 0;
    virtual void selectItem(int id, int index) = 0;
    virtual std::string itemString(int id, int index) const = 0;
    // Track bars: TBM_SETRANGE, TBM_SETPOS, TBM_GETPOS.
    virtual void setTrackRange(int id, int minimum, int maximum) = 0;
    virtual void setTrackPosition(int id, int position) = 0;
    virtual int trackPosition(int id) const = 0;
    // InvalidateRect of the whole client area without erasing.
    virtual void invalidateAll() = 0;
    // ShowWindow SW_SHOW, UpdateWindow.
    virtual void showWindow() = 0;
    // MessageBoxA owned by the dialog.
    virtual int messageBox(const char* text, const char* caption, std::uint32_t flags) = 0;

    // List views (ListView.h): rows of text, each with an icon of the
    // dialog's image list (ListViewIcon), one or several selected, one
    // focused. Every state change of an item, by the user or by these calls,
    // reaches the dialog as WM_NOTIFY LVN_ITEMCHANGED for that item; a double
    // click reaches the list view's procedure as WM_LBUTTONDBLCLK. A host
    // without list views keeps these defaults: an empty list.
    virtual void clearListView(int /*id*/) {}
    virtual int addListViewItem(int /*id*/, const char* /*text*/, int /*icon*/) { return -1; }
    virtual int listViewCount(int /*id*/) const { return 0; }
    virtual bool isListViewItemSelected(int /*id*/, int /*index*/) const { return false; }
    // Selects or deselects one item; `focus` also makes it the focused item.
    virtual void selectListViewItem(int /*id*/, int /*index*/, bool /*selected*/, bool /*focus*/) {}
    // PostMessageA to the dialog: safe from any thread; delivered later on
    // the user-interface thread through the dialog procedure; dropped once
    // the dialog has ended. The default delivers nothing.
    virtual void postMessage(MessageId /*msg*/, WParam /*wParam*/, LParam /*lParam*/) {}
    // The wait cursor over the program while `busy` (SetCursor IDC_WAIT / IDC_ARROW).
    virtual void setBusyCursor(bool /*busy*/) {}
};

// The platform: creates windows and runs dialogs and the message loop.
//
// Nested loops. A modal dialog, a message box and a popup menu each run a
// message loop of their own inside the main one; the code that opened it
// goes on only when it returns. Tearing the main window down while such a
// loop runs would pull the window from under that code, so a quit that
// arrives meanwhile (a signal, the session's end, a media-player Quit, the
// tray's Exit) first closes the loops, each as Cancel would, and runs once
// the outermost has returned (closeNestedLoops). Every host that runs a
// nested loop does so inside a NestedLoop.
class WindowSystem {
public:
    // The bookkeeping of one nested loop, made by the host right before the
    // loop runs and ended right after it returned. `close` ends the loop as
    // Cancel would; it is called at most once, on the user-interface thread.
    class NestedLoop {
    public:
        NestedLoop(WindowSystem& system, std::function<void()> close);
        ~NestedLoop();
        NestedLoop(const NestedLoop&) = delete;
        NestedLoop& operator=(const NestedLoop&) = delete;
        // True while the loops are being closed: the host answers Cancel at
        // once instead of running the loop.
        bool refused() const { return refusedAtStart; }
        // The loop was closed from outside (its answer is Cancel).
        bool closed() const { return closedFromOutside; }

    private:
        friend class WindowSystem;
        WindowSystem& owner;
        std::function<void()> closeLoop;
        bool refusedAtStart = false;
        bool closedFromOutside = false;
    };

    virtual ~WindowSystem() = default;

    // Nested loops running now.
    int nestedLoopDepth() const { return static_cast<int>(nestedLoops.size()); }
    // Closes every nested loop running now, innermost first, as Cancel would;
    // loops opened before they have all returned answer Cancel at once. Then
    // `then` runs once, after the outermost has returned (at once when none
    // runs). A second call while closing keeps the first `then`.
    void closeNestedLoops(std::function<void()> then);

    // RegisterClassA: windows created later start with `procedure` as their
    // window procedure (Window::windowProcedure for "AppBase"). False when
    // the class cannot be registered.
    virtual bool registerWindowClass(const char* className, WindowProcedure procedure) = 0;
    // CreateWindowExA from the record; null on failure. The caller owns the host.
    virtual WindowHost* createWindow(const CreationRecord& record) = 0;
    // DialogBoxParamA: builds the dialog of template `templateId` owned by
    // `owner` (null: no owner), sends WM_INITDIALOG through
    // Dialog::dialogProcedure and runs it modally until endDialog. Returns
    // the endDialog result, -1 when the template does not exist.
    virtual std::intptr_t dialogBox(std::uint16_t templateId, ControlHost* owner) = 0;
    // PostQuitMessage: the message loop ends once the current message is done.
    virtual void postQuitMessage(int exitCode) = 0;

    // GetTickCount: milliseconds of a steady clock, truncated to 32 bits.
    virtual std::uint32_t tickCount() const = 0;
    // Set by the first Window::create that registered the window class; that
    // window owns the message loop.
    bool windowClassRegistered = false;

    // GetSystemMetrics SM_CXSCREEN / SM_CYSCREEN: the primary screen.
    virtual Point screenSize() const = 0;
    // GetCursorPos (screen coordinates).
    virtual Point cursorPos() const = 0;
    // Display power (DPMS on X11): false where the display does not offer it,
    // and then nothing changes.
    virtual bool displayPowerSupported() = 0;
    virtual bool setDisplayPower(bool on) = 0;

private:
    std::vector<NestedLoop*> nestedLoops;
    bool closingNestedLoops = false;
    std::function<void()> afterNestedLoops;
};

}  // namespace brellin
