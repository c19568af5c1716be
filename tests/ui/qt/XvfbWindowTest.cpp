// What only a real X server shows: where the window really is, and which
// pixels it really shows. Each test runs itself again under xvfb-run on a
// 1024 x 768 screen and asks the X server. Skipped when xvfb-run is not
// installed.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "tests/TempDir.h"
#include "tests/display/BmpBuilder.h"
#include "ui/qt/QtWindowHost.h"
#include "ui/qt/QtWindowSystem.h"
#include "ui/qt/XcbPresenter.h"
#include "ui/window/MainWindow.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

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
    std::string ini =
        "[Skin]\r\nBackGroundImage=back.bmp\r\nPartImage=parts.bmp\r\n"
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

// Outside Xvfb: runs this program again under xvfb-run with only `test`
// and returns true (the caller returns); inside, returns false.
bool ranUnderXvfb(const char* test) {
    if (std::getenv("BRELLIN_UNDER_XVFB")) return false;
    if (!onPath("xvfb-run")) {
        ADD_FAILURE() << "unreachable: checked by the caller";
        return true;
    }
    std::string command = "BRELLIN_UNDER_XVFB=1 QT_QPA_PLATFORM=xcb xvfb-run -a -s '-screen 0 1024x768x24' '" +
                          selfPath + "' --gtest_filter=XvfbWindow." + test;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return true;
}

// A 256 x 128 window at (100, 60): one pixel of each of the 32768 colours.
class PaletteWindow : public brellin::Window {
public:
    using brellin::Window::Window;
    static constexpr std::int32_t width = 256, height = 128;

    LResult preCreate(CreationRecord& record) override {
        record.style = WS_POPUP;
        record.x = 100;
        record.y = 60;
        record.width = width;
        record.height = height;
        return 1;
    }
    // Every pixel anew, colour (i + shift) mod 32768, and invalidated.
    void paintPalette(std::uint16_t shift) {
        std::uint16_t* pixels = backBuffer->pixels();
        for (std::int32_t i = 0; i < width * height; ++i) pixels[i] = static_cast<std::uint16_t>((i + shift) & 0x7FFF);
        backBuffer->growDirtyRect(0, 0);
        backBuffer->growDirtyRect(width, height);
        invalidate();
    }
};

