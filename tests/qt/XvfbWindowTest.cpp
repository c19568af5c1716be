// What only a real X server shows: where the window really is. The test
// runs itself again under xvfb-run on a 1024 x 768 screen and asks the X
// server for the window's position and size. Skipped when xvfb-run is not
// installed.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <cstdlib>
#include <string>

#include "../display/BmpBuilder.h"
#include "../TempDir.h"
#include "ui/qt/QtWindowHost.h"
#include "ui/qt/QtWindowSystem.h"
#include "ui/window/MainWindow.h"

#include <X11/Xlib.h>

using namespace brellin;

namespace {

std::string selfPath;

bool onPath(const char* program) {
    const char* path = std::getenv("PATH");
    std::string rest = path ? path : "";
    std::size_t start = 0;
    while (start <= rest.size()) {
        std::size_t end = rest.find(':', start);
        if (end == std::string::npos) end = rest.size();
        std::string candidate = rest.substr(start, end - start) + "/" + program;
        if (!candidate.empty() && access(candidate.c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

// A 400 x 150 skin with the five buttons and a meter, "Center" placement.
std::string writeSkin(brellin::testing::TempDir& dir) {
    std::string ini = "[Skin]\r\nBackGroundImage=back.bmp\r\nPartImage=parts.bmp\r\n"
                      "LeftOfDisplay=10\r\nTopOfDisplay=8\r\nWidthOfDisplay=300\r\nHeightOfDisplay=15\r\n"
                      "LeftOfVolumeOnDisplay=10\r\nTopOfVolumeOnDisplay=120\r\nLeftOfVolumeBarGroup=0\r\n"
                      "TopOfVolumeBarGroup=60\r\nWidthOfVolumeBar=4\r\nHeightOfVolumeBar=20\r\n";
    for (std::int32_t i = 0; i < SKIN_BUTTON_COUNT; ++i) {
        const std::string name = SKIN_BUTTON_NAMES[i];
        ini += "LeftOf" + name + "=" + std::to_string(10 + 40 * i) + "\r\nTopOf" + name + "=40\r\n";
        ini += "LeftOfPressed" + name + "=" + std::to_string(30 * i) + "\r\nTopOfPressed" + name + "=0\r\n";
        ini += "WidthOf" + name + "=30\r\nHeightOf" + name + "=24\r\n";
    }
    dir.write("Brellin.ini", ini);
    brellin::testing::BmpBuilder back;
    back.width = 400;
    back.height = 150;
    back.pixel = [](std::int32_t x, std::int32_t y) { return static_cast<std::uint32_t>((x ^ y) & 0xFF) << 8; };
    dir.write("back.bmp", back.build());
    brellin::testing::BmpBuilder parts;
    parts.width = 160;
    parts.height = 80;
    dir.write("parts.bmp", parts.build());
    return dir.root.string() + "/";
}

}  // namespace

TEST(XvfbWindow, CentredSkinIsWhereTheXServerSaysItIs) {
    if (!std::getenv("BRELLIN_UNDER_XVFB")) {
        if (!onPath("xvfb-run")) GTEST_SKIP() << "xvfb-run is not installed";
        std::string command = "BRELLIN_UNDER_XVFB=1 QT_QPA_PLATFORM=xcb xvfb-run -a -s '-screen 0 1024x768x24' '" +
                              selfPath + "' --gtest_filter=XvfbWindow.*";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return;
    }

    int argc = 1;
    char name[] = "xvfb-window-test";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    brellin::testing::TempDir dir;
    std::string folder = writeSkin(dir);

    QtWindowSystem system;
    MainWindow window(system);
    window.settings.InitializePositionId = 0;  // "Center"
    EXPECT_EQ(system.screenSize().x, 1024);
    EXPECT_EQ(system.screenSize().y, 768);
    EXPECT_FALSE(system.displayPowerSupported());  // Xvfb has no DPMS: display power does nothing
    ASSERT_TRUE(window.create());
    window.loadSkinAndPlace(folder.c_str());
    ASSERT_FALSE(window.skin.builtIn);
    QWidget* widget = static_cast<QtWindowHost*>(window.hwnd)->widget();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(widget));
    QCoreApplication::processEvents();

    Display* x = XOpenDisplay(nullptr);
    ASSERT_NE(x, nullptr);
    auto id = static_cast<::Window>(widget->winId());
    XWindowAttributes attributes{};
    ASSERT_TRUE(XGetWindowAttributes(x, id, &attributes));
    int rootX = 0, rootY = 0;
    ::Window child = 0;
    XTranslateCoordinates(x, id, DefaultRootWindow(x), 0, 0, &rootX, &rootY, &child);
    XCloseDisplay(x);
    EXPECT_EQ(rootX, 312);
    EXPECT_EQ(rootY, 309);
    EXPECT_EQ(attributes.width, 400);
    EXPECT_EQ(attributes.height, 150);
    EXPECT_EQ(window.hwnd->windowRect().left, 312);
}

int main(int argc, char** argv) {
    selfPath = argv[0];
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
