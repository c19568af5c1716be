// The subcommands of brf-tool. Each takes the arguments after its name and
// returns the program's exit status.
#pragma once

namespace brellin::brftool {

// brf-tool synth OUT.brf: writes the built-in General MIDI sound font.
int synthCommand(int argc, char** argv);
// brf-tool info FILE.brf: prints the font and its problems; 0 sound, 1 problems, 2 does not load.
int infoCommand(int argc, char** argv);
// Further subcommands are declared here, one source file each.

}  // namespace brellin::brftool
