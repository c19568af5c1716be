// sessionBusAddress: where the desktop's session bus is, found without the
// D-Bus library's help.
//
// Asked to connect with no address in the environment, the library would
// "autolaunch" on X11: start a bus daemon of its own that no desktop widget
// can see and that outlives the player. So the player connects only to a bus
// that is there: the one DBUS_SESSION_BUS_ADDRESS names, else the user's bus
// socket $XDG_RUNTIME_DIR/bus (what systemd and dbus-broker provide); with
// neither it runs without a bus. Reads the environment: user-interface thread.
#pragma once

#include <string>

namespace brellin {

// The address to connect to ("unix:path=…" for the user's bus socket), or
// empty when there is no session bus. `fromEnvironment` tells whether it is
// DBUS_SESSION_BUS_ADDRESS's own value.
std::string sessionBusAddress(bool* fromEnvironment = nullptr);

}  // namespace brellin
