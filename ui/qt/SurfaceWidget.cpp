#include "ui/qt/SurfaceWidget.h"

#include <QPaintEvent>
#include <QPainter>

#include "display/Surface.h"

namespace brellin {

SurfaceWidget::SurfaceWidget(QWidget* parent) : QWidget(parent, Qt::FramelessWindowHint) {
    // Every pixel comes from the back buffer: no background fill before painting.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
}

void SurfaceWidget::setSurface(Surface* surface) {
    backBuffer = surface;
    image = QImage();
    imagePixels = nullptr;
    imageWidth = imageHeight = 0;
    update();
}

void SurfaceWidget::rebuildImageIfMoved() { rebuildImageFor(backBuffer); }

void SurfaceWidget::rebuildImageFor(const Surface* picture) {
    const std::uint16_t* pixels = picture ? picture->pixels() : nullptr;
    std::int32_t w = picture ? picture->width() : 0;
    std::int32_t h = picture ? picture->height() : 0;
    if (pixels == imagePixels && w == imageWidth && h == imageHeight) return;
    imagePixels = pixels;
    imageWidth = w;
    imageHeight = h;
    if (w <= 0 || h <= 0 || !pixels) {
        image = QImage();
        return;
    }
    // Rows are exactly `w` pixels of 2 bytes (the Surface keeps `w` even, so a
    // row is a multiple of 4 bytes as QImage wants). The const constructor
    // never writes to or frees the buffer.
    image = QImage(reinterpret_cast<const uchar*>(pixels), w, h, static_cast<qsizetype>(w) * 2, QImage::Format_RGB555);
}

void SurfaceWidget::drawSurface(QPainter& painter, const Surface& picture, const QRect& rect) {
    rebuildImageFor(&picture);
    // Nearest-neighbour scaling at a device pixel ratio above 1: crisp pixels.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    QRect inside = rect.intersected(QRect(0, 0, imageWidth, imageHeight));
    if (!inside.isEmpty()) painter.drawImage(inside, image, inside);
    // Parts of the window the picture does not cover (before the first
    // resize) are black, never garbage.
    for (const QRect& outside : QRegion(rect).subtracted(QRegion(inside))) painter.fillRect(outside, Qt::black);
}

const QImage& SurfaceWidget::currentImage() {
    rebuildImageIfMoved();
    return image;
}

void SurfaceWidget::showDirty() {
    if (!backBuffer) return;
    DirtyRect dirty = backBuffer->dirtyRect();
    backBuffer->resetDirtyRect();
    if (dirty.right > dirty.left && dirty.bottom > dirty.top) {
        update(QRect(dirty.left, dirty.top, dirty.right - dirty.left, dirty.bottom - dirty.top));
    }
}

void SurfaceWidget::showAll() { update(); }

void SurfaceWidget::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    for (const QRect& rect : event->region()) {
        if (backBuffer) {
            drawSurface(painter, *backBuffer, rect);
        } else {
            painter.fillRect(rect, Qt::black);
        }
    }
}

}  // namespace brellin
