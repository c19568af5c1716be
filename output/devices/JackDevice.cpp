#include "output/devices/JackDevice.h"

#include <jack/midiport.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include "output/SoundOutput.h"

namespace brellin {

namespace {

// libjack reports on stderr in several lines what our one line says already
// when no server answers; its messages are kept quiet while a client opens
// and passed on, marked, at any other time.
std::atomic<bool> opening{false};

void reportJackError(const char* text) {
    if (!opening.load(std::memory_order_relaxed)) std::fprintf(stderr, "JACK: %s\n", text);
}

void reportJackInfo(const char*) {}

}  // namespace

JackDevice::JackDevice(std::string name) : requestedName(std::move(name)) {}

JackDevice::~JackDevice() { close(); }

bool JackDevice::fail(const std::string& text) {
    error = text;
    lastError = RESULT_DEVICE_ERROR;
    close();
    return false;
}

bool JackDevice::negotiate(AudioFormat& format) {
    error.clear();
    lastError = RESULT_OK;
    if (client == nullptr) {
        jack_status_t status{};
        jack_set_error_function(reportJackError);
        jack_set_info_function(reportJackInfo);
        // Never start a server: a missing one is the user's to start.
        opening.store(true);
        client = jack_client_open(requestedName.c_str(), JackNoStartServer, &status);
        opening.store(false);
        if (client == nullptr) return fail("cannot connect to a JACK server (is jackd or PipeWire's JACK running?)");
        lost.store(false);
        reason[0] = '\0';
        jack_on_info_shutdown(client, &JackDevice::shutdownCallback, this);
        jack_set_xrun_callback(client, &JackDevice::xrunCallback, this);
        jack_set_buffer_size_callback(client, &JackDevice::bufferSizeCallback, this);
        jack_set_port_connect_callback(client, &JackDevice::connectCallback, this);
        jack_set_process_callback(client, &JackDevice::processCallback, this);
    }
    const std::uint32_t rate = jack_get_sample_rate(client);
    if (rate < SoundOutput::MIN_RATE || rate > SoundOutput::MAX_RATE) {
        return fail("the JACK server runs at " + std::to_string(rate) + " Hz; Brellin plays at 11025 to 48000 Hz");
    }
    format.sampleRate = rate;
    format.bitsPerSample = 16;
    format.channels = 2;
    period.store(jack_get_buffer_size(client), std::memory_order_relaxed);
    return true;
}

bool JackDevice::open(const AudioFormat& format, std::uint32_t, std::uint32_t, DeviceCallback, void*) {
    if (client == nullptr) {
        AudioFormat asked = format;
        if (!negotiate(asked)) return false;
    }
    scratch.reset(new (std::nothrow) std::int16_t[MAX_PERIOD * 2]);
    if (!scratch) return fail("no memory for the JACK period");
    left = jack_port_register(client, "out_left", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    right = jack_port_register(client, "out_right", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    midiIn = jack_port_register(client, "midi_in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    if (left == nullptr || right == nullptr || midiIn == nullptr) return fail("cannot register the JACK ports");
    if (!midiDestination.empty()) {
        jack_port_t* target = jack_port_by_name(client, midiDestination.c_str());
        const bool takesMidi = target != nullptr && (jack_port_flags(target) & JackPortIsInput) != 0 &&
                               std::strcmp(jack_port_type(target), JACK_DEFAULT_MIDI_TYPE) == 0;
        if (!takesMidi) {
            std::string text = "no JACK MIDI input \"" + midiDestination + "\"; the MIDI inputs there are:";
            const char** ports = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput);
            bool any = false;
            for (const char** port = ports; port != nullptr && *port != nullptr; ++port) {
                if (jack_port_is_mine(client, jack_port_by_name(client, *port))) continue;
                text += std::string(" jack:") + *port;
                any = true;
            }
            if (ports != nullptr) jack_free(ports);
            if (!any) text += " none";
            return fail(text);
        }
        midiOut = jack_port_register(client, "midi_out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        if (midiOut == nullptr) return fail("cannot register the JACK MIDI output");
        midiOutputPort.target = midiDestination;
        midiOutputPort.clearFailure();
        midiOutputPort.everConnected.store(false);
    }
    midiSources.store(0);
    midiSourcesSeen = 0;
    return true;
}

void JackDevice::restart() {
    if (client == nullptr || active) return;
    if (jack_activate(client) != 0) {
        fail("cannot activate the JACK client");
        return;
    }
    active = true;
    midiOutputPort.running.store(true);
    if (midiOut != nullptr) {
        const int code = jack_connect(client, jack_port_name(midiOut), midiDestination.c_str());
        if (code != 0 && code != EEXIST) midiOutputPort.fail("cannot connect to jack:" + midiDestination);
    }
    const char* connect = std::getenv(JACK_CONNECT_VARIABLE);
    if (connect != nullptr && std::strcmp(connect, "0") == 0) return;
    // The first two physical playback ports; a single one takes both sides.
    const char** ports = jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsInput);
    if (ports == nullptr) return;
    if (ports[0] != nullptr) {
        jack_connect(client, jack_port_name(left), ports[0]);
        jack_connect(client, jack_port_name(right), ports[1] != nullptr ? ports[1] : ports[0]);
    }
    jack_free(ports);
}

void JackDevice::reset() {
    midiOutputPort.running.store(false);
    if (client != nullptr && active) jack_deactivate(client);
    active = false;
}

void JackDevice::close() {
    reset();
    if (client != nullptr) {
        // After the server has gone the client is closed all the same, to free it.
        jack_client_close(client);
        client = nullptr;
    }
    left = right = midiIn = midiOut = nullptr;
    period.store(0, std::memory_order_relaxed);
}

std::string JackDevice::clientName() const { return client != nullptr ? jack_get_client_name(client) : ""; }

std::string JackDevice::portNames() const {
    if (client == nullptr || left == nullptr) return {};
    return std::string(jack_port_name(left)) + " " + jack_port_name(right) + " " + jack_port_name(midiIn);
}

int JackDevice::processCallback(jack_nframes_t frames, void* self) {
    return static_cast<JackDevice*>(self)->process(frames);
}

int JackDevice::process(jack_nframes_t frames) noexcept {
    auto* outLeft = static_cast<jack_default_audio_sample_t*>(jack_port_get_buffer(left, frames));
    auto* outRight = static_cast<jack_default_audio_sample_t*>(jack_port_get_buffer(right, frames));
    void* midi = jack_port_get_buffer(midiIn, frames);
    void* midiOutBuffer = midiOut != nullptr ? jack_port_get_buffer(midiOut, frames) : nullptr;
    if (midiOutBuffer != nullptr) jack_midi_clear_buffer(midiOutBuffer);
    FrameRenderer* renderer = frameRenderer.load(std::memory_order_acquire);
    if (renderer == nullptr || frames > MAX_PERIOD) {
        std::memset(outLeft, 0, frames * sizeof *outLeft);
        std::memset(outRight, 0, frames * sizeof *outRight);
        return 0;
    }
    // The song's messages of this period are sent while it renders.
    const std::uint64_t periodStart = renderer->streamPosition();
    MidiReceiver* receiver = midiReceiver.load(std::memory_order_acquire);
    const int sources = midiSources.load(std::memory_order_relaxed);
    if (receiver != nullptr && sources < midiSourcesSeen) receiver->sourceGone();
    midiSourcesSeen = sources;

    // Render up to each event's frame, play it, go on.
    auto* out = reinterpret_cast<std::uint8_t*>(scratch.get());
    std::uint32_t done = 0;
    const std::uint32_t count = jack_midi_get_event_count(midi);
    for (std::uint32_t i = 0; i < count; ++i) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, midi, i) != 0) continue;
        const std::uint32_t at = event.time < frames ? event.time : frames;
        if (at > done) {
            renderer->renderFrames(out + done * 4, at - done);
            done = at;
        }
        if (receiver != nullptr) receiver->receive(event.buffer, event.size);
    }
    if (done < frames) renderer->renderFrames(out + done * 4, frames - done);
    if (midiOutBuffer != nullptr) midiOutputPort.writePeriod(midiOutBuffer, periodStart, frames);

