#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

#include "BmpBuilder.h"
#include "TempDir.h"
#include "display/Skin.h"

namespace brellin {
namespace {

using testing::BmpBuilder;
using testing::pixelOfRgb;
using testing::TempDir;

constexpr ScreenSize XGA{1024, 768};

// A colour that tells its position in a picture, distinct per picture.
std::uint32_t positionColour(std::int32_t x, std::int32_t y, std::uint32_t tint) {
    return ((static_cast<std::uint32_t>(x) * 3 & 0xFF) << 16) | ((static_cast<std::uint32_t>(y) * 5 & 0xFF) << 8) |
           tint;
}

BmpBuilder picture(std::int32_t w, std::int32_t h, std::uint32_t tint) {
    BmpBuilder b;
    b.width = w;
    b.height = h;
    b.pixel = [tint](std::int32_t x, std::int32_t y) { return positionColour(x, y, tint); };
    return b;
}

constexpr std::uint32_t BACKGROUND_TINT = 0x40;
constexpr std::uint32_t SHEET_TINT = 0xC8;

// A 400 x 150 skin: title area (10, 8) 300 x 15, clock (320, 8) 70 x 20, meter
// at (10, 120) with 4 x 20 bars cut from the sheet at (0, 60), buttons 30 x 24
// side by side at (10 + 40 i, 40) cut from the sheet at (30 i, 0).
struct SkinFolder {
    SkinFolder() {
        keys = {{"LeftOfDisplay", "10"},         {"TopOfDisplay", "8"},           {"WidthOfDisplay", "300"},
                {"HeightOfDisplay", "15"},       {"LeftOfTimer", "320"},          {"TopOfTimer", "8"},
                {"WidthOfTimer", "70"},          {"HeightOfTimer", "20"},         {"LeftOfVolumeOnDisplay", "10"},
                {"TopOfVolumeOnDisplay", "120"}, {"LeftOfVolumeBarGroup", "0"},   {"TopOfVolumeBarGroup", "60"},
                {"WidthOfVolumeBar", "4"},       {"HeightOfVolumeBar", "20"},     {"TitleFontColor", "255"},
                {"TimerFontColor", "65280"},     {"BackGroundImage", "back.bmp"}, {"PartImage", "parts.bmp"}};
        for (std::int32_t i = 0; i < SKIN_BUTTON_COUNT; ++i) {
            const std::string name = SKIN_BUTTON_NAMES[i];
            keys["LeftOf" + name] = std::to_string(10 + 40 * i);
            keys["TopOf" + name] = "40";
            keys["WidthOf" + name] = "30";
            keys["HeightOf" + name] = "24";
            keys["LeftOfPressed" + name] = std::to_string(30 * i);
            keys["TopOfPressed" + name] = "0";
        }
    }

    // Writes the description and both pictures; returns the folder.
    std::string write(const std::string& iniName = "Test.ini") {
        std::string text = "[Skin]\r\n";
        for (const auto& [key, value] : keys) text += key + "=" + value + "\r\n";
        dir.write(iniName, text);
        dir.write("back.bmp", background.build());
        dir.write("parts.bmp", sheet.build());
        return dir.root.string() + "/";
    }

