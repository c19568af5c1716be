#include "display/Surface.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "common/FileObject.h"
#include "common/TextDecoder.h"
#include "display/BitmapLoader.h"
#include "display/TextRenderer.h"

namespace brellin {

namespace {

// A BMP file read through the program's FileObject.
class FileBitmapReader final : public BitmapReader {
public:
    explicit FileBitmapReader(FileObject& source) : file(source) {}

    bool read(void* buffer, std::uint32_t n) override {
        if (!file.read(buffer, n)) return false;
        position += n;
        return true;
    }
    bool seekTo(std::uint64_t target) override {
        // FileObject moves by signed 32-bit distances.
        if (target > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) return false;
        if (!file.seek(static_cast<std::int32_t>(target), SeekOrigin::Begin)) return false;
        position = target;
        return true;
    }
    bool skip(std::uint64_t n) override {
        if (n > std::numeric_limits<std::uint64_t>::max() - position) return false;
        return seekTo(position + n);
    }
    std::uint64_t size() override {
        const std::uint32_t bytes = file.size();
        return bytes == 0xFFFFFFFFu ? UNKNOWN_SIZE : bytes;
    }

private:
    FileObject& file;
    std::uint64_t position = 0;
};

std::int32_t clampToInt32(std::int64_t value) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
}

// The face name is kept to 31 bytes, cut before a UTF-8 character that
// would not fit whole.
std::string limitFaceName(const char* name) {
    std::size_t length = std::strlen(name);
    if (length <= 31) return std::string(name, length);
    length = 31;
    while (length > 0 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80) --length;
    return std::string(name, length);
}

bool isLineBreak(char32_t c) { return c == U'\n' || c == U'\r'; }

// k * minor / major rounded to nearest (halves up). The product needs more
// than 64 bits for lines between far-away end points.
std::int64_t minorStep(std::int64_t k, std::int64_t minor, std::int64_t major) {
    __extension__ using Wide = __int128;
    return static_cast<std::int64_t>((Wide{2} * k * minor + major) / (Wide{2} * major));
}

}  // namespace

Surface::Surface() : text(new TextRenderer()) {
    // The FreeType library stands in for the screen's memory context.
    if (!text->hasLibrary()) lastError = RESULT_DEVICE_ERROR;
}

Surface::~Surface() = default;

std::uint16_t Surface::pixel(std::int32_t x, std::int32_t y) const {
    if (x < 0 || y < 0 || x >= pictureWidth || y >= pictureHeight) return 0;
    return picture[static_cast<std::size_t>(y) * static_cast<std::size_t>(pictureWidth) + static_cast<std::size_t>(x)];
}

void Surface::growDirtyRect(std::int64_t px, std::int64_t py) {
    const std::int32_t x = clampToInt32(px), y = clampToInt32(py);
    if (dirtyEmpty) {
        dirty = DirtyRect{x, y, x, y};
        dirtyEmpty = false;
        return;
    }
    dirty.left = std::min(dirty.left, x);
    dirty.right = std::max(dirty.right, x);
    dirty.top = std::min(dirty.top, y);
    dirty.bottom = std::max(dirty.bottom, y);
}

bool Surface::resize(std::int32_t w, std::int32_t h) {
    if (w >= 0 && h >= 0 && w <= MAX_SIDE && h <= MAX_SIDE) {
        const std::int32_t evenWidth = (w + 1) & ~1;
        if (evenWidth == pictureWidth && h == pictureHeight) return true;
        const std::int64_t count = std::int64_t{evenWidth} * h;
        if (count <= MAX_PIXELS) {
            try {
                std::vector<std::uint16_t> fresh(static_cast<std::size_t>(count), 0);
                picture.swap(fresh);
                pictureWidth = evenWidth;
                pictureHeight = h;
                growDirtyRect(0, 0);
                growDirtyRect(evenWidth, h);
                return true;
            } catch (const std::bad_alloc&) {
            }
        }
    }
    std::vector<std::uint16_t>().swap(picture);
    pictureWidth = 0;
    pictureHeight = 0;
    lastError = RESULT_OUT_OF_MEMORY;
    return false;
}

bool Surface::fillRect(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom, Colour colour) {
    growDirtyRect(left, top);
    growDirtyRect(right, bottom);
    const std::int32_t x0 = std::max(left, 0), x1 = std::min(right, pictureWidth);
    const std::int32_t y0 = std::max(top, 0), y1 = std::min(bottom, pictureHeight);
    const std::uint16_t value = colour.toPixel();
    for (std::int32_t y = y0; y < y1; ++y) {
        std::uint16_t* row = picture.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(pictureWidth);
        if (x1 > x0) std::fill(row + x0, row + x1, value);
    }
    return true;
}

