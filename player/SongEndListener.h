// SongEndListener: told that playing has ended, by the song's end or by
// `stop`, after the Synthesizer was reset. Called on the Sequencer's play
// thread: only record the fact (set a flag, post a message).
#pragma once

namespace brellin {

class SongEndListener {
public:
    virtual ~SongEndListener() = default;
    virtual void notify() = 0;
};

}  // namespace brellin