// Runs the event loop as the program does (waiting for events) until
// `done` or two seconds.
template <typename Done>
bool runLoopUntil(Done done) {
    for (int i = 0; i < 100 && !done(); ++i) {
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

void runLoopFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The window's pixels as the X server has them, 0xRRGGBB.
std::vector<std::uint32_t> serverPixels(::Window id, int width, int height) {
    std::vector<std::uint32_t> out;
    Display* x = XOpenDisplay(nullptr);
    if (x == nullptr) return out;
    XImage* image =
        XGetImage(x, id, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (image != nullptr) {
        for (int row = 0; row < height; ++row) {
            for (int column = 0; column < width; ++column)
                out.push_back(static_cast<std::uint32_t>(XGetPixel(image, column, row)) & 0xFFFFFF);
        }
        XDestroyImage(image);
    }
    XCloseDisplay(x);
    return out;
}

// How many pixels differ (all of them if the sizes differ).
std::size_t differences(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
    if (a.size() != b.size()) return std::max(a.size(), b.size());
    std::size_t count = 0;
    for (std::size_t i = 0; i < a.size(); ++i) count += a[i] != b[i];
    return count;
}

// What Qt's own paint path shows for the back buffer (the widget drawn
// through its paint event), 0xRRGGBB.
std::vector<std::uint32_t> qtPixels(QWidget* widget) {
    const QImage image = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
    std::vector<std::uint32_t> out;
    for (int row = 0; row < image.height(); ++row) {
        for (int column = 0; column < image.width(); ++column) out.push_back(image.pixel(column, row) & 0xFFFFFF);
    }
    return out;
}

}  // namespace

// On an X server the back buffer's changes go straight into the window.
// The screen then holds exactly what Qt's paint path would have drawn, for
// every one of the 32768 colours; and after the window was covered and
// uncovered (Qt repaints an expose from its own backing store, which the
// direct path left behind) it shows the newest picture, not an old one.
TEST(XvfbWindow, DirectPaintsShowWhatQtWouldPaint) {
    if (!std::getenv("BRELLIN_UNDER_XVFB") && !onPath("xvfb-run")) GTEST_SKIP() << "xvfb-run is not installed";
    if (ranUnderXvfb("DirectPaintsShowWhatQtWouldPaint")) return;

    int argc = 1;
    char name[] = "xvfb-window-test";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    QtWindowSystem system;
    ASSERT_NE(system.presenter(), nullptr);
    PaletteWindow window(system);
    ASSERT_TRUE(window.create());
    auto* host = static_cast<QtWindowHost*>(window.hwnd);
    QWidget* widget = host->widget();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(widget));
    const auto id = static_cast<::Window>(widget->winId());
    const int w = PaletteWindow::width, h = PaletteWindow::height;

    const std::uint64_t before = host->directPaints();
    window.paintPalette(0);
    ASSERT_TRUE(runLoopUntil([&] { return host->directPaints() > before; }));
    const std::vector<std::uint32_t> shown = serverPixels(id, w, h);
    ASSERT_EQ(shown.size(), static_cast<std::size_t>(w * h));
    EXPECT_EQ(differences(shown, qtPixels(widget)), 0u);
    for (std::size_t i = 0; i < shown.size(); i += 1111)
        EXPECT_EQ(shown[i], XcbPresenter::pixelOf(static_cast<std::uint16_t>(i))) << i;

    // A new picture goes out directly; then another window covers ours and
    // goes away.
    const std::uint64_t second = host->directPaints();
    window.paintPalette(12345);
    ASSERT_TRUE(runLoopUntil([&] { return host->directPaints() > second; }));
    Display* x = XOpenDisplay(nullptr);
    ASSERT_NE(x, nullptr);
    XSetWindowAttributes cover{};
    cover.override_redirect = True;
    cover.background_pixel = 0;
    ::Window lid = XCreateWindow(x, DefaultRootWindow(x), 90, 50, w + 20, h + 20, 0, CopyFromParent, InputOutput,
                                 CopyFromParent, CWOverrideRedirect | CWBackPixel, &cover);
    XMapRaised(x, lid);
    XSync(x, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(differences(serverPixels(id, w, h), std::vector<std::uint32_t>(shown.size(), 0)), 0u)
        << "the cover did not hide the window";
    XDestroyWindow(x, lid);
    XSync(x, False);
    XCloseDisplay(x);
    runLoopFor(300);  // the expose arrives and is painted
    const std::vector<std::uint32_t> uncovered = serverPixels(id, w, h);
    EXPECT_EQ(differences(uncovered, qtPixels(widget)), 0u);
    EXPECT_EQ(uncovered[0], XcbPresenter::pixelOf(12345));

    // Two far-apart changes in one pass of the loop (as the clock and the
    // meter are) go out together, in one paint, and nothing between them.
    const std::uint64_t third = host->directPaints();
    window.backBuffer->fillRect(3, 4, 20, 9, Colour{255, 0, 0});
    window.invalidate();
    window.backBuffer->fillRect(230, 100, 250, 126, Colour{0, 0, 255});
    window.invalidate();
    ASSERT_TRUE(runLoopUntil([&] { return host->directPaints() > third; }));
    runLoopFor(300);
    EXPECT_EQ(host->directPaints(), third + 1);
    const std::vector<std::uint32_t> twoPatches = serverPixels(id, w, h);
    EXPECT_EQ(differences(twoPatches, qtPixels(widget)), 0u);
    EXPECT_EQ(twoPatches[5 * w + 10], 0xFF0000u);
    EXPECT_EQ(twoPatches[110 * w + 240], 0x0000FFu);

    // Hidden, the window takes a new picture through Qt; shown again it
    // shows that one.
    window.hwnd->showWindow(false);
    window.paintPalette(777);
    runLoopFor(300);
    window.hwnd->showWindow(true);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(widget));
    runLoopFor(300);
    const std::vector<std::uint32_t> shownAgain = serverPixels(id, w, h);
    EXPECT_EQ(differences(shownAgain, qtPixels(widget)), 0u);
    EXPECT_EQ(shownAgain[0], XcbPresenter::pixelOf(777));
}

TEST(XvfbWindow, CentredSkinIsWhereTheXServerSaysItIs) {
    if (!std::getenv("BRELLIN_UNDER_XVFB") && !onPath("xvfb-run")) GTEST_SKIP() << "xvfb-run is not installed";
    if (ranUnderXvfb("CentredSkinIsWhereTheXServerSaysItIs")) return;

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
