// RenderSession as its two users drive it: brellin-render offline into a
// WAV file, and the player window in real time on the null device.
#include "engine/RenderSession.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "output/devices/AudioDevices.h"
#include "output/devices/WavFileDevice.h"
#include "output/devices/WavRecorderDevice.h"
#include "tests/TempDir.h"
#include "tests/midi/MidiBytes.h"

using namespace brellin;
using namespace brellin::testing;

namespace {

std::string fontPath() { return std::string(BRELLIN_BINARY_DIR) + "/small.brf"; }

// `ticks` at 96 per quarter and tempo 120: ticks × 500 / 96 ms of one note.
std::string oneNote(std::uint32_t ticks) {
    return header(0, 1, 96) + track(noteOn(0, 0, 60, 100) + noteOff(ticks, 0, 60) + endOfTrack());
}

// Four channels panned at random (controller 10 value 0), each playing a note.
std::string randomPanSong() {
    std::string body;
    for (int channel = 0; channel < 4; ++channel) body += bytes({0x00, 0xB0 | channel, 10, 0});
    for (int channel = 0; channel < 4; ++channel) body += noteOn(0, channel, 60 + channel * 4, 110);
    body += noteOff(96, 0, 60) + endOfTrack();
    return header(0, 1, 96) + track(body);
}

RenderOptions offline(const std::string& wav) {
    RenderOptions options;
    options.outputPath = wav;
    options.soundFont = fontPath();
    options.rate = 11025;
    options.bits = 8;
    options.channels = 1;
    options.voices = 8;
    return options;
}

class CountingListener : public SongEndListener {
public:
    void notify() override { ++count; }
    std::atomic<int> count{0};
};

}  // namespace

TEST(RenderSessionSeed, TheSeedDecidesTheRandomPan) {
    // The same seed gives the same bytes; another seed pans elsewhere. The
    // Synthesizer exists before the session starts, so a seed taken only by
    // the C library after its construction would change nothing.
    TempDir dir;
    std::string song = dir.write("pan.mid", randomPanSong());
    auto render = [&](std::uint32_t seed, const std::string& name) {
        RenderOptions options = offline(dir.path(name));
        options.channels = 2;
        options.seed = seed;
        RenderSession session(options);
        std::string error;
        EXPECT_TRUE(session.start(error)) << error;
        EXPECT_TRUE(session.playFile(song));
        EXPECT_TRUE(session.finish(error)) << error;
        return dir.read(name);
    };
    std::string first = render(1, "a.wav"), again = render(1, "b.wav"), other = render(7, "c.wav");
    ASSERT_GT(first.size(), 44u);
    EXPECT_EQ(first, again);
    EXPECT_NE(first, other);
}

TEST(RenderSessionLength, OfflineSongsAreCutAtTheLimitAndCountAsPlayed) {
    // 23040 ticks: 120 s. With a one-minute limit the song ends after
    // exactly 60000 ms (15000 slices of 44 frames), counted as played, and
    // the next song still plays whole; without a limit nothing is cut.
    TempDir dir;
    std::string longSong = dir.write("long.mid", oneNote(23040));
    std::string shortSong = dir.write("short.mid", oneNote(96));
    RenderOptions options = offline(dir.path("cut.wav"));
    options.maxLengthMinutes = 1;
    {
        RenderSession session(options);
        std::string error;
        ASSERT_TRUE(session.start(error)) << error;
        ASSERT_TRUE(session.playFile(longSong));
        EXPECT_TRUE(session.lastSongCut);
        EXPECT_EQ(session.lastSongClock, 60000u);
        EXPECT_EQ(session.lastSongClaimed, 120000u);
        ASSERT_TRUE(session.playFile(shortSong));
        EXPECT_FALSE(session.lastSongCut);
        EXPECT_EQ(session.lastSongClock, 500u);
        EXPECT_EQ(session.songsPlayed, 2u);
        ASSERT_TRUE(session.finish(error)) << error;
    }
    // Both songs' slices and the two slices between them.
    EXPECT_EQ(dir.read("cut.wav").size(), 44u + (15000u + 2u + 125u) * 44u);

    options.maxLengthMinutes = 0;
    options.outputPath = dir.path("whole.wav");
    RenderSession session(options);
    std::string error;
    ASSERT_TRUE(session.start(error)) << error;
    ASSERT_TRUE(session.playFile(longSong));
    EXPECT_FALSE(session.lastSongCut);
    EXPECT_EQ(session.lastSongClock, 120000u);
    ASSERT_TRUE(session.finish(error)) << error;
}

