// AlsaSequencerInput: the ALSA sequencer port other programs play into.
//
// `open` makes a sequencer client (named "Brellin" unless told otherwise)
// with one port, "Synth input", which any source may write to and subscribe
// to: a USB keyboard, a DOS emulator, aplaymidi, a sequencer program. A
// reader thread waits on the sequencer and hands what arrives, decoded by a
// SequencerDecoder, to the LiveInput; the render thread plays it.
//
// A machine without a sequencer (no /dev/snd/seq: the snd-seq module is not
// loaded, or a container) is no error for the player: `open` fails with a
// one-line reason and the caller goes on without the port.
//
// open, close and connectFrom: user-interface thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "player/LiveInput.h"

struct _snd_seq;

namespace brellin {

class AlsaSequencerInput {
public:
    static constexpr const char* PORT_NAME = "Synth input";

    explicit AlsaSequencerInput(LiveInput& input);
    ~AlsaSequencerInput();
    AlsaSequencerInput(const AlsaSequencerInput&) = delete;
    AlsaSequencerInput& operator=(const AlsaSequencerInput&) = delete;

    // True when the system has a sequencer device to open.
    static bool sequencerPresent();

    // Makes the client and its port and starts reading. False with `error()`
    // saying why in one line; then nothing is left open.
    bool open(const char* clientName = "Brellin");
    // Stops reading (the notes the input holds are released) and closes the client.
    void close();
    bool isOpen() const { return sequencer != nullptr; }

    // Subscribes the port to a source, "CLIENT:PORT" by number or name as
    // aconnect takes it ("20:0", "Virtual Keyboard:0"). False with `error()`.
    bool connectFrom(const std::string& source);

    // "Brellin:Synth input 128:0": the names and the address to connect to.
    std::string address() const;
    int client() const { return clientId; }
    int port() const { return portId; }
    const std::string& error() const { return lastError; }

private:
    void readLoop();

    LiveInput& input;
    _snd_seq* sequencer = nullptr;
    int clientId = -1;
    int portId = -1;
    std::string clientLabel;
    std::string lastError;
    int wakePipe[2] = {-1, -1};  // written by close to end the reader's wait
    std::thread reader;
};

}  // namespace brellin
