// make-skin: draws Brellin's default skin and writes it into a folder:
// Brellin.ini (the skin description), BrellinBack.bmp (the background, which
// fixes the window size) and BrellinParts.bmp (pressed buttons and the 16
// level-meter frames).
//
//   make-skin FOLDER
//
// Everything is drawn here into Surfaces: shapes with 4 x 4 supersampled
// coverage in integer arithmetic, text with the Surface's own text code, so
// the same fonts give the same files on every run. The build runs it into the
// build folder, so that a first start of the player shows this skin.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "display/BmpWriter.h"
#include "display/Skin.h"
#include "display/Surface.h"
#include "settings/IniFile.h"

namespace {

using brellin::Colour;
using brellin::Surface;

// ---- layout, in window pixels -------------------------------------------

constexpr int WINDOW_W = 340;
constexpr int WINDOW_H = 82;

struct Box {
    int left, top, width, height;
    int right() const { return left + width; }
    int bottom() const { return top + height; }
};

constexpr Box PANEL{8, 7, 324, 44};      // the recessed display
constexpr Box TITLE{16, 11, 226, 16};    // title area: font 8 x 16
constexpr Box CLOCK{246, 12, 78, 28};    // clock area: font 14 x 28
constexpr Box METER{16, 31, 96, 16};     // 16 bars of 6 x 16 (5 lit, 1 gap)
constexpr int BAR_W = 6;
constexpr int BAR_H = 16;
constexpr Box MENU{8, 57, 26, 20};
// Button order of the skin: Close, Previous, Play, Next, Eject.
constexpr Box BUTTONS[brellin::SKIN_BUTTON_COUNT] = {
    {306, 57, 26, 20}, {96, 57, 34, 20}, {134, 57, 34, 20}, {172, 57, 34, 20}, {210, 57, 34, 20}};

// Parts sheet: pressed buttons side by side on row 0, meter frames on row 24.
constexpr int SHEET_W = 200;
constexpr int SHEET_H = 44;
constexpr int SHEET_METER_TOP = 24;
int sheetLeft(int button) { return button * 40; }

// ---- colours ---------------------------------------------------------------

struct Rgb {
    int r, g, b;
};

constexpr Rgb BODY_TOP{56, 61, 72};
constexpr Rgb BODY_BOTTOM{32, 35, 42};
constexpr Rgb BODY_EDGE{12, 13, 17};
constexpr Rgb BODY_SHINE{92, 99, 114};
constexpr Rgb PANEL_TOP{10, 16, 24};
constexpr Rgb PANEL_BOTTOM{16, 24, 34};
constexpr Rgb PANEL_EDGE{4, 6, 9};
constexpr Rgb PANEL_LIP{74, 80, 94};
constexpr Rgb BUTTON_TOP{80, 87, 102};
constexpr Rgb BUTTON_BOTTOM{52, 57, 68};
constexpr Rgb BUTTON_EDGE{16, 18, 23};
constexpr Rgb BUTTON_SHINE{118, 126, 144};
constexpr Rgb DOWN_TOP{22, 26, 33};
constexpr Rgb DOWN_BOTTOM{36, 41, 50};
constexpr Rgb ICON{214, 220, 232};
constexpr Rgb ACCENT{96, 214, 255};
constexpr Rgb CLOSE_ACCENT{255, 112, 104};
constexpr Rgb TRACK{26, 38, 50};
constexpr std::uint32_t TITLE_COLOUR = 0xBEE3FF;
constexpr std::uint32_t CLOCK_COLOUR = 0xE6F7FF;

Colour colourOf(Rgb c) {
    return Colour{static_cast<std::uint8_t>(c.r), static_cast<std::uint8_t>(c.g), static_cast<std::uint8_t>(c.b)};
}

// t of n along the way from a to b.
Rgb mix(Rgb a, Rgb b, int t, int n) {
    if (n <= 0) return a;
    return Rgb{a.r + (b.r - a.r) * t / n, a.g + (b.g - a.g) * t / n, a.b + (b.b - a.b) * t / n};
}

// Blends c over the pixel with alpha 0..256.
void blend(Surface& s, int x, int y, Rgb c, int alpha) {
    if (x < 0 || y < 0 || x >= s.width() || y >= s.height() || alpha <= 0) return;
    std::uint16_t& p = s.pixels()[y * s.width() + x];
    const int r = (p >> 10 & 31) << 3, g = (p >> 5 & 31) << 3, b = (p & 31) << 3;
    const Rgb out{(c.r * alpha + r * (256 - alpha)) / 256, (c.g * alpha + g * (256 - alpha)) / 256,
                  (c.b * alpha + b * (256 - alpha)) / 256};
    // Round to the nearest 5-bit step rather than down.
    auto five = [](int v) { return v + 4 > 255 ? 31 : (v + 4) >> 3; };
    p = static_cast<std::uint16_t>(five(out.r) << 10 | five(out.g) << 5 | five(out.b));
}

void fillGradient(Surface& s, Box b, Rgb top, Rgb bottom) {
    for (int y = 0; y < b.height; ++y)
        s.fillRect(b.left, b.top + y, b.right(), b.top + y + 1, colourOf(mix(top, bottom, y, b.height - 1)));
}

// ---- supersampled shapes ----------------------------------------------------
// Points are in eighths of a pixel; each pixel is sampled at 4 x 4 points.

struct P {
    int x, y;  // 1/8 pixel
};
constexpr int S = 8;

template <class Inside>
void fillShape(Surface& s, int left, int top, int right, int bottom, Rgb c, Inside inside) {
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) {
            int hits = 0;
            for (int j = 0; j < 4; ++j)
                for (int i = 0; i < 4; ++i) hits += inside(P{x * S + 1 + 2 * i, y * S + 1 + 2 * j}) ? 1 : 0;
            blend(s, x, y, c, hits * 16);
        }
}

