// CommandLineList: the play list of a command-line player.
//
// The files named on a command line go into a PlayList as the window would
// open them: a name ending in ".brl" (in any case) is read as a play list and
// merged, every other name is added as a song, each path once. The player
// then steps through the list: every entry once in list order, or, with
// `random`, as many picks of pickRandom as there are entries (a pick may
// repeat a song, as in the player's Random mode). Songs that a play list
// names by relative paths are taken from the list's folder (the window keeps
// them relative). `--save-list` writes the
// named files as a BRL play list through the same model.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/ResultCode.h"

namespace brellin {

struct PlayOrder {
    std::vector<std::string> songs;            // in the order they are to be played
    std::vector<std::string> unreadableLists;  // .brl files that could not be opened
};

// The songs of `files` in playing order. `seed` seeds the play list's random
// generator (used only with `random`).
PlayOrder buildPlayOrder(const std::vector<std::string>& files, bool random, std::uint32_t seed);

// Writes the songs of `files` (play lists expanded, each path once) as a BRL
// file. False with the code in `error` when the file cannot be written.
bool saveCommandLineList(const char* path, const std::vector<std::string>& files, ResultCode* error = nullptr);

}  // namespace brellin
