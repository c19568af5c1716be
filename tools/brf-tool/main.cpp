// brf-tool: command-line tool for BRF sound fonts.
//   brf-tool synth OUT.brf      build the default General MIDI font
//   brf-tool info FILE.brf      describe a font and list its problems
#include <cstdio>
#include <cstring>

#include "BrfTool.h"

namespace brellin::brftool {
int fromSf2Command(int argc, char** argv);
}  // namespace brellin::brftool

namespace {

struct Command {
    const char* name;
    const char* usage;
    int (*run)(int argc, char** argv);
};

// One line per subcommand, each implemented in its own source file (declared
// in BrfTool.h; CMake picks up every .cpp in this folder). A new subcommand,
// such as from-sf2 in FromSf2.cpp, adds its line here.
const Command commands[] = {
    {"synth", "synth OUT.brf      write the built-in General MIDI sound font", brellin::brftool::synthCommand},
    {"info", "info FILE.brf      print header, counts, records and problems (exit 0 sound, 1 problems, 2 unreadable)",
     brellin::brftool::infoCommand},
    {"from-sf2", "from-sf2 IN.sf2 OUT.brf [--rate HZ] [--max-size MB]   convert a SoundFont 2 or SF3 bank",
     brellin::brftool::fromSf2Command},
};

int usage() {
    std::fprintf(stderr, "usage:\n");
    for (const Command& command : commands) std::fprintf(stderr, "  brf-tool %s\n", command.usage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    for (const Command& command : commands) {
        if (std::strcmp(argv[1], command.name) == 0) return command.run(argc - 2, argv + 2);
    }
    std::fprintf(stderr, "brf-tool: unknown command \"%s\"\n", argv[1]);
    return usage();
}
