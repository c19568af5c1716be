#include "bench/live/MidiRecorder.h"

#include <jack/midiport.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace brellin::bench {

// ---- the recording client ---------------------------------------------------

bool MidiRecorder::open(const std::string& server, const std::string& clientName, std::string& error) {
    close();
    slots.reset(new Slot[CAPACITY]);
    count.store(0);
    lostCount.store(0);
    jack_status_t status{};
    client = server.empty()
                 ? jack_client_open(clientName.c_str(), JackNoStartServer, &status)
                 : jack_client_open(clientName.c_str(), static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                                    &status, server.c_str());
    if (client == nullptr) {
        error = "cannot join the JACK server";
        return false;
    }
    input = jack_port_register(client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    sampleRate = jack_get_sample_rate(client);
    xrunCount.store(0);
    jack_set_xrun_callback(client, &MidiRecorder::xrun, this);
    if (input == nullptr || jack_set_process_callback(client, &MidiRecorder::process, this) != 0 ||
        jack_activate(client) != 0) {
        error = "cannot register or activate the recorder";
        close();
        return false;
    }
    return true;
}

void MidiRecorder::close() {
    if (client != nullptr) {
        jack_deactivate(client);
        jack_client_close(client);
    }
    client = nullptr;
    input = nullptr;
}

std::string MidiRecorder::portName() const { return client != nullptr ? jack_port_name(input) : ""; }

int MidiRecorder::process(jack_nframes_t frames, void* self) {
    auto* recorder = static_cast<MidiRecorder*>(self);
    void* buffer = jack_port_get_buffer(recorder->input, frames);
    const std::uint64_t start = jack_last_frame_time(recorder->client);
    const std::uint32_t events = jack_midi_get_event_count(buffer);
    std::uint32_t stored = recorder->count.load(std::memory_order_relaxed);
    for (std::uint32_t i = 0; i < events; ++i) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, buffer, i) != 0) continue;
        if (stored >= CAPACITY) {
            recorder->lostCount.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        Slot& slot = recorder->slots[stored++];
        slot.frame = start + event.time;
        slot.length = static_cast<std::uint8_t>(std::min<std::size_t>(event.size, sizeof slot.bytes));
        std::copy(event.buffer, event.buffer + slot.length, slot.bytes);
    }
    recorder->count.store(stored, std::memory_order_release);
    return 0;
}

int MidiRecorder::xrun(void* self) {
    static_cast<MidiRecorder*>(self)->xrunCount.fetch_add(1);
    return 0;
}

std::vector<RecordedMessage> MidiRecorder::messages() const {
    const std::uint32_t stored = count.load(std::memory_order_acquire);
    std::vector<RecordedMessage> out(stored);
    for (std::uint32_t i = 0; i < stored; ++i) {
        out[i].frame = slots[i].frame;
        out[i].bytes.assign(slots[i].bytes, slots[i].bytes + slots[i].length);
    }
    return out;
}

// ---- the clock model ------------------------------------------------------------

namespace {

struct FileEvent {
    std::uint64_t tick;
    std::uint32_t track;
    std::uint32_t order;
    bool tempo;
    std::uint32_t microseconds;  // tempo
    std::uint8_t status;
    std::uint8_t note;
};

struct Reader {
    const std::vector<std::uint8_t>& data;
    std::size_t at;
    std::size_t end;
    bool ok() const { return at < end; }
    std::uint8_t byte() { return at < end ? data[at++] : 0; }
    std::uint32_t varLen() {
        std::uint32_t value = 0;
        for (int i = 0; i < 4 && at < end; ++i) {
            const std::uint8_t b = data[at++];
            value = value << 7 | (b & 0x7F);
            if (!(b & 0x80)) break;
        }
        return value;
    }
};

}  // namespace

