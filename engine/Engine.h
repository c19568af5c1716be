// Engine: builds the sound engine from a configuration value (EngineConfig):
// the player's from its Settings at start-up and after the Configure dialog,
// brellin-render's from its options.
//
// It owns the SoundOutput, the Synthesizer (with its sound font and voices)
// and the Sequencer, which every start creates anew. `startEngine` tears the
// old engine down (output, voices, Sequencer, in that order), opens the
// output in the configured format, sets reverb and filter, finds and loads
// the sound font from the program's folder, builds the voices and a new
// Sequencer wired to the player's three listeners. `startWithFallback` adds
// the one retry in 11K/8bit/mono/8ch and the messages of a failed start.
//
// Everything here runs on the user-interface thread. Destruction closes the
// output, destroys the voices and deletes the Sequencer in that order.
//
// Every Sequencer reports the end of a song to `songEnded`, which the window's
// timer takes. `shutdown` and `startEngine` stop a playing Sequencer first,
// which raises that notice too; they clear it again before they return, so a
// restart while a song plays never reads as the end of the song.
#pragma once

#include <memory>
#include <string>

#include "common/ResultCode.h"
#include "engine/EngineConfig.h"
#include "engine/Messages.h"
#include "engine/MidiOutRelay.h"
#include "engine/SongEndNotice.h"
#include "output/MidiOutPort.h"
#include "output/SoundOutput.h"
#include "player/Sequencer.h"
#include "settings/Settings.h"
#include "synth/Synthesizer.h"

namespace brellin {

// The listeners the player gives every new Sequencer (any may be null).
struct EngineListeners {
    // Told after `songEnded` is raised (to wake the window); the notice
    // itself is kept in `songEnded`.
    SongEndListener* songEnd = nullptr;
    NoteOnListener* noteOn = nullptr;
    TextEventListener* textEvent = nullptr;
};

// The step at which the last startEngine stopped.
enum class EngineStage {
    None,       // it succeeded
    Output,     // the SoundOutput could not be opened
    SoundFont,  // no sound font could be loaded
    Voices,     // the voices could not be created
    Sequencer,  // the Sequencer could not be created
    MidiOut,    // the MIDI port songs should play on could not be opened
};

enum class EngineStart {
    Started,              // in the configured format
    StartedWithFallback,  // in 11K/8bit/mono/8ch; the Settings now hold that format
    Failed,               // not even with the fallback; see the code
};

class Engine {
public:
    Engine(Settings& settings, MessageSink& messages);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Builds the engine from a configuration value.
    ResultCode start(const EngineConfig& config);
    // start with the configuration the Settings describe; a sound font found
    // in place of the configured one is written back to SoundFontName.
    ResultCode startEngine();
    // Loads `directory` + `name`, or else the first "*.BRF" file the
    // directory lists (then `replacedSoundFont` names it and the user is told).
    ResultCode findSoundFont(const char* directory, const std::string& name);
    // The same for the Settings' SoundFontName, which then names what was loaded.
    ResultCode findSoundFont(const char* directory);
    // The sound font the last start loaded in place of the configured one; empty when none.
    const std::string& replacedSoundFont() const { return fontName; }

    // The window's transport. playSong stops what plays, then loads and
    // starts the song at `path`: false when no engine runs or the song
    // cannot be loaded. stopSong stops it; the end notice a stop raises is
    // dropped. takeSongEnd is true once after a song has ended by itself.
    bool playSong(const char* path);
    void stopSong();
    bool takeSongEnd() { return songEnded.take(); }
    // True between a successful start and the next shutdown.
    bool running() const { return sequencer != nullptr; }
    // The user's volume, 0 … 127, for this song and the next.
    void setVolume(std::int32_t value);
    // Pause, seek, speed and key of the song that plays (Sequencer). The
    // speed and the key given here also hold for every later song and for
    // the Sequencers later starts build, until they are set again.
    void pauseSong();
    bool resumeSong();
    bool songPaused() const { return sequencer != nullptr && sequencer->paused(); }
    void seekSong(std::uint32_t ms);
    // Milliseconds of the song played (at 100 %); 0 without a Sequencer.
    std::uint32_t songPosition() const { return sequencer != nullptr ? sequencer->position() : 0; }
    void setSpeed(std::int32_t percent);
    void setTranspose(std::int32_t semitones);
    std::int32_t speed() const { return speedPercent; }
    std::int32_t transpose() const { return transposition; }

