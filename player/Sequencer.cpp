#include "player/Sequencer.h"

#include <algorithm>
#include <chrono>
#include <system_error>

#include "midi/MidiFileInfo.h"
#include "midi/SongClock.h"

namespace brellin {

namespace {

constexpr std::uint8_t CONTROLLER_DAMPER = 64;
constexpr std::uint8_t CONTROLLER_ALL_SOUND_OFF = 120;
constexpr std::uint8_t CONTROLLER_ALL_NOTES_OFF = 123;

// General MIDI System On: with program 0 on every channel, the channels as a
// rewind's reset leaves them, sent as MIDI so that every synthesizer behind
// the interface takes it (the render thread cannot wait for a reset).
constexpr std::uint8_t GM_SYSTEM_ON[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};

// The system-exclusive messages that end every note: General MIDI System On
// and the GS reset (any device number). `body` follows the 0xF0.
bool endsAllNotes(const std::uint8_t* body, std::uint32_t length) noexcept {
    if (length >= 4 && body[0] == 0x7E && body[2] == 0x09 && body[3] == 0x01) return true;
    return length >= 9 && body[0] == 0x41 && body[2] == 0x42 && body[3] == 0x12 && body[4] == 0x40 && body[5] == 0x00 &&
           body[6] == 0x7F && body[7] == 0x00 && body[8] == 0x41;
}

}  // namespace

// What a seek's replay asks of the Sequencer: no lock (the render thread
// alone moves the tracks while they play), a bounded amount of work.
struct ChaseDispatch {
    Sequencer& sequencer;
    std::uint64_t budget = MAX_SCAN_VISITS;

    std::int32_t activeTracks() const noexcept { return sequencer.activeTracks; }
    bool mayContinue() const noexcept { return budget > 0 && sequencer.playing.load(std::memory_order_acquire); }
    void spend(std::uint64_t visits) noexcept { budget = visits < budget ? budget - visits : 0; }
    void step(TrackState& track, std::uint64_t) noexcept {
        spend(sequencer.song.trackCount);
        sequencer.step(track);
    }
};

// What the tick's dispatch asks of the Sequencer (SongClock.h).
struct SequencerDispatch {
    Sequencer& sequencer;

