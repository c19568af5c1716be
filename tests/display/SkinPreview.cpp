// Composes a skin the way the display window shows it while a song plays
// (background, a title, the clock "1:05", the level meter at various
// levels, one button held down) and writes it as a 24-bit BMP, so that a
// person can look at a skin.
//   skin-preview FOLDER SKIN.ini OUT.bmp [BUTTON [TITLE [OFFSET]]]
// A missing SKIN.ini shows the built-in display. BUTTON is 0..4 (-1: none).
#include <cstdio>
#include <cstdlib>

#include "display/BmpWriter.h"
#include "display/Skin.h"

using namespace brellin;

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: skin-preview FOLDER SKIN.ini OUT.bmp [BUTTON [TITLE [OFFSET]]]\n");
        return 2;
    }
    const int button = argc > 4 ? std::atoi(argv[4]) : SKIN_BUTTON_PLAY;
    const char* text = argc > 5 ? argv[5] : "Brellin - Prelude in C major (BWV 846)";
    const int offset = argc > 6 ? std::atoi(argv[6]) : 0;

    Settings settings;
    Skin skin;
    WindowPlacement place;
    loadSkinFrom(skin, argv[1], argv[2], settings, ScreenSize{1920, 1080}, &place);
    std::printf("%s: window %d x %d at (%d, %d)\n", skin.builtIn ? "built-in display" : "skin", place.width,
                place.height, place.x, place.y);

    Surface& d = skin.display;
    d.copyFrom(0, 0, skin.background, 0, 0, skin.background.width(), skin.background.height());

    // Title, as the window shows it at a scroll offset.
    const SkinRect t = skin.displayRect;
    skin.title.copyFrom(0, 0, skin.background, t.left, t.top, t.width, t.height);
    skin.title.drawText(-offset, 0, text);
    d.copyFrom(t.left, t.top, skin.title, 0, 0, t.width, t.height);

    if (skin.hasClock()) {
        const SkinRect c = skin.timerRect;
        const Extent e = d.measureText("1:05");
        d.copyFrom(c.left, c.top, skin.background, c.left, c.top, c.width, c.height);
        d.drawText(c.left + (c.width - e.width) / 2, c.top, "1:05");
    }

    // Levels as 16 MIDI channels might show them: drums high, a few quiet.
    const int levels[METER_BARS] = {96, 72, 120, 40, 0, 64, 24, 8, 0, 127, 56, 0, 16, 88, 0, 32};
    for (int i = 0; i < METER_BARS; ++i) {
        const SkinRect from = skin.meterFrame(levels[i] / 8);
        const SkinRect to = skin.meterBar(i);
        d.copyFrom(to.left, to.top, skin.meterStrip, from.left, from.top, from.width, from.height);
    }

    if (button >= 0 && button < SKIN_BUTTON_COUNT) {
        const SkinRect r = skin.buttonRect(button);
        d.copyFrom(r.left, r.top, skin.pressed[button], 0, 0, r.width, r.height);
    }

    if (!BmpWriter::write(d, argv[3])) {
        std::fprintf(stderr, "cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
