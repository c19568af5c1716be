#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "input/AlsaSequencerInput.h"
#include "input/SequencerDecoder.h"
#include "tests/player/FakeSynthesizer.h"

namespace brellin {
namespace {

using Bytes = std::vector<std::uint8_t>;

snd_seq_event_t blank() {
    snd_seq_event_t event;
    snd_seq_ev_clear(&event);
    return event;
}

// The fields ALSA's snd_seq_ev_set_* macros fill (they do not build
// warning-free under this project's conversion warnings).
snd_seq_event_t sysex(Bytes& bytes) {
    snd_seq_event_t event = blank();
    event.type = SND_SEQ_EVENT_SYSEX;
    event.flags = SND_SEQ_EVENT_LENGTH_VARIABLE;
    event.data.ext.len = static_cast<unsigned int>(bytes.size());
    event.data.ext.ptr = bytes.data();
    return event;
}

snd_seq_event_t note(snd_seq_event_type_t type, unsigned char channel, unsigned char key, unsigned char velocity) {
    snd_seq_event_t event = blank();
    event.type = type;
    event.data.note.channel = channel;
    event.data.note.note = key;
    event.data.note.velocity = velocity;
    return event;
}

snd_seq_event_t control(snd_seq_event_type_t type, unsigned char channel, unsigned int param, int value) {
    snd_seq_event_t event = blank();
    event.type = type;
    event.data.control.channel = channel;
    event.data.control.param = param;
    event.data.control.value = value;
    return event;
}

// What a keyboard, a game or aplaymidi sends, decoded into the messages the
// synthesizer plays; the rest passed over.
TEST(SequencerDecoder, TurnsEventsIntoWholeMessages) {
    testing::FakeSynthesizer synthesizer;
    LiveInput input;
    ASSERT_TRUE(input.attach(synthesizer));
    SequencerDecoder decoder(input);

    decoder.decode(note(SND_SEQ_EVENT_NOTEON, 9, 36, 110));
    decoder.decode(note(SND_SEQ_EVENT_NOTEON, 9, 38, 90));  // the same status again: no running status
    decoder.decode(control(SND_SEQ_EVENT_CONTROLLER, 2, 7, 100));
    decoder.decode(control(SND_SEQ_EVENT_PGMCHANGE, 3, 0, 40));
    decoder.decode(control(SND_SEQ_EVENT_PITCHBEND, 0, 0, -8192));
    decoder.decode(note(SND_SEQ_EVENT_NOTEOFF, 9, 36, 0));
    snd_seq_event_t event = blank();
    event.type = SND_SEQ_EVENT_CLOCK;
    decoder.decode(event);
    event.type = SND_SEQ_EVENT_PORT_SUBSCRIBED;
    decoder.decode(event);
    // A GM reset in three pieces, with a clock tick in the middle of the data.
    Bytes a{0xF0, 0x7E}, b{0x7F, 0xF8, 0x09}, c{0x01, 0xF7};
    decoder.decode(sysex(a));
    decoder.decode(sysex(b));
    decoder.decode(sysex(c));
    // A dump too long to play, then a short message that follows it.
    Bytes dump(LiveInput::MAX_SYSTEM_EXCLUSIVE + 500, 0x55);
    dump.front() = 0xF0;
    dump.back() = 0xF7;
    decoder.decode(sysex(dump));
    Bytes volume{0xF0, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x40, 0xF7};
    decoder.decode(sysex(volume));
    // A message cut short by another status is dropped.
    Bytes cut{0xF0, 0x41, 0x10, 0x90};
    decoder.decode(sysex(cut));
    synthesizer.slice();

    const std::vector<Bytes> expected = {{0x99, 36, 110},
                                         {0x99, 38, 90},
                                         {0xB2, 7, 100},
                                         {0xC3, 40},
                                         {0xE0, 0, 0},
                                         {0x89, 36, 0},
                                         {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7},
                                         volume};
    EXPECT_EQ(synthesizer.messagesCopy(), expected);
    EXPECT_EQ(decoder.oversized(), 1u);

    // The source unsubscribes: the two channels it played are released.
    synthesizer.clearMessages();
    event = blank();
    event.type = SND_SEQ_EVENT_PORT_UNSUBSCRIBED;
    decoder.decode(event);
    synthesizer.slice();
    const std::vector<Bytes> released = {{0xB0, 64, 0}, {0xB0, 123, 0}, {0xB2, 64, 0}, {0xB2, 123, 0},
                                         {0xB3, 64, 0}, {0xB3, 123, 0}, {0xB9, 64, 0}, {0xB9, 123, 0}};
    EXPECT_EQ(synthesizer.messagesCopy(), released);
}

// The real port: made, announced, and played into by a second client. The
// build machines have no sequencer device, so there it says why it skips.
TEST(AlsaSequencerInput, APortOtherProgramsPlayInto) {
    testing::FakeSynthesizer synthesizer;
    LiveInput input;
    ASSERT_TRUE(input.attach(synthesizer));
    AlsaSequencerInput port(input);
    if (!AlsaSequencerInput::sequencerPresent()) {
        EXPECT_FALSE(port.open());
        EXPECT_NE(port.error().find("/dev/snd/seq"), std::string::npos) << port.error();
        GTEST_SKIP() << port.error();
    }
    ASSERT_TRUE(port.open()) << port.error();
    const std::string address = port.address();
    EXPECT_EQ(address.rfind("Brellin:Synth input ", 0), 0u) << address;

    snd_seq_t* sender = nullptr;
    ASSERT_EQ(snd_seq_open(&sender, "default", SND_SEQ_OPEN_OUTPUT, 0), 0);
    const int out = snd_seq_create_simple_port(sender, "test out", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                               SND_SEQ_PORT_TYPE_APPLICATION);
    ASSERT_GE(out, 0);
    ASSERT_TRUE(port.connectFrom(std::to_string(snd_seq_client_id(sender)) + ":" + std::to_string(out)))
        << port.error();
    snd_seq_event_t event = note(SND_SEQ_EVENT_NOTEON, 0, 60, 100);
    event.source.port = static_cast<unsigned char>(out);
    event.dest.client = SND_SEQ_ADDRESS_SUBSCRIBERS;
    event.dest.port = SND_SEQ_ADDRESS_UNKNOWN;
    event.queue = SND_SEQ_QUEUE_DIRECT;
    ASSERT_GE(snd_seq_event_output_direct(sender, &event), 0);
    for (int i = 0; i < 200 && synthesizer.messageCount() == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        synthesizer.slice();
    }
    snd_seq_close(sender);
    port.close();
    ASSERT_FALSE(synthesizer.messagesCopy().empty());
    EXPECT_EQ(synthesizer.messagesCopy().front(), (Bytes{0x90, 60, 100}));
}

}  // namespace
}  // namespace brellin