    std::map<std::string, std::string> keys;
    BmpBuilder background = picture(400, 150, BACKGROUND_TINT);
    BmpBuilder sheet = picture(160, 80, SHEET_TINT);
    TempDir dir;
};

Settings centred() {
    Settings settings;
    settings.InitializePositionId = 0;
    settings.fAlwaysOnTop = 0;
    return settings;
}

// The built-in 240 x 32 display, whatever was loaded before.
void expectBuiltIn(Skin& skin, const WindowPlacement& place, const std::string& why) {
    SCOPED_TRACE(why);
    EXPECT_TRUE(skin.builtIn);
    EXPECT_EQ(skin.windowWidth, 240);
    EXPECT_EQ(skin.windowHeight, 32);
    EXPECT_EQ(place.x, (1024 - 240) / 2);
    EXPECT_EQ(place.y, (768 - 32) / 2);
    EXPECT_EQ(place.width, 240);
    EXPECT_EQ(place.height, 32);
    EXPECT_EQ(skin.display.width(), 240);
    EXPECT_EQ(skin.display.height(), 32);
    EXPECT_FALSE(skin.hasClock());
    EXPECT_EQ(skin.displayRect.left, 59);
    EXPECT_EQ(skin.displayRect.width, 177);
    EXPECT_EQ(skin.menuRect.top, 3);
    EXPECT_EQ(skin.menuRect.height, 12);
    EXPECT_EQ(skin.meterRect().left, 7);
    EXPECT_EQ(skin.meterRect().width, 48);
    EXPECT_EQ(skin.title.width(), 178);  // 177 rounded up to even
    EXPECT_EQ(skin.title.textColourValue().blue, 255);
    EXPECT_EQ(skin.title.textColourValue().red, 255);
    const std::int32_t lefts[SKIN_BUTTON_COUNT] = {207, 59, 96, 133, 170};
    for (std::int32_t i = 0; i < SKIN_BUTTON_COUNT; ++i) {
        const SkinRect r = skin.buttonRect(i);
        EXPECT_EQ(r.left, lefts[i]);
        EXPECT_EQ(r.top, 16);
        EXPECT_EQ(r.width, 36);
        EXPECT_EQ(r.height, 12);
        EXPECT_EQ(skin.hitButton(lefts[i] + 35, 27), i);
    }
    EXPECT_EQ(skin.hitButton(95, 16), -1);  // the gap between "Previous" and "Play"
    // Face, title well and a pressed picture's grey, with a white label stroke in it.
    EXPECT_EQ(skin.background.pixel(0, 0), pixelOfRgb(0xC85000));
    EXPECT_EQ(skin.background.pixel(59, 3), pixelOfRgb(0x643200));
    EXPECT_EQ(skin.background.pixel(236, 3), pixelOfRgb(0xC85000));
    EXPECT_EQ(skin.pressed[0].pixel(35, 11), pixelOfRgb(0x808080));
    bool labelInk = false;
    for (std::int32_t y = 0; y < 12; ++y)
        for (std::int32_t x = 0; x < 8; ++x) labelInk |= skin.pressed[0].pixel(x, y) == 0x7FFF;
    EXPECT_TRUE(labelInk);
    // The loudest frame has its line near the top, the silent one at the bottom.
    EXPECT_EQ(skin.meterStrip.pixel(46, 0), 0x7FFF);
    EXPECT_EQ(skin.meterStrip.pixel(2, 11), 0x7FFF);
    EXPECT_EQ(skin.meterStrip.pixel(1, 0), pixelOfRgb(0x808080));
}

TEST(SkinLoading, ACompleteSkinIsLaidOutCutAndCentred) {
    SkinFolder folder;
    const std::string path = folder.write();
    Skin skin;
    WindowPlacement place;
    loadSkinFrom(skin, path.c_str(), "Test.ini", centred(), XGA, &place);

    ASSERT_FALSE(skin.builtIn);
    // 400 x 150 centred on 1024 x 768.
    EXPECT_EQ(place.x, 312);
    EXPECT_EQ(place.y, 309);
    EXPECT_EQ(place.width, 400);
    EXPECT_EQ(place.height, 150);
    EXPECT_FALSE(place.alwaysOnTop);
    EXPECT_EQ(skin.display.width(), 400);
    EXPECT_EQ(skin.display.height(), 150);
    EXPECT_EQ(skin.background.pixel(399, 149), pixelOfRgb(positionColour(399, 149, BACKGROUND_TINT)));

    // No menu keys: the menu is the title area.
    EXPECT_EQ(skin.menuRect.left, 10);
    EXPECT_EQ(skin.menuRect.top, 8);
    EXPECT_EQ(skin.menuRect.width, 300);
    EXPECT_EQ(skin.menuRect.height, 15);
    EXPECT_TRUE(skin.hasClock());

    // Each pressed picture is its region of the sheet; the button takes its size.
    for (std::int32_t i = 0; i < SKIN_BUTTON_COUNT; ++i) {
        SCOPED_TRACE(SKIN_BUTTON_NAMES[i]);
        ASSERT_EQ(skin.pressed[i].width(), 30);
        ASSERT_EQ(skin.pressed[i].height(), 24);
        for (std::int32_t y = 0; y < 24; y += 5)
            for (std::int32_t x = 0; x < 30; x += 3)
                ASSERT_EQ(skin.pressed[i].pixel(x, y), pixelOfRgb(positionColour(30 * i + x, y, SHEET_TINT)));
        EXPECT_EQ(skin.hitButton(10 + 40 * i, 40), i);
        EXPECT_EQ(skin.hitButton(10 + 40 * i + 29, 63), i);
        EXPECT_EQ(skin.hitButton(10 + 40 * i + 30, 50), -1);
    }
    // The meter: 16 frames of 4 x 20 from (0, 60); bar 15 sits at 10 + 60.
    ASSERT_EQ(skin.meterStrip.width(), 64);
    ASSERT_EQ(skin.meterStrip.height(), 20);
    EXPECT_EQ(skin.meterStrip.pixel(63, 19), pixelOfRgb(positionColour(63, 79, SHEET_TINT)));
    EXPECT_EQ(skin.meterFrame(15).left, 60);
    EXPECT_EQ(skin.meterFrame(99).left, 60);
    EXPECT_EQ(skin.meterBar(15).left, 70);
    EXPECT_EQ(skin.meterRect().width, 64);

    // Title: 300 x 15, font 7 x 15 smoothed, in blue (255 = 0x0000FF).
    ASSERT_EQ(skin.title.width(), 300);
    ASSERT_EQ(skin.title.height(), 15);
    EXPECT_EQ(skin.title.textScale(), 1);
    Surface reference;
    reference.setFont("MS Gothic", 7, 15);
    reference.setTextScale(1);
    const char* sample = "Brellin WWW 0123";
    EXPECT_EQ(skin.title.measureText(sample).width, reference.measureText(sample).width);
    EXPECT_EQ(skin.title.measureText(sample).height, reference.measureText(sample).height);
    skin.title.fillRect(0, 0, 300, 15, Colour{});
    skin.title.drawText(0, 0, "HHHH");
    bool blue = false, other = false;
    for (std::int32_t y = 0; y < 15; ++y)
        for (std::int32_t x = 0; x < 60; ++x) {
            const std::uint16_t p = skin.title.pixel(x, y);
            blue |= p == 0x001F;
            other |= (p & 0x7FE0) != 0;
        }
    EXPECT_TRUE(blue);
    EXPECT_FALSE(other);
    // The clock font and colour are the back buffer's: green, 10 x 20.
    EXPECT_EQ(skin.display.textColourValue().green, 255);
    EXPECT_EQ(skin.display.textColourValue().red, 0);
    reference.setFont("MS Gothic", 10, 20);
    EXPECT_EQ(skin.display.measureText("12:34").width, reference.measureText("12:34").width);
}

TEST(SkinLoading, OptionalKeysAndAnUncoveredPartOfTheSheet) {
    SkinFolder folder;
    folder.keys.erase("LeftOfTimer");
    folder.keys["LeftOfMenu"] = "350";
    folder.keys["WidthOfMenu"] = "-5";  // any value is taken as it is
    // "Eject" is cut from (150, 70): the sheet is 160 x 80, so only 10 x 10 of it exists.
    folder.keys["LeftOfPressedEject"] = "150";
    folder.keys["TopOfPressedEject"] = "70";
    folder.keys["WidthOfEject"] = "31";  // an odd width: the picture is one pixel wider
    const std::string path = folder.write();
    Skin skin;
    WindowPlacement place;
    loadSkinFrom(skin, path.c_str(), "Test.ini", centred(), XGA, &place);

    ASSERT_FALSE(skin.builtIn);
    EXPECT_FALSE(skin.hasClock());
    EXPECT_EQ(skin.timerRect.left, -100);
    EXPECT_EQ(skin.menuRect.left, 350);
    EXPECT_EQ(skin.menuRect.top, 8);
    EXPECT_EQ(skin.menuRect.width, -5);
    EXPECT_FALSE(skin.menuRect.contains(350, 8));

    const Surface& eject = skin.pressed[SKIN_BUTTON_EJECT];
    EXPECT_EQ(eject.width(), 32);
    EXPECT_EQ(skin.buttonRect(SKIN_BUTTON_EJECT).width, 32);
    EXPECT_EQ(eject.pixel(9, 9), pixelOfRgb(positionColour(159, 79, SHEET_TINT)));
    EXPECT_EQ(eject.pixel(10, 0), 0);
    EXPECT_EQ(eject.pixel(0, 10), 0);
    EXPECT_EQ(eject.pixel(31, 23), 0);
}

TEST(SkinLoading, PartsAsLargeAsTheWindowAreShown) {
    SkinFolder folder;
    folder.keys["WidthOfPlay"] = "400";
    folder.keys["HeightOfPlay"] = "150";
    folder.keys["LeftOfDisplay"] = "0";
    folder.keys["TopOfDisplay"] = "0";
    folder.keys["WidthOfDisplay"] = "400";
    folder.keys["HeightOfDisplay"] = "20";
    folder.keys["WidthOfVolumeBar"] = "25";
    folder.keys["HeightOfVolumeBar"] = "10";
    folder.keys["WidthOfClose"] = "30";
    folder.keys["HeightOfClose"] = "150";
    const std::string path = folder.write();
    Skin skin;
    WindowPlacement place;
    loadSkinFrom(skin, path.c_str(), "Test.ini", centred(), XGA, &place);
    ASSERT_FALSE(skin.builtIn);
    EXPECT_EQ(skin.buttonRect(SKIN_BUTTON_PLAY).width, 400);
    EXPECT_EQ(skin.meterRect().width, 400);
    EXPECT_EQ(skin.title.width(), 400);
    EXPECT_EQ(skin.buttonRect(SKIN_BUTTON_CLOSE).height, 150);

    // A picture larger than the screen: the parts may be as large as the part of it on the screen.
    folder.background = picture(1100, 800, BACKGROUND_TINT);
    folder.keys["WidthOfPlay"] = "1024";
    folder.keys["HeightOfPlay"] = "768";
    const std::string larger = folder.write();
    loadSkinFrom(skin, larger.c_str(), "Test.ini", centred(), XGA, &place);
    ASSERT_FALSE(skin.builtIn);
    EXPECT_EQ(skin.buttonRect(SKIN_BUTTON_PLAY).height, 768);
}

TEST(SkinPlacement, PositionModesAndScreensSmallerThanTheSkin) {
    SkinFolder folder;
    folder.background = picture(1100, 800, BACKGROUND_TINT);
    const std::string path = folder.write();
    Settings settings = centred();
    settings.fAlwaysOnTop = 1;
    Skin skin;
    WindowPlacement place;
    loadSkinFrom(skin, path.c_str(), "Test.ini", settings, XGA, &place);

    // Cut to the screen, both ways; the background keeps the whole picture.
    ASSERT_FALSE(skin.builtIn);
    EXPECT_EQ(skin.windowWidth, 1024);
    EXPECT_EQ(skin.windowHeight, 768);
    EXPECT_EQ(place.x, 0);
    EXPECT_EQ(place.y, 0);
    EXPECT_EQ(place.width, 1024);
    EXPECT_EQ(place.height, 768);
    EXPECT_TRUE(place.alwaysOnTop);
    EXPECT_EQ(skin.display.width(), 1024);
    EXPECT_EQ(skin.display.height(), 768);
    EXPECT_EQ(skin.background.width(), 1100);

    // The four position modes for a 400 x 150 window on 1024 x 768.
    skin.windowWidth = 400;
    skin.windowHeight = 150;
    settings.fAlwaysOnTop = 0;
    settings.InitializePositionX = 77;
    settings.InitializePositionY = 55;
    struct Case {
        std::int32_t id, x, y;
    } cases[] = {{0, 312, 309}, {1, 0, 0}, {2, 0, 618}, {3, 77, 55}};
    for (const Case& c : cases) {
        settings.InitializePositionId = c.id;
        place = placeWindow(skin, settings, XGA);
        EXPECT_EQ(place.x, c.x) << "mode " << c.id;
        EXPECT_EQ(place.y, c.y) << "mode " << c.id;
        EXPECT_EQ(place.width, 400);
        EXPECT_FALSE(place.alwaysOnTop);
    }
    EXPECT_EQ(skin.display.width(), 400);
    EXPECT_EQ(skin.display.height(), 150);

    // Exactly the screen's width is cut too (to the same value); a 101-pixel
    // picture makes a 101-pixel window over a 102-pixel back buffer.
    skin.windowWidth = 1024;
    skin.windowHeight = 101;
    settings.InitializePositionId = 0;
    place = placeWindow(skin, settings, XGA);
    EXPECT_EQ(place.x, 0);
    EXPECT_EQ(place.y, (768 - 101) / 2);
    skin.windowWidth = 101;
    place = placeWindow(skin, settings, XGA);
    EXPECT_EQ(place.width, 101);
    EXPECT_EQ(skin.display.width(), 102);
}

TEST(SkinFallback, FaultyOrMissingSkinsGiveTheBuiltInDisplay) {
    struct Fault {
        const char* why;
        void (*spoil)(SkinFolder&);
        const char* iniName = "Test.ini";
    } faults[] = {
        {"no such description", [](SkinFolder&) {}, "Missing.ini"},
        {"empty skin name", [](SkinFolder&) {}, ""},
        {"bar width 0 with both pictures present", [](SkinFolder& f) { f.keys["WidthOfVolumeBar"] = "0"; }},
        {"negative title left", [](SkinFolder& f) { f.keys["LeftOfDisplay"] = "-3"; }},
        {"no key for a button's height", [](SkinFolder& f) { f.keys.erase("HeightOfNext"); }},
        {"no background name", [](SkinFolder& f) { f.keys.erase("BackGroundImage"); }},
        {"no parts sheet name", [](SkinFolder& f) { f.keys["PartImage"] = ""; }},
        {"background file missing", [](SkinFolder& f) { f.keys["BackGroundImage"] = "gone.bmp"; }},
        {"truncated background", [](SkinFolder& f) { f.background.trailingRowsMissing = 40; }},
        {"truncated parts sheet", [](SkinFolder& f) { f.sheet.trailingRowsMissing = 79; }},
        {"background is not a BMP", [](SkinFolder& f) { f.background.signature = "PK"; }},
        {"run-length encoded parts sheet", [](SkinFolder& f) { f.sheet.compression = 1; }},
        {"absurd button width", [](SkinFolder& f) { f.keys["WidthOfPlay"] = "2000000000"; }},
        {"absurd title height", [](SkinFolder& f) { f.keys["HeightOfDisplay"] = "99999"; }},
        {"absurd title size for a Surface",
         [](SkinFolder& f) {
             f.keys["WidthOfDisplay"] = "30000";
             f.keys["HeightOfDisplay"] = "30000";
         }},
        {"absurd clock position", [](SkinFolder& f) { f.keys["LeftOfTimer"] = "-2147483648"; }},
        {"absurd meter origin", [](SkinFolder& f) { f.keys["LeftOfVolumeOnDisplay"] = "2147483647"; }},
        // Parts the 400 x 150 window cannot show, which would still be made as Surfaces.
        {"five pressed buttons of 8192 x 8192",
         [](SkinFolder& f) {
             for (const char* name : SKIN_BUTTON_NAMES) {
                 f.keys[std::string("WidthOf") + name] = "8192";
                 f.keys[std::string("HeightOf") + name] = "8192";
             }
         }},
        {"a button one pixel wider than the window", [](SkinFolder& f) { f.keys["WidthOfPlay"] = "401"; }},
        {"a button one pixel taller than the window", [](SkinFolder& f) { f.keys["HeightOfEject"] = "151"; }},
        {"a title area taller than the window", [](SkinFolder& f) { f.keys["HeightOfDisplay"] = "8192"; }},
        {"sixteen bars wider than the window", [](SkinFolder& f) { f.keys["WidthOfVolumeBar"] = "26"; }},
        {"bars taller than the window", [](SkinFolder& f) { f.keys["HeightOfVolumeBar"] = "151"; }},
        {"five buttons as large as the window, more than it can hold twice",
         [](SkinFolder& f) {
             for (const char* name : SKIN_BUTTON_NAMES) {
                 f.keys[std::string("WidthOf") + name] = "400";
                 f.keys[std::string("HeightOf") + name] = "150";
             }
         }},
        {"a button that fits the picture but not the screen",
         [](SkinFolder& f) {
             f.background = picture(1100, 800, BACKGROUND_TINT);
             f.keys["WidthOfPlay"] = "1050";
         }},
        {"background of no width", [](SkinFolder& f) { f.background = picture(0, 150, BACKGROUND_TINT); }},
        {"background of no height", [](SkinFolder& f) { f.background = picture(400, 0, BACKGROUND_TINT); }},
    };
    for (const Fault& fault : faults) {
        SkinFolder folder;
        fault.spoil(folder);
        const std::string path = folder.write();
        const char* name = fault.iniName;
        Skin fresh;
        WindowPlacement place;
        loadSkinFrom(fresh, path.c_str(), name, centred(), XGA, &place);
        expectBuiltIn(fresh, place, std::string("fresh, ") + fault.why);

        // The same over a working skin that had a clock and blue title text.
        SkinFolder good;
        const std::string goodPath = good.write();
        Skin reloaded;
        loadSkinFrom(reloaded, goodPath.c_str(), "Test.ini", centred(), XGA, &place);
        ASSERT_FALSE(reloaded.builtIn);
        ASSERT_TRUE(reloaded.hasClock());
        loadSkinFrom(reloaded, path.c_str(), name, centred(), XGA, &place);
        expectBuiltIn(reloaded, place, std::string("after a working skin, ") + fault.why);
    }
}

TEST(SkinFallback, BuiltInDisplayIsPlacedByThePositionSetting) {
    Settings settings;
    settings.InitializePositionId = 2;
    Skin skin;
    WindowPlacement place;
    loadSkinFrom(skin, "/nonexistent-folder/", "Brellin.ini", settings, XGA, &place);
    EXPECT_TRUE(skin.builtIn);
    EXPECT_EQ(place.x, 0);
    EXPECT_EQ(place.y, 768 - 32);
}

// Runs the build's make-skin into a fresh folder.
bool makeDefaultSkin(const TempDir& dir) {
    const std::string command = std::string("\"") + BRELLIN_BINARY_DIR + "/make-skin\" \"" + dir.root.string() + "\"";
    return std::system(command.c_str()) == 0;
}

bool inside(const SkinRect& r, const Skin& skin) {
    return r.left >= 0 && r.top >= 0 && r.right() <= skin.windowWidth && r.bottom() <= skin.windowHeight;
}

bool overlap(const SkinRect& a, const SkinRect& b) {
    return a.left < b.right() && b.left < a.right() && a.top < b.bottom() && b.top < a.bottom();
}

TEST(DefaultSkin, IsAWorkingSkinWithSeparateAreasVisiblePressedStatesAndAnIcon) {
    TempDir first, second;
    ASSERT_TRUE(makeDefaultSkin(first));
    ASSERT_TRUE(makeDefaultSkin(second));
    for (const char* file : {"Brellin.ini", "BrellinBack.bmp", "BrellinParts.bmp", "brellin-16.png"}) {
        EXPECT_FALSE(first.read(file).empty()) << file;
        EXPECT_EQ(first.read(file), second.read(file)) << file << " differs between two runs";
    }

    // The icon in each size: a BMP of that size and a PNG whose header says so.
    for (std::int32_t size : {16, 32, 48, 64}) {
        Surface icon;
        std::int32_t w = 0, h = 0;
        const std::string name = "brellin-" + std::to_string(size);
        EXPECT_TRUE(icon.loadBitmap(0, 0, first.path(name + ".bmp").c_str(), &w, &h, true));
        EXPECT_EQ(w, size);
        EXPECT_EQ(h, size);
        const std::string png = first.read(name + ".png");
        ASSERT_GT(png.size(), 24u);
        EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
        EXPECT_EQ(png.substr(12, 4), "IHDR");
        EXPECT_EQ(static_cast<std::uint8_t>(png[19]), size);
        EXPECT_EQ(static_cast<std::uint8_t>(png[23]), size);
    }

    Skin skin;
    WindowPlacement place;
    loadSkinFrom(skin, (first.root.string() + "/").c_str(), "Brellin.ini", centred(), XGA, &place);
    ASSERT_FALSE(skin.builtIn);
    EXPECT_GE(skin.windowWidth, 300);
    EXPECT_LE(skin.windowWidth, 400);
    EXPECT_GE(skin.windowHeight, 60);
    EXPECT_LE(skin.windowHeight, 100);
    ASSERT_TRUE(skin.hasClock());
    EXPECT_GE(skin.displayRect.height, 12);  // the title font height
    EXPECT_GE(skin.timerRect.height, 16);    // the clock font height

    // Every area lies in the window; no two buttons and no button and another
    // area share a pixel, so a click always means one thing.
    const SkinRect areas[] = {skin.displayRect, skin.timerRect, skin.menuRect, skin.meterRect()};
    for (const SkinRect& area : areas) EXPECT_TRUE(inside(area, skin));
    EXPECT_FALSE(overlap(skin.displayRect, skin.meterRect()));
    EXPECT_FALSE(overlap(skin.displayRect, skin.timerRect));
    for (std::int32_t i = 0; i < SKIN_BUTTON_COUNT; ++i) {
        SCOPED_TRACE(SKIN_BUTTON_NAMES[i]);
        const SkinRect r = skin.buttonRect(i);
        ASSERT_TRUE(inside(r, skin));
        for (const SkinRect& area : areas) EXPECT_FALSE(overlap(r, area));
        for (std::int32_t j = i + 1; j < SKIN_BUTTON_COUNT; ++j) EXPECT_FALSE(overlap(r, skin.buttonRect(j)));
        // The pressed picture changes most of the button.
        std::int32_t changed = 0;
        for (std::int32_t y = 0; y < r.height; ++y)
            for (std::int32_t x = 0; x < r.width; ++x)
                changed += skin.pressed[i].pixel(x, y) != skin.background.pixel(r.left + x, r.top + y);
        EXPECT_GT(changed, r.width * r.height / 2);
    }

    // Each louder frame differs from the silent one in more pixels, and the
    // loudest is not one colour from top to bottom.
    std::int32_t previousLit = -1;
    for (std::int32_t k = 0; k < METER_FRAMES; ++k) {
        const SkinRect f = skin.meterFrame(k);
        std::int32_t differs = 0;
        for (std::int32_t y = 0; y < f.height; ++y)
            for (std::int32_t x = 0; x < f.width; ++x)
                differs += skin.meterStrip.pixel(f.left + x, y) != skin.meterStrip.pixel(x, y);
        EXPECT_GT(differs, previousLit) << "frame " << k;
        previousLit = differs;
    }
    const SkinRect loudest = skin.meterFrame(15);
    EXPECT_NE(skin.meterStrip.pixel(loudest.left, 0), skin.meterStrip.pixel(loudest.left, loudest.height - 1));
}

// The bright pixels of a key's symbol, and how many of them have no mirror
// image across the key's vertical centre line.
std::int32_t asymmetricSymbolPixels(const Surface& picture, std::int32_t left, std::int32_t top, const SkinRect& key) {
    auto lit = [&](std::int32_t x, std::int32_t y) {
        const std::uint16_t p = picture.pixel(left + x, top + y);
        return ((p >> 5) & 31) >= 20;  // green of the icon and accent colours; the key face is far darker
    };
    std::int32_t count = 0;
    for (std::int32_t y = 0; y < key.height; ++y)
        for (std::int32_t x = 0; x < key.width; ++x) count += lit(x, y) != lit(key.width - 1 - x, y);
    return count;
}

TEST(DefaultSkin, TheTitleEndsClearOfTheClockAndThePlayKeyShowsWhatAClickDoes) {
    TempDir dir;
    ASSERT_TRUE(makeDefaultSkin(dir));
    Skin skin;
    WindowPlacement place;
    loadSkinFrom(skin, (dir.root.string() + "/").c_str(), "Brellin.ini", centred(), XGA, &place);
    ASSERT_FALSE(skin.builtIn);
    // Room between a cut title and the clock's area.
    EXPECT_GE(skin.timerRect.left - skin.displayRect.right(), 8);

    // Stopped, the key shows a play triangle (lopsided); playing, its pressed
    // picture shows a stop square (the same mirrored).
    const SkinRect play = skin.buttonRect(SKIN_BUTTON_PLAY);
    EXPECT_GT(asymmetricSymbolPixels(skin.background, play.left, play.top, play), 20);
    EXPECT_LE(asymmetricSymbolPixels(skin.pressed[SKIN_BUTTON_PLAY], 0, 0, play), 4);
}

}  // namespace
}  // namespace brellin