// A convex polygon with its corners in order (either turning direction).
void fillPolygon(Surface& s, const P* corners, int count, Rgb c) {
    int minX = corners[0].x, maxX = minX, minY = corners[0].y, maxY = minY;
    for (int k = 1; k < count; ++k) {
        minX = std::min(minX, corners[k].x);
        maxX = std::max(maxX, corners[k].x);
        minY = std::min(minY, corners[k].y);
        maxY = std::max(maxY, corners[k].y);
    }
    fillShape(s, minX / S, minY / S, (maxX + S - 1) / S, (maxY + S - 1) / S, c, [&](P p) {
        bool positive = false, negative = false;
        for (int k = 0; k < count; ++k) {
            const P a = corners[k], b = corners[(k + 1) % count];
            const long cross = static_cast<long>(b.x - a.x) * (p.y - a.y) - static_cast<long>(b.y - a.y) * (p.x - a.x);
            positive |= cross > 0;
            negative |= cross < 0;
        }
        return !(positive && negative);
    });
}

void fillTriangle(Surface& s, P a, P b, P c, Rgb colour) {
    const P corners[] = {a, b, c};
    fillPolygon(s, corners, 3, colour);
}

void fillBar(Surface& s, P topLeft, P bottomRight, Rgb colour) {
    const P corners[] = {topLeft, {bottomRight.x, topLeft.y}, bottomRight, {topLeft.x, bottomRight.y}};
    fillPolygon(s, corners, 4, colour);
}

// A stroke of width w (1/8 px) from a to b, as a rotated rectangle.
void fillStroke(Surface& s, P a, P b, int w, Rgb colour) {
    // Unit normal scaled to w / 2, in integers: the strokes used here are
    // diagonal at 45 degrees, so the normal is (d.y, -d.x) / |d| with
    // |d| = |d.x| * sqrt(2); 181 / 256 is 1 / sqrt(2).
    const int dx = b.x - a.x, dy = b.y - a.y;
    const int len = std::max(std::abs(dx), std::abs(dy));
    const int nx = dy * w * 181 / (len * 512), ny = -dx * w * 181 / (len * 512);
    const P corners[] = {{a.x + nx, a.y + ny}, {b.x + nx, b.y + ny}, {b.x - nx, b.y - ny}, {a.x - nx, a.y - ny}};
    fillPolygon(s, corners, 4, colour);
}

void fillRounded(Surface& s, Box b, int radius, Rgb top, Rgb bottom) {
    const int r = radius * S;
    const int l = b.left * S, t = b.top * S, rt = b.right() * S, bt = b.bottom() * S;
    for (int y = b.top; y < b.bottom(); ++y) {
        const Rgb c = mix(top, bottom, y - b.top, b.height - 1);
        fillShape(s, b.left, y, b.right(), y + 1, c, [&](P p) {
            if (p.x < l || p.x >= rt || p.y < t || p.y >= bt) return false;
            const int cx = p.x < l + r ? l + r : p.x >= rt - r ? rt - r : p.x;
            const int cy = p.y < t + r ? t + r : p.y >= bt - r ? bt - r : p.y;
            const long ddx = p.x - cx, ddy = p.y - cy;
            return ddx * ddx + ddy * ddy <= static_cast<long>(r) * r;
        });
    }
}

Box inset(Box b, int n) { return Box{b.left + n, b.top + n, b.width - 2 * n, b.height - 2 * n}; }

// ---- parts -------------------------------------------------------------------

