// BitmapLoader: the program's own decoder for the skin's BMP pictures.
//
// It reads a Windows BMP and draws it, converted to 5-5-5 pixels, straight
// into a Surface, row by row, at any offset: a negative offset cuts the
// picture's left or top part away, so one button of a parts sheet is cut out
// by loading the sheet at (-left, -top) into a button-sized Surface.
//
// Accepted: uncompressed 1, 2, 4, 8 and 24 bits per pixel, and bit-field
// (compression 3) 16 and 32 bits per pixel, stored bottom row first. Anything
// else, a short file or a failed seek is RESULT_FILE_IO_ERROR in the
// Surface's lastError. Rows below the part that is drawn are skipped with a
// seek; one row buffer of the stored row length is the only allocation, and
// only after the file was found to hold at least that much.
//
// Choices where files go beyond the usual:
// - a colour table may declare any number of entries: the first 256 are
//   read (an index has at most 8 bits), the rest are never looked at;
//   entries the table does not provide are black;
// - 32-bit bit fields: a zero mask gives a channel of 0; a mask wider than
//   8 bits keeps the top 8 bits of its field; narrower fields are used as
//   they are (as the 8-bit value);
// - pictures stored top row first (negative height) or with a negative width
//   draw nothing and report no size;
// - with fitSurface, a file too short to hold the picture fails before the
//   Surface is resized, so a corrupt header cannot make a huge Surface.
#pragma once

#include <cstdint>

#include "display/BitmapReader.h"

namespace brellin {

class Surface;

class BitmapLoader {
public:
    // Draws the picture read from `reader` into `surface` with its top-left
    // pixel at (x, y). See Surface::loadBitmap.
    static bool draw(Surface& surface, BitmapReader& reader, std::int32_t x, std::int32_t y, std::int32_t* outWidth,
                     std::int32_t* outHeight, bool fitSurface);

    // Stored length of one pixel row in bytes (each row is padded to 4 bytes).
    static std::uint64_t storedRowLength(std::int64_t width, std::uint32_t bitsPerPixel);
};

}  // namespace brellin
