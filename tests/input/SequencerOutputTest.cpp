#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "input/AlsaSequencerInput.h"
#include "input/AlsaSequencerOutput.h"
#include "input/SequencerEncoder.h"

namespace brellin {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A song's messages become the events ALSA's own MIDI encoder makes of them;
// what the sequencer has no song event for is refused.
TEST(SequencerEncoder, MakesTheEventsAlsasOwnEncoderMakes) {
    const std::vector<Bytes> messages = {{0x90, 60, 100},
                                         {0x95, 127, 0},
                                         {0x8F, 0, 64},
                                         {0xA2, 61, 33},
                                         {0xB9, 7, 127},
                                         {0xC3, 19},
                                         {0xD4, 90},
                                         {0xE0, 0x00, 0x00},
                                         {0xE1, 0x7F, 0x7F},
                                         {0xEF, 0x00, 0x40},
                                         {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7},
                                         {0xF0, 0xF7}};
    snd_midi_event_t* reference = nullptr;
    ASSERT_EQ(snd_midi_event_new(256, &reference), 0);
    for (const Bytes& message : messages) {
        snd_seq_event_t ours, theirs;
        snd_seq_ev_clear(&ours);
        snd_seq_ev_clear(&theirs);
        ASSERT_TRUE(encodeSequencerEvent(message.data(), static_cast<std::uint32_t>(message.size()), ours));
        snd_midi_event_reset_encode(reference);
        snd_midi_event_no_status(reference, 1);
        ASSERT_EQ(snd_midi_event_encode(reference, message.data(), static_cast<long>(message.size()), &theirs),
                  static_cast<long>(message.size()));
        EXPECT_EQ(ours.type, theirs.type) << "status " << int(message[0]);
        if (ours.type == SND_SEQ_EVENT_SYSEX) {
            ASSERT_EQ(ours.data.ext.len, theirs.data.ext.len);
            EXPECT_EQ(std::memcmp(ours.data.ext.ptr, theirs.data.ext.ptr, ours.data.ext.len), 0);
            EXPECT_EQ(ours.flags & SND_SEQ_EVENT_LENGTH_MASK, SND_SEQ_EVENT_LENGTH_VARIABLE);
        } else if (ours.type == SND_SEQ_EVENT_NOTEON || ours.type == SND_SEQ_EVENT_NOTEOFF ||
                   ours.type == SND_SEQ_EVENT_KEYPRESS) {
            EXPECT_EQ(ours.data.note.channel, theirs.data.note.channel);
            EXPECT_EQ(ours.data.note.note, theirs.data.note.note);
            EXPECT_EQ(ours.data.note.velocity, theirs.data.note.velocity);
        } else {
            EXPECT_EQ(ours.data.control.channel, theirs.data.control.channel);
            EXPECT_EQ(ours.data.control.param, theirs.data.control.param);
            EXPECT_EQ(ours.data.control.value, theirs.data.control.value) << "status " << int(message[0]);
        }
    }
    snd_midi_event_free(reference);

    const std::vector<Bytes> refused = {{0xF8}, {0xFF}, {0x90, 60}, {0xC0}, {0x40, 1, 2}, {0xF0, 1, 2}, {}};
    for (const Bytes& message : refused) {
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        EXPECT_FALSE(encodeSequencerEvent(message.data(), static_cast<std::uint32_t>(message.size()), event));
    }
}

// The real port: a second client stands for the synthesizer. The build
// machines have no sequencer device, so there it says why it skips.
TEST(AlsaSequencerOutput, PlaysIntoAnotherProgramsPortInOrderAndOnTime) {
    AlsaSequencerOutput output;
    std::string error;
    if (!AlsaSequencerInput::sequencerPresent()) {
        EXPECT_FALSE(output.open("128:0", 48000, 32, error));
        EXPECT_NE(error.find("/dev/snd/seq"), std::string::npos) << error;
        EXPECT_TRUE(AlsaSequencerOutput::listPorts().empty());
        GTEST_SKIP() << error;
    }
    EXPECT_FALSE(output.open("no such synthesizer", 48000, 32, error));
    EXPECT_NE(error.find("the ports there are"), std::string::npos) << error;

    snd_seq_t* synth = nullptr;
    ASSERT_EQ(snd_seq_open(&synth, "default", SND_SEQ_OPEN_INPUT, 0), 0);
    snd_seq_set_client_name(synth, "Test synth");
    const int in = snd_seq_create_simple_port(synth, "in", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                              SND_SEQ_PORT_TYPE_APPLICATION);
    ASSERT_GE(in, 0);
    const std::string address = std::to_string(snd_seq_client_id(synth)) + ":" + std::to_string(in);
    ASSERT_TRUE(output.open("Test synth", 48000, 32, error)) << error;
    EXPECT_EQ(output.destination(), "in " + address);

    // Two notes 4800 frames (100 ms) apart, then a reset sent at once: it
    // comes after them although they are still scheduled.
    const Bytes first = {0x90, 60, 100}, second = {0x90, 64, 100}, reset = {0xB0, 123, 0};
    output.sendAt(first.data(), 3, 1000);
    output.sendAt(second.data(), 3, 5800);
    output.sendNow(reset.data(), 3);
    std::vector<std::pair<int, std::chrono::steady_clock::time_point>> arrived;
    while (arrived.size() < 3) {
        snd_seq_event_t* event = nullptr;
        if (snd_seq_event_input(synth, &event) < 0 || event == nullptr) break;
        if (event->type == SND_SEQ_EVENT_NOTEON)
            arrived.emplace_back(event->data.note.note, std::chrono::steady_clock::now());
        if (event->type == SND_SEQ_EVENT_CONTROLLER)
            arrived.emplace_back(-event->data.control.param, std::chrono::steady_clock::now());
    }
    ASSERT_EQ(arrived.size(), 3u);
    EXPECT_EQ(arrived[0].first, 60);
    EXPECT_EQ(arrived[1].first, 64);
    EXPECT_EQ(arrived[2].first, -123);
    const double apart = std::chrono::duration<double, std::milli>(arrived[1].second - arrived[0].second).count();
    EXPECT_NEAR(apart, 100.0, 2.0);
    output.close();
    snd_seq_close(synth);
}

}  // namespace
}  // namespace brellin
