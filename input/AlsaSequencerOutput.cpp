#include "input/AlsaSequencerOutput.h"

#include <unistd.h>

#include <chrono>

#include "input/AlsaSequencerInput.h"
#include "input/SequencerEncoder.h"

namespace brellin {

namespace {

std::string portListText() {
    std::string text;
    for (const std::string& port : AlsaSequencerOutput::listPorts()) text += (text.empty() ? "" : ", ") + port;
    return text.empty() ? "none" : text;
}

std::int64_t queueNanoseconds(snd_seq_t* sequencer, int queue) {
    snd_seq_queue_status_t* status;
    snd_seq_queue_status_alloca(&status);
    if (snd_seq_get_queue_status(sequencer, queue, status) < 0) return 0;
    const snd_seq_real_time_t* time = snd_seq_queue_status_get_real_time(status);
    return static_cast<std::int64_t>(time->tv_sec) * 1000000000 + time->tv_nsec;
}

// The fields the snd_seq_ev_set_* macros set, without their int conversions.
void addressToSubscribers(snd_seq_event_t& event, int port) {
    event.source.port = static_cast<unsigned char>(port);
    event.dest.client = SND_SEQ_ADDRESS_SUBSCRIBERS;
    event.dest.port = SND_SEQ_ADDRESS_UNKNOWN;
}

}  // namespace

AlsaSequencerOutput::~AlsaSequencerOutput() { close(); }

std::vector<std::string> AlsaSequencerOutput::listPorts() {
    std::vector<std::string> ports;
    if (!AlsaSequencerInput::sequencerPresent()) return ports;
    snd_seq_t* sequencer = nullptr;
    if (snd_seq_open(&sequencer, "default", SND_SEQ_OPEN_OUTPUT, SND_SEQ_NONBLOCK) < 0) return ports;
    snd_seq_client_info_t* client;
    snd_seq_port_info_t* port;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&port);
    const int self = snd_seq_client_id(sequencer);
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(sequencer, client) >= 0) {
        const int id = snd_seq_client_info_get_client(client);
        if (id == SND_SEQ_CLIENT_SYSTEM || id == self) continue;
        snd_seq_port_info_set_client(port, id);
        snd_seq_port_info_set_port(port, -1);
        while (snd_seq_query_next_port(sequencer, port) >= 0) {
            const unsigned int wanted = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
            if ((snd_seq_port_info_get_capability(port) & wanted) != wanted) continue;
            ports.push_back(std::string(snd_seq_port_info_get_name(port)) + " " + std::to_string(id) + ":" +
                            std::to_string(snd_seq_port_info_get_port(port)));
        }
    }
    snd_seq_close(sequencer);
    return ports;
}

