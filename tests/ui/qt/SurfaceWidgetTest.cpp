// The back buffer on screen, on Qt's offscreen platform (and, in
// SurfaceWidgetHiDpiTest, at a device pixel ratio of 2).
#include "ui/qt/SurfaceWidget.h"

#include <gtest/gtest.h>

#include <QPixmap>
#include <QTest>
#include <cstdlib>

#include "display/Surface.h"
#include "tests/ui/qt/QtTestApp.h"

using brellin::Colour;
using brellin::Surface;
using brellin::SurfaceWidget;

namespace {

// Paints a pattern no scaling or channel swap leaves unchanged.
void paintPattern(Surface& surface) {
    for (std::int32_t y = 0; y < surface.height(); ++y) {
        for (std::int32_t x = 0; x < surface.width(); ++x) {
            surface.pixels()[y * surface.width() + x] =
                static_cast<std::uint16_t>(((x * 7) & 31) << 10 | ((y * 5) & 31) << 5 | ((x + y) & 31));
        }
    }
}

// The widget's own picture as 5-5-5 pixels, one per device pixel.
QImage grabbed(SurfaceWidget& widget) { return widget.grab().toImage().convertToFormat(QImage::Format_RGB555); }

bool sameAsSurface(const QImage& image, const Surface& surface, int scale) {
    if (image.width() != surface.width() * scale || image.height() != surface.height() * scale) return false;
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const std::uint16_t*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if ((row[x] & 0x7fff) != surface.pixel(x / scale, y / scale)) return false;
        }
    }
    return true;
}

int expectedScale() {
    const char* factor = std::getenv("QT_SCALE_FACTOR");
    return factor ? std::atoi(factor) : 1;
}

}  // namespace

// What the window shows is the back buffer, pixel for pixel, without a copy;
// after a resize the picture follows the Surface's new pixels.
TEST(SurfaceWidget, ShowsTheBackBufferAndFollowsAResize) {
    brellin::testing::qtApp();
    Surface surface;
    ASSERT_TRUE(surface.resize(240, 32));
    paintPattern(surface);
    SurfaceWidget widget;
    widget.setSurface(&surface);
    widget.resize(240, 32);
    widget.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));

    const int scale = expectedScale();
    EXPECT_EQ(widget.devicePixelRatio(), scale);
    EXPECT_TRUE(widget.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(widget.currentImage().constBits(), reinterpret_cast<const uchar*>(surface.pixels()));
    EXPECT_TRUE(sameAsSurface(grabbed(widget), surface, scale));

    // A drawing call changes the Surface's pixels in place: the next paint shows it.
    surface.fillRect(10, 4, 30, 12, Colour{255, 0, 0});
    widget.showDirty();
    EXPECT_EQ(surface.dirtyRect().right, 0);  // showDirty empties the dirty rectangle
    EXPECT_TRUE(sameAsSurface(grabbed(widget), surface, scale));

    // A resize moves the pixels: the image must be rebuilt over the new buffer.
    ASSERT_TRUE(surface.resize(400, 150));
    paintPattern(surface);
    widget.resize(400, 150);
    EXPECT_EQ(widget.currentImage().constBits(), reinterpret_cast<const uchar*>(surface.pixels()));
    EXPECT_EQ(widget.currentImage().size(), QSize(400, 150));
    EXPECT_TRUE(sameAsSurface(grabbed(widget), surface, scale));

    // A window larger than its back buffer shows black outside it, never old pixels.
    widget.resize(420, 150);
    QImage wider = grabbed(widget);
    EXPECT_EQ(wider.pixel(410 * scale, 10 * scale) & 0xffffff, 0u);
    widget.setSurface(nullptr);
}

// Only the dirty rectangle is handed to the window system as needing paint.
TEST(SurfaceWidget, InvalidatesOnlyTheDirtyRectangle) {
    brellin::testing::qtApp();
    Surface surface;
    ASSERT_TRUE(surface.resize(100, 40));
    struct Recorder : SurfaceWidget {
        QRegion painted;
        void paintEvent(QPaintEvent* event) override {
            painted += event->region();
            SurfaceWidget::paintEvent(event);
        }
    } widget;
    widget.setSurface(&surface);
    widget.resize(100, 40);
    widget.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));
    QCoreApplication::processEvents();
    widget.painted = QRegion();

    // The dirty rectangle grows from the origin after a reset, so the
    // repainted part is (0, 0) to the far corner of what was drawn.
    surface.resetDirtyRect();
    surface.fillRect(20, 10, 30, 15, Colour{0, 255, 0});
    brellin::DirtyRect dirty = surface.dirtyRect();
    widget.showDirty();
    widget.showDirty();  // nothing new drawn: no further paint request
    QTRY_VERIFY(!widget.painted.isEmpty());
    EXPECT_EQ(widget.painted.boundingRect(),
              QRect(dirty.left, dirty.top, dirty.right - dirty.left, dirty.bottom - dirty.top));
    EXPECT_FALSE(widget.painted.contains(QPoint(60, 30)));
}
