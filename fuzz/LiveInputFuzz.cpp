// Feeds arbitrary sequencer events to a SequencerDecoder and plays what it
// hands the LiveInput into a synthesizer stand-in that aborts on any message
// that is not whole: a channel message of its length or a system exclusive
// message from F0 to F7 within the limit.
//
// The same bytes then go, cut into raw MIDI events as a JACK port delivers
// them (a length byte, then that many bytes), through LiveInput::receive.
//
// Input layout, repeated: one byte chooses the event (its low three bits)
// and, for system exclusive data, the piece's length (the high bits, 0 …
// 31); three bytes of fields follow, or the piece's bytes.
#include <alsa/asoundlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "input/SequencerDecoder.h"
#include "player/LiveInput.h"

namespace {

class WholeMessagesOnly : public brellin::SynthesizerInterface {
public:
    bool sendMidi(const std::uint8_t* bytes, std::uint32_t length) override {
        const brellin::LiveMessage kind = brellin::LiveInput::classify(bytes, length);
        if (kind != brellin::LiveMessage::Channel && kind != brellin::LiveMessage::SystemExclusive) std::abort();
        return true;
    }
    bool reset() override { return true; }
    std::uint32_t outputTime() override { return 0; }
    brellin::SliceClientHandle addSliceClient(brellin::ClockCallback, void*, brellin::SliceOrder) override { return 1; }
    void removeSliceClient(brellin::SliceClientHandle) override {}
    void setSystemVolume(std::int32_t) override {}
    void setUserVolume(std::int32_t) override {}
};

constexpr snd_seq_event_type_t TYPES[] = {
    SND_SEQ_EVENT_NOTEON,    SND_SEQ_EVENT_NOTEOFF,   SND_SEQ_EVENT_CONTROLLER,  SND_SEQ_EVENT_PITCHBEND,
    SND_SEQ_EVENT_PGMCHANGE, SND_SEQ_EVENT_CONTROL14, SND_SEQ_EVENT_NONREGPARAM, SND_SEQ_EVENT_PORT_UNSUBSCRIBED};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    WholeMessagesOnly synthesizer;
    brellin::LiveInput input(1 << 16);
    if (!input.attach(synthesizer)) return 0;
    brellin::SequencerDecoder decoder(input);
    std::size_t at = 0;
    while (at < size) {
        const std::uint8_t choice = data[at++];
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        if ((choice & 7) == 7 && (choice >> 3) != 0) {  // a piece of system exclusive data
            const std::size_t length = std::min<std::size_t>(choice >> 3, size - at);
            event.type = SND_SEQ_EVENT_SYSEX;
            event.data.ext.len = static_cast<unsigned int>(length);
            event.data.ext.ptr = const_cast<std::uint8_t*>(data + at);
            at += length;
        } else {
            if (size - at < 3) break;
            event.type = TYPES[choice & 7];
            event.data.control.channel = data[at];
            event.data.control.param = data[at + 1];
            event.data.control.value = static_cast<signed char>(data[at + 2]) * 130;
            event.data.note.note = data[at + 1];  // the note fields share the first bytes
            event.data.note.velocity = data[at + 2];
            at += 3;
        }
        decoder.decode(event);
        if (choice & 0x80) input.playQueued();
    }
    input.playQueued();
    for (std::size_t i = 0; i < size;) {
        const std::size_t length = std::min<std::size_t>(data[i] % 16, size - i - 1);
        input.receive(data + i + 1, length);
        i += 1 + length;
    }
    input.sourceGone();
    return 0;
}
