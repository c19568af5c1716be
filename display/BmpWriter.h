// BmpWriter: writes a Surface out as a 24-bit BMP file, so that a composed
// display can be looked at (converted to PNG by any image tool) and compared
// in tests. Each 5-bit channel c becomes the 8-bit (c << 3) | (c >> 2), so
// loading the file back gives the same pixels.
#pragma once

#include "common/ResultCode.h"

namespace brellin {

class Surface;

class BmpWriter {
public:
    // False when the file cannot be written; the reason goes to *error when given.
    static bool write(const Surface& surface, const char* path, ResultCode* error = nullptr);
};

}  // namespace brellin
