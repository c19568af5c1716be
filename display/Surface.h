// Surface: an off-screen 16-bit picture with its own drawing state.
//
// Every picture of the display window (background, pressed buttons, level
// meter strip, title, the window's back buffer) is a Surface. Pixels are
// 5-5-5: bit 15 unused, red in bits 14-10, green in 9-5, blue in 4-0. Rows are
// stored top to bottom and `width` is always even, so a row is exactly
// `width` pixels and the buffer can be shown as an RGB555 image without copying.
//
// Drawing grows the dirty rectangle; the window reads it to know what to
// repaint and resets it. After a reset it is empty, reads as (0, 0, 0, 0),
// and the first point drawn starts it afresh, so a small drawing far from
// the origin marks only itself. Text comes from a TextRenderer (FreeType); with a
// text scale n > 0 characters are rendered at 2^n size into a one-bit glyph
// buffer and averaged down here ("smoothed" text).
//
// A Surface is used on the user-interface thread only. It owns its pixels,
// its text renderer and its glyph buffer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/ResultCode.h"

namespace brellin {

class TextRenderer;

// A colour as red, green and blue bytes (0-255).
struct Colour {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;

    // From one number holding 0xRRGGBB (the skin's colour values).
    static Colour fromRgb(std::uint32_t rgb) {
        return Colour{static_cast<std::uint8_t>(rgb >> 16), static_cast<std::uint8_t>(rgb >> 8),
                      static_cast<std::uint8_t>(rgb)};
    }
    // The 5-5-5 pixel: ((R >> 3) << 10) | ((G >> 3) << 5) | (B >> 3).
    std::uint16_t toPixel() const {
        return static_cast<std::uint16_t>(((red >> 3) << 10) | ((green >> 3) << 5) | (blue >> 3));
    }
};

struct DirtyRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

struct Extent {
    std::int32_t width = 0;
    std::int32_t height = 0;
};

class Surface {
public:
    // Black 0 x 0 picture, font "MS Gothic" 8 x 16, white text, text scale 0.
    // The font file is looked up when text is first measured or drawn.
    Surface();
    ~Surface();
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;

    // Width is rounded up to even; the same size keeps the picture, another
    // size replaces it with a black one. Failure (negative or too large a
    // size): 0 x 0, RESULT_OUT_OF_MEMORY.
    bool resize(std::int32_t w, std::int32_t h);

    // Fills left <= x < right, top <= y < bottom (clipped to the picture).
    bool fillRect(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom, Colour colour);

    // One-pixel line from (x1, y1) towards (x2, y2); the last point is not drawn.
    bool drawLine(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2, Colour colour);

    // Font face (nullptr keeps the current one; at most 31 bytes are kept) and
    // character width and cell height in pixels before the text scale. The
    // same face and size change nothing: true with RESULT_NOT_FOUND in
    // lastError. A font that cannot be made: false, RESULT_UNSUPPORTED_DATA,
    // the previous font stays.
    bool setFont(const char* face, std::int32_t w, std::int32_t h);

    void setTextColour(Colour colour) { textColour = colour; }

    // n = 0 plain text; 1..4 text rendered at 2^n size and averaged down.
    // n > 4: false, RESULT_UNSUPPORTED_DATA, n unchanged.
    bool setTextScale(std::int32_t n);

    // Extent of the text in the current font (lines broken at CR/LF); with
    // n > 0 measured at the scaled size and shifted right by n.
    Extent measureText(const char* bytes);

    // Text bytes are UTF-8, or else Shift-JIS (CP932), or else Latin-1.
    bool drawText(std::int32_t x, std::int32_t y, const char* bytes);

    // Copies the w x h block at (sx, sy) of source to (x, y); parts outside
    // either picture are left out. The source may be this Surface.
    void copyFrom(std::int32_t x, std::int32_t y, const Surface& source, std::int32_t sx, std::int32_t sy,
                  std::int32_t w, std::int32_t h);

    // Draws a BMP file at (x, y); see BitmapLoader. False with
    // RESULT_FILE_IO_ERROR when the file cannot be opened or read.
    bool loadBitmap(std::int32_t x, std::int32_t y, const char* path, std::int32_t* outWidth, std::int32_t* outHeight,
                    bool fitSurface);

    std::int32_t width() const { return pictureWidth; }
    std::int32_t height() const { return pictureHeight; }
    Extent size() const { return Extent{pictureWidth, pictureHeight}; }

    // The picture, width() * height() pixels, rows top to bottom.
    std::uint16_t* pixels() { return picture.data(); }
    const std::uint16_t* pixels() const { return picture.data(); }
    // One pixel; 0 outside the picture.
    std::uint16_t pixel(std::int32_t x, std::int32_t y) const;

    DirtyRect dirtyRect() const { return dirty; }
    void resetDirtyRect() {
        dirty = DirtyRect{};
        dirtyEmpty = true;
    }
    // Grows the dirty rectangle to include (px, py); on an empty one the
    // rectangle becomes that point.
    void growDirtyRect(std::int64_t px, std::int64_t py);

    Colour textColourValue() const { return textColour; }
    std::int32_t textScale() const { return scale; }
    const char* fontFace() const { return face.c_str(); }

    ResultCode lastError = RESULT_OK;

    // Largest picture a Surface accepts: 32767 pixels a side and 64 Mi pixels.
    static constexpr std::int32_t MAX_SIDE = 32767;
    static constexpr std::int64_t MAX_PIXELS = std::int64_t{1} << 26;

private:
    bool rebuildFont();
    bool ensureFont();
    std::int32_t drawGlyph(std::int32_t x, std::int32_t y, char32_t character);
    void drawPlainText(std::int32_t x, std::int32_t y, const std::u32string& characters);

    std::vector<std::uint16_t> picture;
    std::int32_t pictureWidth = 0;
    std::int32_t pictureHeight = 0;
    DirtyRect dirty;
    bool dirtyEmpty = true;  // nothing drawn since construction or the last reset

    Colour textColour{255, 255, 255};
    std::string face = "MS Gothic";
    std::int32_t fontWidth = 8;
    std::int32_t fontHeight = 16;
    std::int32_t scale = 0;
    bool fontReady = false;  // the renderer holds the font described above
    std::unique_ptr<TextRenderer> text;

    // One bit per pixel, first pixel in the highest bit, rows top to bottom,
    // glyphStride bytes a row (a multiple of 4); only with scale > 0.
    std::vector<std::uint8_t> glyphBuffer;
    std::int32_t glyphWidth = 0;
    std::int32_t glyphHeight = 0;
    std::int32_t glyphStride = 0;
};

}  // namespace brellin
