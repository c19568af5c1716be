// The main window on the Qt hosts, offscreen, with the default skin and a
// real engine on the null device: a click on the Play button plays, the
// window shows exactly the back buffer, and keys reach the player as their
// virtual-key numbers; dropped files open.
#include <gtest/gtest.h>

#include <QDropEvent>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <chrono>
#include <fstream>
#include <thread>

#include "output/AudioDevice.h"
#include "output/devices/AudioDevices.h"
#include "tests/TempDir.h"
#include "tests/ui/qt/QtTestApp.h"
#include "ui/qt/QtWindowHost.h"
#include "ui/qt/QtWindowSystem.h"
#include "ui/window/MainWindow.h"

using namespace brellin;

namespace {

bool showsBackBuffer(QWidget* widget, const Surface& surface) {
    QImage image = widget->grab().toImage().convertToFormat(QImage::Format_RGB555);
    if (image.width() != surface.width() || image.height() != surface.height()) return false;
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const std::uint16_t*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if ((row[x] & 0x7fff) != surface.pixel(x, y)) return false;
        }
    }
    return true;
}

template <class Condition>
bool waitFor(Condition condition) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until) return false;
        QTest::qWait(5);
    }
    return true;
}

}  // namespace

TEST(QtMainWindow, PlayButtonPlaysAndTheScreenIsTheBackBuffer) {
    brellin::testing::qtApp();
    QtWindowSystem system;
    MainWindow window(system);
    window.engine.output.setDevice(createAudioDevice("null"));
    window.engine.setSoundFontFolder(BRELLIN_BINARY_DIR "/");  // small.brf of the build
    ASSERT_EQ(window.engine.startEngine(), RESULT_OK);
    ASSERT_TRUE(window.create());
    window.loadSkinAndPlace(BRELLIN_BINARY_DIR "/");  // the default skin beside the programs
    ASSERT_FALSE(window.skin.builtIn) << "the default skin was not built";
    QWidget* widget = static_cast<QtWindowHost*>(window.hwnd)->widget();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(widget));
    EXPECT_EQ(widget->size(), QSize(window.skin.windowWidth, window.skin.windowHeight));
    EXPECT_EQ(widget->windowTitle(), QStringLiteral("Brellin"));

    window.playList.openPath(BRELLIN_SOURCE_DIR "/assets/demo.mid");
    window.startDisplayTimer();
    const SkinRect play = window.skin.buttonRect(SKIN_BUTTON_PLAY);
    QPoint centre(play.left + play.width / 2, play.top + play.height / 2);
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, centre);
    EXPECT_TRUE(window.playing);
    ASSERT_TRUE(window.engine.sequencer);
    // The song really runs: its name, a text event the render thread hands
    // over through a posted command 9000, reaches the title area.
    EXPECT_TRUE(waitFor([&] { return window.titleShown.find("Ode to Joy") != std::string::npos; }));
    QTest::qWait(250);  // a few display ticks: clock, meter, title drawn and shown
    QCoreApplication::processEvents();
    EXPECT_FALSE(window.clockShown.empty());
    EXPECT_TRUE(showsBackBuffer(widget, window.skin.display));

    // Keys as the player's defaults have them: comma is VolumeDown (188),
    // Enter (13) the Play key.
    std::int32_t volume = window.settings.Volume;
    QTest::keyClick(widget, Qt::Key_Comma);
    EXPECT_EQ(window.settings.Volume, volume - 1);
    QTest::keyClick(widget, Qt::Key_Period);
    EXPECT_EQ(window.settings.Volume, volume);
    QTest::keyClick(widget, Qt::Key_Return);
    EXPECT_FALSE(window.playing);
    QTest::keyClick(widget, Qt::Key_Enter);  // the keypad's Enter is Enter too
    EXPECT_TRUE(window.playing);
    window.stopPlayback();
    QCoreApplication::processEvents();
    EXPECT_TRUE(showsBackBuffer(widget, window.skin.display));
}

// Files dropped from a file manager arrive as file URLs; the names keep their
// bytes (spaces, a name that is not UTF-8), a play list is merged, the last
// file becomes current and a playing song goes on with it.
TEST(QtMainWindow, DroppedFilesOpenLikeASecondStart) {
    brellin::testing::qtApp();
    brellin::testing::TempDir dir;
    std::string demo;
    {
        std::ifstream in(BRELLIN_SOURCE_DIR "/assets/demo.mid", std::ios::binary);
        demo.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    ASSERT_FALSE(demo.empty());
    const std::string spaced = dir.write("my song.mid", demo);
    const std::string listed = dir.write("listed.mid", demo);
    const std::string list = dir.write("a list.brl", listed + "\n");
    const std::string latin1 = dir.write("\xe9t\xe9.mid", demo);  // "été" in ISO 8859-1

    QtWindowSystem system;
    MainWindow window(system);
    window.engine.output.setDevice(createAudioDevice("null"));
    window.engine.setSoundFontFolder(BRELLIN_BINARY_DIR "/");
    ASSERT_EQ(window.engine.startEngine(), RESULT_OK);
    ASSERT_TRUE(window.create());
    window.loadSkinAndPlace(BRELLIN_BINARY_DIR "/");
    QWidget* widget = static_cast<QtWindowHost*>(window.hwnd)->widget();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(widget));
    EXPECT_TRUE(widget->acceptDrops());

    window.playList.openPath(BRELLIN_SOURCE_DIR "/assets/demo.mid");
    window.startPlayback();
    ASSERT_TRUE(window.playing);

    auto drop = [&](const QList<QUrl>& urls) {
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(widget, &enter);
        const bool accepted = enter.isAccepted();
        QDropEvent event(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(widget, &event);
        return accepted;
    };
    // A web address alone is no file: refused, nothing changes.
    EXPECT_FALSE(drop({QUrl(QStringLiteral("https://example.org/x.mid"))}));
    EXPECT_EQ(window.playList.entryCount(), 1u);

    QUrl raw(QStringLiteral("file://") + QString::fromLatin1(QByteArray(dir.path("").c_str()).toPercentEncoding("/")) +
                 QStringLiteral("%E9t%E9.mid"),
             QUrl::StrictMode);
    ASSERT_TRUE(raw.isValid());
    EXPECT_TRUE(drop({QUrl::fromLocalFile(QString::fromUtf8(spaced.c_str())),
                      QUrl::fromLocalFile(QString::fromUtf8(list.c_str())), raw}));
    EXPECT_EQ(window.playList.entryCount(), 4u);
    EXPECT_EQ(std::string(window.playList.currentFile), latin1);
    EXPECT_TRUE(window.playing);
    ASSERT_TRUE(window.engine.sequencer);

    // Dropped while stopped: opened, not started.
    window.stopPlayback();
    EXPECT_TRUE(drop({QUrl::fromLocalFile(QString::fromUtf8(spaced.c_str()))}));
    EXPECT_EQ(std::string(window.playList.currentFile), spaced);
    EXPECT_EQ(window.playList.entryCount(), 4u);
    EXPECT_FALSE(window.playing);
}
