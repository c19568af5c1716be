// PngFile: writes an RGBA picture as a PNG file without a compression
// library: the image data goes into "stored" (uncompressed) deflate blocks,
// which every PNG reader accepts. Icons are small, so the size does not matter.
#pragma once

#include <string>

#include "Painter.h"

namespace brellin::skinart {

// 8-bit RGBA, not interlaced. False when the file cannot be written.
bool writePng(const RgbaPicture& picture, const std::string& path);

}  // namespace brellin::skinart
