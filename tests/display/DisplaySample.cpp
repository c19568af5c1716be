// Draws a sample display (the built-in skin's shapes, a smoothed title in
// Latin and Japanese letters, text at scales 0, 1 and 2) into a Surface and
// writes it as a 24-bit BMP, so that a person can look at the text layer.
//   display-sample out.bmp
#include <cstdio>

#include "display/BmpWriter.h"
#include "display/Surface.h"

using brellin::Colour;
using brellin::Surface;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: display-sample out.bmp\n");
        return 2;
    }
    Surface surface;
    surface.resize(320, 216);
    surface.fillRect(0, 0, 320, 216, Colour{200, 80, 0});
    surface.fillRect(59, 3, 236, 15, Colour{100, 50, 0});
    surface.fillRect(7, 16, 55, 28, Colour{100, 50, 0});
    surface.drawLine(7, 28, 55, 16, Colour{255, 255, 255});
    surface.drawLine(250, 5, 310, 60, Colour{255, 255, 0});
    surface.drawLine(310, 5, 250, 60, Colour{0, 255, 255});

    // The built-in display's button labels, plain text in 8 x 12.
    surface.setFont("MS Gothic", 8, 12);
    const char* labels[] = {"<", "O", ">", "_", "X"};
    const int lefts[] = {59, 96, 133, 170, 207};
    for (int i = 0; i < 5; ++i) {
        surface.fillRect(lefts[i], 16, lefts[i] + 36, 28, Colour{100, 50, 0});
        surface.drawText(lefts[i], 16, labels[i]);
    }

    // The title: smoothed, 6 x 12 like the built-in display, into its own Surface.
    Surface title;
    title.resize(177, 12);
    title.copyFrom(0, 0, surface, 59, 3, 177, 12);
    title.setFont("MS Gothic", 6, 12);
    title.setTextScale(1);
    title.drawText(0, 0, "Brellin Test - Song 01");
    surface.copyFrom(59, 3, title, 0, 0, 177, 12);

    // Larger smoothed titles: Japanese from UTF-8 and from Shift-JIS bytes.
    Surface big;
    big.resize(300, 48);
    big.fillRect(0, 0, 300, 48, Colour{0, 0, 0});
    big.setFont("MS Gothic", 12, 24);
    big.setTextScale(1);
    big.setTextColour(Colour{255, 255, 255});
    big.drawText(2, 0, "\xE3\x83\x96\xE3\x83\xAC\xE3\x83\xAA\xE3\x83\xB3 \xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88");
    big.setTextColour(Colour{255, 255, 128});
    big.drawText(2, 24, "\x83\x75\x83\x8C\x83\x8A\x83\x93");  // Shift-JIS
    big.drawText(150, 24, "Caf\xE9");                         // Latin-1
    surface.copyFrom(10, 36, big, 0, 0, 300, 48);

    // The same words at text scale 0, 1 and 2 in 8 x 16.
    const char* sample = "Scale AaBbWwjg 0123 \xE3\x83\x96\xE3\x83\xAC\xE3\x83\xAA\xE3\x83\xB3";
    for (int n = 0; n <= 2; ++n) {
        surface.setFont("MS Gothic", 8, 16);
        surface.setTextScale(n);
        surface.setTextColour(Colour{255, 255, 255});
        surface.fillRect(10, 90 + n * 24, 310, 90 + n * 24 + 18, Colour{0, 0, 64});
        char line[128];
        std::snprintf(line, sizeof line, "%d %s", n, sample);
        surface.drawText(12, 91 + n * 24, line);
    }
    // A proportional face, smoothed, in a colour on a colour.
    surface.setFont("DejaVu Sans", 7, 16);
    surface.setTextScale(1);
    surface.setTextColour(Colour{0, 255, 0});
    surface.drawText(12, 162, "DejaVu Sans: Illumination WAVE");
    surface.setTextScale(0);
    surface.setTextColour(Colour{255, 255, 255});
    surface.drawText(12, 180, "Plain DejaVu Sans: Illumination WAVE");
    surface.drawText(-20, 198, "cut at the left edge and at the right edge of the picture.......");

    if (!brellin::BmpWriter::write(surface, argv[1])) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
