#include "input/AlsaSequencerInput.h"

#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "input/SequencerDecoder.h"

namespace brellin {

AlsaSequencerInput::AlsaSequencerInput(LiveInput& target) : input(target) {}

AlsaSequencerInput::~AlsaSequencerInput() { close(); }

bool AlsaSequencerInput::sequencerPresent() { return access("/dev/snd/seq", F_OK) == 0; }

bool AlsaSequencerInput::open(const char* clientName) {
    close();
    lastError.clear();
    if (!sequencerPresent()) {
        lastError = "no ALSA sequencer (/dev/snd/seq is missing): the MIDI input port is not offered";
        return false;
    }
    snd_seq_t* seq = nullptr;
    int code = snd_seq_open(&seq, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK);
    if (code < 0) {
        lastError = std::string("cannot open the ALSA sequencer: ") + snd_strerror(code);
        return false;
    }
    clientLabel = clientName && *clientName ? clientName : "Brellin";
    snd_seq_set_client_name(seq, clientLabel.c_str());
    const unsigned int type = SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_MIDI_GM |
                              SND_SEQ_PORT_TYPE_SYNTHESIZER | SND_SEQ_PORT_TYPE_APPLICATION;
    code = snd_seq_create_simple_port(seq, PORT_NAME, SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE, type);
    if (code < 0 || pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        lastError = std::string("cannot make the sequencer port: ") + snd_strerror(code < 0 ? code : -errno);
        snd_seq_close(seq);
        wakePipe[0] = wakePipe[1] = -1;
        return false;
    }
    sequencer = seq;
    portId = code;
    clientId = snd_seq_client_id(seq);
    reader = std::thread([this] { readLoop(); });
    return true;
}

void AlsaSequencerInput::close() {
    if (reader.joinable()) {
        const char wake = 1;
        [[maybe_unused]] ssize_t written = write(wakePipe[1], &wake, 1);
        reader.join();
        input.releaseHeldNotes();  // the reader has ended: this thread is the producer now
    }
    if (sequencer) snd_seq_close(sequencer);
    sequencer = nullptr;
    for (int& fd : wakePipe) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    clientId = portId = -1;
}

bool AlsaSequencerInput::connectFrom(const std::string& source) {
    if (!sequencer) {
        lastError = "the sequencer port is not open";
        return false;
    }
    snd_seq_addr_t address{};
    int code = snd_seq_parse_address(sequencer, &address, source.c_str());
    if (code >= 0) code = snd_seq_connect_from(sequencer, portId, address.client, address.port);
    if (code < 0) {
        lastError = "cannot connect " + source + ": " + snd_strerror(code);
        return false;
    }
    return true;
}

std::string AlsaSequencerInput::address() const {
    if (!sequencer) return {};
    return clientLabel + ":" + PORT_NAME + " " + std::to_string(clientId) + ":" + std::to_string(portId);
}

void AlsaSequencerInput::readLoop() {
    SequencerDecoder decoder(input);
    const int count = snd_seq_poll_descriptors_count(sequencer, POLLIN);
    std::vector<pollfd> fds(static_cast<std::size_t>(count > 0 ? count : 0) + 1);
    fds[0] = {wakePipe[0], POLLIN, 0};
    snd_seq_poll_descriptors(sequencer, fds.data() + 1, static_cast<unsigned int>(fds.size() - 1), POLLIN);
    for (;;) {
        if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) return;
        if (fds[0].revents) return;
        snd_seq_event_t* event = nullptr;
        int code;
        while ((code = snd_seq_event_input(sequencer, &event)) >= 0 || code == -ENOSPC) {
            // -ENOSPC: the input pool overflowed and events were lost; go on with what follows.
            if (code >= 0 && event) decoder.decode(*event);
        }
    }
}

}  // namespace brellin
