#include "engine/RenderSession.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "common/ExecutablePath.h"
#include "common/TextDecoder.h"
#include "midi/MidiFileInfo.h"
#include "output/devices/AudioDevices.h"

namespace brellin {

namespace {

std::string clockText(std::uint32_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%u:%02u", ms / 60000, (ms / 1000) % 60);
    return text;
}

}  // namespace

RenderSession::RenderSession(const RenderOptions& newOptions) : options(newOptions) {}

RenderSession::~RenderSession() {
    if (sequencer) sequencer->stop();
    // Output, voices, Sequencer, while the relay (this) is still whole.
    engine.shutdown();
    output.removeSliceClient(sessionClient);
}

bool RenderSession::start(std::string& error) {
    engine.seedRandom(options.seed);

    if (!options.outputPath.empty()) {
        WavFileDevice::Options deviceOptions;
        deviceOptions.skipOpeningSilence = true;
        deviceOptions.startHeld = true;
        deviceOptions.type = options.outputType;
        auto device = std::make_unique<WavFileDevice>(options.outputPath, deviceOptions);
        wav = device.get();
        output.setDevice(std::move(device));
        renderParked = true;  // nothing renders until the first song is ready
    } else {
        output.setDevice(createAudioDevice(chooseAudioDevice(options.audioDevice.c_str())));
    }
    // The options stand in for the settings they override; nothing is
    // written back to Brellin.cfg.
    EngineConfig config;
    config.rate = options.rate;
    config.bits = options.bits;
    config.channels = options.channels;
    config.voices = options.voices;
    config.reverb = options.reverb > 0;
    config.reverbLevel = options.reverb > 0 ? options.reverb : std::clamp(settings.ReverbLevel, 1, 6);
    config.lowPass = options.lowPass;
    config.volume = std::clamp(options.volume, 0, 127);
    config.latency = options.outputPath.empty() ? options.latency : 0;
    // The name as the settings field would hold it.
    char fontName[sizeof settings.SoundFontName];
    std::snprintf(fontName, sizeof fontName, "%s", options.soundFontName.c_str());
    if (!options.soundFont.empty()) {
        std::filesystem::path font(options.soundFont);
        std::string folder = font.has_parent_path() ? font.parent_path().string() : std::string(".");
        config.soundFontFolder = folder + "/";
        std::snprintf(fontName, sizeof fontName, "%s", font.filename().string().c_str());
    }
    config.soundFontName = fontName;
    config.midiOut = options.midiOut;
    config.midiOutGmReset = options.midiOutGmReset;
    engine.sequencerTarget = this;

    // On the device the player's one retry in 11K/8bit/mono/8ch; a WAV file
    // is written in the format asked for or not at all.
    ResultCode code = engine.start(config);
    if (failed(code) && !wav && engine.failedStage != EngineStage::MidiOut) {
        config.useFallbackFormat();
        code = engine.start(config);
        if (!failed(code)) showMessage(messages, FALLBACK_FORMAT_NOTICE, MESSAGE_FALLBACK_FORMAT);
    }
    if (failed(code)) {
        const std::string& tried =
            engine.replacedSoundFont().empty() ? config.soundFontName : engine.replacedSoundFont();
        std::string font = engine.searchedFolder() + tried;
        switch (engine.failedStage) {
            case EngineStage::Output:
                if (wav) {
                    error = output.deviceErrorText();
                    if (error.empty()) error = "cannot write \"" + options.outputPath + "\"";
                } else {
                    error = std::string("cannot open the sound device: ") + output.deviceErrorText() +
                            "\nUse -o FILE.wav to render into a WAV file instead.";
                }
                break;
            case EngineStage::SoundFont:
                if (code == RESULT_NO_SOUND_FONT) {
                    error = "cannot load the sound font \"" + font + "\" and no other .brf file is in \"" +
                            engine.searchedFolder() + "\"; give --soundfont PATH";
                } else {
                    error = "cannot load the sound font \"" + font + "\": " + resultCodeMeaning(code);
                }
                break;
            case EngineStage::MidiOut: error = engine.midiOutErrorText(); break;
            default: error = std::string("cannot create the voices: ") + resultCodeMeaning(code); break;
        }
        return false;
    }

    synthesizer = engine.playTarget();
    maxLength = options.maxLengthMinutes > 0xFFFFFFFFu / 60000 ? 0 : options.maxLengthMinutes * 60000;
    ownerThread = std::this_thread::get_id();
    firstClock = output.clock.load();
    sessionClient = output.addSliceClient(&RenderSession::sessionCallback, this, SliceOrder::Watch);
    started = true;
    return true;
}

bool RenderSession::prepareSong(const std::string& path) {
    if (!started || !sequencer->load(path.c_str())) return false;

    // The length the Sequencer's timing gives these very bytes. A song whose
    // clock stalls never ends by itself; it is cut one slice after it.
    measuredLength = measurePlayingTime(sequencer->song.view());

    MidiFileInfo info;
    songTitle.clear();
    if (scanMidiFile(path.c_str(), info)) {
        std::u32string decoded;
        TextDecoder::decode(info.title, info.titleLength, decoded);
        songTitle = TextDecoder::toUtf8(decoded);
    }
    if (songTitle.empty()) songTitle = std::filesystem::path(path).filename().string();
    lastSongCut = false;
    lastSongClaimed = measuredLength;
    return true;
}

bool RenderSession::playFile(const std::string& path) {
    if (wav) return prepareSong(path) && playOffline();
    if (stopRequested.load() || !beginSong(path)) return stopRequested.load();
    MidiOutPort* port = engine.midiOutPort();
    while (!songHasEnded()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (port != nullptr && port->lost()) {
            midiOutLost = true;
            break;
        }
        if (stopRequested.load()) break;
        if (options.progress) showProgress(songTitle, sequencer->position(), measuredLength, false);
    }
    endSong();
    if (options.progress) showProgress(songTitle, lastSongClock, measuredLength, true);
    return true;
}

// ---- real time -------------------------------------------------------------------

bool RenderSession::beginSong(const std::string& path) {
    if (!started || wav) return false;
    endSong();
    if (!prepareSong(path) || !sequencer->play()) return false;
    if (options.startMs > 0) sequencer->seek(options.startMs);
    // The play clock the song starts from: what `resume` read through the
    // relay on this thread (the Sequencer's own copy moves with every tick).
    watchedStart.store(clockReadHere, std::memory_order_relaxed);
    std::uint32_t limit = measuredLength >= 0xFFFFFFF8u ? 0xFFFFFFFFu : measuredLength + 4;
    if (options.endMs > 0) limit = std::min(limit, options.endMs);
    watchedLimit.store(limit, std::memory_order_relaxed);
    songNumber = songNumber == 0xFFFFFFFFu ? 1 : songNumber + 1;
    watchedSong.store(songNumber, std::memory_order_release);
    songGoing = true;
    return true;
}

bool RenderSession::songHasEnded() const {
    return songGoing && (songEnd.load(std::memory_order_acquire) >> 32) == songNumber;
}

void RenderSession::endSong() {
    if (!songGoing) return;
    // Taken out of the render thread's watch before the Sequencer stops:
    // the slice that sees the stop sees this too.
    watchedSong.store(0, std::memory_order_release);
    sequencer->stop();
    std::uint64_t end = songEnd.load(std::memory_order_acquire);
    std::uint32_t endClock = (end >> 32) == songNumber ? static_cast<std::uint32_t>(end) : output.clock.load();
    // From the moment the song's time started counting (its first tick may
    // have come a few slices after it was started).
    lastSongClock = endClock - sequencer->startedAt.load(std::memory_order_acquire);
    ++songsPlayed;
    anySong = true;
    songEndClock = endClock;
    songGoing = false;
}

std::uint32_t RenderSession::deviceUnderruns() const {
    AudioDevice* device = output.device();
    return device ? device->underruns.load(std::memory_order_relaxed) : 0;
}

void RenderSession::onRealTimeSlice() noexcept {
    const std::uint32_t song = watchedSong.load(std::memory_order_acquire);
    if (song == 0 || (songEnd.load(std::memory_order_relaxed) >> 32) == song) return;
    const std::uint32_t now = output.clock.load(std::memory_order_acquire);
    // Called after the Sequencer's tick of this slice.
    bool ended = !sequencer->playing.load(std::memory_order_acquire);
    if (!ended && sequencer->position() >= watchedLimit.load(std::memory_order_relaxed)) {
        // A song that cannot end by itself: end it at this slice, as the
        // Sequencer's own ending would.
        sequencer->playing.store(false, std::memory_order_release);
        ended = true;
    }
    if (ended) songEnd.store((static_cast<std::uint64_t>(song) << 32) | now, std::memory_order_release);
}

// ---- offline ---------------------------------------------------------------------

bool RenderSession::playOffline() {
    const std::uint32_t measured = measuredLength;
    const std::string& title = songTitle;
    const std::uint32_t total = measured;
    std::uint32_t limit = measured >= 0xFFFFFFF8u ? 0xFFFFFFFFu : measured + 4;
    // Only a song that claims more than the limit is cut by it.
    const bool limited = maxLength != 0 && maxLength < measured;
    if (limited) limit = maxLength;
    if (options.endMs > 0) limit = std::min(limit, options.endMs);

    std::uint64_t installsBefore;
    {
        std::lock_guard<std::mutex> guard(mutex);
        installsBefore = installs;
    }
    if (!sequencer->play()) return false;
    // Taken by the song's first tick, before anything sounds.
    if (options.startMs > 0) sequencer->seek(options.startMs);
    // The play clock the song starts from: what `resume` read through the
    // relay on this thread (the Sequencer's own copy moves with every tick).
    const std::uint32_t startClock = clockReadHere;
    {
        std::unique_lock<std::mutex> guard(mutex);
        condition.wait(guard, [&] { return installs > installsBefore; });
        state = SongState::Playing;
        songStartClock = startClock;
        songLimit = limit;
        goAhead = true;  // lets a parked render thread go on
        condition.notify_all();
    }
    if (wav && !released) {
        released = true;
        {
            std::lock_guard<std::mutex> guard(mutex);
            renderParked = false;
            goAhead = false;
        }
        wav->release();
    }

    bool deviceEnded = false;
    {
        std::unique_lock<std::mutex> guard(mutex);
        while (state != SongState::Parked) {
            condition.wait_for(guard, std::chrono::milliseconds(100));
            if (state == SongState::Parked) break;
            if (wav && wav->ended()) {
                // The WAV file has reached its largest size: rendering has stopped.
                deviceEnded = true;
                renderParked = true;
                condition.notify_all();
                break;
            }
            if (options.progress) showProgress(title, sequencer->position(), total, false);
            if (options.progressSink) options.progressSink->songProgress(sequencer->position(), total);
        }
    }
    sequencer->stop();
    std::lock_guard<std::mutex> guard(mutex);
    if (deviceEnded) {
        songEndClock = output.clock.load();
        state = SongState::Idle;
    }
    lastSongClock = songEndClock - songStartClock;
    lastSongCut = limited && sequencer->position() >= maxLength;
    if (options.progress) showProgress(title, lastSongClock, total, true);
    if (options.progressSink) options.progressSink->songProgress(lastSongClock, total);
    ++songsPlayed;
    anySong = true;
    return true;
}

bool RenderSession::finish(std::string& error) {
    if (!started) return true;
    if (wav) {
        // The file ends with the slice in which the last song ended; the
        // render thread is parked just after it, so nothing later has
        // reached the file yet.
        std::uint64_t frames;
        {
            std::lock_guard<std::mutex> guard(mutex);
            frames = anySong ? static_cast<std::uint64_t>(songEndClock - firstClock) / 4 * output.samplesPerSlice : 0;
        }
        wav->finishAt(frames);
        if (!released) {
            released = true;
            {
                std::lock_guard<std::mutex> guard(mutex);
                renderParked = false;
            }
            wav->release();
        } else {
            std::lock_guard<std::mutex> guard(mutex);
            state = SongState::Idle;
            goAhead = true;
            condition.notify_all();
        }
        wav->waitEnded(0);
        {
            std::lock_guard<std::mutex> guard(mutex);
            renderParked = true;
            condition.notify_all();
        }
        sequencer->stop();
        output.close();
        if (wav->lastError != RESULT_OK) {
            error = wav->errorText();
            if (error.empty()) error = "cannot finish \"" + options.outputPath + "\"";
            return false;
        }
        return true;
    }
    // On the device: let the queued buffers (eight of 64 ms) play out
    // before closing.
    endSong();
    const std::uint32_t endClock = anySong ? songEndClock : output.clock.load();
    auto waitStart = std::chrono::steady_clock::now();
    while (anySong && output.clock.load() - endClock < 9 * 64 &&
           std::chrono::steady_clock::now() - waitStart < std::chrono::seconds(2)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    sequencer->stop();
    output.close();
    return true;
}

// ---- the relay -----------------------------------------------------------------

bool RenderSession::sendMidi(const std::uint8_t* bytes, std::uint32_t length) {
    if (length == 3 && (bytes[0] & 0xF0) == 0x90) noteOnsSent.fetch_add(1, std::memory_order_relaxed);
    return synthesizer->sendMidi(bytes, length);
}

bool RenderSession::reset() {
    // In real time the play thread resets the Synthesizer itself, as in the player.
    if (!wav) return synthesizer->reset();
    std::unique_lock<std::mutex> guard(mutex);
    if (renderParked) return synthesizer->reset();
    std::uint64_t ticket = ++resetsAsked;
    condition.notify_all();
    condition.wait(guard, [&] { return resetsDone >= ticket || renderParked; });
    if (resetsDone < ticket) {
        synthesizer->reset();
        resetsDone = resetsAsked;
    }
    return true;
}

std::uint32_t RenderSession::outputTime() {
    std::uint32_t now = synthesizer->outputTime();
    if (std::this_thread::get_id() == ownerThread) clockReadHere = now;
    return now;
}

SliceClientHandle RenderSession::addSliceClient(ClockCallback call, void* argument, SliceOrder order) {
    const SliceClientHandle handle = synthesizer->addSliceClient(call, argument, order);
    if (!wav) return handle;
    std::lock_guard<std::mutex> guard(mutex);
    ++installs;
    condition.notify_all();
    return handle;
}

void RenderSession::removeSliceClient(SliceClientHandle handle) { synthesizer->removeSliceClient(handle); }

void RenderSession::setSystemVolume(std::int32_t value) { synthesizer->setSystemVolume(value); }

void RenderSession::setUserVolume(std::int32_t value) { synthesizer->setUserVolume(value); }

// ---- the render thread's side ---------------------------------------------------

void RenderSession::sessionCallback(void* argument) noexcept { static_cast<RenderSession*>(argument)->onSlice(); }

void RenderSession::performPendingResets() {
    if (resetsAsked > resetsDone) {
        synthesizer->reset();
        resetsDone = resetsAsked;
        condition.notify_all();
    }
}

void RenderSession::onSlice() noexcept {
    if (!wav) {
        onRealTimeSlice();
        return;
    }
    std::unique_lock<std::mutex> guard(mutex);
    const std::uint32_t now = output.clock.load(std::memory_order_acquire);
    // The slice after the end is the one in which the Sequencer's client
    // takes itself out and wakes its play thread; that thread's reset
    // belongs to the slice after it, whenever the thread gets to ask.
    if (state == SongState::Ended && now - songEndClock < 2 * SoundOutput::CLOCK_PER_SLICE) return;
    performPendingResets();
    switch (state) {
        case SongState::Playing:
            // Called after the Sequencer's tick of this slice.
            if (!sequencer->playing.load(std::memory_order_acquire)) {
                resetsAskedAtEnd = resetsAsked;
                state = SongState::Ended;
                songEndClock = now;
                condition.notify_all();
            } else if (sequencer->position() >= songLimit) {
                // A song that cannot end by itself: end it at this slice, as the
                // Sequencer's own ending would.
                sequencer->playing.store(false, std::memory_order_release);
                resetsAskedAtEnd = resetsAsked;
                state = SongState::Ended;
                songEndClock = now;
                condition.notify_all();
            }
            break;
        case SongState::Ended:
            // The Sequencer's client took itself out in the slice before; its
            // play thread now resets the Synthesizer. Do that here, between two
            // slices, then wait for the next song.
            condition.wait(guard, [this] { return resetsAsked > resetsAskedAtEnd; });
            performPendingResets();
            state = SongState::Parked;
            renderParked = true;
            goAhead = false;
            condition.notify_all();
            condition.wait(guard, [this] { return goAhead; });
            goAhead = false;
            renderParked = false;
            break;
        case SongState::Idle:
        case SongState::Parked: break;
    }
}

void RenderSession::showProgress(const std::string& title, std::uint32_t elapsed, std::uint32_t total, bool last) {
    if (total != 0 && elapsed > total) elapsed = total;
    std::string shown = title;
    if (shown.size() > 48) {
        std::size_t cut = 45;
        while (cut > 0 && (static_cast<unsigned char>(shown[cut]) & 0xC0) == 0x80) --cut;  // whole UTF-8 characters
        shown = shown.substr(0, cut) + "...";
    }
    std::string line = shown + "  " + clockText(elapsed) + " / " + clockText(total);
    if (line == shownProgress && !last) return;  // redraw only when the text changes
    shownProgress = last ? std::string() : line;
    std::fprintf(stderr, "\r\033[K%s%s", line.c_str(), last ? "\n" : "");
    std::fflush(stderr);
}

}  // namespace brellin
