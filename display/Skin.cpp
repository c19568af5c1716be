#include "display/Skin.h"

#include <cstdio>
#include <string>

#include "common/ExecutablePath.h"
#include "settings/IniFile.h"

namespace brellin {

const char* const SKIN_BUTTON_NAMES[SKIN_BUTTON_COUNT] = {"Close", "Previous", "Play", "Next", "Eject"};

namespace {

constexpr const char* SECTION = "Skin";

// Every coordinate and size of a layout must lie within one Surface side:
// nothing beyond it can ever be seen, and keeping them there keeps the main
// window's sums (left + 15 bar widths, left + half a width) inside 32 bits.
constexpr std::int32_t LIMIT = Surface::MAX_SIDE;

// Reads the keys of one description and remembers whether any was invalid.
class KeyReader {
public:
    explicit KeyReader(const IniFile& description) : file(description) {}

    // A value that must be at least `minimum` (the "Valid if" of the key).
    std::int32_t atLeast(const char* key, std::int32_t defaultValue, std::int32_t minimum) {
        const std::int32_t value = file.getInt(SECTION, key, defaultValue);
        if (value < minimum || value > LIMIT) faulty = true;
        return value;
    }
    // A value of any sign.
    std::int32_t any(const char* key, std::int32_t defaultValue) {
        const std::int32_t value = file.getInt(SECTION, key, defaultValue);
        if (value < -LIMIT || value > LIMIT) faulty = true;
        return value;
    }
    std::uint32_t colour(const char* key) {
        return static_cast<std::uint32_t>(file.getInt(SECTION, key, 0xFFFFFF)) & 0xFFFFFF;
    }
    const char* text(const char* key, const char* defaultValue) { return file.getString(SECTION, key, defaultValue); }

