#include "input/SequencerEncoder.h"

namespace brellin {

bool encodeSequencerEvent(const std::uint8_t* bytes, std::uint32_t length, snd_seq_event_t& event) noexcept {
    if (length == 0) return false;
    const std::uint8_t status = bytes[0];
    if (status == 0xF0) {
        if (length < 2 || bytes[length - 1] != 0xF7) return false;
        event.type = SND_SEQ_EVENT_SYSEX;
        event.flags =
            static_cast<unsigned char>((event.flags & ~SND_SEQ_EVENT_LENGTH_MASK) | SND_SEQ_EVENT_LENGTH_VARIABLE);
        event.data.ext.len = length;
        event.data.ext.ptr = const_cast<std::uint8_t*>(bytes);
        return true;
    }
    if (status < 0x80 || status >= 0xF0) return false;
    const unsigned char channel = status & 0x0F;
    const std::uint32_t needed = (status & 0xE0) == 0xC0 ? 2 : 3;
    if (length < needed) return false;
    const unsigned char first = bytes[1] & 0x7F;
    const unsigned char second = needed == 3 ? bytes[2] & 0x7F : 0;
    event.flags = static_cast<unsigned char>((event.flags & ~SND_SEQ_EVENT_LENGTH_MASK) | SND_SEQ_EVENT_LENGTH_FIXED);
    switch (status & 0xF0) {
        case 0x80:
        case 0x90:
        case 0xA0:
            event.type = (status & 0xF0) == 0x80   ? SND_SEQ_EVENT_NOTEOFF
                         : (status & 0xF0) == 0x90 ? SND_SEQ_EVENT_NOTEON
                                                   : SND_SEQ_EVENT_KEYPRESS;
            event.data.note.channel = channel;
            event.data.note.note = first;
            event.data.note.velocity = second;
            event.data.note.off_velocity = 0;
            event.data.note.duration = 0;
            return true;
        case 0xB0:
            event.type = SND_SEQ_EVENT_CONTROLLER;
            event.data.control.channel = channel;
            event.data.control.param = first;
            event.data.control.value = second;
            return true;
        case 0xC0:
        case 0xD0:
            event.type = (status & 0xF0) == 0xC0 ? SND_SEQ_EVENT_PGMCHANGE : SND_SEQ_EVENT_CHANPRESS;
            event.data.control.channel = channel;
            event.data.control.param = 0;
            event.data.control.value = first;
            return true;
        default:  // 0xE0
            event.type = SND_SEQ_EVENT_PITCHBEND;
            event.data.control.channel = channel;
            event.data.control.param = 0;
            event.data.control.value = (second << 7 | first) - 8192;
            return true;
    }
}

}  // namespace brellin