    std::int32_t activeTracks() const noexcept { return sequencer.activeTracks; }
    bool mayContinue() noexcept {
        // Events are never sent while play, resume or stop hold the lock;
        // once stop has begun, nothing more is sent.
        sequencer.lock.lock();
        sequencer.lock.unlock();
        return sequencer.playing.load(std::memory_order_acquire);
    }
    void step(TrackState& track, std::uint64_t at) noexcept {
        sequencer.synthesizer->setEventTime(sequencer.eventTime(at));
        sequencer.step(track);
    }
};

Sequencer::Sequencer(SynthesizerInterface* target) : synthesizer(target) { tickRecord.owner = this; }

Sequencer::~Sequencer() { stop(); }

bool Sequencer::load(const char* path) {
    stop();
    song.clear();
    activeTracks = 0;
    if (!song.load(path)) {
        lastError = RESULT_FILE_IO_ERROR;
        return false;
    }
    return true;
}

bool Sequencer::play() {
    if (song.empty()) return false;
    stop();
    rewind();
    return resume();
}

bool Sequencer::rewind() {
    if (song.empty()) return false;
    std::lock_guard<std::mutex> guard(lock);
    tempo = START_TEMPO;
    playing.store(false, std::memory_order_release);
    pauseWanted.store(false, std::memory_order_release);
    seekWanted.store(false, std::memory_order_release);
    pausedNow = false;
    songClock.store(0, std::memory_order_release);
    speedRemainder = 0;
    clearHeldNotes();
    activeTracks = static_cast<std::int32_t>(song.trackCount);
    synthesizer->setSystemVolume(127);
    MidiImage image = song.view();
    for (std::uint32_t i = 0; i < song.trackCount; ++i) image.rewindTrack(song.tracks[i], static_cast<std::int16_t>(i));
    synthesizer->reset();
    return true;
}

void Sequencer::startClock() {
    std::lock_guard<std::mutex> guard(lock);
    lastClock = synthesizer->outputTime();
    tickRemainder = 0;
    firstTick = true;
    startedAt.store(lastClock, std::memory_order_release);
    playing.store(true, std::memory_order_release);
}

bool Sequencer::resume() {
    if (song.empty()) return false;
    // Paused: the tick goes on at the same tick.
    if (pauseWanted.load(std::memory_order_acquire) && playing.load(std::memory_order_acquire)) {
        pauseWanted.store(false, std::memory_order_release);
        return true;
    }
    pauseWanted.store(false, std::memory_order_release);
    // A song that has just ended may still be in its ending: let that finish
    // (its play thread resets and notifies) before starting a new one.
    if (!playing.load(std::memory_order_acquire) && playThread.joinable()) finishPlayThread();

    std::lock_guard<std::mutex> guard(lock);
    lastClock = synthesizer->outputTime();
    tickRemainder = 0;
    firstTick = true;
    startedAt.store(lastClock, std::memory_order_release);
    playing.store(true, std::memory_order_release);
    if (!playThread.joinable()) {
        {
            std::lock_guard<std::mutex> thread(threadMutex);
            tickRecord.client = 0;
            tickRecord.ended = false;
            callbackInstalled = false;
            threadFinished = false;
            abandoned = false;
        }
        threadRunning.store(true, std::memory_order_release);
        try {
            playThread = std::thread(&Sequencer::playThreadMain, this);
        } catch (const std::system_error&) {
            threadRunning.store(false, std::memory_order_release);
            playing.store(false, std::memory_order_release);
            return false;
        }
    }
    return true;
}

void Sequencer::pause() {
    if (song.empty() || !playing.load(std::memory_order_acquire)) return;
    pauseWanted.store(true, std::memory_order_release);
}

void Sequencer::seek(std::uint32_t ms) {
    seekTarget.store(ms, std::memory_order_relaxed);
    seekWanted.store(true, std::memory_order_release);
}

void Sequencer::setSpeed(std::int32_t percent) {
    speed.store(percent < MIN_SPEED ? MIN_SPEED : percent > MAX_SPEED ? MAX_SPEED : percent, std::memory_order_relaxed);
}

void Sequencer::setTranspose(std::int32_t semitones) {
    transpose.store(semitones < MIN_TRANSPOSE   ? MIN_TRANSPOSE
                    : semitones > MAX_TRANSPOSE ? MAX_TRANSPOSE
                                                : semitones,
                    std::memory_order_relaxed);
}

bool Sequencer::stop() {
    {
        std::lock_guard<std::mutex> guard(lock);
        playing.store(false, std::memory_order_release);
        if (!playThread.joinable()) return true;
        // Called by the SongEndListener on the play thread itself: that
        // thread is about to end and cannot wait for itself.
        if (playThread.get_id() == std::this_thread::get_id()) return true;
    }
    // The wait happens without the lock: a tick that is sending events
    // needs it to finish its slice.
    finishPlayThread();
    return true;
}

void Sequencer::finishPlayThread() {
    {
        std::unique_lock<std::mutex> thread(threadMutex);
        bool finished = threadCondition.wait_for(thread, std::chrono::milliseconds(STOP_TIMEOUT),
                                                 [this] { return threadFinished; });
        if (!finished) {
            // The render loop has not called the callback again: take it out
            // here and let the play thread end without reset or notification.
            abandoned = true;
            if (callbackInstalled && !tickRecord.ended) synthesizer->removeSliceClient(tickRecord.client);
            tickRecord.ended = true;
            threadCondition.notify_all();
        }
    }
    playThread.join();
    std::lock_guard<std::mutex> thread(threadMutex);
    tickRecord.client = 0;
}

void Sequencer::playThreadMain() {
    std::unique_lock<std::mutex> thread(threadMutex);
    if (!abandoned) {
        tickRecord.client = synthesizer->addSliceClient(&Sequencer::clockCallback, &tickRecord, SliceOrder::Song);
        callbackInstalled = true;
        threadCondition.wait(thread, [this] { return tickRecord.ended; });
    }
    bool skipEnding = abandoned;
    thread.unlock();
    if (!skipEnding) {
        synthesizer->reset();
        if (songEndListener) songEndListener->notify();
    }
    thread.lock();
    threadFinished = true;
    threadRunning.store(false, std::memory_order_release);
    threadCondition.notify_all();
}

void Sequencer::clockCallback(void* argument) noexcept {
    TickRecord* record = static_cast<TickRecord*>(argument);
    Sequencer* owner = record->owner;
    if (owner->playing.load(std::memory_order_acquire)) {
        owner->tick();
        return;
    }
    // Playing has ended: take the client out and signal the end.
    // Nothing of the Sequencer is touched after the signal is given.
    std::lock_guard<std::mutex> thread(owner->threadMutex);
    if (record->ended) return;  // stop has already taken the callback out
    owner->synthesizer->removeSliceClient(record->client);
    record->ended = true;
    owner->threadCondition.notify_all();
}

void Sequencer::tick() noexcept {
    std::uint32_t elapsed;
    {
        std::lock_guard<std::mutex> guard(lock);
        std::uint32_t now = synthesizer->outputTime();
        // The first tick after a start covers at most one slice, however
        // many went by before the render loop first called it, so a song's
        // first events keep their distances to the next ones.
        if (firstTick && now - lastClock > SLICE_MILLISECONDS) lastClock = now - SLICE_MILLISECONDS;
        if (firstTick) startedAt.store(lastClock, std::memory_order_release);
        firstTick = false;
        elapsed = now - lastClock;  // unsigned: wrap-around is harmless
        lastClock = now;
    }
    // What a pause or a seek sends goes out at the slice's start.
    synthesizer->setEventTime(0);
    // Pause and seek: the render thread alone moves the tracks while they play.
    const bool pauseNow = pauseWanted.load(std::memory_order_acquire);
    if (seekWanted.exchange(false, std::memory_order_acq_rel)) {
        releaseHeldNotes();
        chaseTo(seekTarget.load(std::memory_order_relaxed));
        if (!pauseNow && pausedNow) pausedNow = false;
        if (!pausedNow && !pauseNow) startHeldNotes();
    }
    if (pauseNow != pausedNow) {
        pausedNow = pauseNow;
        if (pauseNow) {
            releaseHeldNotes();
        } else {
            startHeldNotes();
        }
    }
    if (pausedNow) return;

    // The song advances by the play clock scaled by the speed.
    std::uint32_t advance = elapsed;
    const std::int32_t percent = speed.load(std::memory_order_relaxed);
    if (percent != 100 || speedRemainder != 0) {
        const std::uint64_t scaled =
            static_cast<std::uint64_t>(elapsed) * static_cast<std::uint32_t>(percent) + speedRemainder;
        advance = static_cast<std::uint32_t>(scaled / 100);
        speedRemainder = static_cast<std::uint32_t>(scaled % 100);
    }
    std::uint64_t ticks;
    {
        std::lock_guard<std::mutex> guard(lock);
        sliceRate = tickRate(tempo, song.division);
        sliceRemainder = tickRemainder;
        sliceElapsed = elapsed;
        sliceAdvance = advance;
        ticks = ticksFor(advance, sliceRate, tickRemainder);
    }
    songClock.store(songClock.load(std::memory_order_relaxed) + advance, std::memory_order_release);
    SequencerDispatch dispatch{*this};
    dispatchDue(song.tracks.get(), song.trackCount, ticks, dispatch);
}

std::uint32_t Sequencer::eventTime(std::uint64_t at) const noexcept {
    // The tick moved the song by `sliceAdvance` ms (the `sliceElapsed` ms of
    // play clock before this slice, scaled by the speed). It began
    // `sliceRemainder` / modulus of a tick past a whole tick, so tick `at`
    // (counted from that whole tick) fell (at × modulus − remainder) /
    // perMillisecond ms of song into it, which is that share of the play
    // clock it covered. Its events sound that far into the last 4 ms of the
    // span, starting with this slice: one slice late, like every event the
    // synthesizer plays, but each at its own moment. (The span is 4 ms
    // unless slices went by before the first tick.)
    if (sliceRate.perMillisecond == 0 || sliceAdvance == 0) return 0;
    const unsigned __int128 scaled = static_cast<unsigned __int128>(at) * sliceRate.modulus;
    const unsigned __int128 songTime =
        scaled <= sliceRemainder ? 0 : (scaled - sliceRemainder) * 1000 / sliceRate.perMillisecond;
    const unsigned __int128 into = songTime * sliceElapsed / sliceAdvance;
    const std::uint64_t before =
        sliceElapsed > SLICE_MILLISECONDS ? static_cast<std::uint64_t>(sliceElapsed - SLICE_MILLISECONDS) * 1000 : 0;
    if (into <= before) return 0;
    const unsigned __int128 micro = into - before;
    return micro >= 4000 ? 4000 : static_cast<std::uint32_t>(micro);
}

void Sequencer::send(std::uint8_t status, std::uint8_t first, std::uint8_t second) noexcept {
    const std::uint8_t bytes[3] = {status, first, second};
    synthesizer->sendMidi(bytes, 3);
}

void Sequencer::clearHeldNotes() noexcept {
    for (auto& channel : heldVelocity)
        for (auto& velocity : channel) velocity = 0;
    for (auto& channel : heldKey)
        for (auto& key : channel) key = NOT_SENT;
    for (auto& value : damper) value = 0;
}

void Sequencer::releaseHeldNotes() noexcept {
    for (std::uint8_t channel = 0; channel < 16; ++channel) {
        for (std::uint8_t key = 0; key < 128; ++key) {
            if (heldKey[channel][key] == NOT_SENT) continue;
            send(static_cast<std::uint8_t>(0x80 | channel), heldKey[channel][key], 0);
            heldKey[channel][key] = NOT_SENT;
        }
        if (damper[channel] >= 64) send(static_cast<std::uint8_t>(0xB0 | channel), CONTROLLER_DAMPER, 0);
    }
}

void Sequencer::startHeldNotes() noexcept {
    const std::int32_t shift = transpose.load(std::memory_order_relaxed);
    for (std::uint8_t channel = 0; channel < 16; ++channel) {
        if (damper[channel] >= 64) send(static_cast<std::uint8_t>(0xB0 | channel), CONTROLLER_DAMPER, damper[channel]);
        if (channel == DRUM_CHANNEL) continue;
        for (std::uint8_t key = 0; key < 128; ++key) {
            if (heldVelocity[channel][key] == 0 || heldKey[channel][key] != NOT_SENT) continue;
            const std::int32_t sent = key + shift;
            if (sent < 0 || sent > 127) continue;
            heldKey[channel][key] = static_cast<std::uint8_t>(sent);
            send(static_cast<std::uint8_t>(0x90 | channel), static_cast<std::uint8_t>(sent),
                 heldVelocity[channel][key]);
        }
    }
}

void Sequencer::chaseTo(std::uint32_t target) noexcept {
    // The channels as a rewind leaves them, then every track from its start.
    synthesizer->sendMidi(GM_SYSTEM_ON, sizeof GM_SYSTEM_ON);
    for (std::uint8_t channel = 0; channel < 16; ++channel) {
        const std::uint8_t program[2] = {static_cast<std::uint8_t>(0xC0 | channel), 0};
        synthesizer->sendMidi(program, 2);
    }
    synthesizer->setSystemVolume(127);
    {
        std::lock_guard<std::mutex> guard(lock);
        tempo = START_TEMPO;
        tickRemainder = 0;
        activeTracks = static_cast<std::int32_t>(song.trackCount);
        MidiImage image = song.view();
        for (std::uint32_t i = 0; i < song.trackCount; ++i)
            image.rewindTrack(song.tracks[i], static_cast<std::int16_t>(i));
    }
    clearHeldNotes();
    speedRemainder = 0;

    // Slice by slice as playback at 100 % from the start would go, the
    // slices in which nothing falls due counted at once (as the information
    // scan measures a song), up to the slice that holds the target.
    chasing = true;
    ChaseDispatch dispatch{*this};
    TrackState* tracks = song.tracks.get();
    const std::uint32_t trackCount = song.trackCount;
    std::uint64_t clock = 0;
    const std::uint64_t end = target - target % SLICE_MILLISECONDS;
    while (clock < end && activeTracks > 0 && dispatch.mayContinue()) {
        const TickRate rate = tickRate(tempo, song.division);
        const std::uint64_t perSlice = rate.perMillisecond * SLICE_MILLISECONDS;
        const TrackState* next = nextDueTrack(tracks, trackCount);
        dispatch.spend(trackCount);
        if (!next) break;
        if (perSlice == 0) {
            // The clock can never reach another event: it stands at the target.
            clock = end;
            break;
        }
        if (next->delta > 0) {
            const std::uint64_t need = static_cast<std::uint64_t>(next->delta) * rate.modulus - tickRemainder;
            const std::uint64_t slices = (need + perSlice - 1) / perSlice;
            const std::uint64_t skipped = std::min(slices - 1, (end - clock) / SLICE_MILLISECONDS);
            if (skipped > 0) {
                const std::uint64_t total = tickRemainder + skipped * perSlice;
                subtractFromActive(tracks, trackCount, static_cast<std::uint32_t>(total / rate.modulus));
                tickRemainder = static_cast<std::uint32_t>(total % rate.modulus);
                clock += skipped * SLICE_MILLISECONDS;
                continue;
            }
        }
        const std::uint64_t ticks = ticksFor(SLICE_MILLISECONDS, rate, tickRemainder);
        dispatchDue(tracks, trackCount, ticks, dispatch);
        clock += SLICE_MILLISECONDS;
    }
    chasing = false;
    songClock.store(static_cast<std::uint32_t>(clock), std::memory_order_release);
}

void Sequencer::step(TrackState& track) noexcept {
    MidiEvent event = song.view().readEvent(track);
    switch (event.kind) {
        case MidiEventKind::Channel:
            if (chasing) {
                chaseChannel(event);
            } else {
                playChannel(event);
            }
            break;
        case MidiEventKind::SystemExclusive: {
            static constexpr std::uint8_t start = 0xF0, end = 0xF7;
            if (endsAllNotes(event.data, event.length)) {
                for (auto& channel : heldVelocity)
                    for (auto& velocity : channel) velocity = 0;
            }
            synthesizer->sendMidi(&start, 1);
            if (event.length > 0) synthesizer->sendMidi(event.data, event.length);
            if (event.length == 0 || event.data[event.length - 1] != 0xF7) synthesizer->sendMidi(&end, 1);
            break;
        }
        case MidiEventKind::Meta:
            if (event.metaType >= 0x01 && event.metaType <= 0x0F) {
                if (textEventListener) {
                    textEventListener->track = track.index;
                    textEventListener->type = event.metaType;
                    textEventListener->text = reinterpret_cast<const char*>(event.data);
                    textEventListener->textLength = event.length;
                    textEventListener->offset = static_cast<std::uint32_t>(event.data - song.image.get());
                    textEventListener->notify();
                }
            } else if (event.metaType == 0x51) {
                tempo = tempoAfterSetTempo(tempo, event);
            }
            break;
        case MidiEventKind::TrackEnd: {
            std::lock_guard<std::mutex> guard(lock);
            track.active = false;
            activeTracks -= 1;
            if (activeTracks <= 0) playing.store(false, std::memory_order_release);
            break;
        }
        case MidiEventKind::Escape:
        case MidiEventKind::OtherSystem:
        case MidiEventKind::NoStatus: break;
    }
}

void Sequencer::playChannel(const MidiEvent& event) noexcept {
    const std::uint8_t kind = event.status & 0xF0, channel = event.status & 0x0F;
    if (kind == 0x90 && noteOnListener) {
        noteOnListener->channel = channel;
        noteOnListener->note = event.bytes[1] & 0x7F;
        noteOnListener->level = ((event.bytes[2] & 0x7F) * volume.load(std::memory_order_relaxed)) >> 7;
        noteOnListener->notify();
    }
    if (kind != 0x80 && kind != 0x90 && kind != 0xA0) {
        if (kind == 0xB0) {
            const std::uint8_t number = event.bytes[1] & 0x7F;
            if (number == CONTROLLER_DAMPER) damper[channel] = event.bytes[2] & 0x7F;
            if (number == CONTROLLER_ALL_SOUND_OFF || number == CONTROLLER_ALL_NOTES_OFF) {
                for (auto& velocity : heldVelocity[channel]) velocity = 0;
            }
        }
        synthesizer->sendMidi(event.bytes, event.byteCount);
        return;
    }
    // A note: moved by the key (never on the drum channel); it ends with the
    // key it was sent with, whatever the key is by then.
    const std::uint8_t key = event.bytes[1] & 0x7F;
    const std::int32_t shift = channel == DRUM_CHANNEL ? 0 : transpose.load(std::memory_order_relaxed);
    std::int32_t sent = key + shift;
    if (kind == 0x90 && (event.bytes[2] & 0x7F) != 0) {
        // Struck again after the key changed: the old pitch ends first.
        const std::uint8_t before = heldKey[channel][key];
        if (before != NOT_SENT && before != sent) send(static_cast<std::uint8_t>(0x80 | channel), before, 0);
        heldVelocity[channel][key] = event.bytes[2] & 0x7F;
        heldKey[channel][key] = sent < 0 || sent > 127 ? NOT_SENT : static_cast<std::uint8_t>(sent);
    } else if (kind != 0xA0 && heldVelocity[channel][key] != 0) {
        heldVelocity[channel][key] = 0;
        sent = heldKey[channel][key] == NOT_SENT ? -1 : heldKey[channel][key];
        heldKey[channel][key] = NOT_SENT;
    }
    if (sent < 0 || sent > 127) return;
    if (sent == key) {
        synthesizer->sendMidi(event.bytes, event.byteCount);  // as the file has it
    } else {
        send(event.bytes[0], static_cast<std::uint8_t>(sent), event.bytes[2]);
    }
}

void Sequencer::chaseChannel(const MidiEvent& event) noexcept {
    const std::uint8_t kind = event.status & 0xF0, channel = event.status & 0x0F;
    switch (kind) {
        case 0x90:
        case 0x80: {
            const std::uint8_t key = event.bytes[1] & 0x7F;
            heldVelocity[channel][key] = kind == 0x90 ? event.bytes[2] & 0x7F : 0;
            heldKey[channel][key] = NOT_SENT;
            return;
        }
        case 0xA0: return;  // the pressure of a note that is not sounding
        case 0xB0: {
            const std::uint8_t number = event.bytes[1] & 0x7F;
            if (number == CONTROLLER_DAMPER) damper[channel] = event.bytes[2] & 0x7F;
            if (number == CONTROLLER_ALL_SOUND_OFF || number == CONTROLLER_ALL_NOTES_OFF) {
                for (auto& velocity : heldVelocity[channel]) velocity = 0;
            }
            break;
        }
        default: break;
    }
    synthesizer->sendMidi(event.bytes, event.byteCount);
}

}  // namespace brellin
