#include "ui/qt/XcbPresenter.h"

#include <QGuiApplication>
#include <algorithm>
#include <bit>
#include <cstdlib>

#include "display/Surface.h"

#ifdef BRELLIN_HAVE_XCB
#include <xcb/xcb.h>
#endif

namespace brellin {

#ifdef BRELLIN_HAVE_XCB

namespace {

// The PutImage request's fixed part, in bytes.
constexpr std::uint32_t PUT_IMAGE_HEADER_BYTES = 24;
// The largest request every X server takes (65535 units of 4 bytes): one
// row of the widest window (32767 pixels of 4 bytes) always fits.
constexpr std::uint32_t SMALLEST_REQUEST_LIMIT = 65535u * 4;
// X coordinates and sizes are 16-bit.
constexpr std::int32_t LARGEST_COORDINATE = 32767;

// The visual type of `visual` on any screen, with its depth; null if the
// server lists no such visual.
const xcb_visualtype_t* findVisual(const xcb_setup_t* setup, xcb_visualid_t visual, std::uint8_t* depthOut) {
    for (xcb_screen_iterator_t screen = xcb_setup_roots_iterator(setup); screen.rem; xcb_screen_next(&screen)) {
        for (xcb_depth_iterator_t depth = xcb_screen_allowed_depths_iterator(screen.data); depth.rem;
             xcb_depth_next(&depth)) {
            for (xcb_visualtype_iterator_t type = xcb_depth_visuals_iterator(depth.data); type.rem;
                 xcb_visualtype_next(&type)) {
                if (type.data->visual_id != visual) continue;
                *depthOut = depth.data->depth;
                return type.data;
            }
        }
    }
    return nullptr;
}

// Bits per pixel of images of `depth` (0 if the server has no such format).
std::uint8_t bitsPerPixel(const xcb_setup_t* setup, std::uint8_t depth) {
    const xcb_format_t* formats = xcb_setup_pixmap_formats(setup);
    const int count = xcb_setup_pixmap_formats_length(setup);
    for (int i = 0; i < count; ++i) {
        if (formats[i].depth == depth) return formats[i].bits_per_pixel;
    }
    return 0;
}

}  // namespace

std::unique_ptr<XcbPresenter> XcbPresenter::forApplication() {
    auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 == nullptr || x11->connection() == nullptr) return nullptr;
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
    return std::unique_ptr<XcbPresenter>(new XcbPresenter(x11->connection()));
}

XcbPresenter::XcbPresenter(xcb_connection_t* xcb) : connection(xcb) {
    // In 4-byte units; with BIG-REQUESTS (which every current server has)
    // this is megabytes, otherwise 256 KiB.
    const std::uint64_t units = xcb_get_maximum_request_length(connection);
    maxRequestBytes = static_cast<std::uint32_t>(std::min<std::uint64_t>(units * 4, 16u << 20));
}

XcbPresenter::~XcbPresenter() {
    // The connection is Qt's and goes with the application.
    if (gc != 0 && QCoreApplication::instance() != nullptr) {
        xcb_free_gc(connection, gc);
        xcb_flush(connection);
    }
}

bool XcbPresenter::canPresent(std::uint32_t window) {
    if (window == 0 || xcb_connection_has_error(connection) != 0) return false;
    if (window == checkedWindow) return checkedUsable;
    checkedWindow = window;
    checkedUsable = false;
    if (std::endian::native != std::endian::little || maxRequestBytes < SMALLEST_REQUEST_LIMIT) return false;
    const xcb_setup_t* setup = xcb_get_setup(connection);
    if (setup == nullptr || setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) return false;

    xcb_get_window_attributes_reply_t* attributes =
        xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, window), nullptr);
    if (attributes == nullptr) return false;
    const xcb_visualid_t visual = attributes->visual;
    std::free(attributes);

    std::uint8_t depth = 0;
    const xcb_visualtype_t* type = findVisual(setup, visual, &depth);
    if (type == nullptr || type->_class != XCB_VISUAL_CLASS_TRUE_COLOR || depth != 24) return false;
    if (type->red_mask != 0xFF0000 || type->green_mask != 0xFF00 || type->blue_mask != 0xFF) return false;
    if (bitsPerPixel(setup, depth) != 32) return false;

    if (gc == 0) {
        // A graphics context serves every drawable of its depth on the
        // screen; made on this window, it outlives it.
        gc = xcb_generate_id(connection);
        const std::uint32_t noExposures = 0;
        xcb_create_gc(connection, gc, window, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
    }
    checkedUsable = true;
    return true;
}

bool XcbPresenter::put(std::uint32_t window, const Surface& picture, std::int32_t x, std::int32_t y, std::int32_t width,
                       std::int32_t height) {
    if (!canPresent(window)) return false;
    const std::int32_t left = std::max(x, 0), top = std::max(y, 0);
    const auto right = static_cast<std::int32_t>(
        std::min<std::int64_t>({std::int64_t{x} + width, picture.width(), LARGEST_COORDINATE}));
    const auto bottom = static_cast<std::int32_t>(
        std::min<std::int64_t>({std::int64_t{y} + height, picture.height(), LARGEST_COORDINATE}));
    if (right <= left || bottom <= top) return true;
    const auto columns = static_cast<std::uint32_t>(right - left);
    const std::uint32_t rowBytes = columns * 4;
    // Rows per request: as many as fit in one request (at least one, which
    // always fits: see SMALLEST_REQUEST_LIMIT).
    const std::uint32_t fit = std::max<std::uint32_t>((maxRequestBytes - PUT_IMAGE_HEADER_BYTES) / rowBytes, 1);
    const std::uint16_t* pixels = picture.pixels();
    const auto stride = static_cast<std::size_t>(picture.width());
    for (std::int32_t bandTop = top; bandTop < bottom;) {
        const auto rows = static_cast<std::uint32_t>(std::min<std::int64_t>(bottom - bandTop, fit));
        const std::size_t count = static_cast<std::size_t>(rows) * columns;
        if (converted.size() < count) converted.resize(count);
        std::uint32_t* out = converted.data();
        for (std::uint32_t row = 0; row < rows; ++row) {
            const std::uint16_t* in = pixels + (static_cast<std::size_t>(bandTop) + row) * stride + left;
            for (std::uint32_t column = 0; column < columns; ++column) *out++ = pixelOf(in[column]);
        }
        xcb_put_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, gc, static_cast<std::uint16_t>(columns),
                      static_cast<std::uint16_t>(rows), static_cast<std::int16_t>(left),
                      static_cast<std::int16_t>(bandTop), 0, 24, rows * rowBytes,
                      reinterpret_cast<const std::uint8_t*>(converted.data()));
        bandTop += static_cast<std::int32_t>(rows);
    }
    return true;
}

void XcbPresenter::flush() { xcb_flush(connection); }

#else  // built without libxcb: Qt paints everywhere

std::unique_ptr<XcbPresenter> XcbPresenter::forApplication() { return nullptr; }
XcbPresenter::XcbPresenter(xcb_connection_t* xcb) : connection(xcb) {}
XcbPresenter::~XcbPresenter() = default;
bool XcbPresenter::canPresent(std::uint32_t) { return false; }
bool XcbPresenter::put(std::uint32_t, const Surface&, std::int32_t, std::int32_t, std::int32_t, std::int32_t) {
    return false;
}
void XcbPresenter::flush() {}

#endif

}  // namespace brellin