bool AlsaSequencerOutput::open(const std::string& destination, std::uint32_t rate, std::uint32_t headStartMs,
                               std::string& error) {
    close();
    if (!AlsaSequencerInput::sequencerPresent()) {
        error = "no ALSA sequencer (/dev/snd/seq is missing): cannot play to \"" + destination + "\"";
        return false;
    }
    int code = snd_seq_open(&sequencer, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK);
    if (code < 0) {
        sequencer = nullptr;
        error = std::string("cannot open the ALSA sequencer: ") + snd_strerror(code);
        return false;
    }
    snd_seq_set_client_name(sequencer, "Brellin");
    code = snd_seq_parse_address(sequencer, &target, destination.c_str());
    if (code < 0) {
        close();
        error = "no ALSA sequencer port \"" + destination + "\"; the ports there are: " + portListText();
        return false;
    }
    portId = snd_seq_create_simple_port(sequencer, PORT_NAME,
                                        SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ | SND_SEQ_PORT_CAP_WRITE,
                                        SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (portId < 0 || (code = snd_seq_connect_to(sequencer, portId, target.client, target.port)) < 0) {
        code = portId < 0 ? portId : code;
        close();
        error = "cannot connect to the ALSA sequencer port \"" + destination + "\" (" + snd_strerror(code) +
                "); the ports there are: " + portListText();
        return false;
    }
    // Told when the destination goes away.
    snd_seq_connect_from(sequencer, portId, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
    queueId = snd_seq_alloc_named_queue(sequencer, "Brellin song");
    if (queueId < 0 || snd_seq_start_queue(sequencer, queueId, nullptr) < 0) {
        close();
        error = "cannot make a sequencer queue";
        return false;
    }
    snd_seq_drain_output(sequencer);
    snd_seq_client_info_t* info;
    snd_seq_port_info_t* port;
    snd_seq_client_info_alloca(&info);
    snd_seq_port_info_alloca(&port);
    destinationName = destination;
    if (snd_seq_get_any_port_info(sequencer, target.client, target.port, port) >= 0)
        destinationName = std::string(snd_seq_port_info_get_name(port)) + " " + std::to_string(target.client) + ":" +
                          std::to_string(target.port);
    sampleRate = rate > 0 ? rate : 44100;
    headStartNs = (static_cast<std::uint64_t>(headStartMs) + 20) * 1000000;
    offsetKnown = false;
    lastQueuedNs.store(0);
    clearFailure();
    running.store(true, std::memory_order_release);
    sender = std::thread([this] { senderLoop(); });
    return true;
}

void AlsaSequencerOutput::close() {
    if (sender.joinable()) {
        running.store(false, std::memory_order_release);
        sender.join();
    }
    if (sequencer != nullptr) {
        // Closing drops what is still scheduled: `flush` waits for it first.
        snd_seq_drain_output(sequencer);
        snd_seq_close(sequencer);
    }
    sequencer = nullptr;
    portId = queueId = -1;
}

void AlsaSequencerOutput::flush(std::uint32_t milliseconds) {
    // Until the sender has scheduled everything and the queue has played it.
    for (std::uint32_t waited = 0; waited < milliseconds; ++waited) {
        if (!running.load(std::memory_order_acquire)) return;
        if (allSent() && queueNanoseconds(sequencer, queueId) >= lastQueuedNs.load()) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void AlsaSequencerOutput::senderLoop() {
    while (running.load(std::memory_order_acquire)) {
        watchAnnouncements();
        sendQueued();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    sendQueued();
}

void AlsaSequencerOutput::schedule(const MidiEventQueue::Message& message, std::int64_t at) {
    snd_seq_event_t event;
    snd_seq_ev_clear(&event);
    if (!encodeSequencerEvent(message.bytes, message.length, event)) return;
    snd_seq_real_time_t time{static_cast<unsigned int>(at / 1000000000), static_cast<unsigned int>(at % 1000000000)};
    addressToSubscribers(event, portId);
    event.flags = static_cast<unsigned char>((event.flags & ~(SND_SEQ_TIME_STAMP_MASK | SND_SEQ_TIME_MODE_MASK)) |
                                             SND_SEQ_TIME_STAMP_REAL | SND_SEQ_TIME_MODE_ABS);
    event.queue = static_cast<unsigned char>(queueId);
    event.time.time = time;
    if (snd_seq_event_output(sequencer, &event) < 0) {
        snd_seq_drain_output(sequencer);
        if (snd_seq_event_output(sequencer, &event) < 0) countDropped();
    }
    if (at > lastQueuedNs.load()) lastQueuedNs.store(at);
}

void AlsaSequencerOutput::sendQueued() {
    // In the order they were given: a message sent at once after the song
    // messages queued before it, at once or right after the latest of them.
    MidiEventQueue::Message message;
    bool any = false;
    std::uint64_t frame = 0;
    for (Next what = next(frame); what != Next::None; what = next(frame)) {
        const std::int64_t clock = queueNanoseconds(sequencer, queueId);
        if (what == Next::Now) {
            takeNow(message);
            const std::int64_t last = lastQueuedNs.load();
            schedule(message, last > clock ? last : clock);
        } else {
            takeSong(message);
            const auto frameNs = static_cast<std::int64_t>(message.frame * 1000000000ull / sampleRate);
            if (!offsetKnown) {
                offsetNs = clock + static_cast<std::int64_t>(headStartNs) - frameNs;
                offsetKnown = true;
            }
            const std::int64_t at = frameNs + offsetNs;
            schedule(message, at < clock ? clock : at);
        }
        any = true;
    }
    if (any) snd_seq_drain_output(sequencer);
}

void AlsaSequencerOutput::watchAnnouncements() {
    snd_seq_event_t* event = nullptr;
    while (snd_seq_event_input(sequencer, &event) >= 0 && event != nullptr) {
        const bool ours = (event->type == SND_SEQ_EVENT_CLIENT_EXIT && event->data.addr.client == target.client) ||
                          (event->type == SND_SEQ_EVENT_PORT_EXIT && event->data.addr.client == target.client &&
                           event->data.addr.port == target.port);
        if (ours) fail("the MIDI port " + destinationName + " has gone away");
        event = nullptr;
    }
}

}  // namespace brellin