    const std::int16_t* pcm = scratch.get();
    constexpr float scale = 1.0f / 32768.0f;
    for (std::uint32_t i = 0; i < frames; ++i) {
        outLeft[i] = static_cast<float>(pcm[2 * i]) * scale;
        outRight[i] = static_cast<float>(pcm[2 * i + 1]) * scale;
    }
    return 0;
}

void JackDevice::shutdownCallback(jack_status_t, const char* why, void* self) {
    auto* device = static_cast<JackDevice*>(self);
    std::snprintf(device->reason, sizeof device->reason, "the JACK server has gone away (%s)",
                  why != nullptr && *why != '\0' ? why : "no reason given");
    device->lost.store(true, std::memory_order_release);
}

int JackDevice::xrunCallback(void* self) {
    static_cast<JackDevice*>(self)->underruns.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

int JackDevice::bufferSizeCallback(jack_nframes_t frames, void* self) {
    static_cast<JackDevice*>(self)->period.store(frames, std::memory_order_relaxed);
    return 0;
}

void JackDevice::connectCallback(jack_port_id_t, jack_port_id_t, int, void* self) {
    auto* device = static_cast<JackDevice*>(self);
    if (device->client == nullptr || device->midiIn == nullptr) return;
    device->midiSources.store(jack_port_connected(device->midiIn), std::memory_order_relaxed);
    if (device->midiOut != nullptr) {
        // The destination went away (its client ended, or someone took the
        // connection away): the song cannot be heard any more.
        JackMidiOutput& output = device->midiOutputPort;
        if (jack_port_connected(device->midiOut) > 0) {
            output.everConnected.store(true, std::memory_order_release);
        } else if (output.everConnected.load(std::memory_order_acquire)) {
            output.fail("the MIDI port jack:" + output.target + " has gone away");
        }
    }
}

// ---- the MIDI output ----------------------------------------------------------

void JackMidiOutput::flush(std::uint32_t milliseconds) {
    for (std::uint32_t waited = 0; waited < milliseconds && nowWaiting(); ++waited) {
        if (!running.load(std::memory_order_acquire) || lost()) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void JackMidiOutput::writePeriod(void* buffer, std::uint64_t start, std::uint32_t frames) noexcept {
    MidiEventQueue::Message message;
    // Each message at its frame; one that is late goes out at once. Frames
    // never go back: JACK wants them in order.
    std::uint32_t at = 0;
    auto write = [&](std::uint64_t frame) {
        if (frame > start + at) at = static_cast<std::uint32_t>(std::min<std::uint64_t>(frame - start, frames - 1));
        if (jack_midi_event_write(buffer, at, message.bytes, message.length) != 0) countDropped();
    };
    // A message sent at once goes out as soon as the song messages queued
    // before it have: those still waiting for a later period go out with it.
    std::uint64_t songFrame = 0;
    for (;;) {
        switch (next(songFrame)) {
            case Next::Now:
                takeNow(message);
                write(start);
                break;
            case Next::Song:
                if (songFrame >= start + frames && !nowWaiting()) return;
                takeSong(message);
                write(songFrame);
                break;
            case Next::None: return;
        }
    }
}

std::vector<std::string> jackMidiInputPorts() {
    std::vector<std::string> found;
    opening.store(true);
    jack_status_t status{};
    jack_client_t* probe = jack_client_open("brellin-ports", JackNoStartServer, &status);
    opening.store(false);
    if (probe == nullptr) return found;
    const char** ports = jack_get_ports(probe, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput);
    for (const char** port = ports; port != nullptr && *port != nullptr; ++port) found.push_back(*port);
    if (ports != nullptr) jack_free(ports);
    jack_client_close(probe);
    return found;
}

}  // namespace brellin