TEST(RenderSessionRealTime, SongsFollowEachOtherWithoutStarvingTheDevice) {
    // The window's use: begin, poll, stop early, next. The null device is
    // paced like a sound card; between songs it must never run dry.
    TempDir dir;
    std::string shortSong = dir.write("short.mid", oneNote(96));   // 500 ms
    std::string longSong = dir.write("long.mid", oneNote(23040));  // 120 s
    RenderOptions options;
    options.soundFont = fontPath();
    options.audioDevice = "null";
    RenderSession session(options);
    CountingListener ended;
    session.setSongEndListener(&ended);
    std::string error;
    ASSERT_TRUE(session.start(error)) << error;

    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(session.playFile(shortSong));
        EXPECT_EQ(session.lastSongClock, 500u);
    }
    EXPECT_EQ(session.noteOnsSent.load(), 3u);

    ASSERT_TRUE(session.beginSong(longSong));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(session.songHasEnded());
    ASSERT_TRUE(session.beginSong(shortSong));  // next: the long song stops here
    EXPECT_EQ(session.songsPlayed, 4u);
    EXPECT_LT(session.lastSongClock, 10000u);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!session.songHasEnded() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(session.songHasEnded());
    session.endSong();
    EXPECT_EQ(session.lastSongClock, 500u);
    EXPECT_EQ(session.songsPlayed, 5u);
    EXPECT_EQ(ended.count.load(), 5);
    EXPECT_EQ(session.deviceUnderruns(), 0u);
    EXPECT_FALSE(session.beginSong(dir.path("missing.mid")));
    EXPECT_TRUE(session.finish(error)) << error;
}

// The device table: each spelling reaches its row and its argument, the
// real-time and offline factories make their own kinds of device, and every
// row has its --help line.
TEST(AudioDeviceTable, SpellingsPickTheRowAndTheFactoryTheDevice) {
    struct Case {
        const char* text;
        const char* kind;
        const char* argument;
    };
    const Case cases[] = {
        {nullptr, "alsa", "default"}, {"", "alsa", "default"},
        {"null", "null", ""},         {"wav:/tmp/out.wav", "wav", "/tmp/out.wav"},
        {"wav:", "wav", ""},          {"pipewire", "alsa", "pipewire"},
        {"hw:1,0", "alsa", "hw:1,0"}, {"nullx", "alsa", "nullx"},
    };
    for (const Case& c : cases) {
        AudioDeviceChoice choice = parseAudioDevice(c.text);
        ASSERT_NE(choice.kind, nullptr) << (c.text ? c.text : "(null)");
        EXPECT_STREQ(choice.kind->name, c.kind) << (c.text ? c.text : "(null)");
        EXPECT_EQ(choice.argument, c.argument) << (c.text ? c.text : "(null)");
    }
    EXPECT_STREQ(createAudioDevice("null")->name(), "null");
    EXPECT_EQ(createAudioDevice("null", DeviceUse::Offline), nullptr) << "the null device only plays";
    EXPECT_NE(dynamic_cast<WavRecorderDevice*>(createAudioDevice("wav:x.wav").get()), nullptr);
    EXPECT_NE(dynamic_cast<WavFileDevice*>(createAudioDevice("wav:x.wav", DeviceUse::Offline).get()), nullptr);
    EXPECT_STREQ(createAudioDevice("plughw:1")->name(), "alsa");
    std::size_t count = 0;
    const AudioDeviceKind* kinds = audioDeviceKinds(count);
    const std::string help = audioDeviceHelp();
    for (std::size_t i = 0; i < count; ++i) EXPECT_NE(help.find(kinds[i].help), std::string::npos) << kinds[i].name;

    ASSERT_EQ(setenv(AUDIO_DEVICE_VARIABLE, "null", 1), 0);
    EXPECT_STREQ(chooseAudioDevice().kind->name, "null");
    EXPECT_STREQ(chooseAudioDevice("").kind->name, "null");
    EXPECT_EQ(chooseAudioDevice("bluealsa").argument, "bluealsa");  // the option wins

    // The engine takes the variable when nobody set a device: a WAV file here.
    TempDir dir;
    std::string wav = dir.path("engine.wav");
    ASSERT_EQ(setenv(AUDIO_DEVICE_VARIABLE, ("wav:" + wav).c_str(), 1), 0);
    Settings settings;
    StderrMessageSink messages;
    Engine engine(settings, messages);
    engine.setSoundFontFolder(BRELLIN_BINARY_DIR "/");
    EXPECT_EQ(engine.startEngine(), RESULT_OK);
    ASSERT_NE(engine.output.device(), nullptr);
    EXPECT_STREQ(engine.output.device()->name(), "wav");
    engine.shutdown();
    EXPECT_TRUE(std::filesystem::exists(wav));
    unsetenv(AUDIO_DEVICE_VARIABLE);
}