bool Surface::drawLine(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2, Colour colour) {
    growDirtyRect(x1, y1);
    growDirtyRect(x2, y2);
    const std::uint16_t value = colour.toPixel();
    const std::int64_t dx = std::int64_t{x2} - x1, dy = std::int64_t{y2} - y1;
    const std::int64_t adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
    const std::int64_t sx = dx < 0 ? -1 : 1, sy = dy < 0 ? -1 : 1;
    // Step k (0 <= k < major length) moves one pixel along the major axis;
    // the minor coordinate is k * minor / major rounded to nearest. Only the
    // steps whose major coordinate lies inside the picture are visited, so a
    // line with far-away end points costs no more than one across the picture.
    auto stepRange = [](std::int64_t start, std::int64_t step, std::int64_t length, std::int64_t limit,
                        std::int64_t& lo, std::int64_t& hi) {
        if (step > 0) {
            lo = -start;
            hi = limit - start;  // exclusive
        } else {
            lo = start - limit + 1;
            hi = start + 1;
        }
        lo = std::max<std::int64_t>(lo, 0);
        hi = std::min<std::int64_t>(hi, length);
    };
    std::int64_t lo, hi;
    if (adx >= ady) {
        if (adx == 0) return true;
        stepRange(x1, sx, adx, pictureWidth, lo, hi);
        for (std::int64_t k = lo; k < hi; ++k) {
            const std::int64_t x = x1 + sx * k;
            const std::int64_t y = y1 + sy * minorStep(k, ady, adx);
            if (y >= 0 && y < pictureHeight) picture[static_cast<std::size_t>(y * pictureWidth + x)] = value;
        }
    } else {
        stepRange(y1, sy, ady, pictureHeight, lo, hi);
        for (std::int64_t k = lo; k < hi; ++k) {
            const std::int64_t y = y1 + sy * k;
            const std::int64_t x = x1 + sx * minorStep(k, adx, ady);
            if (x >= 0 && x < pictureWidth) picture[static_cast<std::size_t>(y * pictureWidth + x)] = value;
        }
    }
    return true;
}

void Surface::copyFrom(std::int32_t x, std::int32_t y, const Surface& source, std::int32_t sx, std::int32_t sy,
                       std::int32_t w, std::int32_t h) {
    growDirtyRect(x, y);
    growDirtyRect(std::int64_t{x} + w, std::int64_t{y} + h);
    std::int64_t dstX = x, dstY = y, srcX = sx, srcY = sy, cw = w, ch = h;
    // Cut away what lies left of or above either picture, moving both corners together.
    if (srcX < 0) dstX -= srcX, cw += srcX, srcX = 0;
    if (srcY < 0) dstY -= srcY, ch += srcY, srcY = 0;
    if (dstX < 0) srcX -= dstX, cw += dstX, dstX = 0;
    if (dstY < 0) srcY -= dstY, ch += dstY, dstY = 0;
    cw = std::min({cw, std::int64_t{source.pictureWidth} - srcX, std::int64_t{pictureWidth} - dstX});
    ch = std::min({ch, std::int64_t{source.pictureHeight} - srcY, std::int64_t{pictureHeight} - dstY});
    if (cw <= 0 || ch <= 0) return;
    auto copyRow = [&](std::int64_t r) {
        const std::uint16_t* from = source.picture.data() + (srcY + r) * source.pictureWidth + srcX;
        std::uint16_t* to = picture.data() + (dstY + r) * pictureWidth + dstX;
        std::memmove(to, from, static_cast<std::size_t>(cw) * sizeof(std::uint16_t));
    };
    // Within one picture a block moved down is copied from its bottom row up.
    if (&source == this && dstY > srcY) {
        for (std::int64_t r = ch - 1; r >= 0; --r) copyRow(r);
    } else {
        for (std::int64_t r = 0; r < ch; ++r) copyRow(r);
    }
}