bool noteTimesInClockModel(const std::string& path, std::vector<ModelNote>& notes) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (data.size() < 14 || std::string(data.begin(), data.begin() + 4) != "MThd") return false;
    const std::uint16_t division = static_cast<std::uint16_t>(data[12] << 8 | data[13]);
    std::vector<FileEvent> events;
    // A big-endian 32-bit length.
    auto length32 = [&](std::size_t from) {
        std::size_t value = 0;
        for (std::size_t i = 0; i < 4; ++i) value = value << 8 | data[from + i];
        return value;
    };
    std::size_t at = 8 + length32(4);
    std::uint32_t track = 0;
    while (at + 8 <= data.size()) {
        const std::size_t length = length32(at + 4);
        const bool isTrack =
            std::string(data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at) + 4) == "MTrk";
        Reader in{data, at + 8, std::min(data.size(), at + 8 + length)};
        at += 8 + length;
        if (!isTrack) continue;
        std::uint64_t tick = 0;
        std::uint8_t running = 0;
        std::uint32_t order = 0;
        while (in.ok()) {
            tick += in.varLen();
            std::uint8_t status = in.byte();
            if (status == 0xFF) {
                const std::uint8_t type = in.byte();
                const std::uint32_t size = in.varLen();
                if (type == 0x2F) break;
                if (type == 0x51 && size >= 3 && in.at + 3 <= in.end) {
                    const std::uint32_t us =
                        static_cast<std::uint32_t>(in.data[in.at] << 16 | in.data[in.at + 1] << 8 | in.data[in.at + 2]);
                    events.push_back({tick, track, order++, true, us, 0, 0});
                }
                in.at += size;
                continue;
            }
            if (status == 0xF0 || status == 0xF7) {
                in.at += in.varLen();
                continue;
            }
            std::uint8_t first;
            if (status < 0x80) {
                first = status;
                status = running;
            } else {
                running = status;
                first = in.byte();
            }
            const bool two = (status & 0xE0) == 0xC0;
            const std::uint8_t second = two ? 0 : in.byte();
            const std::uint8_t kind = status & 0xF0;
            if (kind == 0x90 || kind == 0x80) {
                const std::uint8_t noteStatus =
                    kind == 0x90 && second != 0 ? status : static_cast<std::uint8_t>(0x80 | (status & 0x0F));
                events.push_back({tick, track, order++, false, 0, noteStatus, first});
            }
        }
        ++track;
    }
    std::stable_sort(events.begin(), events.end(), [](const FileEvent& a, const FileEvent& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.track != b.track ? a.track < b.track : a.order < b.order;
    });

    // Slice by slice: ticks per ms = perMs / modulus at the slice's tempo.
    std::uint64_t tempo = 120;
    const bool smpte = (division & 0x8000) != 0;
    const std::uint64_t fps = smpte ? static_cast<std::uint64_t>(-static_cast<std::int8_t>(division >> 8)) : 0;
    const std::uint64_t modulus = smpte ? 1000 : 60000;
    unsigned __int128 position = 0;  // ticks × modulus since the start
    std::size_t next = 0;
    notes.clear();
    for (std::uint64_t slice = 0; next < events.size() && slice < 9000000; ++slice) {
        const std::uint64_t perMs = smpte ? fps * (division & 0xFF) : tempo * division;
        const unsigned __int128 end = position + static_cast<unsigned __int128>(perMs) * 4;
        std::uint64_t newTempo = tempo;
        while (next < events.size() && static_cast<unsigned __int128>(events[next].tick) * modulus <= end) {
            const FileEvent& event = events[next++];
            const unsigned __int128 due = static_cast<unsigned __int128>(event.tick) * modulus;
            const double into = due > position ? static_cast<double>(due - position) / static_cast<double>(perMs) : 0;
            if (event.tempo) {
                if (event.microseconds != 0) newTempo = 59863946 / event.microseconds;
            } else {
                notes.push_back({static_cast<double>(slice * 4) + into, event.status, event.note});
            }
        }
        tempo = newTempo;
        position = end;
    }
    return true;
}

TimingReport compareTiming(const std::vector<ModelNote>& expected, const std::vector<RecordedMessage>& messages,
                           std::uint32_t rate, std::uint32_t sliceFrames) {
    (void)rate;
    TimingReport report;
    report.expected = expected.size();
    std::vector<const RecordedMessage*> received;
    std::vector<std::uint8_t> statuses;
    for (const RecordedMessage& message : messages) {
        if (message.bytes.size() < 3) continue;
        const std::uint8_t kind = message.bytes[0] & 0xF0;
        if (kind != 0x80 && kind != 0x90) continue;
        received.push_back(&message);
        statuses.push_back(kind == 0x90 && message.bytes[2] != 0
                               ? message.bytes[0]
                               : static_cast<std::uint8_t>(0x80 | (message.bytes[0] & 0x0F)));
    }
    report.received = received.size();
    report.sameOrder = received.size() >= expected.size();
    for (std::size_t i = 0; i < expected.size() && i < received.size() && report.sameOrder; ++i) {
        if (statuses[i] != expected[i].status || received[i]->bytes[1] != expected[i].note) {
            report.sameOrder = false;
            char text[160];
            std::snprintf(text, sizeof text, "message %zu: expected %02X %u at %.3f ms, got %02X %u", i,
                          expected[i].status, expected[i].note, expected[i].ms, statuses[i], received[i]->bytes[1]);
            report.mismatch = text;
        }
    }
    if (!report.sameOrder && report.mismatch.empty())
        report.mismatch =
            "received " + std::to_string(received.size()) + " of " + std::to_string(expected.size()) + " note messages";
    const std::size_t compared = std::min(expected.size(), received.size());
    if (compared == 0) return report;
    const double framesPerMs = sliceFrames / 4.0;
    double sum = 0;
    for (std::size_t i = 0; i < compared; ++i) {
        const double got = static_cast<double>(received[i]->frame - received[0]->frame) / framesPerMs;
        const double error = std::fabs(got - (expected[i].ms - expected[0].ms));
        report.worstMs = std::max(report.worstMs, error);
        sum += error;
    }
    report.meanMs = sum / static_cast<double>(compared);
    return report;
}

}  // namespace brellin::bench
