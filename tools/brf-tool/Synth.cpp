// brf-tool synth: writes the built-in General MIDI font.
#include <cstdio>

#include "BrfTool.h"
#include "common/ResultCode.h"
#include "fontmaker/GeneralMidiFont.h"
#include "soundfont/SoundFontWriter.h"

namespace brellin::brftool {

int synthCommand(int argc, char** argv) {
    if (argc != 1) {
        std::fprintf(stderr, "usage: brf-tool synth OUT.brf\n");
        return 2;
    }
    SoundFontWriter writer;
    buildGeneralMidiFont(writer);
    if (!writer.save(argv[0])) {
        std::fprintf(stderr, "brf-tool: cannot write %s: %s\n", argv[0], resultCodeName(writer.lastError));
        return 1;
    }
    return 0;
}

}  // namespace brellin::brftool
