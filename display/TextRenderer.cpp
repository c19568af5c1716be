#include "display/TextRenderer.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <new>

#include <fontconfig/fontconfig.h>
#include FT_TRUETYPE_TABLES_H

namespace brellin {

namespace {

struct FontLocation {
    std::string file;
    int index = 0;
};

// fontconfig lookups are slow compared with drawing; every Surface asks for
// the same few family names, so the answers are kept for the process.
std::mutex locationLock;
std::map<std::string, FontLocation> locations;

// The display's own fontconfig configuration, loaded on first use and freed
// at exit. It is not fontconfig's shared default, so freeing it cannot pull
// the configuration away from a toolkit that uses fontconfig too.
class FontConfiguration {
public:
    ~FontConfiguration() {
        if (config != nullptr) FcConfigDestroy(config);
    }
    FcConfig* get() {
        if (!loaded) {
            loaded = true;
            config = FcInitLoadConfigAndFonts();
        }
        return config;
    }

private:
    FcConfig* config = nullptr;
    bool loaded = false;
};
FontConfiguration configuration;  // used under locationLock

bool locateFont(const char* family, FontLocation& out) {
    std::string key = family ? family : "";
    std::lock_guard<std::mutex> guard(locationLock);
    auto known = locations.find(key);
    if (known != locations.end()) {
        out = known->second;
        return true;
    }
    FcConfig* config = configuration.get();
    if (config == nullptr) return false;
    FcPattern* pattern = FcPatternCreate();
    if (pattern == nullptr) return false;
    if (!key.empty()) FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(key.c_str()));
    // Asking for Japanese makes the Windows names ("MS Gothic") land on a
    // Japanese face instead of fontconfig's general default.
    FcPatternAddString(pattern, FC_LANG, reinterpret_cast<const FcChar8*>("ja"));
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcPatternAddInteger(pattern, FC_WEIGHT, FC_WEIGHT_REGULAR);
    FcConfigSubstitute(config, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(config, pattern, &result);
    FcPatternDestroy(pattern);
    if (match == nullptr) return false;
    FcChar8* file = nullptr;
    int index = 0;
    bool found = FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file != nullptr;
    if (found) {
        out.file = reinterpret_cast<const char*>(file);
        if (FcPatternGetInteger(match, FC_INDEX, 0, &index) != FcResultMatch) index = 0;
        out.index = index;
        locations[key] = out;
    }
    FcPatternDestroy(match);
    return found;
}

// Sizes a face like a Windows logical font: the cell (win ascent + win
// descent) is h pixels and the average character width w pixels. Sizes are
// given to FreeType in 26.6 points at 72 dpi, i.e. 1/64 pixel.
bool sizeFace(FT_Face face, std::int32_t w, std::int32_t h, std::int32_t* cellOut, std::int32_t* ascentOut) {
    if (!FT_IS_SCALABLE(face) || face->units_per_EM == 0) return false;
    const std::int64_t em = face->units_per_EM;
    std::int64_t up = 0, down = 0, average = 0;
    auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    if (os2 != nullptr && os2->version != 0xFFFFu) {
        if (os2->usWinAscent + os2->usWinDescent > 0) {
            up = os2->usWinAscent;
            down = os2->usWinDescent;
        }
        if (os2->xAvgCharWidth > 0) average = os2->xAvgCharWidth;
    }
    if (up + down <= 0 && face->ascender - face->descender > 0) {
        up = face->ascender;
        down = -face->descender;
    }
    if (up + down <= 0) {
        up = em * 4 / 5;
        down = em - up;
    }
    if (average <= 0) average = em / 2;
    const std::int64_t cellUnits = up + down;

    if (h == 0) h = 16;
    std::int64_t yPpem;  // 26.6 pixels
    std::int64_t cellPixels;
    if (h > 0) {
        cellPixels = h;
        yPpem = std::int64_t{h} * 64 * em / cellUnits;
    } else {
        yPpem = std::int64_t{-h} * 64;
        cellPixels = (std::int64_t{-h} * cellUnits + em / 2) / em;
    }
    std::int64_t xPpem = w == 0 ? yPpem : std::int64_t{std::abs(w)} * 64 * em / average;
    if (yPpem < 1) yPpem = 1;
    if (xPpem < 1) xPpem = 1;
    if (cellPixels < 1 || cellPixels > TextRenderer::MAX_CELL_SIDE || xPpem > 64 * 4 * TextRenderer::MAX_CELL_SIDE ||
        yPpem > 64 * 4 * TextRenderer::MAX_CELL_SIDE)
        return false;
    if (FT_Set_Char_Size(face, static_cast<FT_F26Dot6>(xPpem), static_cast<FT_F26Dot6>(yPpem), 72, 72) != 0)
        return false;
    if (cellOut) *cellOut = static_cast<std::int32_t>(cellPixels);
    if (ascentOut) *ascentOut = static_cast<std::int32_t>((cellPixels * up * 2 + cellUnits) / (2 * cellUnits));
    return true;
}

}  // namespace

TextRenderer::TextRenderer() {
    if (FT_Init_FreeType(&library) != 0) library = nullptr;
}

TextRenderer::~TextRenderer() {
    if (fallback) FT_Done_Face(fallback);
    if (primary) FT_Done_Face(primary);
    if (library) FT_Done_FreeType(library);
}

FT_Face TextRenderer::openFace(const std::string& file, int index) {
    FT_Face face = nullptr;
    if (FT_New_Face(library, file.c_str(), index, &face) != 0) return nullptr;
    return face;
}

bool TextRenderer::setFont(const char* family, std::int32_t w, std::int32_t h) {
    if (library == nullptr) return false;
    if (w < -MAX_CELL_SIDE || w > MAX_CELL_SIDE || h < -MAX_CELL_SIDE || h > MAX_CELL_SIDE) return false;
    FontLocation location;
    if (!locateFont(family, location)) return false;
    FT_Face face = openFace(location.file, location.index);
    if (face == nullptr) return false;
    std::int32_t newCell = 0, newAscent = 0;
    if (!sizeFace(face, w, h, &newCell, &newAscent)) {
        FT_Done_Face(face);
        return false;
    }
    if (primary) FT_Done_Face(primary);
    if (fallback) FT_Done_Face(fallback);
    primary = face;
    fallback = nullptr;
    fallbackTried = false;
    primaryFile = location.file;
    requestedWidth = w;
    requestedHeight = h;
    cell = newCell;
    ascent = newAscent;
    glyphs.clear();
    return true;
}

void TextRenderer::ensureFallback() {
    if (fallbackTried) return;
    fallbackTried = true;
    FontLocation location;
    if (!locateFont("sans-serif", location) || location.file == primaryFile) return;
    FT_Face face = openFace(location.file, location.index);
    if (face == nullptr) return;
    if (!sizeFace(face, requestedWidth, requestedHeight, nullptr, nullptr)) {
        FT_Done_Face(face);
        return;
    }
    fallback = face;
}

FT_Face TextRenderer::loadGlyph(char32_t character, bool render) {
    // Control characters (C0, DEL, C1) have neither ink nor width.
    if (primary == nullptr || character < 0x20 || (character >= 0x7F && character < 0xA0)) return nullptr;
    FT_Face face = primary;
    FT_UInt index = FT_Get_Char_Index(primary, character);
    if (index == 0) {
        ensureFallback();
        if (fallback) {
            FT_UInt other = FT_Get_Char_Index(fallback, character);
            if (other != 0) {
                face = fallback;
                index = other;
            }
        }
    }
    FT_Int32 flags = FT_LOAD_TARGET_MONO;
    if (render) flags |= FT_LOAD_RENDER | FT_LOAD_MONOCHROME;
    if (FT_Load_Glyph(face, index, flags) != 0 && FT_Load_Glyph(face, index, flags | FT_LOAD_NO_HINTING) != 0)
        return nullptr;
    return face;
}

TextRenderer::Glyph* TextRenderer::glyphEntry(char32_t character) {
    try {
        if (glyphs.size() >= glyphCacheLimit && glyphs.find(character) == glyphs.end()) glyphs.clear();
        return &glyphs[character];
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

std::int32_t TextRenderer::advance(char32_t character) {
    Glyph* glyph = glyphEntry(character);
    if (glyph != nullptr && glyph->measured) return glyph->measuredAdvance;
    FT_Face face = loadGlyph(character, false);
    // Hinted advances are whole pixels; rounding covers unhinted ones.
    const std::int32_t result = face == nullptr ? 0 : static_cast<std::int32_t>((face->glyph->advance.x + 32) >> 6);
    if (glyph != nullptr) {
        glyph->measured = true;
        glyph->measuredAdvance = result;
    }
    return result;
}

void TextRenderer::captureRendered(char32_t character, Glyph& glyph) {
    glyph.rendered = true;
    glyph.renderedAdvance = 0;
    glyph.columns = glyph.rows = 0;
    glyph.ink.clear();
    FT_Face face = loadGlyph(character, true);
    if (face == nullptr) return;
    FT_GlyphSlot slot = face->glyph;
    glyph.renderedAdvance = static_cast<std::int32_t>((slot->advance.x + 32) >> 6);
    const FT_Bitmap& bitmap = slot->bitmap;
    const bool mono = bitmap.pixel_mode == FT_PIXEL_MODE_MONO;
    if ((!mono && bitmap.pixel_mode != FT_PIXEL_MODE_GRAY) || bitmap.buffer == nullptr) return;
    const std::int32_t rows = static_cast<std::int32_t>(bitmap.rows);
    const std::int32_t columns = static_cast<std::int32_t>(bitmap.width);
    const std::int32_t pitch = bitmap.pitch < 0 ? -bitmap.pitch : bitmap.pitch;
    const std::int32_t stride = (columns + 7) / 8;
    try {
        glyph.ink.assign(static_cast<std::size_t>(stride) * static_cast<std::size_t>(rows), 0);
    } catch (const std::bad_alloc&) {
        glyph.rendered = false;  // drawn without ink this once, tried again next time
        return;
    }
    glyph.left = slot->bitmap_left;
    glyph.top = ascent - slot->bitmap_top;
    glyph.columns = columns;
    glyph.rows = rows;
    for (std::int32_t row = 0; row < rows; ++row) {
        // A negative pitch means the rows are stored bottom row first.
        const unsigned char* source =
            bitmap.buffer + static_cast<std::ptrdiff_t>(bitmap.pitch < 0 ? rows - 1 - row : row) * pitch;
        std::uint8_t* target = glyph.ink.data() + static_cast<std::ptrdiff_t>(row) * stride;
        for (std::int32_t column = 0; column < columns; ++column) {
            const bool ink = mono ? (source[column >> 3] & (0x80 >> (column & 7))) != 0 : source[column] >= 128;
            if (ink) target[column >> 3] |= static_cast<std::uint8_t>(0x80 >> (column & 7));
        }
    }
}

std::int32_t TextRenderer::renderCell(char32_t character, std::uint8_t* bits, std::int32_t stride,
                                      std::int32_t bufferWidth, std::int32_t bufferHeight) {
    Glyph* entry = glyphEntry(character);
    Glyph uncached;  // without memory for the cache: rendered, drawn and forgotten
    Glyph& glyph = entry != nullptr ? *entry : uncached;
    if (!glyph.rendered) captureRendered(character, glyph);
    const std::int32_t glyphStride = (glyph.columns + 7) / 8;
    for (std::int32_t row = 0; row < glyph.rows; ++row) {
        const std::int32_t y = glyph.top + row;
        if (y < 0 || y >= bufferHeight) continue;
        const std::uint8_t* source = glyph.ink.data() + static_cast<std::ptrdiff_t>(row) * glyphStride;
        std::uint8_t* target = bits + static_cast<std::ptrdiff_t>(y) * stride;
        for (std::int32_t column = 0; column < glyph.columns; ++column) {
            const std::int32_t x = glyph.left + column;
            if (x < 0 || x >= bufferWidth) continue;
            if (source[column >> 3] & (0x80 >> (column & 7)))
                target[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
        }
    }
    return glyph.renderedAdvance;
}

}  // namespace brellin
