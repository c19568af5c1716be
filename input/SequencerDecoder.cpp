#include "input/SequencerDecoder.h"

namespace brellin {

SequencerDecoder::SequencerDecoder(LiveInput& target) : input(target) {
    // Room for one channel message: system exclusive data is joined here, not by ALSA.
    if (snd_midi_event_new(16, &parser) == 0) snd_midi_event_no_status(parser, 1);
    pending.reserve(LiveInput::MAX_SYSTEM_EXCLUSIVE);
}

SequencerDecoder::~SequencerDecoder() {
    if (parser) snd_midi_event_free(parser);
}

void SequencerDecoder::decode(const snd_seq_event_t& event) {
    switch (event.type) {
        case SND_SEQ_EVENT_NOTEON:
        case SND_SEQ_EVENT_NOTEOFF:
        case SND_SEQ_EVENT_KEYPRESS:
        case SND_SEQ_EVENT_CONTROLLER:
        case SND_SEQ_EVENT_PGMCHANGE:
        case SND_SEQ_EVENT_CHANPRESS:
        case SND_SEQ_EVENT_PITCHBEND:
        case SND_SEQ_EVENT_CONTROL14:
        case SND_SEQ_EVENT_NONREGPARAM:
        case SND_SEQ_EVENT_REGPARAM: {
            if (!parser) return;
            // A 14-bit controller or a parameter number is up to four
            // messages (twelve bytes) of the same channel.
            std::uint8_t bytes[16];
            snd_midi_event_reset_decode(parser);
            const long length = snd_midi_event_decode(parser, bytes, sizeof bytes, &event);
            if (length <= 0) return;
            const std::uint32_t total = static_cast<std::uint32_t>(length);
            for (std::uint32_t at = 0; at < total;) {
                const std::uint8_t kind = bytes[at] & 0xF0;
                const std::uint32_t size = kind == 0xC0 || kind == 0xD0 ? 2 : 3;
                if (at + size > total) break;
                input.deliver(bytes + at, size);
                at += size;
            }
            return;
        }
        case SND_SEQ_EVENT_SYSEX:
            if (event.data.ext.ptr && event.data.ext.len > 0)
                systemExclusive(static_cast<const std::uint8_t*>(event.data.ext.ptr), event.data.ext.len);
            return;
        case SND_SEQ_EVENT_PORT_UNSUBSCRIBED: input.releaseHeldNotes(); return;
        default: return;
    }
}

void SequencerDecoder::systemExclusive(const std::uint8_t* bytes, std::uint32_t length) {
    for (std::uint32_t i = 0; i < length; ++i) {
        const std::uint8_t byte = bytes[i];
        if (byte == 0xF0) {  // a new message; an unfinished one before it is dropped
            pending.assign(1, byte);
            discarding = false;
            continue;
        }
        if (byte >= 0xF8) continue;         // real-time bytes may fall between the data
        if (byte & 0x80 && byte != 0xF7) {  // another status: the message was cut short
            pending.clear();
            discarding = false;
            continue;
        }
        if (discarding) {
            if (byte == 0xF7) discarding = false;
            continue;
        }
        if (pending.empty()) continue;  // data without its F0
        if (pending.size() >= LiveInput::MAX_SYSTEM_EXCLUSIVE) {
            ++oversizedCount;
            pending.clear();
            discarding = byte != 0xF7;
            continue;
        }
        pending.push_back(byte);
        if (byte == 0xF7) {
            input.deliver(pending.data(), static_cast<std::uint32_t>(pending.size()));
            pending.clear();
        }
    }
}

}  // namespace brellin
