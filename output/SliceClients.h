// SliceClientList: the routines the render loop calls before every slice.
//
// Each source of events that must happen at the play clock is a client: the
// Sequencer stepping a song, a live MIDI input handing over what arrived, a
// render session watching for a song's end. They are called in a fixed
// order of their rank (SliceOrder), clients of one rank in the order they
// were added, so a watcher always sees what the event sources of the same
// slice did.
//
// Threads: `add` and `remove` from any thread, also from a client while it
// is being called (the render thread); they are serialized among themselves
// by a mutex the render thread never takes. `callAll` is the render
// thread's: it copies the table without a lock (a sequence count, retried
// in the rare case a change was under way) and calls the copy, so it never
// allocates, waits or calls the system. A client removed while its call is
// already under way, or after the render thread took its copy for this
// slice, may be called that one time more; from the next slice on it is not.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace brellin {

// The routine a client registers, called with its argument before each slice.
using ClockCallback = void (*)(void* argument);

// The rank of a client: lower ranks are called first.
enum class SliceOrder : std::uint8_t {
    Song = 0,   // the Sequencer's tick: a song's events of this slice
    Live = 1,   // live MIDI input: what arrived since the last slice
    Watch = 2,  // watchers that act on what the sources did (a render session)
};

// Names one added client; 0 is none.
using SliceClientHandle = std::uint32_t;

class SliceClientList {
public:
    static constexpr std::uint32_t CAPACITY = 8;

    // Adds a client, called from the next slice on. Returns its handle, or 0
    // when `call` is null or the list is full.
    SliceClientHandle add(ClockCallback call, void* argument, SliceOrder order);
    // Removes the client (see above for a call under way). An unknown handle,
    // or 0, is ignored. False when nothing was removed.
    bool remove(SliceClientHandle handle);
    // Render thread: calls every client in order.
    void callAll() noexcept;
    // Clients listed now.
    std::uint32_t count() const;

private:
    struct Entry {
        std::atomic<ClockCallback> call{nullptr};
        std::atomic<void*> argument{nullptr};
    };
    struct Client {
        ClockCallback call;
        void* argument;
    };
    // Writers only (listMutex held): the table in call order.
    void publish();

    mutable std::mutex listMutex;
    // The writers' own list, in call order, with each client's rank and handle.
    struct Listed {
        ClockCallback call = nullptr;
        void* argument = nullptr;
        SliceOrder order = SliceOrder::Song;
        SliceClientHandle handle = 0;
    };
    Listed listed[CAPACITY];
    std::uint32_t listedCount = 0;
    SliceClientHandle nextHandle = 1;

    // What the render thread reads: odd `sequence` while a writer changes it.
    std::atomic<std::uint32_t> sequence{0};
    std::atomic<std::uint32_t> publishedCount{0};
    Entry published[CAPACITY];
};

}  // namespace brellin
