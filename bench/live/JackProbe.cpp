#include "bench/live/JackProbe.h"

#include <jack/midiport.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <thread>

namespace brellin::bench {

namespace {

constexpr std::int64_t NOT_YET = -1;

// State shared by the two clients' process callbacks and the main thread.
struct Probe {
    ProbeOptions options;
    jack_client_t* sender = nullptr;
    jack_client_t* listener = nullptr;
    jack_port_t* midiOut = nullptr;
    jack_port_t* audioIn = nullptr;
    std::uint32_t spacing = 0;  // frames
    // Frame of note k: start + k × spacing + offset(k); set once the sender starts.
    std::atomic<std::int64_t> start{NOT_YET};
    std::unique_ptr<std::atomic<std::int64_t>[]> onsets;  // listener: first sounding frame of note k
    std::atomic<std::uint32_t> xruns{0};
    std::atomic<bool> counting{false};
    std::atomic<bool> connected{false};  // main thread: the ports are connected
    std::atomic<std::uint32_t> flooded{0};
    bool setupSent = false;
    std::int64_t soundOffAt = -1;  // sender: when All Sound Off follows a flood
    std::uint32_t nextEvent = 0;   // sender: 2 × note (+1: its note-off)

    std::uint32_t offset(std::uint32_t note, std::uint32_t period) const {
        // Spread over the period by a step prime to it.
        return (note * 37 + 5) % period;
    }
    std::int64_t noteFrame(std::uint32_t note, std::uint32_t period) const {
        return start.load() + static_cast<std::int64_t>(note) * spacing + offset(note, period);
    }
};

int sendProcess(jack_nframes_t frames, void* argument) {
    auto* p = static_cast<Probe*>(argument);
    void* buffer = jack_port_get_buffer(p->midiOut, frames);
    jack_midi_clear_buffer(buffer);
    const std::int64_t now = jack_last_frame_time(p->sender);
    const std::uint8_t on = static_cast<std::uint8_t>(0x90 | p->options.channel);
    if (!p->setupSent) {
        if (!p->connected.load()) return 0;
        const std::uint8_t program[2] = {static_cast<std::uint8_t>(0xC0 | p->options.channel), p->options.program};
        jack_midi_event_write(buffer, 0, program, 2);
        // Background voices on channel 1 (strings hold their note).
        if (p->options.backgroundVoices > 0) {
            const std::uint8_t strings[2] = {0xC1, 48};
            jack_midi_event_write(buffer, 0, strings, 2);
            for (std::uint32_t v = 0; v < p->options.backgroundVoices; ++v) {
                const std::uint8_t note[3] = {0x91, static_cast<std::uint8_t>(36 + v % 60), 60};
                jack_midi_event_write(buffer, 1, note, 3);
            }
        }
        if (p->options.floodNotes > 0) {
            std::uint32_t taken = 0;
            const std::uint32_t last = frames - 1;
            for (std::uint32_t n = 0; n < p->options.floodNotes; ++n) {
                const std::uint8_t note[3] = {0x92, static_cast<std::uint8_t>(n % 128), 100};
                if (jack_midi_event_write(buffer, std::min(2 + n / 64, last - 1), note, 3) != 0) break;
                ++taken;
            }
            p->flooded.store(taken);
            p->soundOffAt = now + 1024;
        }
        p->setupSent = true;
        // The first note a second later, when the voices have settled.
        p->start.store(now + frames + jack_get_sample_rate(p->sender));
        return 0;
    }
    if (p->soundOffAt >= 0 && now >= p->soundOffAt) {
        // Later than the flood's own slice, so that it is not cut off with it.
        const std::uint8_t soundOff[3] = {0xB2, 120, 0};
        const std::uint8_t notesOff[3] = {0xB2, 123, 0};
        jack_midi_event_write(buffer, 0, soundOff, 3);
        jack_midi_event_write(buffer, 0, notesOff, 3);
        p->soundOffAt = -1;
    }
    const std::uint32_t total = p->options.notes * 2;
    while (p->nextEvent < total) {
        const std::uint32_t note = p->nextEvent / 2;
        std::int64_t at = p->noteFrame(note, frames);
        if (p->nextEvent % 2 == 1) at += p->spacing / 2;  // the note-off half-way
        if (at >= now + frames) break;
        const std::uint32_t time = at > now ? static_cast<std::uint32_t>(at - now) : 0;
        const std::uint8_t message[3] = {static_cast<std::uint8_t>(p->nextEvent % 2 == 0 ? on : on & 0x8F),
                                         p->options.key,
                                         static_cast<std::uint8_t>(p->nextEvent % 2 == 0 ? p->options.velocity : 0)};
        if (p->nextEvent % 2 == 0) p->counting.store(true);
        jack_midi_event_write(buffer, time, message, 3);
        ++p->nextEvent;
    }
    return 0;
}

int listenProcess(jack_nframes_t frames, void* argument) {
    auto* p = static_cast<Probe*>(argument);
    const auto* in = static_cast<const float*>(jack_port_get_buffer(p->audioIn, frames));
    const std::int64_t begin = p->start.load();
    if (begin == NOT_YET) return 0;
    const std::int64_t now = jack_last_frame_time(p->listener);
    for (std::uint32_t i = 0; i < frames; ++i) {
        const std::int64_t frame = now + i;
        if (frame < begin) continue;
        const std::int64_t note = (frame - begin) / p->spacing;
        if (note >= static_cast<std::int64_t>(p->options.notes)) break;
        const auto k = static_cast<std::uint32_t>(note);
        // Sound cannot come before its note; what sounds then is the last note's tail.
        if (frame < p->noteFrame(k, frames)) continue;
        if (p->onsets[k].load(std::memory_order_relaxed) == NOT_YET && std::fabs(in[i]) >= p->options.threshold)
            p->onsets[k].store(frame, std::memory_order_relaxed);
    }
    return 0;
}

int onXrun(void* argument) {
    auto* p = static_cast<Probe*>(argument);
    if (p->counting.load()) p->xruns.fetch_add(1);
    return 0;
}

jack_client_t* openClient(const ProbeOptions& options, const char* name) {
    jack_status_t status{};
    if (options.server.empty()) return jack_client_open(name, JackNoStartServer, &status);
    return jack_client_open(name, static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status,
                            options.server.c_str());
}

}  // namespace

std::uint32_t ProbeResult::heard() const {
    return static_cast<std::uint32_t>(std::count_if(delays.begin(), delays.end(), [](auto d) { return d >= 0; }));
}

double ProbeResult::medianMs() const {
    std::vector<std::int64_t> sorted;
    for (auto d : delays)
        if (d >= 0) sorted.push_back(d);
    if (sorted.empty() || rate == 0) return -1;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t n = sorted.size();
    const double middle = n % 2 ? static_cast<double>(sorted[n / 2])
                                : (static_cast<double>(sorted[n / 2 - 1]) + static_cast<double>(sorted[n / 2])) / 2;
    return middle * 1000.0 / rate;
}

double ProbeResult::spreadMs() const {
    std::int64_t low = INT64_MAX, high = -1;
    for (auto d : delays) {
        if (d < 0) continue;
        low = std::min(low, d);
        high = std::max(high, d);
    }
    return high < 0 || rate == 0 ? -1 : static_cast<double>(high - low) * 1000.0 / rate;
}

ProbeResult runProbe(const ProbeOptions& options) {
    ProbeResult result;
    Probe probe;
    probe.options = options;
    probe.onsets.reset(new std::atomic<std::int64_t>[options.notes]);
    for (std::uint32_t i = 0; i < options.notes; ++i) probe.onsets[i].store(NOT_YET);
    probe.sender = openClient(options, "probe-send");
    probe.listener = openClient(options, "probe-listen");
    if (probe.sender == nullptr || probe.listener == nullptr) {
        result.error = "cannot connect to the JACK server";
        if (probe.sender) jack_client_close(probe.sender);
        if (probe.listener) jack_client_close(probe.listener);
        return result;
    }
    result.rate = jack_get_sample_rate(probe.sender);
    result.period = jack_get_buffer_size(probe.sender);
    probe.spacing = static_cast<std::uint32_t>(options.spacingSeconds * result.rate);
    probe.midiOut = jack_port_register(probe.sender, "notes", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    probe.audioIn = jack_port_register(probe.listener, "sound", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(probe.sender, sendProcess, &probe);
    jack_set_process_callback(probe.listener, listenProcess, &probe);
    jack_set_xrun_callback(probe.listener, onXrun, &probe);
    if (probe.midiOut == nullptr || probe.audioIn == nullptr || jack_activate(probe.listener) != 0 ||
        jack_connect(probe.listener, options.audioSource.c_str(), jack_port_name(probe.audioIn)) != 0 ||
        jack_activate(probe.sender) != 0 ||
        jack_connect(probe.sender, jack_port_name(probe.midiOut), options.midiTarget.c_str()) != 0) {
        result.error = "cannot connect to " + options.midiTarget + " and " + options.audioSource;
    } else {
        result.connected = true;
        probe.connected.store(true);
        const auto length = std::chrono::duration<double>(1.5 + options.notes * options.spacingSeconds);
        const auto end = std::chrono::steady_clock::now() + length;
        while (std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            result.maxDspLoad = std::max(result.maxDspLoad, jack_cpu_load(probe.listener));
        }
    }
    jack_deactivate(probe.sender);
    jack_deactivate(probe.listener);
    for (std::uint32_t k = 0; k < options.notes && result.connected; ++k) {
        const std::int64_t onset = probe.onsets[k].load();
        result.offsets.push_back(probe.offset(k, result.period));
        result.delays.push_back(onset == NOT_YET ? -1 : onset - probe.noteFrame(k, result.period));
    }
    result.xruns = probe.xruns.load();
    result.flooded = probe.flooded.load();
    jack_client_close(probe.sender);
    jack_client_close(probe.listener);
    return result;
}

}  // namespace brellin::bench
