// Dialog: a modal dialog built from a template table (DialogTemplate). Its
// messages become calls of the same operations as a Window's (create to onNotify),
// with the defaults of a dialog; `doModal` runs it and returns when it has
// ended. Results are left in the derived object's own fields.
//
// A Dialog lives around one doModal call and has a host handle only while
// it is open. User-interface thread only.
#pragma once

#include "common/ResultCode.h"
#include "ui/framework/Control.h"
#include "ui/framework/Host.h"

namespace brellin {

class Dialog {
public:
    explicit Dialog(WindowSystem& system);
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // The operations a dialog overrides; each says what its default does.

    // A dialog is not created this way: RESULT_UNSUPPORTED_DATA, false.
    virtual bool create();
    // Invalidates the whole client area.
    virtual void invalidate();
    // Routes a message to its handler (routeMessage); 0 = not handled.
    virtual LResult onMessage(MessageId msg, WParam wParam, LParam lParam);
    // Shows the dialog. Returns 1.
    virtual LResult show();
    // WM_DESTROY: clears hwnd. Returns 1.
    virtual LResult onDestroy();
    // WM_COMMAND: id 1 (OK) closes the dialog and returns 1; others return 0.
    virtual LResult onCommand(std::uint16_t code, std::uint16_t id, LParam lParam);
    // The mouse and key messages: return 1.
    virtual LResult onLButtonDown(WParam keys, std::int32_t x, std::int32_t y);
    virtual LResult onLButtonUp(WParam keys, std::int32_t x, std::int32_t y);
    virtual LResult onRButtonDown(WParam keys, std::int32_t x, std::int32_t y);
    virtual LResult onRButtonUp(WParam keys, std::int32_t x, std::int32_t y);
    virtual LResult onMouseMove(WParam keys, std::int32_t x, std::int32_t y);
    // WM_MOUSEWHEEL: delta in WHEEL_DELTA units a notch, positive away from the user.
    virtual LResult onMouseWheel(WParam keys, std::int32_t delta, std::int32_t x, std::int32_t y);
    virtual LResult onKeyDown(WParam virtualKey, LParam lParam);
    virtual LResult onKeyUp(WParam virtualKey, LParam lParam);
    // WM_CLOSE: endDialog, clears hwnd. Returns 1.
    virtual LResult onClose();
    // WM_PAINT: returns 0 (the system paints the dialog).
    virtual LResult onPaint();
    // WM_TIMER, WM_SIZE, WM_NOTIFY: return 1.
    virtual LResult onTimer(std::uintptr_t timerId);
    virtual LResult onSize(WParam type, std::uint32_t width, std::uint32_t height);
    virtual LResult onNotify(WParam controlId, LParam header);
    // Runs the dialog of `templateId` owned by `parent` (null: no owner)
    // and returns true when it has ended.
    virtual bool doModal(ControlHost* parent, std::uint16_t templateId);
    // WM_INITDIALOG: returns 0.
    virtual LResult onInitDialog();
    // Ends the modal run with result 0.
    virtual void endDialog();

    // The routing shared with Window.
    LResult routeMessage(MessageId msg, WParam wParam, LParam lParam);

    // The framework's dialog procedure: WM_INITDIALOG binds the dialog that
    // doModal is opening to the handle; other messages go to its onMessage.
    static LResult dialogProcedure(ControlHost* handle, MessageId msg, WParam wParam, LParam lParam);

    // The dialog between doModal's start and the WM_INITDIALOG it leads to.
    static Dialog* openingDialog;

    ResultCode lastError = RESULT_OK;
    DialogHost* hwnd = nullptr;
    Control control;
    ControlHost* parent = nullptr;
    std::uint16_t templateId = 0;

protected:
    WindowSystem& system;
};

}  // namespace brellin