    bool faulty = false;

private:
    const IniFile& file;
};

std::string buttonKey(const char* pattern, std::int32_t index) {
    char key[64];
    std::snprintf(key, sizeof key, pattern, SKIN_BUTTON_NAMES[index]);
    return key;
}

// The layout and fonts of one description, as read.
struct Description {
    SkinRect display;
    SkinRect menu;
    SkinRect timer;
    std::int32_t meterLeft = -1, meterTop = -1;
    std::int32_t groupLeft = -1, groupTop = -1;
    std::int32_t barWidth = 0, barHeight = 0;
    std::uint32_t titleColour = 0xFFFFFF, timerColour = 0xFFFFFF;
    std::int32_t buttonLeft[SKIN_BUTTON_COUNT] = {}, buttonTop[SKIN_BUTTON_COUNT] = {};
    std::int32_t buttonWidth[SKIN_BUTTON_COUNT] = {}, buttonHeight[SKIN_BUTTON_COUNT] = {};
    std::int32_t pressedLeft[SKIN_BUTTON_COUNT] = {}, pressedTop[SKIN_BUTTON_COUNT] = {};
    std::string backgroundImage, partImage, fontName, timerFontName;
};

// Reads every key in the order of the skin table; the menu keys default to
// the display rectangle.
Description readDescription(KeyReader& keys) {
    Description d;
    d.display.left = keys.atLeast("LeftOfDisplay", -1, 0);
    d.display.top = keys.atLeast("TopOfDisplay", -1, 0);
    d.display.width = keys.atLeast("WidthOfDisplay", 0, 1);
    d.display.height = keys.atLeast("HeightOfDisplay", 0, 1);
    d.menu.left = keys.any("LeftOfMenu", d.display.left);
    d.menu.top = keys.any("TopOfMenu", d.display.top);
    d.menu.width = keys.any("WidthOfMenu", d.display.width);
    d.menu.height = keys.any("HeightOfMenu", d.display.height);
    d.timer.left = keys.any("LeftOfTimer", -100);
    d.timer.top = keys.any("TopOfTimer", -100);
    d.timer.width = keys.any("WidthOfTimer", 0);
    d.timer.height = keys.any("HeightOfTimer", 0);
    d.meterLeft = keys.atLeast("LeftOfVolumeOnDisplay", -1, 0);
    d.meterTop = keys.atLeast("TopOfVolumeOnDisplay", -1, 0);
    d.groupLeft = keys.atLeast("LeftOfVolumeBarGroup", -1, 0);
    d.groupTop = keys.atLeast("TopOfVolumeBarGroup", -1, 0);
    d.barWidth = keys.atLeast("WidthOfVolumeBar", 0, 1);
    d.barHeight = keys.atLeast("HeightOfVolumeBar", 0, 1);
    d.titleColour = keys.colour("TitleFontColor");
    d.timerColour = keys.colour("TimerFontColor");
    for (std::int32_t i = 0; i < SKIN_BUTTON_COUNT; ++i) {
        d.buttonLeft[i] = keys.atLeast(buttonKey("LeftOf%s", i).c_str(), -1, 0);
        d.buttonTop[i] = keys.atLeast(buttonKey("TopOf%s", i).c_str(), -1, 0);
        d.buttonWidth[i] = keys.atLeast(buttonKey("WidthOf%s", i).c_str(), 0, 1);
        d.buttonHeight[i] = keys.atLeast(buttonKey("HeightOf%s", i).c_str(), 0, 1);
        d.pressedLeft[i] = keys.atLeast(buttonKey("LeftOfPressed%s", i).c_str(), -1, 0);
        d.pressedTop[i] = keys.atLeast(buttonKey("TopOfPressed%s", i).c_str(), -1, 0);
    }
    d.backgroundImage = keys.text("BackGroundImage", "");
    d.partImage = keys.text("PartImage", "");
    d.fontName = keys.text("FontName", "MS Gothic");
    d.timerFontName = keys.text("TimerFontName", "MS Gothic");
    return d;
}

// Whether the pictures the description asks for fit what can be seen of the
// window, `width` x `height`: each pressed button, the title area and the 16
// bars of the meter side by side must fit it, and together they may cover
// it at most twice (they are parts of one window; twice leaves room for
// overlaps). The Surfaces are made from these numbers alone: a few lines of
// INI could otherwise ask for a gigabyte of pictures nobody can see.
bool partsFitWindow(const Description& d, std::int32_t width, std::int32_t height) {
    auto area = [](std::int64_t w, std::int64_t h) { return w > 0 && h > 0 ? w * h : 0; };
    std::int64_t pixels = 0;
    for (std::int32_t i = 0; i < SKIN_BUTTON_COUNT; ++i) {
        if (d.buttonWidth[i] > width || d.buttonHeight[i] > height) return false;
        pixels += area(d.buttonWidth[i], d.buttonHeight[i]);
    }
    const std::int64_t meterWidth = std::int64_t{METER_BARS} * d.barWidth;
    if (meterWidth > width || d.barHeight > height) return false;
    pixels += area(meterWidth, d.barHeight);
    if (d.display.width > width || d.display.height > height) return false;
    pixels += area(d.display.width, d.display.height);
    return pixels <= 2 * area(width, height);
}

// Loads the pictures of a description into the skin's Surfaces; false when
// one that the skin cannot do without does not load, when the background has
// no area, or when the parts do not fit the window as the screen shows it.
bool loadPictures(Skin& skin, const Description& d, const std::string& folder, ScreenSize screen) {
    if (d.backgroundImage.empty() || d.partImage.empty()) return false;

    // The window takes the picture's size as stored in the file. The black
    // 240 x 120 start stays for a picture that draws nothing (stored top row
    // first), rather than whatever an earlier skin left in the Surface.
    skin.windowWidth = 240;
    skin.windowHeight = 120;
    skin.background.resize(240, 120);
    const std::string backgroundPath = folder + d.backgroundImage;
    if (!skin.background.loadBitmap(0, 0, backgroundPath.c_str(), &skin.windowWidth, &skin.windowHeight, true))
        return false;
    if (skin.windowWidth <= 0 || skin.windowHeight <= 0) return false;
    // The window is cut to the screen as placeWindow cuts it.
    const std::int32_t seenWidth =
        screen.width > 0 && skin.windowWidth >= screen.width ? screen.width : skin.windowWidth;
    const std::int32_t seenHeight =
        screen.height > 0 && skin.windowHeight >= screen.height ? screen.height : skin.windowHeight;
    if (!partsFitWindow(d, seenWidth, seenHeight)) return false;

    const std::string partPath = folder + d.partImage;
    for (std::int32_t i = 0; i < SKIN_BUTTON_COUNT; ++i) {
        Surface& picture = skin.pressed[i];
        if (!picture.resize(d.buttonWidth[i], d.buttonHeight[i])) return false;
        // An earlier skin's picture of the same size would show where the
        // sheet does not reach; the uncovered part is black.
        picture.fillRect(0, 0, picture.width(), picture.height(), Colour{});
        if (!picture.loadBitmap(-d.pressedLeft[i], -d.pressedTop[i], partPath.c_str(), nullptr, nullptr, false))
            return false;
    }

    // A meter strip that does not load leaves the meter black; the skin is
    // still usable.
    if (skin.meterStrip.resize(METER_FRAMES * d.barWidth, d.barHeight)) {
        skin.meterStrip.fillRect(0, 0, skin.meterStrip.width(), skin.meterStrip.height(), Colour{});
        skin.meterStrip.loadBitmap(-d.groupLeft, -d.groupTop, partPath.c_str(), nullptr, nullptr, false);
    }

    // The title Surface is made before the window is placed, so that a title
    // area no Surface can hold counts as a faulty skin.
    return skin.title.resize(d.display.width, d.display.height);
}

void setLayout(Skin& skin, const Description& d) {
    skin.displayRect = d.display;
    skin.menuRect = d.menu;
    skin.timerRect = d.timer;
    skin.meterLeft = d.meterLeft;
    skin.meterTop = d.meterTop;
    skin.barWidth = d.barWidth;
    skin.barHeight = d.barHeight;
    for (std::int32_t i = 0; i < SKIN_BUTTON_COUNT; ++i) {
        skin.buttonLeft[i] = d.buttonLeft[i];
        skin.buttonTop[i] = d.buttonTop[i];
    }
    skin.titleFontColor = d.titleColour;
    skin.timerFontColor = d.timerColour;
}

}  // namespace

SkinRect Skin::buttonRect(std::int32_t index) const {
    if (index < 0 || index >= SKIN_BUTTON_COUNT) return SkinRect{};
    return SkinRect{buttonLeft[index], buttonTop[index], pressed[index].width(), pressed[index].height()};
}

std::int32_t Skin::hitButton(std::int32_t x, std::int32_t y) const {
    for (std::int32_t i = 0; i < SKIN_BUTTON_COUNT; ++i) {
        if (buttonRect(i).contains(x, y)) return i;
    }
    return -1;
}

SkinRect Skin::meterRect() const { return SkinRect{meterLeft, meterTop, METER_BARS * barWidth, barHeight}; }

SkinRect Skin::meterFrame(std::int32_t k) const {
    if (k < 0) k = 0;
    if (k > METER_FRAMES - 1) k = METER_FRAMES - 1;
    return SkinRect{k * barWidth, 0, barWidth, barHeight};
}

SkinRect Skin::meterBar(std::int32_t channel) const {
    return SkinRect{meterLeft + channel * barWidth, meterTop, barWidth, barHeight};
}

void useBuiltInDisplay(Skin& skin) {
    const Colour white{255, 255, 255};
    const Colour grey{128, 128, 128};
    const Colour face{200, 80, 0};
    const Colour well{100, 50, 0};
    static constexpr std::int32_t lefts[SKIN_BUTTON_COUNT] = {207, 59, 96, 133, 170};
    static constexpr const char* labels[SKIN_BUTTON_COUNT] = {"X", "<", "O", ">", "_"};

    skin.builtIn = true;
    skin.windowWidth = 240;
    skin.windowHeight = 32;
    skin.displayRect = SkinRect{59, 3, 177, 12};
    skin.menuRect = skin.displayRect;
    // The built-in display has no clock area; a faulty skin's clock would
    // land on its buttons or its meter.
    skin.timerRect = SkinRect{-100, -100, 0, 0};
    skin.meterLeft = 7;
    skin.meterTop = 16;
    skin.barWidth = 3;
    skin.barHeight = 12;
    skin.titleFontColor = 0xFFFFFF;
    skin.timerFontColor = 0xFFFFFF;

    // Frame k of the 3-pixel bars shows the part of one diagonal that falls
    // into it: the louder, the higher the line.
    skin.meterStrip.resize(48, 12);
    skin.meterStrip.fillRect(0, 0, 48, 12, grey);
    skin.meterStrip.drawLine(0, 12, 48, 0, white);

    skin.background.resize(240, 32);
    skin.background.fillRect(0, 0, 240, 32, face);
    skin.background.fillRect(59, 3, 236, 15, well);
    skin.background.fillRect(7, 16, 55, 28, well);
    skin.background.setFont("MS Gothic", 8, 12);
    skin.background.setTextScale(0);
    skin.background.setTextColour(white);

    for (std::int32_t i = 0; i < SKIN_BUTTON_COUNT; ++i) {
        skin.buttonLeft[i] = lefts[i];
        skin.buttonTop[i] = 16;
        Surface& picture = skin.pressed[i];
        picture.resize(36, 12);
        picture.fillRect(0, 0, 36, 12, grey);
        picture.setFont("MS Gothic", 8, 12);
        picture.setTextScale(0);
        picture.setTextColour(white);
        picture.drawText(0, 0, labels[i]);
        skin.background.fillRect(lefts[i], 16, lefts[i] + 36, 28, well);
        skin.background.drawText(lefts[i], 16, labels[i]);
    }

    skin.title.resize(177, 12);
    skin.title.setFont("MS Gothic", 6, 12);
    skin.title.setTextScale(1);
    skin.title.setTextColour(white);
}

WindowPlacement placeWindow(Skin& skin, const Settings& settings, ScreenSize screen) {
    // A screen of no size (none reported) cuts nothing.
    if (screen.width > 0 && skin.windowWidth >= screen.width) skin.windowWidth = screen.width;
    if (screen.height > 0 && skin.windowHeight >= screen.height) skin.windowHeight = screen.height;

    WindowPlacement place;
    place.width = skin.windowWidth;
    place.height = skin.windowHeight;
    place.alwaysOnTop = settings.fAlwaysOnTop != 0;
    switch (settings.InitializePositionId) {
        case 1:  // "Top-Left"
            place.x = 0;
            place.y = 0;
            break;
        case 2:  // "Bottom-Left"
            place.x = 0;
            place.y = screen.height - skin.windowHeight;
            break;
        case 3:  // "Last exec. pos."
            place.x = settings.InitializePositionX;
            place.y = settings.InitializePositionY;
            break;
        default:  // 0 "Center"
            place.x = (screen.width - skin.windowWidth) / 2;
            place.y = (screen.height - skin.windowHeight) / 2;
            break;
    }
    skin.display.resize(skin.windowWidth, skin.windowHeight);
    return place;
}

void loadSkinFrom(Skin& skin, const char* folder, const char* skinFileName, const Settings& settings, ScreenSize screen,
                  WindowPlacement* placement) {
    const std::string folderText = folder ? folder : "";
    const std::string name = skinFileName ? skinFileName : "";

    auto fallBack = [&]() {
        useBuiltInDisplay(skin);
        const WindowPlacement place = placeWindow(skin, settings, screen);
        if (placement) *placement = place;
    };

    IniFile file;
    // An empty name would name the folder itself, which never loads.
    if (name.empty() || !file.load((folderText + name).c_str())) {
        fallBack();
        return;
    }

    KeyReader keys(file);
    const Description d = readDescription(keys);
    bool faulty = keys.faulty;
    // The pictures load even after an invalid key, as a skin is read once
    // from top to bottom; the built-in display then draws over them.
    if (!loadPictures(skin, d, folderText, screen)) faulty = true;
    setLayout(skin, d);
    if (faulty) {
        fallBack();
        return;
    }

    skin.builtIn = false;
    const WindowPlacement place = placeWindow(skin, settings, screen);
    if (placement) *placement = place;

    // Title: font as high as the title area, half as wide, smoothed.
    skin.title.setFont(d.fontName.c_str(), d.display.height / 2, d.display.height);
    skin.title.setTextScale(1);
    skin.title.setTextColour(Colour::fromRgb(d.titleColour));
    // The clock is drawn straight into the back buffer, in its own font.
    skin.display.setFont(d.timerFontName.c_str(), d.timer.height / 2, d.timer.height);
    skin.display.setTextScale(1);
    skin.display.setTextColour(Colour::fromRgb(d.timerColour));
}

bool loadSkin(Skin& skin, const char* skinFileName, const Settings& settings, ScreenSize screen,
              WindowPlacement* placement) {
    char folder[4096];
    if (!dataFolder(folder, sizeof folder)) return false;
    loadSkinFrom(skin, folder, skinFileName, settings, screen, placement);
    return true;
}

}  // namespace brellin
