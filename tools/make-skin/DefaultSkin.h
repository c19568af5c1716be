// The default skin of Brellin, drawn by make-skin.
#pragma once

#include <string>

namespace brellin::skinart {

// Writes Brellin.ini, BrellinBack.bmp and BrellinParts.bmp into `folder`
// (ending in "/"). False when a file cannot be written.
bool writeDefaultSkin(const std::string& folder);

}  // namespace brellin::skinart