// A raised key (up) or a pushed one (down), at b in the Surface.
void drawKey(Surface& s, Box b, bool down) {
    fillRounded(s, b, 5, BUTTON_EDGE, BUTTON_EDGE);
    const Box face = inset(b, 1);
    if (down) {
        fillRounded(s, face, 4, DOWN_TOP, DOWN_BOTTOM);
    } else {
        fillRounded(s, face, 4, BUTTON_SHINE, BUTTON_SHINE);
        fillRounded(s, Box{face.left, face.top + 1, face.width, face.height - 1}, 4, BUTTON_TOP, BUTTON_BOTTOM);
    }
}

// The symbol of button `index` (or of the menu, index -1) centred in b.
void drawSymbol(Surface& s, Box b, int index, Rgb c, int shift) {
    const int cx = (b.left * 2 + b.width) * S / 2;  // centre, 1/8 px
    const int cy = (b.top * 2 + b.height) * S / 2 + shift * S;
    // Offsets in 1/8 px, drawn 5/4 as large.
    auto at = [&](int dx, int dy) { return P{cx + dx * 5 / 4, cy + dy * 5 / 4}; };
    switch (index) {
        case -1:  // menu: three lines
            for (int k = -1; k <= 1; ++k) fillBar(s, at(-40, k * 32 - 6), at(40, k * 32 + 6), c);
            break;
        case 0:  // close: a cross
            fillStroke(s, at(-28, -28), at(28, 28), 16, c);
            fillStroke(s, at(-28, 28), at(28, -28), 16, c);
            break;
        case 1:  // previous: a bar and two triangles pointing left
            fillBar(s, at(-40, -36), at(-28, 36), c);
            fillTriangle(s, at(-28, 0), at(8, -36), at(8, 36), c);
            fillTriangle(s, at(4, 0), at(40, -36), at(40, 36), c);
            break;
        case 2:  // play / stop: a triangle and a square
            fillTriangle(s, at(-46, -36), at(-46, 36), at(-6, 0), c);
            fillBar(s, at(10, -30), at(46, 30), c);
            break;
        case 3:  // next: two triangles pointing right and a bar
            fillTriangle(s, at(-40, -36), at(-40, 36), at(-4, 0), c);
            fillTriangle(s, at(-8, -36), at(-8, 36), at(28, 0), c);
            fillBar(s, at(28, -36), at(40, 36), c);
            break;
        case 4:  // eject: a triangle over a bar
            fillTriangle(s, at(0, -40), at(-38, 8), at(38, 8), c);
            fillBar(s, at(-38, 22), at(38, 36), c);
            break;
        default: break;
    }
}

void drawBackground(Surface& s) {
    s.resize(WINDOW_W, WINDOW_H);
    fillGradient(s, Box{0, 0, WINDOW_W, WINDOW_H}, BODY_TOP, BODY_BOTTOM);
    // A thin dark edge and a light line under the top edge.
    s.fillRect(0, 0, WINDOW_W, 1, colourOf(BODY_EDGE));
    s.fillRect(0, WINDOW_H - 1, WINDOW_W, WINDOW_H, colourOf(BODY_EDGE));
    s.fillRect(0, 0, 1, WINDOW_H, colourOf(BODY_EDGE));
    s.fillRect(WINDOW_W - 1, 0, WINDOW_W, WINDOW_H, colourOf(BODY_EDGE));
    s.fillRect(1, 1, WINDOW_W - 1, 2, colourOf(BODY_SHINE));

    // The display, set into the body: a light lip below, a dark rim, the glass.
    fillRounded(s, Box{PANEL.left, PANEL.top, PANEL.width, PANEL.height + 1}, 6, PANEL_LIP, PANEL_LIP);
    fillRounded(s, PANEL, 6, PANEL_EDGE, PANEL_EDGE);
    fillRounded(s, inset(PANEL, 1), 5, PANEL_TOP, PANEL_BOTTOM);

    // The program's name beside the menu key, quiet, in the body's colours.
    s.setFont("DejaVu Sans", 6, 13);
    s.setTextScale(1);
    s.setTextColour(Colour{150, 160, 178});
    s.drawText(MENU.right() + 8, MENU.top + 3, "brellin");

    drawKey(s, MENU, false);
    drawSymbol(s, MENU, -1, ICON, 0);
    for (int i = 0; i < brellin::SKIN_BUTTON_COUNT; ++i) {
        drawKey(s, BUTTONS[i], false);
        drawSymbol(s, BUTTONS[i], i, ICON, 0);
    }
}

// Level colour of a lit row, 0 at the bottom of a bar to BAR_H - 1 at the top.
Rgb levelColour(int row) {
    constexpr Rgb low{38, 208, 168}, mid{246, 206, 72}, high{255, 84, 84};
    const int half = (BAR_H - 1) * 6 / 10;
    return row <= half ? mix(low, mid, row, half) : mix(mid, high, row - half, BAR_H - 1 - half);
}

