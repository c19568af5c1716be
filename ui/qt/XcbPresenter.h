// XcbPresenter: puts rectangles of a Surface straight into an X window with
// core PutImage requests on Qt's own xcb connection.
//
// Why: the display changes a few small rectangles (clock, meter bars, title)
// ten times a second. Through Qt each of those is a posted update request,
// a paint event with a QPainter on the backing store, and a flush that first
// waits for the X server to finish the previous shared-memory put (a round
// trip through Qt's event-reader thread). A PutImage of the changed pixels
// is one buffered request and no reply; the X server copies them at once.
//
// Only for the common case, checked per window: a TrueColor visual of depth
// 24 in 32-bit pixels, 8 bits a channel (0xFF0000, 0xFF00, 0xFF), in the
// host's own byte order. Anything else (another platform, a 16-bit or
// 30-bit screen, a translucent window) reports false and the caller uses
// Qt's paint path. The 5-bit channels are widened as Qt widens them
// ((v << 3) | (v >> 2)), so both paths put the same pixels on the screen.
//
// User-interface thread only (the thread that owns Qt's connection).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

struct xcb_connection_t;

namespace brellin {

class Surface;

class XcbPresenter {
public:
    // Null unless the application runs on Qt's "xcb" platform.
    static std::unique_ptr<XcbPresenter> forApplication();
    ~XcbPresenter();
    XcbPresenter(const XcbPresenter&) = delete;
    XcbPresenter& operator=(const XcbPresenter&) = delete;

    // True when pixels can be put into `window` (an X window id). Asks the
    // server once per window id and remembers the answer.
    bool canPresent(std::uint32_t window);

    // Queues PutImage requests for the rectangle (x, y, width, height) of
    // `picture`, clipped to it, at the same place of `window`. False when
    // the window cannot be presented to (nothing was queued).
    bool put(std::uint32_t window, const Surface& picture, std::int32_t x, std::int32_t y, std::int32_t width,
             std::int32_t height);

    // Sends what was queued.
    void flush();

    // One 5-5-5 pixel as the X server's 32-bit pixel (0x00RRGGBB).
    static std::uint32_t pixelOf(std::uint16_t rgb555) {
        const std::uint32_t r = (rgb555 >> 10) & 0x1F, g = (rgb555 >> 5) & 0x1F, b = rgb555 & 0x1F;
        return ((r << 3 | r >> 2) << 16) | ((g << 3 | g >> 2) << 8) | (b << 3 | b >> 2);
    }

private:
    explicit XcbPresenter(xcb_connection_t* xcb);

    xcb_connection_t* connection;
    std::uint32_t checkedWindow = 0;  // the window canPresent last asked about
    bool checkedUsable = false;
    std::uint32_t gc = 0;  // a graphics context of depth 24, made on first use
    std::uint32_t maxRequestBytes = 0;
    std::vector<std::uint32_t> converted;  // one request's rows; grows to the largest rectangle
};

}  // namespace brellin
