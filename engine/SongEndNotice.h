// SongEndNotice: the player's end-of-song notice.
//
// The Engine gives it to every Sequencer it builds as the SongEndListener. The
// Sequencer's play thread raises it (notify) when a song has ended, by itself
// or by `stop`; the user-interface thread takes it in its timer and steps the
// play list (advanceAfterSong). A notice raised by stopping the Sequencer is
// not the end of a song, so the user-interface thread clears it after every
// `stop` it makes and the Engine clears it after every shutdown and restart
// (both stop a playing Sequencer first, which notifies).
#pragma once

#include <atomic>

#include "player/SongEndListener.h"

namespace brellin {

class SongEndNotice : public SongEndListener {
public:
    // Play thread: raise the notice, then tell `wake` (the window posts
    // itself a message so that its timer need not be waited for).
    void notify() override {
        raised.store(true, std::memory_order_release);
        if (SongEndListener* listener = wake.load(std::memory_order_acquire)) listener->notify();
    }

    // User-interface thread.
    bool pending() const { return raised.load(std::memory_order_acquire); }
    // True once per raised notice; clears it.
    bool take() { return raised.exchange(false, std::memory_order_acq_rel); }
    void clear() { raised.store(false, std::memory_order_release); }

    // Told after the notice is raised; null for none. Set while no Sequencer
    // plays (the Engine sets it from its listeners at every start).
    std::atomic<SongEndListener*> wake{nullptr};

private:
    std::atomic<bool> raised{false};
};

}  // namespace brellin