bool Surface::rebuildFont() {
    const std::int64_t factor = std::int64_t{1} << scale;
    const std::int64_t scaledWidth = fontWidth * factor, scaledHeight = fontHeight * factor;
    const std::int64_t limit = TextRenderer::MAX_CELL_SIDE;
    if (scaledWidth < -limit || scaledWidth > limit || scaledHeight < -limit || scaledHeight > limit ||
        !text->setFont(face.c_str(), static_cast<std::int32_t>(scaledWidth), static_cast<std::int32_t>(scaledHeight))) {
        fontReady = false;
        lastError = RESULT_UNSUPPORTED_DATA;
        return false;
    }
    std::vector<std::uint8_t>().swap(glyphBuffer);
    glyphWidth = glyphHeight = glyphStride = 0;
    if (scale > 0) {
        // Two characters of the scaled width, or two cells when the width
        // follows the face's own proportions.
        const std::int64_t width = scaledWidth != 0 ? 2 * (scaledWidth < 0 ? -scaledWidth : scaledWidth)
                                                    : 2 * std::int64_t{text->cellHeight()};
        glyphWidth = static_cast<std::int32_t>(width);
        glyphHeight = text->cellHeight();
        glyphStride = (glyphWidth + 31) / 32 * 4;
        try {
            glyphBuffer.assign(static_cast<std::size_t>(glyphStride) * static_cast<std::size_t>(glyphHeight), 0);
        } catch (const std::bad_alloc&) {
            glyphWidth = glyphHeight = glyphStride = 0;
            fontReady = false;
            lastError = RESULT_OUT_OF_MEMORY;
            return false;
        }
    }
    fontReady = true;
    return true;
}

bool Surface::ensureFont() { return fontReady || rebuildFont(); }

bool Surface::setFont(const char* newFace, std::int32_t w, std::int32_t h) {
    const bool sameFace = newFace == nullptr || face == newFace;
    if (sameFace && w == fontWidth && h == fontHeight) {
        lastError = RESULT_NOT_FOUND;
        return true;
    }
    const std::string oldFace = face;
    const std::int32_t oldWidth = fontWidth, oldHeight = fontHeight;
    if (newFace != nullptr) face = limitFaceName(newFace);
    fontWidth = w;
    fontHeight = h;
    if (rebuildFont()) return true;
    // The renderer kept the previous font; the next text operation rebuilds it.
    face = oldFace;
    fontWidth = oldWidth;
    fontHeight = oldHeight;
    return false;
}

bool Surface::setTextScale(std::int32_t n) {
    if (n < 0 || n > 4) {
        lastError = RESULT_UNSUPPORTED_DATA;
        return false;
    }
    scale = n;
    if (rebuildFont()) return true;
    const ResultCode failure = lastError;
    scale = 0;
    rebuildFont();
    lastError = failure;
    return false;
}

Extent Surface::measureText(const char* bytes) {
    if (bytes == nullptr || !ensureFont()) return Extent{};
    std::u32string characters;
    TextDecoder::decode(bytes, std::strlen(bytes), characters);
    if (characters.empty()) return Extent{};
    std::int64_t widest = 0, line = 0, lines = 1;
    for (std::size_t i = 0; i < characters.size(); ++i) {
        const char32_t c = characters[i];
        if (isLineBreak(c)) {
            if (c == U'\r' && i + 1 < characters.size() && characters[i + 1] == U'\n') ++i;
            widest = std::max(widest, line);
            line = 0;
            ++lines;
            continue;
        }
        line += text->advance(c);
    }
    widest = std::max(widest, line);
    Extent extent{clampToInt32(widest), clampToInt32(lines * text->cellHeight())};
    extent.width >>= scale;
    extent.height >>= scale;
    return extent;
}

bool Surface::drawText(std::int32_t x, std::int32_t y, const char* bytes) {
    if (bytes == nullptr || x > pictureWidth || y > pictureHeight) return true;
    if (!ensureFont()) return false;
    std::u32string characters;
    TextDecoder::decode(bytes, std::strlen(bytes), characters);
    if (scale == 0) {
        drawPlainText(x, y, characters);
        growDirtyRect(x, y);
        growDirtyRect(pictureWidth, pictureHeight);
        return true;
    }
    std::int32_t penX = x;
    for (char32_t c : characters) {
        if (penX >= pictureWidth) break;
        penX = drawGlyph(penX, y, c);
    }
    return true;
}

void Surface::drawPlainText(std::int32_t x, std::int32_t y, const std::u32string& characters) {
    const std::uint16_t value = textColour.toPixel();
    const std::int32_t cellHeight = text->cellHeight();
    std::vector<std::uint8_t> cellBits;
    std::int64_t penX = x, lineTop = y;
    for (std::size_t i = 0; i < characters.size(); ++i) {
        const char32_t c = characters[i];
        if (isLineBreak(c)) {
            if (c == U'\r' && i + 1 < characters.size() && characters[i + 1] == U'\n') ++i;
            penX = x;
            lineTop += cellHeight;
            if (lineTop >= pictureHeight) break;
            continue;
        }
        const std::int32_t advance = text->advance(c);
        if (advance <= 0) continue;
        if (penX >= pictureWidth || penX + advance <= 0 || lineTop + cellHeight <= 0) {
            penX += advance;
            continue;
        }
        const std::int32_t stride = (advance + 7) / 8;
        cellBits.assign(static_cast<std::size_t>(stride) * static_cast<std::size_t>(cellHeight), 0);
        text->renderCell(c, cellBits.data(), stride, advance, cellHeight);
        for (std::int32_t r = 0; r < cellHeight; ++r) {
            const std::int64_t py = lineTop + r;
            if (py < 0 || py >= pictureHeight) continue;
            const std::uint8_t* bits = cellBits.data() + static_cast<std::size_t>(r) * static_cast<std::size_t>(stride);
            for (std::int32_t column = 0; column < advance; ++column) {
                const std::int64_t px = penX + column;
                if (px < 0 || px >= pictureWidth) continue;
                if (bits[column >> 3] & (0x80 >> (column & 7)))
                    picture[static_cast<std::size_t>(py * pictureWidth + px)] = value;
            }
        }
        penX += advance;
    }
}

