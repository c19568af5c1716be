#include "engine/Engine.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>

#include "common/DirectoryListing.h"
#include "common/ExecutablePath.h"
#include "engine/MidiOut.h"
#include "output/devices/AudioDevices.h"
#if BRELLIN_HAVE_ALSA_SEQUENCER
#include "input/AlsaSequencerOutput.h"
#endif
#if BRELLIN_HAVE_JACK
#include "output/devices/JackDevice.h"
#endif

namespace brellin {

namespace {

std::int32_t clamp(std::int32_t value, std::int32_t low, std::int32_t high) {
    return value < low ? low : value > high ? high : value;
}

bool isPlainFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

Engine::Engine(Settings& settingsRecord, MessageSink& messageSink) : settings(settingsRecord), messages(messageSink) {}

Engine::~Engine() { shutdown(); }

void Engine::shutdown() {
    // A playing Sequencer is stopped while the render loop still runs: its
    // slice client then removes itself at the next slice and the ending
    // (reset, song-end notice) happens at once. Stopped after the output is
    // closed, it would wait out its 3-second limit for a callback that never
    // comes. The teardown itself keeps its order: output, voices, Sequencer.
    if (sequencer) sequencer->stop();
    // A MIDI port's last note-offs leave before the device stops.
    if (midiOutRelay) midiOutRelay->port().flush(1000);
    output.close();
    synthesizer.destroyVoices();
    sequencer.reset();
    midiOutRelay.reset();
    ownMidiOut.reset();
    // Stopping is not the end of a song: the notice it raised is dropped, so
    // the window's timer does not step to the next entry after a restart.
    songEnded.clear();
}

void Engine::seedRandom(std::uint32_t seed) {
    static std::mutex seeding;
    std::lock_guard<std::mutex> guard(seeding);
    std::srand(seed);
    synthesizer.seedRandom(static_cast<std::uint32_t>(std::rand()));
}

ResultCode Engine::startEngine() {
    EngineConfig config = engineConfigFrom(settings);
    if (skipMidiOut) config.midiOut.clear();
    const ResultCode code = start(config);
    // A sound font found in place of the configured one is remembered.
    if (!fontName.empty()) std::snprintf(settings.SoundFontName, sizeof settings.SoundFontName, "%s", fontName.c_str());
    return code;
}

ResultCode Engine::findSoundFont(const char* directory) {
    fontName.clear();
    const ResultCode code = findSoundFont(directory, settings.SoundFontName);
    if (!fontName.empty()) std::snprintf(settings.SoundFontName, sizeof settings.SoundFontName, "%s", fontName.c_str());
    return code;
}

ResultCode Engine::start(const EngineConfig& config) {
    shutdown();
    failedStage = EngineStage::Output;
    fontName.clear();
    damagedFont.clear();
    wantedFont = config.soundFontName;

    // A MIDI port outside: JACK's runs on the JACK server's clock (the
    // device that owns the port), an ALSA sequencer port on the paced null
    // device; nothing is played on the sound card.
    midiOutError.clear();
    std::string jackPort;
    if (!config.midiOut.empty()) {
        if (jackMidiOutPort(config.midiOut, jackPort)) {
#if BRELLIN_HAVE_JACK
            auto jack = std::make_unique<JackDevice>();
            jack->setMidiDestination(jackPort);
            output.setDevice(std::move(jack));
#else
            failedStage = EngineStage::MidiOut;
            midiOutError = "this build cannot play to JACK";
            return RESULT_DEVICE_ERROR;
#endif
        } else {
            output.setDevice(createAudioDevice("null"));
        }
        deviceForMidiOut = true;
    } else if (deviceForMidiOut) {
        output.setDevice(nullptr);
        deviceForMidiOut = false;
    }
    // Nobody chose a device: BRELLIN_AUDIO_DEVICE or the ALSA PCM "default".
    if (!output.device()) output.setDevice(createAudioDevice(chooseAudioDevice()));

    output.setLatency(config.latency);
    // The output's own code is not passed on.
    if (!output.open(config.bits, config.rate, config.channels)) {
        if (!config.midiOut.empty()) {
            failedStage = EngineStage::MidiOut;
            midiOutError = output.deviceErrorText();
        }
        return RESULT_UNSUPPORTED_DATA;
    }
    if (!config.midiOut.empty() && !openMidiOut(config)) {
        failedStage = EngineStage::MidiOut;
        return RESULT_DEVICE_ERROR;
    }

    output.reverbOn = config.reverb;
    output.chooseConverter();
    output.reverbLevel = clamp(config.reverbLevel, 1, 6);
    output.lowPassOn = config.lowPass;
    output.chooseConverter();

    std::string directory = !config.soundFontFolder.empty() ? config.soundFontFolder : soundFontFolder;
    if (directory.empty()) {
        char folder[4096];
        directory = dataFolder(folder, sizeof folder) ? folder : "/";
    }
    lastSearchedFolder = directory;
    failedStage = EngineStage::SoundFont;
    messages.setBusy(true);
    ResultCode found = findSoundFont(directory.c_str(), config.soundFontName);
    messages.setBusy(false);
    if (failed(found)) return found;

    failedStage = EngineStage::Voices;
    if (!synthesizer.createVoices(output, config.voices)) {
        return synthesizer.lastError;
    }
    failedStage = EngineStage::Sequencer;
    sequencer.reset(new (std::nothrow) Sequencer(sequencerTarget ? sequencerTarget : playTarget()));
    if (!sequencer) return RESULT_OUT_OF_MEMORY;

    std::int32_t volume = clamp(config.volume, 0, 127);
    sequencer->volume = volume;
    synthesizer.setUserVolume(volume);
    if (midiOutRelay) midiOutRelay->setUserVolume(volume);
    sequencer->setSpeed(speedPercent);
    sequencer->setTranspose(transposition);

    songEnded.wake.store(listeners.songEnd);
    sequencer->songEndListener = &songEnded;
    sequencer->noteOnListener = listeners.noteOn;
    sequencer->textEventListener = listeners.textEvent;
    failedStage = EngineStage::None;
    return RESULT_OK;
}

SynthesizerInterface* Engine::playTarget() {
    if (midiOutRelay) return midiOutRelay.get();
    return &synthesizer;
}

bool Engine::openMidiOut(const EngineConfig& config) {
    MidiOutPort* port = nullptr;
#if BRELLIN_HAVE_JACK
    if (auto* jack = dynamic_cast<JackDevice*>(output.device())) port = jack->midiOutput();
#endif
    if (port == nullptr) {
#if BRELLIN_HAVE_ALSA_SEQUENCER
        auto alsa = std::make_unique<AlsaSequencerOutput>();
        if (!alsa->open(config.midiOut, output.sampleRate, output.ringMilliseconds(), midiOutError)) return false;
        ownMidiOut = std::move(alsa);
        port = ownMidiOut.get();
#else
        midiOutError = "this build has no ALSA sequencer to play \"" + config.midiOut + "\" on";
        return false;
#endif
    }
    midiOutRelay = std::make_unique<MidiOutRelay>(output, synthesizer, *port, config.midiOutGmReset);
    return true;
}

ResultCode Engine::findSoundFont(const char* directory, const std::string& name) {
    std::string folder = directory ? directory : "";
    if (synthesizer.loadSoundFont((folder + name).c_str())) return RESULT_OK;
    // There, but not a sound font we can read: said so if nothing else loads.
    if (!name.empty() && isPlainFile(folder + name)) damagedFont = folder + name;

    // Files of the pattern come first in the listing, folders after them.
    DirectoryListing listing;
    if (!listing.scan(folder.c_str(), "*.BRF"))
        return damagedFont.empty() ? RESULT_NO_SOUND_FONT : RESULT_UNSUPPORTED_FORMAT;
    const DirectoryEntry* candidate = nullptr;
    for (std::uint32_t i = 0; i < listing.count() && candidate == nullptr; ++i) {
        if (!listing.entry(i)->isFolder()) candidate = listing.entry(i);
    }
    if (candidate == nullptr) return damagedFont.empty() ? RESULT_NO_SOUND_FONT : RESULT_UNSUPPORTED_FORMAT;

    // Composed at full length; showMessage cuts it to its field (the name
    // as the settings field would hold it).
    char configured[sizeof settings.SoundFontName];
    std::snprintf(configured, sizeof configured, "%s", name.c_str());
    std::size_t noteSize = sizeof configured + sizeof candidate->name + 64;
    std::string note(noteSize, '\0');
    int length = std::snprintf(note.data(), note.size(), TEXT_SOUND_FONT_REPLACED, configured, candidate->name);
    note.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    char replacement[sizeof settings.SoundFontName];
    std::snprintf(replacement, sizeof replacement, "%s", candidate->name);
    fontName = replacement;

    // Only this one candidate is tried.
    if (!synthesizer.loadSoundFont((folder + fontName).c_str())) {
        damagedFont = folder + fontName;
        return synthesizer.lastError;
    }
    damagedFont.clear();
    showMessage(messages, note.c_str(), MESSAGE_SOUND_FONT_REPLACED);
    return RESULT_OK;
}

EngineStart Engine::startWithFallback() {
    lastStartCode = startEngine();
    if (failedStage == EngineStage::MidiOut) {
        // The port is not there (unplugged, its program not running): said
        // once, and the built-in synthesizer plays until the next start;
        // the setting stays for when the port is back.
        const Failure what = failure();
        showMessage(messages, what.text.c_str(), what.number, what.detail);
        skipMidiOut = true;
        lastStartCode = startEngine();
        skipMidiOut = false;
    }
    if (!failed(lastStartCode)) return EngineStart::Started;
    settings.useFallbackFormat();
    lastStartCode = startEngine();
    return failed(lastStartCode) ? EngineStart::Failed : EngineStart::StartedWithFallback;
}

const char* Engine::failureText(ResultCode code) {
    return code == RESULT_NO_SOUND_FONT ? TEXT_NO_SOUND_FONT : TEXT_CANNOT_OPEN_DEVICE;
}

Engine::Failure Engine::failure() const {
    Failure what;
    if (failedStage == EngineStage::MidiOut) {
        char text[MESSAGE_SIZE + 256];
        std::snprintf(text, sizeof text, TEXT_MIDI_PORT_MISSING, engineConfigFrom(settings).midiOut.c_str());
        what.text = text;
        what.number = MESSAGE_MIDI_PORT_MISSING;
        what.detail = midiOutError + "\nThe MIDI ports there are: " + midiOutChoiceText() +
                      "\nChoose another Output in Configure.";
        return what;
    }
    if (failedStage == EngineStage::SoundFont && !damagedFont.empty()) {
        char text[MESSAGE_SIZE + 256];
        const std::size_t slash = damagedFont.rfind('/');
        const std::string name = slash == std::string::npos ? damagedFont : damagedFont.substr(slash + 1);
        std::snprintf(text, sizeof text, TEXT_DAMAGED_SOUND_FONT, name.c_str());
        what.text = text;
        what.number = MESSAGE_DAMAGED_SOUND_FONT;
        what.detail = "File: " + damagedFont + "\nCheck it with: brf-tool info \"" + damagedFont +
                      "\"\nor choose another sound font in Configure, or make one with: brf-tool synth \"" +
                      lastSearchedFolder + "small.brf\"";
        return what;
    }
    what.text = failureText(lastStartCode);
    if (lastStartCode == RESULT_NO_SOUND_FONT) {
        what.number = MESSAGE_NO_SOUND_FONT;
        what.detail = "Looked for '" + wantedFont + "' and any *.brf file in " + lastSearchedFolder +
                      "\nMake one with: brf-tool synth \"" + lastSearchedFolder + "small.brf\"";
    }
    return what;
}

bool Engine::playSong(const char* path) {
    stopSong();
    return sequencer != nullptr && sequencer->load(path) && sequencer->play();
}

void Engine::stopSong() {
    if (sequencer) sequencer->stop();
    // The Sequencer tells its SongEndListener also when it is stopped: that
    // is not the end of the song.
    songEnded.clear();
}

void Engine::setVolume(std::int32_t value) {
    value = clamp(value, 0, 127);
    if (sequencer) sequencer->volume.store(value);
    synthesizer.setUserVolume(value);
    if (midiOutRelay) midiOutRelay->setUserVolume(value);
}

void Engine::pauseSong() {
    if (sequencer) sequencer->pause();
}

bool Engine::resumeSong() { return sequencer != nullptr && sequencer->paused() && sequencer->resume(); }

void Engine::seekSong(std::uint32_t ms) {
    if (sequencer) sequencer->seek(ms);
}

void Engine::setSpeed(std::int32_t percent) {
    speedPercent = clamp(percent, Sequencer::MIN_SPEED, Sequencer::MAX_SPEED);
    if (sequencer) sequencer->setSpeed(speedPercent);
}

void Engine::setTranspose(std::int32_t semitones) {
    transposition = clamp(semitones, Sequencer::MIN_TRANSPOSE, Sequencer::MAX_TRANSPOSE);
    if (sequencer) sequencer->setTranspose(transposition);
}

bool Engine::startAtProgramStart() {
    switch (startWithFallback()) {
        case EngineStart::Started: return true;
        case EngineStart::StartedWithFallback:
            showMessage(messages, FALLBACK_FORMAT_NOTICE, MESSAGE_FALLBACK_FORMAT);
            return true;
        case EngineStart::Failed: break;
    }
    const Failure what = failure();
    showMessage(messages, what.text.c_str(), what.number, what.detail);
    return false;
}

}  // namespace brellin
