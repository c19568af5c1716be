// RenderSession: the engine of brellin-render — one SoundOutput, one
// Synthesizer with its sound font and voices, one Sequencer — playing songs
// one after another on the sound device or into a WAV file.
//
// Determinism of offline rendering. The Sequencer's own play thread resets
// the Synthesizer when a song has ended, at a moment that depends on thread
// scheduling. The session therefore gives the Sequencer the Synthesizer
// through a relay (this class is that relay, a SynthesizerInterface) and
// installs its own clock callback underneath the Sequencer's, which the
// Sequencer chains to after every tick:
//   - a reset asked for while the render thread runs is carried out by the
//     render thread at its next callback, between two slices;
//   - at the slice in which the song ends, the session notes the play
//     clock; at its next callback (two slices later, after the Sequencer's
//     callback has taken itself out) it waits for the play thread's reset,
//     carries it out and parks the render thread until the next song has
//     been loaded and started (or the output is finished).
// So every event and every reset happens at a fixed slice, the first tick of
// a song always covers exactly one slice, and the same command gives the
// same bytes. A WAV file starts with the first slice of the first song and
// is cut after the slice in which the last song ended.
//
// Used only by main() on one thread; the relay's operations are called by the
// Sequencer from the user-interface (main), play and render threads.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "output/AudioDevice.h"
#include "engine/Engine.h"
#include "output/SoundOutput.h"
#include "output/WavFileDevice.h"
#include "player/Sequencer.h"
#include "synth/Synthesizer.h"

namespace brellin {

struct RenderOptions {
    std::string outputPath;  // WAV file; empty: the sound device in real time
    AudioBackend realtimeBackend = AudioBackend::Alsa;  // the device without a WAV file (tests: Null)
    std::uint32_t rate = 22050;
    std::uint32_t bits = 8;
    std::uint32_t channels = 2;
    std::uint32_t voices = 32;
    std::string soundFont;   // empty: soundFontName in the program's folder
    std::string soundFontName = "small.brf";  // the settings' SoundFontName
    int reverb = 0;          // 0 off, 1 … 6 level
    bool lowPass = false;
    int volume = 128;        // 0 … 128
    std::uint32_t seed = 1;
    bool progress = false;   // one-line progress display on stderr
};

class RenderSession : public SynthesizerInterface {
public:
    explicit RenderSession(const RenderOptions& options);
    ~RenderSession() override;
    RenderSession(const RenderSession&) = delete;
    RenderSession& operator=(const RenderSession&) = delete;

    // Opens the output, loads the sound font, builds the voices. False with
    // a message for the terminal in `error`.
    bool start(std::string& error);
    // Plays one MIDI file to its end. False when it cannot be loaded.
    bool playFile(const std::string& path);
    // Ends the output: the WAV file is completed and cut after the last
    // song's final slice; on the device, what is queued is played out.
    // False with a message when the WAV file cannot be finished.
    bool finish(std::string& error);

    // The relay to the Synthesizer (SynthesizerInterface).
    bool sendMidi(const std::uint8_t* bytes, std::uint32_t length) override;
    bool reset() override;
    std::uint32_t outputTime() override;
    void setClockCallback(ClockCallback callback, void* argument, ClockCallback* oldCallback,
                          void** oldArgument) override;
    void setSystemVolume(std::int32_t value) override;
    void setUserVolume(std::int32_t value) override;

    // Songs played, and the play-clock length of each (ms), for tests and reports.
    std::uint32_t songsPlayed = 0;
    std::uint32_t lastSongClock = 0;
    // Note-on messages sent to the Synthesizer (render thread; read between songs).
    std::uint64_t noteOnsSent = 0;

private:
    enum class SongState { Idle, Playing, Ended, Parked };

    static void sessionCallback(void* argument) noexcept;
    void onSlice() noexcept;
    void performPendingResets();  // caller holds `mutex`
    void showProgress(const std::string& title, std::uint32_t elapsed, std::uint32_t total, bool last);

    RenderOptions options;
    // The engine is built as the player builds it: from Settings (the
    // options over Brellin.cfg) through startEngine.
    Settings settings;
    StderrMessageSink messages;
    Engine engine{settings, messages};
    SoundOutput& output = engine.output;
    Synthesizer* synthesizer = &engine.synthesizer;
    std::unique_ptr<Sequencer>& sequencer = engine.sequencer;
    WavFileDevice* wav = nullptr;  // owned by the output
    bool started = false;

    std::mutex mutex;
    std::condition_variable condition;
    bool renderParked = false;     // the render thread does not render: resets may happen here at once
    bool released = false;         // a held WAV device has been let go
    std::uint64_t resetsAsked = 0;
    std::uint64_t resetsDone = 0;
    std::uint64_t resetsAskedAtEnd = 0;  // the play thread's reset at a song's end comes after this
    std::uint64_t installs = 0;    // clock callbacks installed through the relay
    SongState state = SongState::Idle;
    bool goAhead = false;
    std::uint32_t firstClock = 0;  // play clock before the first rendered slice
    std::uint32_t songStartClock = 0;
    std::uint32_t songEndClock = 0;
    std::uint32_t songLimit = 0;   // play-clock ms after which a song that has not ended is cut
    bool songLimited = false;
    bool anySong = false;
    std::string shownProgress;     // the progress line on the terminal now
    std::thread::id ownerThread;   // the thread that runs the session (main)
    std::uint32_t clockReadHere = 0;  // the play clock as last read through the relay on that thread
};

}  // namespace brellin
