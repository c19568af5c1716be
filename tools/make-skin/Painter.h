// Painter: the shapes make-skin draws, with 4 x 4 supersampled coverage in
// integer arithmetic, so the same program draws the same pixels everywhere.
//
// Points are in eighths of a pixel. A Target is anything with width(),
// height() and blend(x, y, colour, alpha 0..256): a Surface (SurfaceTarget)
// or an RGBA picture with transparency (RgbaPicture, for the program icon).
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "display/Surface.h"

namespace brellin::skinart {

struct Rgb {
    int r, g, b;
};

struct P {
    int x, y;  // 1/8 pixel
};
constexpr int SUB = 8;  // subpixel units per pixel

// t of n along the way from a to b.
inline Rgb mix(Rgb a, Rgb b, int t, int n) {
    if (n <= 0) return a;
    return Rgb{a.r + (b.r - a.r) * t / n, a.g + (b.g - a.g) * t / n, a.b + (b.b - a.b) * t / n};
}

inline Colour colourOf(Rgb c) {
    return Colour{static_cast<std::uint8_t>(c.r), static_cast<std::uint8_t>(c.g), static_cast<std::uint8_t>(c.b)};
}

// Blending into a Surface's 5-5-5 pixels.
class SurfaceTarget {
public:
    explicit SurfaceTarget(Surface& surface) : s(surface) {}
    int width() const { return s.width(); }
    int height() const { return s.height(); }
    void blend(int x, int y, Rgb c, int alpha) {
        if (x < 0 || y < 0 || x >= s.width() || y >= s.height() || alpha <= 0) return;
        std::uint16_t& p = s.pixels()[y * s.width() + x];
        const int r = (p >> 10 & 31) << 3, g = (p >> 5 & 31) << 3, b = (p & 31) << 3;
        // Rounded to the nearest 5-bit step rather than down.
        auto five = [](int v) { return v + 4 > 255 ? 31 : (v + 4) >> 3; };
        p = static_cast<std::uint16_t>(five((c.r * alpha + r * (256 - alpha)) / 256) << 10 |
                                       five((c.g * alpha + g * (256 - alpha)) / 256) << 5 |
                                       five((c.b * alpha + b * (256 - alpha)) / 256));
    }

private:
    Surface& s;
};

// 8-bit red, green, blue and alpha per pixel, rows top to bottom, starting
// fully transparent; shapes are laid over what is there.
class RgbaPicture {
public:
    RgbaPicture(int pictureWidth, int pictureHeight)
        : w(pictureWidth),
          h(pictureHeight),
          bytes(static_cast<std::size_t>(pictureWidth) * static_cast<std::size_t>(pictureHeight) * 4, 0) {}
    int width() const { return w; }
    int height() const { return h; }
    const std::uint8_t* data() const { return bytes.data(); }
    const std::uint8_t* pixel(int x, int y) const {
        return &bytes[(static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x)) * 4];
    }
    void blend(int x, int y, Rgb c, int alpha) {
        if (x < 0 || y < 0 || x >= w || y >= h || alpha <= 0) return;
        std::uint8_t* p =
            &bytes[(static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x)) * 4];
        const int a = alpha >= 256 ? 255 : alpha * 255 / 256;
        const int under = p[3] * (255 - a) / 255;  // what still shows of the old pixel
        const int out = a + under;
        if (out == 0) return;
        const int src[3] = {c.r, c.g, c.b};
        for (int k = 0; k < 3; ++k) p[k] = static_cast<std::uint8_t>((src[k] * a + p[k] * under + out / 2) / out);
        p[3] = static_cast<std::uint8_t>(out);
    }

private:
    int w, h;
    std::vector<std::uint8_t> bytes;
};

// Colours every pixel of [left, right) x [top, bottom) by the share of its
// 16 sample points inside the shape.
template <class Target, class Inside>
void fillShape(Target& t, int left, int top, int right, int bottom, Rgb c, Inside inside) {
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, t.width());
    bottom = std::min(bottom, t.height());
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) {
            int hits = 0;
            for (int j = 0; j < 4; ++j)
                for (int i = 0; i < 4; ++i) hits += inside(P{x * SUB + 1 + 2 * i, y * SUB + 1 + 2 * j}) ? 1 : 0;
            t.blend(x, y, c, hits * 16);
        }
}

