// PlayerInterface: the four operations by which the application drives a
// player. The Sequencer is the one player.
#pragma once

namespace brellin {

class PlayerInterface {
public:
    virtual ~PlayerInterface() = default;

    // Replaces the song by the file's; false with the reason in the player's lastError.
    virtual bool load(const char* path) = 0;
    // Starts the song from the beginning.
    virtual bool play() = 0;
    // Starts playing from the tracks' current positions.
    virtual bool resume() = 0;
    // Stops playing; always true.
    virtual bool stop() = 0;
};

}  // namespace brellin
