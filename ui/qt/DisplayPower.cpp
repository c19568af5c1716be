#include "ui/qt/DisplayPower.h"

#include <QGuiApplication>

#ifdef BRELLIN_HAVE_DPMS
#include <X11/Xlib.h>
#include <X11/extensions/dpms.h>
#endif

namespace brellin {

DisplayPower::~DisplayPower() {
#ifdef BRELLIN_HAVE_DPMS
    if (display) {
        Display* x = static_cast<Display*>(display);
        if (enabledByUs) {
            DPMSForceLevel(x, DPMSModeOn);
            DPMSDisable(x);
        }
        XCloseDisplay(x);
    }
#endif
}

bool DisplayPower::probe() {
    probed = true;
#ifdef BRELLIN_HAVE_DPMS
    // Only where Qt itself talks to an X server; Wayland sessions may have
    // DISPLAY set for XWayland, whose DPMS would not reach the monitor.
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return false;
    Display* x = XOpenDisplay(nullptr);
    if (!x) return false;
    int eventBase = 0, errorBase = 0;
    if (!DPMSQueryExtension(x, &eventBase, &errorBase) || !DPMSCapable(x)) {
        XCloseDisplay(x);
        return false;
    }
    display = x;
    capable = true;
#endif
    return capable;
}

bool DisplayPower::available() { return probed ? capable : probe(); }

bool DisplayPower::setOn(bool on) {
    if (!available()) return false;
#ifdef BRELLIN_HAVE_DPMS
    Display* x = static_cast<Display*>(display);
    CARD16 level = 0;
    BOOL enabled = False;
    DPMSInfo(x, &level, &enabled);
    if (!on && !enabled) {
        // Forcing a level while DPMS is disabled is a protocol error; enable
        // it for the time the monitor is off and restore the user's choice after.
        DPMSEnable(x);
        enabledByUs = true;
    }
    DPMSForceLevel(x, on ? DPMSModeOn : DPMSModeOff);
    if (on && enabledByUs) {
        DPMSDisable(x);
        enabledByUs = false;
    }
    XFlush(x);
    return true;
#else
    (void)on;
    return false;
#endif
}

}  // namespace brellin
