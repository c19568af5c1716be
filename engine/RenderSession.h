// RenderSession: plays a list of songs one after another through the
// Sequencer, offline into a sound file (WAV, FLAC, Ogg Vorbis, Opus, MP3)
// or in real time on the sound device.
// brellin-render runs on it, and so does the player window: one SoundOutput,
// one Synthesizer with its sound font and voices, one Sequencer, built from
// Settings through the Engine.
//
// Real time (no WAV file). The render thread is never held up: the session's
// slice client, of the last rank so that it runs after the Sequencer's tick
// of the same slice, only notes in atomics the slice in which a song ends.
// The user-interface thread starts a song with `beginSong`, asks
// `songHasEnded` (a poll, or on the SongEndListener's notice), and ends it
// with `endSong` (also to stop early); between two songs the render loop
// keeps rendering the reset Synthesizer's silence, so the device never runs dry.
//
// Offline (a WAV file). The Sequencer's own play thread resets the
// Synthesizer when a song has ended, at a moment that depends on thread
// scheduling, so the session puts itself between the Sequencer and the
// Synthesizer (this class is that relay, a SynthesizerInterface):
//   - a reset asked for while the render thread runs is carried out by the
//     render thread at its next call of the session's client, between two
//     slices;
//   - at the slice in which the song ends, the session notes the play
//     clock; two slices later (after the Sequencer's client has taken
//     itself out in the slice between) it waits for the play thread's reset,
//     carries it out and parks the render thread until the next song has
//     been loaded and started (or the output is finished).
// So every event and every reset happens at a fixed slice, the first tick of
// a song always covers exactly one slice, and the same command gives the
// same bytes. A WAV file starts with the first slice of the first song and
// is cut after the slice in which the last song ended. A song longer than
// `maxLengthMinutes` is cut there (a damaged delta time can claim days).
//
// Threads: construction, `start`, the song operations and `finish` run on
// one user-interface thread; the relay's operations are called by the
// Sequencer from that thread, its play thread and the render thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <atomic>

#include "engine/Engine.h"
#include "output/AudioDevice.h"
#include "output/SoundOutput.h"
#include "output/devices/WavFileDevice.h"
#include "output/files/SoundFileWriter.h"
#include "player/Sequencer.h"
#include "synth/Synthesizer.h"

namespace brellin {

class RenderProgress {
public:
    virtual ~RenderProgress() = default;
    virtual void songProgress(std::uint32_t elapsedMs, std::uint32_t totalMs) = 0;
};

struct RenderOptions {
    std::string outputPath;  // file rendered offline ("-": WAV on standard output); empty: play in real time
    SoundFileType outputType = SoundFileType::Wav;
    std::string audioDevice;  // the real-time device as BRELLIN_AUDIO_DEVICE spells it; empty: that variable
    std::string midiOut;      // real time: the MIDI port songs play on (engine/MidiOut.h); empty: the synthesizer
    bool midiOutGmReset = true;
    std::uint32_t rate = 22050;
    std::uint32_t bits = 8;
    std::uint32_t channels = 2;
    std::uint32_t voices = 32;
    std::string soundFont;                    // empty: soundFontName in the program's folder
    std::string soundFontName = "small.brf";  // the settings' SoundFontName
    int reverb = 0;                           // 0 off, 1 … 6 level
    bool lowPass = false;
    int volume = 128;                     // 0 … 128
    std::uint32_t latency = 0;            // real time: ms the output's ring holds; 0: 512 (EngineConfig)
    std::uint32_t seed = 1;               // Engine::seedRandom
    std::uint32_t maxLengthMinutes = 60;  // offline: a song is cut after this long; 0 = never
    // Where each song starts and ends, in ms of the song (0: its start; its
    // end). A start is reached by a seek, so the song sounds there as if
    // played from the beginning.
    std::uint32_t startMs = 0;
    std::uint32_t endMs = 0;
    bool progress = false;  // one-line progress display on stderr
    // Offline: told where the song is (play-clock ms of its measured length)
    // about ten times a second and at its end, on the thread that runs the session.
    RenderProgress* progressSink = nullptr;
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
    // What `start` failed at (EngineStage::Output: the file or device).
    EngineStage failedStage() const { return engine.failedStage; }
    // Plays one MIDI file to its end (offline: or to the length limit).
    // False when it cannot be loaded.
    bool playFile(const std::string& path);

