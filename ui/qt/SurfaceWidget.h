// SurfaceWidget: a frameless top-level widget whose whole picture is a
// display Surface (the window's back buffer).
//
// The paint event draws the Surface as a QImage of Format_RGB555 laid over
// the Surface's own pixels (no copy). The image is rebuilt whenever the
// Surface's pixels move or change size, which a resize does. `showDirty`
// invalidates only the Surface's dirty rectangle and empties it.
//
// On a screen whose device pixel ratio is 2 or more, Qt runs the window at
// that integer multiple; the picture is scaled without smoothing, so every
// Surface pixel becomes a crisp block. Geometry stays in the Surface's
// (logical) pixels.
//
// User-interface thread only. The Surface is not owned; it must outlive the
// widget or be replaced with setSurface(nullptr) first.
#pragma once

#include <QImage>
#include <QPainter>
#include <QWidget>
#include <cstdint>

namespace brellin {

class Surface;

class SurfaceWidget : public QWidget {
public:
    explicit SurfaceWidget(QWidget* parent = nullptr);

    void setSurface(Surface* surface);
    Surface* surface() const { return backBuffer; }

    // Schedules a repaint of the Surface's dirty rectangle, then resets it.
    void showDirty();
    // Schedules a repaint of the whole window.
    void showAll();

    // The image the next paint draws (rebuilt first if the Surface moved).
    const QImage& currentImage();

    // Draws `rect` (logical pixels) of `picture` at the same place of the
    // window; parts outside the picture are black. The image over the
    // picture's pixels is kept and rebuilt only when they move.
    void drawSurface(QPainter& painter, const Surface& picture, const QRect& rect);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void rebuildImageIfMoved();
    void rebuildImageFor(const Surface* picture);

    Surface* backBuffer = nullptr;
    QImage image;  // over backBuffer's pixels
    const std::uint16_t* imagePixels = nullptr;
    std::int32_t imageWidth = 0;
    std::int32_t imageHeight = 0;
};

}  // namespace brellin
