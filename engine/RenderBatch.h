// RenderBatch: renders songs each into a file of its own in one folder,
// several at once (brellin-render --output-dir). Every song gets a
// RenderSession of its own, started from the same options and seed, so each
// file holds the same bytes as a render of that song alone (`-o FILE song`).
//
// `run` is called on one thread (the program's main thread). It starts
// `jobs` worker threads that take the songs in order; it draws the one
// progress line for the whole batch (when the options ask for progress) and
// prints every song's failure or cut on stderr as it happens. A song that
// fails leaves no file and the others go on; a sound font that cannot be
// loaded ends the batch, since every song would fail alike.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/RenderSession.h"
#include "output/files/SoundFileWriter.h"

namespace brellin {

struct BatchSong {
    std::string path;
    bool readable = true;  // false: a play list that could not be read
};

struct BatchOutcome {
    std::uint32_t rendered = 0;  // files written
    std::uint32_t failed = 0;    // songs that could not be played or written
    bool engineFailed = false;   // the engine could not start (the batch stopped)
};

// The file names (without folder) of the songs' renders: the song's name
// with the type's extension in place of its own, made unique in the batch by
// "-2", "-3" … (never taking a name another song has by itself).
std::vector<std::string> batchFileNames(const std::vector<std::string>& songs, SoundFileType type);

class RenderBatch {
public:
    // `options` as for one render (its outputPath and progressSink are set
    // per song); `jobs` ≥ 1 songs render at once.
    RenderBatch(const RenderOptions& options, std::string folder, SoundFileType type, std::uint32_t jobs);

    // Renders every song; false songs (unreadable lists) count as failed.
    BatchOutcome run(const std::vector<BatchSong>& songs);

private:
    RenderOptions options;
    std::string folder;
    SoundFileType type;
    std::uint32_t jobs;
};

}  // namespace brellin