    // startEngine; on failure the fallback format and one more start. A
    // MIDI port that cannot be opened is said, and the built-in synthesizer
    // plays instead (the settings keep the port). The code of the last
    // start is left in `lastStartCode`.
    EngineStart startWithFallback();
    // startWithFallback with the numbered start-up messages: 4 for the
    // fallback, 2 or 3 when the engine cannot be started (the program then ends).
    bool startAtProgramStart();
    // The text for a start that failed even with the fallback.
    static const char* failureText(ResultCode code);
    // What the user is told of the last failed start: the numbered message
    // (text and number) and what to do about it (empty when nothing helps).
    // A missing sound font names the folder searched and how to make one; a
    // sound font that is there but does not load is named as damaged.
    struct Failure {
        std::string text;
        int number = MESSAGE_CANNOT_OPEN_DEVICE;
        std::string detail;
    };
    Failure failure() const;

    // The one seeding point of the runtime random generator, called once at
    // program start before anything draws a number: the player passes its
    // millisecond tick count, brellin-render its --seed. Seeds the C
    // library's generator and starts the Synthesizer's random pan (which the
    // render thread draws from a copy of its own, away from rand()'s lock)
    // with that generator's first number. Survives engine restarts. Engines
    // started on several threads at once (brellin-render's batch) each get
    // the first number after their own seed: the pair is one step.
    void seedRandom(std::uint32_t seed);

    // Tears the engine down: output, voices, Sequencer. A playing Sequencer
    // is stopped first; the song-end notice that raises is cleared.
    void shutdown();

    // The folder searched for the sound font; the program's data folder
    // unless set (tests, tools).
    void setSoundFontFolder(const char* folder) { soundFontFolder = folder ? folder : ""; }
    // The folder the last start searched for the sound font.
    const std::string& searchedFolder() const { return lastSearchedFolder; }
    // The sound font file of the last start that is there but did not load;
    // empty when none was.
    const std::string& damagedSoundFont() const { return damagedFont; }

    // What songs play on: the MIDI port's relay when songs go to a port
    // outside, else the Synthesizer.
    SynthesizerInterface* playTarget();
    // The MIDI port songs play on; null for the built-in synthesizer.
    MidiOutPort* midiOutPort() { return midiOutRelay ? &midiOutRelay->port() : nullptr; }
    // Why the MIDI port could not be opened (EngineStage::MidiOut).
    const std::string& midiOutErrorText() const { return midiOutError; }

    SoundOutput output;
    Synthesizer synthesizer;
    std::unique_ptr<Sequencer> sequencer;
    EngineListeners listeners;
    // The end-of-song notice of every Sequencer this engine builds.
    SongEndNotice songEnded;
    // What the Sequencer plays through: the Synthesizer itself unless a
    // relay in front of it is given (an offline renderer that times resets).
    SynthesizerInterface* sequencerTarget = nullptr;
    ResultCode lastStartCode = RESULT_OK;
    EngineStage failedStage = EngineStage::None;

private:
    // Opens the port of `config.midiOut` after the output; false with `midiOutError`.
    bool openMidiOut(const EngineConfig& config);

    std::unique_ptr<MidiOutPort> ownMidiOut;  // an ALSA sequencer port (a JACK one is the device's)
    std::unique_ptr<MidiOutRelay> midiOutRelay;
    bool deviceForMidiOut = false;  // the output's device was chosen for a MIDI port
    bool skipMidiOut = false;       // startEngine: the built-in synthesizer this time
    std::string midiOutError;
    Settings& settings;
    MessageSink& messages;
    std::string soundFontFolder;
    std::string lastSearchedFolder;
    std::string fontName;  // a sound font found in place of the configured one
    std::string damagedFont;
    std::string wantedFont;  // the name the last start looked for
    std::int32_t speedPercent = 100;
    std::int32_t transposition = 0;
};

}  // namespace brellin