std::int32_t Surface::drawGlyph(std::int32_t x, std::int32_t y, char32_t character) {
    // Reduction factor: the glyph is rendered 2^n times as large and each
    // target pixel averages an f x f block of it.
    const std::int32_t f = 1 << std::min(scale, 2);
    const std::int32_t area = f * f;

    std::int32_t cellWidth = text->renderCell(character, glyphBuffer.data(), glyphStride, glyphWidth, glyphHeight);
    if (cellWidth > glyphWidth) {
        // A character wider than two average characters: widen the buffer
        // rather than count bits that were never drawn.
        const std::int32_t stride = (cellWidth + 31) / 32 * 4;
        try {
            glyphBuffer.assign(static_cast<std::size_t>(stride) * static_cast<std::size_t>(glyphHeight), 0);
            glyphWidth = cellWidth;
            glyphStride = stride;
        } catch (const std::bad_alloc&) {
            std::fill(glyphBuffer.begin(), glyphBuffer.end(), 0);
            cellWidth = glyphWidth;
        }
        text->renderCell(character, glyphBuffer.data(), glyphStride, glyphWidth, glyphHeight);
    }
    std::int32_t gw = cellWidth / f;
    std::int32_t gh = glyphHeight / f;

    if (x < pictureWidth && y < pictureHeight) {
        gw = std::min(gw, pictureWidth - x);
        gh = std::min(gh, pictureHeight - y);
        const std::uint32_t tr = textColour.red >> 3, tg = textColour.green >> 3, tb = textColour.blue >> 3;
        const std::uint16_t full = textColour.toPixel();
        for (std::int32_t r = 0; r < gh; ++r) {
            if (y + r < 0) continue;
            std::uint16_t* row =
                picture.data() + static_cast<std::size_t>(y + r) * static_cast<std::size_t>(pictureWidth);
            const std::uint8_t* block =
                glyphBuffer.data() + static_cast<std::size_t>(r * f) * static_cast<std::size_t>(glyphStride);
            for (std::int32_t i = 0; i < gw; ++i) {
                if (x + i < 0) continue;
                std::int32_t set = 0;
                for (std::int32_t by = 0; by < f; ++by) {
                    const std::uint8_t* bits =
                        block + static_cast<std::size_t>(by) * static_cast<std::size_t>(glyphStride);
                    for (std::int32_t bx = i * f; bx < i * f + f; ++bx) set += (bits[bx >> 3] >> (7 - (bx & 7))) & 1;
                }
                if (set == 0) continue;
                std::uint16_t& target = row[x + i];
                if (set == area) {
                    target = full;
                    continue;
                }
                const std::uint32_t old = target;
                const std::uint32_t keep = static_cast<std::uint32_t>(area - set);
                const std::uint32_t weight = static_cast<std::uint32_t>(set);
                const std::uint32_t red =
                    (tr * weight + ((old >> 10) & 0x1F) * keep) / static_cast<std::uint32_t>(area);
                const std::uint32_t green =
                    (tg * weight + ((old >> 5) & 0x1F) * keep) / static_cast<std::uint32_t>(area);
                const std::uint32_t blue = (tb * weight + (old & 0x1F) * keep) / static_cast<std::uint32_t>(area);
                target = static_cast<std::uint16_t>((red << 10) | (green << 5) | blue);
            }
        }
    }
    std::fill(glyphBuffer.begin(), glyphBuffer.end(), 0);
    return x + gw;
}

bool Surface::loadBitmap(std::int32_t x, std::int32_t y, const char* path, std::int32_t* outWidth,
                         std::int32_t* outHeight, bool fitSurface) {
    if (x > pictureWidth || y > pictureHeight) return true;
    FileObject file;
    if (!file.open(path, FileAccess::Read)) {
        lastError = RESULT_FILE_IO_ERROR;
        return false;
    }
    FileBitmapReader reader(file);
    return BitmapLoader::draw(*this, reader, x, y, outWidth, outHeight, fitSurface);
}

}  // namespace brellin
