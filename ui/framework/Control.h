// Control: an object attached to a host handle (a dialog's child control or
// a window) that can take over the handle's window procedure, so that a
// derived class sees the control's messages before the control does.
//
// Subclassing replaces the handle's procedure by the framework's control
// procedure and keeps the replaced one in `savedProc`; the default
// `windowProc` passes every message on to it. User-interface thread only.
#pragma once

#include "ui/framework/Host.h"

namespace brellin {

class Control {
public:
    Control() = default;
    virtual ~Control();
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    // Puts the saved procedure back if subclassed, then takes the new handle.
    void attach(ControlHost* handle);
    // Routes the handle's messages to windowProc. Calling it again does nothing.
    void subclass();
    // If subclassed, puts savedProc back and clears it.
    void restore();
    bool isSubclassed() const { return savedProc != nullptr; }

    // The messages of a subclassed control. Default: the saved procedure's result.
    virtual LResult windowProc(MessageId msg, WParam wParam, LParam lParam);

    // The procedure `subclass` installs: finds the Control in the handle's
    // data and calls its windowProc, else the default handling.
    static LResult controlProcedure(ControlHost* handle, MessageId msg, WParam wParam, LParam lParam);

    ControlHost* hwnd = nullptr;
    WindowProcedure savedProc = nullptr;
};

}  // namespace brellin