void drawParts(Surface& sheet, const Surface& background) {
    sheet.resize(SHEET_W, SHEET_H);
    for (int i = 0; i < brellin::SKIN_BUTTON_COUNT; ++i) {
        const Box key = BUTTONS[i];
        const Box at{sheetLeft(i), 0, key.width, key.height};
        // The pressed picture replaces the whole rectangle: start from what
        // the background shows around the rounded key.
        sheet.copyFrom(at.left, at.top, background, key.left, key.top, key.width, key.height);
        drawKey(sheet, at, true);
        drawSymbol(sheet, at, i, i == brellin::SKIN_BUTTON_CLOSE ? CLOSE_ACCENT : ACCENT, 1);
    }
    // Frame k lights round(k * 14 / 15) rows of a 4-pixel bar over a dim track.
    for (int k = 0; k < brellin::METER_FRAMES; ++k) {
        const int left = k * BAR_W;
        sheet.copyFrom(left, SHEET_METER_TOP, background, METER.left, METER.top, BAR_W, BAR_H);
        sheet.fillRect(left, SHEET_METER_TOP, left + BAR_W - 1, SHEET_METER_TOP + BAR_H, colourOf(TRACK));
        const int lit = (k * BAR_H * 2 + 15) / 30;
        for (int row = 0; row < lit; ++row) {
            const int y = SHEET_METER_TOP + BAR_H - 1 - row;
            sheet.fillRect(left, y, left + BAR_W - 1, y + 1, colourOf(levelColour(row)));
        }
    }
}

bool writeDescription(const std::string& path) {
    brellin::IniFile ini;
    const char* skin = "Skin";
    auto put = [&](const char* key, int value) { ini.setInt(skin, key, value); };
    put("LeftOfDisplay", TITLE.left);
    put("TopOfDisplay", TITLE.top);
    put("WidthOfDisplay", TITLE.width);
    put("HeightOfDisplay", TITLE.height);
    put("LeftOfMenu", MENU.left);
    put("TopOfMenu", MENU.top);
    put("WidthOfMenu", MENU.width);
    put("HeightOfMenu", MENU.height);
    put("LeftOfTimer", CLOCK.left);
    put("TopOfTimer", CLOCK.top);
    put("WidthOfTimer", CLOCK.width);
    put("HeightOfTimer", CLOCK.height);
    put("LeftOfVolumeOnDisplay", METER.left);
    put("TopOfVolumeOnDisplay", METER.top);
    put("LeftOfVolumeBarGroup", 0);
    put("TopOfVolumeBarGroup", SHEET_METER_TOP);
    put("WidthOfVolumeBar", BAR_W);
    put("HeightOfVolumeBar", BAR_H);
    put("TitleFontColor", static_cast<int>(TITLE_COLOUR));
    put("TimerFontColor", static_cast<int>(CLOCK_COLOUR));
    for (int i = 0; i < brellin::SKIN_BUTTON_COUNT; ++i) {
        const std::string name = brellin::SKIN_BUTTON_NAMES[i];
        put(("LeftOf" + name).c_str(), BUTTONS[i].left);
        put(("TopOf" + name).c_str(), BUTTONS[i].top);
        put(("WidthOf" + name).c_str(), BUTTONS[i].width);
        put(("HeightOf" + name).c_str(), BUTTONS[i].height);
        put(("LeftOfPressed" + name).c_str(), sheetLeft(i));
        put(("TopOfPressed" + name).c_str(), 0);
    }
    ini.setString(skin, "BackGroundImage", "BrellinBack.bmp");
    ini.setString(skin, "PartImage", "BrellinParts.bmp");
    ini.setString(skin, "FontName", "DejaVu Sans");
    ini.setString(skin, "TimerFontName", "DejaVu Sans");
    return ini.save(path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-skin FOLDER\n");
        return 2;
    }
    std::string folder = argv[1];
    if (folder.empty() || folder.back() != '/') folder += '/';

    Surface background;
    drawBackground(background);
    Surface sheet;
    drawParts(sheet, background);

    const std::string files[] = {folder + "BrellinBack.bmp", folder + "BrellinParts.bmp", folder + "Brellin.ini"};
    const bool ok = brellin::BmpWriter::write(background, files[0].c_str()) &&
                    brellin::BmpWriter::write(sheet, files[1].c_str()) && writeDescription(files[2]);
    if (!ok) {
        std::fprintf(stderr, "make-skin: cannot write the skin into %s\n", folder.c_str());
        return 1;
    }
    return 0;
}