// A convex polygon with its corners in order (either turning direction).
template <class Target>
void fillPolygon(Target& t, const P* corners, int count, Rgb c) {
    int minX = corners[0].x, maxX = minX, minY = corners[0].y, maxY = minY;
    for (int k = 1; k < count; ++k) {
        minX = std::min(minX, corners[k].x);
        maxX = std::max(maxX, corners[k].x);
        minY = std::min(minY, corners[k].y);
        maxY = std::max(maxY, corners[k].y);
    }
    fillShape(t, minX / SUB, minY / SUB, (maxX + SUB - 1) / SUB, (maxY + SUB - 1) / SUB, c, [&](P p) {
        bool positive = false, negative = false;
        for (int k = 0; k < count; ++k) {
            const P a = corners[k], b = corners[(k + 1) % count];
            const long long cross =
                static_cast<long long>(b.x - a.x) * (p.y - a.y) - static_cast<long long>(b.y - a.y) * (p.x - a.x);
            positive |= cross > 0;
            negative |= cross < 0;
        }
        return !(positive && negative);
    });
}

template <class Target>
void fillTriangle(Target& t, P a, P b, P c, Rgb colour) {
    const P corners[] = {a, b, c};
    fillPolygon(t, corners, 3, colour);
}

template <class Target>
void fillBar(Target& t, P topLeft, P bottomRight, Rgb colour) {
    const P corners[] = {topLeft, {bottomRight.x, topLeft.y}, bottomRight, {topLeft.x, bottomRight.y}};
    fillPolygon(t, corners, 4, colour);
}

// A stroke of width w (1/8 px) from a to b at 45 degrees, as a rotated
// rectangle: its half-width normal is (d.y, -d.x) * w / (2 |d.x| sqrt 2),
// with 181 / 256 for 1 / sqrt 2.
template <class Target>
void fillDiagonal(Target& t, P a, P b, int w, Rgb colour) {
    const int dx = b.x - a.x, dy = b.y - a.y;
    const int len = std::max(std::max(dx, -dx), 1);
    const int nx = dy * w * 181 / (len * 512), ny = -dx * w * 181 / (len * 512);
    const P corners[] = {{a.x + nx, a.y + ny}, {b.x + nx, b.y + ny}, {b.x - nx, b.y - ny}, {a.x - nx, a.y - ny}};
    fillPolygon(t, corners, 4, colour);
}

// A rectangle with round corners of radius r, all in 1/8 px, shaded from
// `top` at its first pixel row to `bottom` at its last.
template <class Target>
void fillRounded(Target& t, int l, int tp, int rt, int bt, int r, Rgb top, Rgb bottom) {
    const int firstRow = tp / SUB, lastRow = (bt - 1) / SUB;
    for (int y = firstRow; y <= lastRow; ++y) {
        const Rgb c = mix(top, bottom, y - firstRow, lastRow - firstRow);
        fillShape(t, l / SUB, y, (rt + SUB - 1) / SUB, y + 1, c, [&](P p) {
            if (p.x < l || p.x >= rt || p.y < tp || p.y >= bt) return false;
            const int cx = p.x < l + r ? l + r : p.x >= rt - r ? rt - r : p.x;
            const int cy = p.y < tp + r ? tp + r : p.y >= bt - r ? bt - r : p.y;
            const long long ddx = p.x - cx, ddy = p.y - cy;
            return ddx * ddx + ddy * ddy <= static_cast<long long>(r) * r;
        });
    }
}

// An ellipse with radii rx, ry around c, turned by the angle whose cosine and
// sine are cosine / 256 and sine / 256; all lengths in 1/8 px.
template <class Target>
void fillEllipse(Target& t, P c, int rx, int ry, int cosine, int sine, Rgb colour) {
    const int reach = std::max(rx, ry);
    fillShape(t, (c.x - reach) / SUB, (c.y - reach) / SUB, (c.x + reach) / SUB + 1, (c.y + reach) / SUB + 1, colour,
              [&](P p) {
                  const long long dx = p.x - c.x, dy = p.y - c.y;
                  const long long u = (dx * cosine + dy * sine), v = (-dx * sine + dy * cosine);  // x 256
                  const long long a = u * ry, b = v * rx, limit = 256LL * rx * ry;
                  return a * a + b * b <= limit * limit;
              });
}

}  // namespace brellin::skinart
