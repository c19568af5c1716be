// DisplayPower: switches the monitor off and on through the X11 DPMS
// extension, the way the player's "OFF when playing" display mode wants.
//
// Only on an X11 display that offers DPMS and reports itself DPMS-capable;
// everywhere else (Wayland, the offscreen platform, Xvfb, which has no DPMS)
// both operations return false and change nothing, as on a display driver
// without a power-management escape. A build without the X11 headers has
// only that behaviour.
//
// User-interface thread only. Owns its own X connection, opened on first use.
#pragma once

namespace brellin {

class DisplayPower {
public:
    DisplayPower() = default;
    ~DisplayPower();
    DisplayPower(const DisplayPower&) = delete;
    DisplayPower& operator=(const DisplayPower&) = delete;

    // True when the display can be switched (asked once, then remembered).
    bool available();
    // Forces the monitor off / on; false (nothing done) when not available.
    bool setOn(bool on);

private:
    bool probe();

    void* display = nullptr;  // X11 Display*, null when not opened
    bool probed = false;
    bool capable = false;
    bool enabledByUs = false;  // DPMS was off and we switched it on to force a level
};

}  // namespace brellin
