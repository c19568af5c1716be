// The default skin: a dark body with a recessed display (title, clock and
// the level meter), a menu key, four transport keys and a close key.
#include "DefaultSkin.h"

#include "Painter.h"
#include "display/BmpWriter.h"
#include "display/Skin.h"
#include "display/Surface.h"
#include "settings/IniFile.h"

namespace brellin::skinart {

namespace {

// ---- layout, in window pixels -------------------------------------------

constexpr int WINDOW_W = 340;
constexpr int WINDOW_H = 82;

struct Box {
    int left, top, width, height;
    int right() const { return left + width; }
    int bottom() const { return top + height; }
};

constexpr Box PANEL{8, 7, 324, 44};    // the recessed display
constexpr Box TITLE{16, 11, 220, 16};  // title area: font 8 x 16, clear of the clock
constexpr Box CLOCK{246, 12, 78, 28};  // clock area: font 14 x 28
constexpr Box METER{16, 31, 96, 16};   // 16 bars of 6 x 16 (5 lit, 1 gap)
constexpr int BAR_W = 6;
constexpr int BAR_H = 16;
constexpr Box MENU{8, 57, 26, 20};
// Button order of the skin: Close, Previous, Play, Next, Eject.
constexpr Box BUTTONS[SKIN_BUTTON_COUNT] = {
    {306, 57, 26, 20}, {96, 57, 34, 20}, {134, 57, 34, 20}, {172, 57, 34, 20}, {210, 57, 34, 20}};

// Parts sheet: pressed buttons side by side on row 0, meter frames on row 24.
constexpr int SHEET_W = 200;
constexpr int SHEET_H = 44;
constexpr int SHEET_METER_TOP = 24;
int sheetLeft(int button) { return button * 40; }

// ---- colours ---------------------------------------------------------------

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

void fillGradient(Surface& s, Box b, Rgb top, Rgb bottom) {
    for (int y = 0; y < b.height; ++y)
        s.fillRect(b.left, b.top + y, b.right(), b.top + y + 1, colourOf(mix(top, bottom, y, b.height - 1)));
}

void fillRounded(Surface& s, Box b, int radius, Rgb top, Rgb bottom) {
    SurfaceTarget t(s);
    skinart::fillRounded(t, b.left * SUB, b.top * SUB, b.right() * SUB, b.bottom() * SUB, radius * SUB, top, bottom);
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

// The Play key's pressed picture, shown for as long as a song plays.
constexpr int PLAYING_SYMBOL = SKIN_BUTTON_COUNT;

// The symbol of button `index` (or of the menu, index -1; the playing Play
// key, PLAYING_SYMBOL) centred in b.
void drawSymbol(Surface& surface, Box b, int index, Rgb c, int shift) {
    SurfaceTarget s(surface);
    const int cx = (b.left * 2 + b.width) * SUB / 2;  // centre, 1/8 px
    const int cy = (b.top * 2 + b.height) * SUB / 2 + shift * SUB;
    // Offsets in 1/8 px, drawn 5/4 as large.
    auto at = [&](int dx, int dy) { return P{cx + dx * 5 / 4, cy + dy * 5 / 4}; };
    switch (index) {
        case -1:  // menu: three lines
            for (int k = -1; k <= 1; ++k) fillBar(s, at(-40, k * 32 - 6), at(40, k * 32 + 6), c);
            break;
        case 0:  // close: a cross
            fillDiagonal(s, at(-28, -28), at(28, 28), 16, c);
            fillDiagonal(s, at(-28, 28), at(28, -28), 16, c);
            break;
        case 1:  // previous: a bar and two triangles pointing left
            fillBar(s, at(-40, -36), at(-28, 36), c);
            fillTriangle(s, at(-28, 0), at(8, -36), at(8, 36), c);
            fillTriangle(s, at(4, 0), at(40, -36), at(40, 36), c);
            break;
        case 2:  // play, what a click does while stopped: a triangle
            fillTriangle(s, at(-26, -40), at(-26, 40), at(34, 0), c);
            break;
        case PLAYING_SYMBOL:  // stop, what a click does while playing: a square
            fillBar(s, at(-30, -30), at(30, 30), c);
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
    for (int i = 0; i < SKIN_BUTTON_COUNT; ++i) {
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
    for (int i = 0; i < SKIN_BUTTON_COUNT; ++i) {
        const Box key = BUTTONS[i];
        const Box at{sheetLeft(i), 0, key.width, key.height};
        // The pressed picture replaces the whole rectangle: start from what
        // the background shows around the rounded key.
        sheet.copyFrom(at.left, at.top, background, key.left, key.top, key.width, key.height);
        drawKey(sheet, at, true);
        drawSymbol(sheet, at, i == SKIN_BUTTON_PLAY ? PLAYING_SYMBOL : i,
                   i == SKIN_BUTTON_CLOSE ? CLOSE_ACCENT : ACCENT, 1);
    }
    // Frame k lights round(k * 14 / 15) rows of a 4-pixel bar over a dim track.
    for (int k = 0; k < METER_FRAMES; ++k) {
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
    IniFile ini;
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
    for (int i = 0; i < SKIN_BUTTON_COUNT; ++i) {
        const std::string name = SKIN_BUTTON_NAMES[i];
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

bool writeDefaultSkin(const std::string& folder) {
    Surface background;
    drawBackground(background);
    Surface sheet;
    drawParts(sheet, background);
    return BmpWriter::write(background, (folder + "BrellinBack.bmp").c_str()) &&
           BmpWriter::write(sheet, (folder + "BrellinParts.bmp").c_str()) && writeDescription(folder + "Brellin.ini");
}

}  // namespace brellin::skinart
