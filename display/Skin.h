// Skin: the layout and pictures of the display window.
//
// A skin is an INI file (section "Skin") plus two BMP pictures beside it: a
// background that also fixes the window size, and a parts sheet from which
// the five pressed buttons and the 16 frames of the level meter are cut.
// `loadSkin` reads the description named by "SkinFileName" from the program's
// data folder and builds the Surfaces below; a description that is missing or
// faulty (an invalid value, a picture that does not load, a background of no
// width or height, a pressed button, title area or 16-bar meter larger than
// the window cut to the screen, or parts that together would cover that
// window more than twice) gives the built-in 240 x 32 display instead. It
// never fails in a way the user sees.
//
// Who calls what: the main window owns one Skin for the whole run and calls
// `loadSkin` on the user-interface thread at start-up (after the engine has
// started) and again when the Play mode dialog changes "SkinFileName".
// `loadSkin` ends with `placeWindow`, which only computes where the window
// goes: the main window applies the returned WindowPlacement through its host
// (move, size, stacking), then copies the whole background into `display`.
// Nothing here touches a window system, and no engine thread ever sees a
// Skin; the Surfaces are drawn on the user-interface thread only.
#pragma once

#include <cstdint>

#include "display/Surface.h"
#include "settings/Settings.h"

namespace brellin {

// A rectangle in pixels of the display window, origin at its top-left corner.
struct SkinRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;

    std::int64_t right() const { return std::int64_t{left} + width; }
    std::int64_t bottom() const { return std::int64_t{top} + height; }
    // Left and top edges inside, right and bottom edges outside.
    bool contains(std::int32_t x, std::int32_t y) const { return x >= left && y >= top && x < right() && y < bottom(); }
};

// The five buttons in their fixed order; the index is the one the main
// window's actions and the skin keys use.
enum SkinButton : std::int32_t {
    SKIN_BUTTON_CLOSE = 0,
    SKIN_BUTTON_PREVIOUS = 1,
    SKIN_BUTTON_PLAY = 2,
    SKIN_BUTTON_NEXT = 3,
    SKIN_BUTTON_EJECT = 4,
};
constexpr std::int32_t SKIN_BUTTON_COUNT = 5;
// Names that form the button keys ("LeftOfPlay", "TopOfPressedPlay", ...).
extern const char* const SKIN_BUTTON_NAMES[SKIN_BUTTON_COUNT];

// Number of level-meter bars (one per MIDI channel) and of frames per bar.
constexpr std::int32_t METER_BARS = 16;
constexpr std::int32_t METER_FRAMES = 16;

// Where the main window must put itself; `placeWindow` computes it.
struct WindowPlacement {
    std::int32_t x = 0;  // top-left corner in screen pixels
    std::int32_t y = 0;
    std::int32_t width = 0;  // window size in pixels
    std::int32_t height = 0;
    bool alwaysOnTop = false;  // above all other windows; otherwise the normal order
};

struct Skin {
    // Empty until `loadSkin` or `useBuiltInDisplay` fills it.
    Skin() = default;
    Skin(const Skin&) = delete;
    Skin& operator=(const Skin&) = delete;

    // Window size in pixels (the background picture's size, cut to the screen).
    std::int32_t windowWidth = 0;
    std::int32_t windowHeight = 0;

    SkinRect displayRect;                  // the title area; its height is also the title font height
    SkinRect menuRect;                     // a click here opens the main menu
    SkinRect timerRect{-100, -100, 0, 0};  // the clock; left < 0: no clock is drawn
    std::int32_t meterLeft = -1;           // level-meter origin in the window
    std::int32_t meterTop = -1;
    std::int32_t barWidth = 0;  // one meter bar (one frame of the strip)
    std::int32_t barHeight = 0;

    // Top-left of each button in the window; its size is its pressed picture's.
    std::int32_t buttonLeft[SKIN_BUTTON_COUNT] = {};
    std::int32_t buttonTop[SKIN_BUTTON_COUNT] = {};

    std::uint32_t titleFontColor = 0xFFFFFF;  // 0xRRGGBB, as in the skin file
    std::uint32_t timerFontColor = 0xFFFFFF;

    // True while the built-in display is in use (no skin, or a faulty one).
    bool builtIn = false;

    Surface background;                  // as large as the picture (the window before cutting)
    Surface pressed[SKIN_BUTTON_COUNT];  // each button while it is held down
    Surface meterStrip;                  // 16 frames side by side; frame k is level k (0 silent .. 15 loudest)
    Surface title;    // as large as displayRect; the title font and colour; the title is composed here
    Surface display;  // the window's back buffer, as large as the window; the clock font and colour

    bool hasClock() const { return timerRect.left >= 0; }
    // The button's rectangle in the window: its position and the size of its pressed picture.
    SkinRect buttonRect(std::int32_t index) const;
    // The first button whose rectangle holds the point, -1 for none.
    std::int32_t hitButton(std::int32_t x, std::int32_t y) const;
    // The whole level meter: 16 bar widths by one bar height from its origin.
    SkinRect meterRect() const;
    // Frame k (clamped to 0..15) of the meter strip, as a block of the strip.
    SkinRect meterFrame(std::int32_t k) const;
    // Where bar `channel` (0..15) of the meter goes in the window.
    SkinRect meterBar(std::int32_t channel) const;
};

// Reads the skin description `skinFileName` (and its pictures) from the
// program's data folder (beside the executable) into `skin` and places the
// window. False only when that folder cannot be found: then nothing changes
// and *placement is not written. An empty or missing name, an unreadable or
// faulty file: the built-in display, true.
bool loadSkin(Skin& skin, const char* skinFileName, const Settings& settings, ScreenSize screen,
              WindowPlacement* placement);

// The same with the description and its pictures in `folder` (ending in "/").
void loadSkinFrom(Skin& skin, const char* folder, const char* skinFileName, const Settings& settings, ScreenSize screen,
                  WindowPlacement* placement);

// Replaces the skin with the built-in 240 x 32 display (no clock), without
// placing the window.
void useBuiltInDisplay(Skin& skin);

// Cuts the window size to the screen, computes the position from
// InitializePositionId (0 "Center", 1 "Top-Left", 2 "Bottom-Left",
// 3 "Last exec. pos." with InitializePositionX/Y) and fAlwaysOnTop, and
// resizes `skin.display` to the window. The caller moves the window there.
WindowPlacement placeWindow(Skin& skin, const Settings& settings, ScreenSize screen);

}  // namespace brellin
