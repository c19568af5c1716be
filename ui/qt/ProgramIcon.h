// programIcon: the player's icon as Qt shows it (tray, window, version dialog).
//
// The pictures make-skin draws beside the program (brellin-16.png to
// brellin-64.png), all sizes in one QIcon so each user picks the size it
// shows; without those files, a plain note drawn here. User-interface thread only.
#pragma once

#include <QIcon>

namespace brellin {

QIcon programIcon();

}  // namespace brellin