    // Real time only. Ends the song that plays, then loads and starts this
    // one; false when it cannot be loaded or offline.
    bool beginSong(const std::string& path);
    // True once the song begun last has played to its end. Lock-free.
    bool songHasEnded() const;
    // Stops the song (at once when it has not ended yet) and counts it as
    // played. Nothing when no song is going.
    void endSong();
    // The Sequencer's end-of-song notice (play thread), for a caller that
    // does not poll. Before `start`.
    void setSongEndListener(SongEndListener* listener) { engine.listeners.songEnd = listener; }
    // Buffers the device found missing when it needed them (real-time devices).
    std::uint32_t deviceUnderruns() const;
    // The Synthesizer itself, for a live input that plays beside the songs
    // (real time only: offline, the render thread keeps to the songs' slices).
    SynthesizerInterface& liveSynthesizer() { return engine.synthesizer; }
    // The MIDI port songs play on (null: the built-in synthesizer).
    MidiOutPort* midiOutPort() { return engine.midiOutPort(); }
    // Set when the song that played last was stopped because the MIDI port went away.
    bool midiOutLost = false;
    // Any thread: the song that plays in real time stops, and `playFile` returns.
    void requestStop() { stopRequested.store(true); }
    // The Sequencer that plays the songs (pause, seek, speed and key; tests).
    Sequencer& player() { return *sequencer; }
    // The sound device in use (null before `start`).
    AudioDevice* outputDevice() { return output.device(); }
    // The rate the output runs at (a JACK server's own), frames per slice.
    std::uint32_t outputRate() const { return output.sampleRate; }
    // Ends the output: the WAV file is completed and cut after the last
    // song's final slice; on the device, what is queued is played out.
    // False with a message when the WAV file cannot be finished.
    bool finish(std::string& error);

    // The relay to the Synthesizer (SynthesizerInterface).
    bool sendMidi(const std::uint8_t* bytes, std::uint32_t length) override;
    bool reset() override;
    std::uint32_t outputTime() override;
    SliceClientHandle addSliceClient(ClockCallback call, void* argument, SliceOrder order) override;
    void removeSliceClient(SliceClientHandle handle) override;
    void setSystemVolume(std::int32_t value) override;
    void setUserVolume(std::int32_t value) override;
    void setEventTime(std::uint32_t microseconds) noexcept override { synthesizer->setEventTime(microseconds); }

    // Songs played, and the play-clock length of the last one (ms).
    std::uint32_t songsPlayed = 0;
    std::uint32_t lastSongClock = 0;
    // The last song was cut by maxLengthMinutes; the length its file claims (ms).
    bool lastSongCut = false;
    std::uint32_t lastSongClaimed = 0;
    // Note-on messages sent to the Synthesizer (render thread; read between songs).
    std::atomic<std::uint64_t> noteOnsSent{0};

private:
    std::atomic<bool> stopRequested{false};
    enum class SongState { Idle, Playing, Ended, Parked };

    static void sessionCallback(void* argument) noexcept;
    void onSlice() noexcept;
    void onRealTimeSlice() noexcept;
    bool prepareSong(const std::string& path);  // load, length and title
    bool playOffline();
    void performPendingResets();  // caller holds `mutex`
    void showProgress(const std::string& title, std::uint32_t elapsed, std::uint32_t total, bool last);

    RenderOptions options;
    // The engine is built from a configuration made from the options (which
    // brellin-render reads over Brellin.cfg); these Settings only stand
    // behind the engine's defaults.
    Settings settings;
    StderrMessageSink messages;
    Engine engine{settings, messages};
    SoundOutput& output = engine.output;
    // What the relay passes on to: the Synthesizer, or the MIDI port's relay.
    SynthesizerInterface* synthesizer = &engine.synthesizer;
    std::unique_ptr<Sequencer>& sequencer = engine.sequencer;
    WavFileDevice* wav = nullptr;  // owned by the output
    bool started = false;

    std::mutex mutex;
    std::condition_variable condition;
    bool renderParked = false;  // the render thread does not render: resets may happen here at once
    bool released = false;      // a held WAV device has been let go
    std::uint64_t resetsAsked = 0;
    std::uint64_t resetsDone = 0;
    std::uint64_t resetsAskedAtEnd = 0;  // the play thread's reset at a song's end comes after this
    std::uint64_t installs = 0;          // slice clients added through the relay
    SliceClientHandle sessionClient = 0;
    SongState state = SongState::Idle;
    bool goAhead = false;
    std::uint32_t firstClock = 0;  // play clock before the first rendered slice
    std::uint32_t songStartClock = 0;
    std::uint32_t songEndClock = 0;
    std::uint32_t songLimit = 0;  // song ms after which a song that has not ended is cut
    bool anySong = false;
    std::uint32_t measuredLength = 0;  // the song's length by the Sequencer's timing (ms)
    std::uint32_t maxLength = 0;       // offline length limit (ms), 0 none
    std::string songTitle;

    // Real time: the song the render thread watches (0 none; numbered from
    // 1), and the slice clock of its end, (number << 32) | clock, written by
    // the render thread. Start and limit are published before the number.
    std::atomic<std::uint32_t> watchedSong{0};
    std::atomic<std::uint64_t> songEnd{0};
    std::atomic<std::uint32_t> watchedStart{0};
    std::atomic<std::uint32_t> watchedLimit{0};
    std::uint32_t songNumber = 0;
    bool songGoing = false;
    std::string shownProgress;        // the progress line on the terminal now
    std::thread::id ownerThread;      // the thread that runs the session (main)
    std::uint32_t clockReadHere = 0;  // the play clock as last read through the relay on that thread
};

}  // namespace brellin
