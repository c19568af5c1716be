#include "player/Sequencer.h"

#include <chrono>
#include <system_error>

#include "midi/SongClock.h"

namespace brellin {

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
    playing.store(true, std::memory_order_release);
}

bool Sequencer::resume() {
    if (song.empty()) return false;
    // A song that has just ended may still be in its ending: let that finish
    // (its play thread resets and notifies) before starting a new one.
    if (!playing.load(std::memory_order_acquire) && playThread.joinable()) finishPlayThread();

    std::lock_guard<std::mutex> guard(lock);
    lastClock = synthesizer->outputTime();
    tickRemainder = 0;
    firstTick = true;
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
    std::uint64_t ticks;
    {
        std::lock_guard<std::mutex> guard(lock);
        std::uint32_t now = synthesizer->outputTime();
        // The first tick after a start covers one slice, however many went
        // by before the render loop first called it, so a song's first
        // events keep their distances to the next ones.
        if (firstTick) lastClock = now - SLICE_MILLISECONDS;
        firstTick = false;
        std::uint32_t elapsed = now - lastClock;  // unsigned: wrap-around is harmless
        lastClock = now;
        sliceRate = tickRate(tempo, song.division);
        sliceRemainder = tickRemainder;
        sliceElapsed = elapsed;
        ticks = ticksFor(elapsed, sliceRate, tickRemainder);
    }
    SequencerDispatch dispatch{*this};
    dispatchDue(song.tracks.get(), song.trackCount, ticks, dispatch);
}

std::uint32_t Sequencer::eventTime(std::uint64_t at) const noexcept {
    // The tick covers the `sliceElapsed` ms of play clock before this
    // slice (4, unless slices went by before the first tick). It began
    // `sliceRemainder` / modulus of a tick past a whole tick, so tick `at`
    // (counted from that whole tick) fell (at × modulus − remainder) /
    // perMillisecond ms into it. Its events sound that far into the last 4
    // ms of the span, starting with this slice: one slice late, like every
    // event the synthesizer plays, but each at its own moment.
    if (sliceRate.perMillisecond == 0) return 0;
    const unsigned __int128 scaled = static_cast<unsigned __int128>(at) * sliceRate.modulus;
    const unsigned __int128 into =
        scaled <= sliceRemainder ? 0 : (scaled - sliceRemainder) * 1000 / sliceRate.perMillisecond;
    const std::uint64_t before =
        sliceElapsed > SLICE_MILLISECONDS ? static_cast<std::uint64_t>(sliceElapsed - SLICE_MILLISECONDS) * 1000 : 0;
    if (into <= before) return 0;
    const unsigned __int128 micro = into - before;
    return micro >= 4000 ? 4000 : static_cast<std::uint32_t>(micro);
}

void Sequencer::step(TrackState& track) noexcept {
    MidiEvent event = song.view().readEvent(track);
    switch (event.kind) {
        case MidiEventKind::Channel:
            if ((event.status & 0xF0) == 0x90 && noteOnListener) {
                noteOnListener->channel = event.status & 0x0F;
                noteOnListener->note = event.bytes[1] & 0x7F;
                noteOnListener->level = ((event.bytes[2] & 0x7F) * volume.load(std::memory_order_relaxed)) >> 7;
                noteOnListener->notify();
            }
            synthesizer->sendMidi(event.bytes, event.byteCount);
            break;
        case MidiEventKind::SystemExclusive: {
            static constexpr std::uint8_t start = 0xF0, end = 0xF7;
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

}  // namespace brellin
