// Sequencer: plays one loaded MidiSong through the Synthesizer.
//
// It has no timer of its own. Its play thread adds a slice client of the
// first rank to the SoundOutput (through the Synthesizer's `addSliceClient`);
// the render loop calls it before every 4-ms slice, and `tick` converts the play clock
// that has passed into MIDI ticks and sends every event that has fallen due,
// so all dispatch runs on the render thread in step with the audio. When the
// song ends (or `stop` is called) the next call takes the client out and
// wakes the play thread, which resets the Synthesizer, tells the
// SongEndListener and ends.
//
// Threads:
//   - user-interface thread: construction, `load`, `play`, `resume`, `stop`,
//     destruction, and setting `volume` and the listener pointers;
//   - render thread: the slice client, `tick`, the NoteOnListener and the
//     TextEventListener;
//   - play thread: adds the client, waits for the end, resets the
//     Synthesizer, calls the SongEndListener.
//
// Locks: `lock` guards `playing`, `activeTracks`, the rewind in `play`, the
// clock base in `resume`, and is taken and released by the tick before every
// event, so no event is sent while `play`, `resume` or `stop` hold it.
//
// Ending without deadlock: `stop` marks the end under the lock but waits for
// the play thread *without* it, so a tick that is sending events finishes its
// slice (it stops sending at its next event once it sees `playing` false),
// the next call takes the client out, the play thread resets the Synthesizer
// and notifies the SongEndListener, and `stop` returns after all of that, in
// that order. The wait is bounded by 3000 ms: if the render loop never calls
// the client again (the output is closed), `stop` takes the client out
// itself and lets the play thread end without reset or notification. No
// thread is ever killed or left behind.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "common/ResultCode.h"
#include "midi/MidiSong.h"
#include "midi/SongClock.h"
#include "output/SliceClients.h"
#include "player/NoteOnListener.h"
#include "player/PlayerInterface.h"
#include "player/SongEndListener.h"
#include "player/TextEventListener.h"
#include "synth/SynthesizerInterface.h"

namespace brellin {

class Sequencer : public PlayerInterface {
public:
    // How long `stop` waits for the play thread before taking the callback out itself.
    static constexpr std::uint32_t STOP_TIMEOUT = 3000;  // ms

    explicit Sequencer(SynthesizerInterface* synthesizer);
    ~Sequencer() override;
    Sequencer(const Sequencer&) = delete;
    Sequencer& operator=(const Sequencer&) = delete;

    // Stops, then replaces the song by the file's (Standard MIDI File format 0
    // or 1, or RIFF "RMID"). On failure: no song, lastError = RESULT_FILE_IO_ERROR.
    bool load(const char* path) override;
    // Rewinds every track and starts playing from the beginning at tempo 120.
    // False when no song is loaded (nothing changes) or the play thread cannot start.
    bool play() override;
    // Starts playing from the tracks' current positions (after `stop`, the
    // song continues). False when no song is loaded or the thread cannot start.
    bool resume() override;
    // Stops playing and returns when the ending is over (see above). Always true.
    bool stop() override;

    // One slice: converts the play clock elapsed since the last tick into
    // ticks and sends every event due. Render thread (the slice client).
    void tick() noexcept;

    // The pieces of `play` and `resume` without the play thread, for a caller
    // that calls `tick` itself (tests, offline tools): `rewind` resets the
    // tracks, the tempo and the Synthesizer; `startClock` takes the current
    // play clock as the base and sets `playing`.
    bool rewind();
    void startClock();

    // Microseconds into the slice of the event at tick `at` from the slice's
    // start, by the rate the slice runs at (0 … 4000). Render thread.
    std::uint32_t eventTime(std::uint64_t at) const noexcept;

    // The routine installed in the SoundOutput; its argument is the TickRecord.
    static void clockCallback(void* argument) noexcept;

    ResultCode lastError = RESULT_OK;
    std::atomic<bool> playing{false};
    MidiSong song;
    std::int32_t activeTracks = 0;          // tracks not yet ended
    std::uint32_t lastClock = 0;            // play clock at the previous tick, ms
    std::uint32_t tickRemainder = 0;        // carried by the ms-to-ticks conversion
    TickRate sliceRate{0, 60000};           // the rate of the current slice (render thread)
    std::uint32_t sliceRemainder = 0;       // tickRemainder at the current slice's start
    std::uint32_t sliceElapsed = 4;         // play clock the current slice's tick covered, ms
    bool firstTick = false;                 // the next tick is the first since a start (guarded by `lock`)
    std::atomic<std::int32_t> volume{128};  // user volume 0 … 127 (128 until first set); scales NoteOn levels
    std::int32_t tempo = 120;               // beats per 60000 ms of play clock
    SynthesizerInterface* synthesizer;
    std::atomic<bool> threadRunning{false};  // the play thread has started and not finished

    SongEndListener* songEndListener = nullptr;
    NoteOnListener* noteOnListener = nullptr;
    TextEventListener* textEventListener = nullptr;

private:
    // The per-slice callback registration.
    struct TickRecord {
        Sequencer* owner = nullptr;
        SliceClientHandle client = 0;  // our slice client while it is listed
        bool ended = false;            // the end event (guarded by threadMutex)
    };
    friend struct SequencerDispatch;

    void playThreadMain();
    // Waits (at most STOP_TIMEOUT) for the play thread to finish and joins it.
    void finishPlayThread();
    void step(TrackState& track) noexcept;

    std::mutex lock;
    std::thread playThread;
    TickRecord tickRecord;
    // The end event and the play thread's state; also serializes adding and
    // taking out the slice client.
    std::mutex threadMutex;
    std::condition_variable threadCondition;
    bool callbackInstalled = false;
    bool threadFinished = false;
    bool abandoned = false;  // stop gave up waiting: no reset, no notification
};

}  // namespace brellin
