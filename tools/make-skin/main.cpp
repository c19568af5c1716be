// make-skin: draws Brellin's default skin and the program's icon into a folder:
// Brellin.ini (the skin description), BrellinBack.bmp (the background, which
// fixes the window size), BrellinParts.bmp (pressed buttons and the 16
// level-meter frames), and brellin-16/32/48/64.png and .bmp (the icon).
//
//   make-skin FOLDER
//
// The build runs it into the build folder, so that a first start of the
// player shows this skin. The same fonts give the same files on every run.
#include <cstdio>
#include <string>

#include "DefaultSkin.h"
#include "ProgramIcon.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-skin FOLDER\n");
        return 2;
    }
    std::string folder = argv[1];
    if (folder.empty() || folder.back() != '/') folder += '/';
    if (!brellin::skinart::writeDefaultSkin(folder) || !brellin::skinart::writeProgramIcons(folder)) {
        std::fprintf(stderr, "make-skin: cannot write the skin into %s\n", folder.c_str());
        return 1;
    }
    return 0;
}
