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
// Pause, seek, speed and key. `pause`, `seek`, `setSpeed` and `setTranspose`
// only leave a request in atomics; the tick carries it out at its next slice
// on the render thread, so nothing else ever moves the tracks while they
// play and nothing is allocated or waited for:
//   - a pause releases the notes the song holds (note-off; a damper the song
//     holds down is lifted) and stops the song's clock; programs,
//     controllers, bend and tempo stay. `resume` goes on at the same tick,
//     puts the damper back and starts the held notes again;
//   - a seek releases what sounds, resets the channels (General MIDI System
//     On and program 0 on every channel, the state a rewind gives), then
//     replays without sound every event before the target slice except the
//     notes: programs, bank selects, controllers, RPNs, bend, channel
//     pressure, system exclusive, tempo and text events; it keeps track of
//     the notes held at the target and starts those at the target, except
//     on the drum channel, whose strokes lie before it;
//   - the speed (50 … 200 %) scales the play clock the song advances by; the
//     key (−12 … +12 semitones) moves every note but those of MIDI channel
//     10. A note ends with the key it was started with.
// The song's clock (`position`) counts milliseconds of the song as it plays
// at 100 %: at 100 % without pause or seek it is the play clock since `play`.
//
// Threads:
//   - user-interface thread: construction, `load`, `play`, `resume`, `stop`,
//     destruction, and setting `volume` and the listener pointers; `pause`,
//     `seek`, `setSpeed`, `setTranspose` and `position` from any thread;
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
    // song continues; after `pause`, at the same tick). False when no song is
    // loaded or the thread cannot start.
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

    // Holds the song where it is (see above) until `resume`. Nothing while stopped.
    void pause();
    // A pause has been asked for and not yet undone by `resume`.
    bool paused() const { return pauseWanted.load(std::memory_order_acquire); }
    // Moves the song to `ms` of song time (the slice that holds it); past the
    // end, the song ends. Taken by the next tick; `play` drops one not yet taken.
    void seek(std::uint32_t ms);
    // Milliseconds of the song played (at 100 %), as of the last tick.
    std::uint32_t position() const { return songClock.load(std::memory_order_acquire); }
    // Clamped to MIN_SPEED … MAX_SPEED percent and MIN_TRANSPOSE … MAX_TRANSPOSE semitones.
    void setSpeed(std::int32_t percent);
    void setTranspose(std::int32_t semitones);
    std::int32_t speedPercent() const { return speed.load(std::memory_order_relaxed); }
    std::int32_t transposition() const { return transpose.load(std::memory_order_relaxed); }

    static constexpr std::int32_t MIN_SPEED = 50, MAX_SPEED = 200;          // percent
    static constexpr std::int32_t MIN_TRANSPOSE = -12, MAX_TRANSPOSE = 12;  // semitones
    // MIDI channel 10, never transposed, whose held notes a seek does not start again.
    static constexpr std::uint32_t DRUM_CHANNEL = 9;

    // The routine installed in the SoundOutput; its argument is the TickRecord.
    static void clockCallback(void* argument) noexcept;

    ResultCode lastError = RESULT_OK;
    std::atomic<bool> playing{false};
    MidiSong song;
    std::int32_t activeTracks = 0;     // tracks not yet ended
    std::uint32_t lastClock = 0;       // play clock at the previous tick, ms
    std::uint32_t tickRemainder = 0;   // carried by the ms-to-ticks conversion
    TickRate sliceRate{0, 60000};      // the rate of the current slice (render thread)
    std::uint32_t sliceRemainder = 0;  // tickRemainder at the current slice's start
    std::uint32_t sliceElapsed = 4;    // play clock the current slice's tick covered, ms
    std::uint32_t sliceAdvance = 4;    // song time it moved by (the speed applied), ms
    bool firstTick = false;            // the next tick is the first since a start (guarded by `lock`)
    // The play clock at which the song's time started counting: read at a
    // start, moved by the first tick when it came more than a slice later.
    std::atomic<std::uint32_t> startedAt{0};
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
    friend struct ChaseDispatch;

    void playThreadMain();
    // Waits (at most STOP_TIMEOUT) for the play thread to finish and joins it.
    void finishPlayThread();
    void step(TrackState& track) noexcept;
    // A channel message as it plays: transposed, its note noted as held.
    void playChannel(const MidiEvent& event) noexcept;
    // The same during a seek's replay: notes only noted, the rest sent.
    void chaseChannel(const MidiEvent& event) noexcept;
    void send(std::uint8_t status, std::uint8_t first, std::uint8_t second) noexcept;
    // Render thread: the pause and seek requests as the tick carries them out.
    void releaseHeldNotes() noexcept;
    void startHeldNotes() noexcept;
    void chaseTo(std::uint32_t target) noexcept;
    void clearHeldNotes() noexcept;

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

    // Requests for the tick (any thread) and the song's clock (render thread writes).
    std::atomic<bool> pauseWanted{false};
    std::atomic<bool> seekWanted{false};
    std::atomic<std::uint32_t> seekTarget{0};
    std::atomic<std::int32_t> speed{100};
    std::atomic<std::int32_t> transpose{0};
    std::atomic<std::uint32_t> songClock{0};
    // Render thread (and `rewind` while no tick runs): what the tick has done.
    bool pausedNow = false;
    bool chasing = false;              // step replays without sound
    std::uint32_t speedRemainder = 0;  // hundredths of a song millisecond carried
    // The song's notes that are down: velocity (0: up) and the key they were
    // sent with (NOT_SENT: not sounding: out of range, paused or replayed).
    static constexpr std::uint8_t NOT_SENT = 0xFF;
    std::uint8_t heldVelocity[16][128] = {};
    std::uint8_t heldKey[16][128] = {};
    std::uint8_t damper[16] = {};  // the song's last controller 64 on each channel
};

}  // namespace brellin
