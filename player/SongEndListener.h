// SongEndListener: told that playing has ended, by the song's end or by
// `stop`, after the Synthesizer was reset. Called on the Sequencer's play
// thread: only record the fact (set a flag, post a message).
//
// `stop` is not only the user's Stop: Engine::shutdown and Engine::startEngine
// (a restart after the Configure dialog) stop a playing Sequencer first, so
// they notify too. Whoever turns the notice into the next song must drop a
// notice raised by a stop; the Engine's SongEndNotice is cleared after every
// shutdown and restart for that reason.
#pragma once

namespace brellin {

class SongEndListener {
public:
    virtual ~SongEndListener() = default;
    virtual void notify() = 0;
};

}  // namespace brellin
