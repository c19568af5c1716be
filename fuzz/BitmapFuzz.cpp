// Feeds arbitrary bytes to the BMP decoder the way the skin loader uses it:
// a background fitted to the picture, a window cut out of a parts sheet by a
// negative offset, and a picture placed inside a larger Surface.
#include <cstddef>
#include <cstdint>

#include "display/BitmapLoader.h"
#include "display/Surface.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using brellin::BitmapLoader;
    using brellin::MemoryBitmapReader;
    using brellin::Surface;

    Surface background;
    std::int32_t width = 0, height = 0;
    MemoryBitmapReader whole(data, size);
    BitmapLoader::draw(background, whole, 0, 0, &width, &height, true);

    Surface button;
    button.resize(16, 8);
    MemoryBitmapReader sheet(data, size);
    BitmapLoader::draw(button, sheet, -3, -2, nullptr, nullptr, false);

    MemoryBitmapReader placed(data, size);
    BitmapLoader::draw(button, placed, 5, 3, nullptr, nullptr, false);

    Surface grown;
    grown.resize(4, 4);
    MemoryBitmapReader fitted(data, size);
    BitmapLoader::draw(grown, fitted, 2, 1, nullptr, nullptr, true);
    return 0;
}
