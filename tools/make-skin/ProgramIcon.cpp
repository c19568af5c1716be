// The icon: an eighth note in white on a rounded square shaded from the
// skin's display blue to a deeper blue. It is drawn on a 64-unit
// grid and scaled for each size, so every size is drawn, not resampled.
#include "ProgramIcon.h"

#include "Painter.h"
#include "PngFile.h"
#include "display/BmpWriter.h"
#include "display/Surface.h"

namespace brellin::skinart {

namespace {

template <class Target>
void drawIcon(Target& t, int size) {
    // Grid units (0..64) to eighths of a pixel.
    auto u = [size](int v) { return v * size / 8; };
    auto at = [&](int x, int y) { return P{u(x), u(y)}; };
    fillRounded(t, u(2), u(2), u(62), u(62), u(14), Rgb{70, 204, 240}, Rgb{30, 88, 200});
    const Rgb white{255, 255, 255};
    // Head tilted by 20 degrees (cos 241/256, sin 88/256), stem, flag.
    fillEllipse(t, at(24, 45), u(11), u(8), 241, -88, white);
    fillBar(t, at(31, 12), at(36, 44), white);
    const P flag[] = {at(36, 12), at(50, 25), at(50, 34), at(36, 22)};
    fillPolygon(t, flag, 4, white);
}

}  // namespace

bool writeProgramIcons(const std::string& folder) {
    for (int size : ICON_SIZES) {
        const std::string name = folder + "brellin-" + std::to_string(size);
        RgbaPicture picture(size, size);
        drawIcon(picture, size);
        if (!writePng(picture, name + ".png")) return false;

        Surface surface;
        surface.resize(size, size);
        SurfaceTarget target(surface);
        drawIcon(target, size);
        if (!BmpWriter::write(surface, (name + ".bmp").c_str())) return false;
    }
    return true;
}

}  // namespace brellin::skinart
