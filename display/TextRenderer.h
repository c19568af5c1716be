// TextRenderer: one font, rendered one character cell at a time with FreeType.
//
// The face is found by fontconfig from its family name ("MS Gothic" by
// default), asking for Japanese coverage, so that on Debian the Windows face
// names resolve to IPAGothic when it is installed and to whatever fontconfig
// offers otherwise. Characters the face lacks come from fontconfig's
// Japanese sans-serif face when that one has them.
//
// The font is sized like a Windows logical font: the cell (ascent plus
// descent, the OS/2 "win" metrics) is the requested height, and the face is
// stretched horizontally so that its average character width is the requested
// width. Glyphs are rendered one bit per pixel (FreeType's mono renderer),
// hinted, without kerning, each advancing by its own rounded width.
//
// Rendered characters are kept (glyph bitmap, its place in the cell and the
// advance) until the font changes: the display draws the same few characters
// (clock digits, a scrolling title) ten times a second, and FreeType's
// hinting and rasterising cost far more than copying the kept bits.
//
// A TextRenderer belongs to one Surface and is used on the user-interface
// thread. It owns its FreeType library and faces.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include <ft2build.h>
#include FT_FREETYPE_H

namespace brellin {

class TextRenderer {
public:
    TextRenderer();
    ~TextRenderer();
    TextRenderer(const TextRenderer&) = delete;
    TextRenderer& operator=(const TextRenderer&) = delete;

    // Largest cell side in pixels that a font may have (after the text scale).
    static constexpr std::int32_t MAX_CELL_SIDE = 4096;

    // Loads the face for `family` with a character width of w and a cell
    // height of h pixels. w = 0 keeps the face's own proportions; h = 0 asks
    // for a 16-pixel cell; negative values ask for the em size instead of the
    // cell (as a Windows logical font does). False when the face cannot be
    // found, opened or sized; the previous font then stays.
    bool setFont(const char* family, std::int32_t w, std::int32_t h);

    bool hasLibrary() const { return library != nullptr; }
    bool hasFont() const { return primary != nullptr; }
    // Cell height in pixels (line height); 0 without a font.
    std::int32_t cellHeight() const { return cell; }
    // Rounded advance of one character in pixels; control characters have none.
    std::int32_t advance(char32_t character);

    // Renders one character into a cleared one-bit buffer (first pixel in the
    // highest bit, rows top to bottom, `stride` bytes a row) of bufferWidth x
    // bufferHeight pixels, with the cell's top-left at the buffer's top-left.
    // Ink outside the buffer is cut off. Returns the character's advance.
    std::int32_t renderCell(char32_t character, std::uint8_t* bits, std::int32_t stride, std::int32_t bufferWidth,
                            std::int32_t bufferHeight);

    // The file of the face in use (for diagnostics and tests).
    const std::string& fontFile() const { return primaryFile; }

    // Characters kept now (for tests and diagnostics).
    std::size_t cachedGlyphCount() const { return glyphs.size(); }
    // Characters kept at most; past that the cache starts over.
    static constexpr std::size_t glyphCacheLimit = 512;

private:
    // One character as FreeType gave it for the current font.
    struct Glyph {
        bool measured = false;  // measuredAdvance is known
        std::int32_t measuredAdvance = 0;
        bool rendered = false;  // the fields below are known
        std::int32_t renderedAdvance = 0;
        std::int32_t left = 0;  // ink box in pixels from the cell's top-left
        std::int32_t top = 0;
        std::int32_t columns = 0;
        std::int32_t rows = 0;
        std::vector<std::uint8_t> ink;  // one bit per pixel, first in the highest bit, (columns + 7) / 8 a row
    };
    // The cache entry for a character, made room for; nullptr without memory.
    Glyph* glyphEntry(char32_t character);
    void captureRendered(char32_t character, Glyph& glyph);

    // The face holding the character's glyph, loaded into its glyph slot; nullptr when none.
    FT_Face loadGlyph(char32_t character, bool render);
    FT_Face openFace(const std::string& file, int index);
    void ensureFallback();

    FT_Library library = nullptr;
    FT_Face primary = nullptr;
    FT_Face fallback = nullptr;  // sized like primary once opened
    bool fallbackTried = false;
    std::string primaryFile;
    std::int32_t requestedWidth = 0;
    std::int32_t requestedHeight = 0;
    std::int32_t cell = 0;                       // cell height in pixels
    std::int32_t ascent = 0;                     // baseline, pixels below the cell top
    std::unordered_map<char32_t, Glyph> glyphs;  // for the font above; emptied when it changes
};

}  // namespace brellin
