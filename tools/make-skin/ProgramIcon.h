// The program's icon (for the tray and the desktop), drawn by make-skin.
#pragma once

#include <string>

namespace brellin::skinart {

// Sizes the icon is written in, in pixels a side.
constexpr int ICON_SIZES[] = {16, 32, 48, 64};

// Writes brellin-N.png (with transparency) and brellin-N.bmp (on black) for
// every size into `folder` (ending in "/"). False when a file cannot be written.
bool writeProgramIcons(const std::string& folder);

}  // namespace brellin::skinart
