// The WAV file backend: the file holds exactly the rendered PCM with a
// correct RIFF header in every format, renders are deterministic, and a
// render ends where a slice client says.
#include "output/devices/WavFileDevice.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "output/SoundOutput.h"
#include "output/devices/WavRecorderDevice.h"
#include "tests/CommandRun.h"
#include "tests/TempDir.h"
#include "tests/output/OutputTestSupport.h"

namespace brellin {
namespace {

using testing::CountingSource;
using testing::isSilence;
using testing::referenceRender;
using testing::TempDir;

std::uint32_t get32(const std::string& s, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[at]) | static_cast<std::uint8_t>(s[at + 1]) << 8 |
                                      static_cast<std::uint8_t>(s[at + 2]) << 16) |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[at + 3])) << 24;
}
std::uint32_t get16(const std::string& s, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[at]) | static_cast<std::uint8_t>(s[at + 1]) << 8);
}

struct Parsed {
    bool ok = false;
    std::uint32_t riffSize = 0, channels = 0, rate = 0, byteRate = 0, blockAlign = 0, bits = 0, dataSize = 0;
    std::string data;
};

Parsed parseWav(const std::string& file) {
    Parsed p;
    if (file.size() < 44 || file.compare(0, 4, "RIFF") != 0 || file.compare(8, 8, "WAVEfmt ") != 0 ||
        file.compare(36, 4, "data") != 0 || get32(file, 16) != 16 || get16(file, 20) != 1)
        return p;
    p.riffSize = get32(file, 4);
    p.channels = get16(file, 22);
    p.rate = get32(file, 24);
    p.byteRate = get32(file, 28);
    p.blockAlign = get16(file, 32);
    p.bits = get16(file, 34);
    p.dataSize = get32(file, 40);
    if (44 + static_cast<std::size_t>(p.dataSize) > file.size()) return p;
    p.data = file.substr(44, p.dataSize);
    p.ok = true;
    return p;
}

struct Format {
    std::uint32_t rate, bits, channels;
};
const Format formats[] = {{11025, 8, 1}, {11025, 8, 2}, {11025, 16, 1}, {11025, 16, 2},
                          {22050, 8, 1}, {22050, 8, 2}, {22050, 16, 1}, {22050, 16, 2},
                          {44100, 8, 1}, {44100, 8, 2}, {44100, 16, 1}, {44100, 16, 2}};

// Renders a CountingSource into `path`; the device is held until the source
// is attached, so the first rendered slice is the same on every run.
bool renderCounting(const std::string& path, const Format& f, const WavFileDevice::Options& options,
                    SoundOutput& output) {
    WavFileDevice::Options held = options;
    held.startHeld = true;
    auto owned = std::make_unique<WavFileDevice>(path, held);
    WavFileDevice* device = owned.get();
    output.setDevice(std::move(owned));
    if (!output.open(f.bits, f.rate, f.channels)) return false;
    CountingSource source(f.channels, f.bits == 8 ? 1 : 256);
    if (!output.attachSource(&source, f.channels)) return false;
    device->release();
    const bool ended = device->waitEnded(60000);
    output.close();
    return ended;
}

class WavFileFormat : public ::testing::TestWithParam<Format> {};

TEST_P(WavFileFormat, HoldsExactlyTheRenderedPcmWithACorrectHeader) {
    const Format f = GetParam();
    TempDir dir;
    const std::uint32_t block = f.bits * f.channels / 8;
    const std::uint32_t framesPerBuffer = 16 * (f.rate * 44 / 11025);
    WavFileDevice::Options options;
    options.skipOpeningSilence = true;
    options.frameLimit = 40 * framesPerBuffer + 123;  // far beyond one ring, ending inside a buffer
    SoundOutput output;
    ASSERT_TRUE(renderCounting(dir.path("out.wav"), f, options, output));

    const std::string file = dir.read("out.wav");
    const Parsed wav = parseWav(file);
    ASSERT_TRUE(wav.ok);
    const std::uint32_t dataSize = static_cast<std::uint32_t>(options.frameLimit) * block;
    const std::uint32_t pad = dataSize & 1;
    EXPECT_EQ(wav.dataSize, dataSize);
    EXPECT_EQ(wav.riffSize, 36 + dataSize + pad);
    EXPECT_EQ(file.size(), 44 + dataSize + pad);
    EXPECT_EQ(wav.channels, f.channels);
    EXPECT_EQ(wav.rate, f.rate);
    EXPECT_EQ(wav.byteRate, f.rate * block);
    EXPECT_EQ(wav.blockAlign, block);
    EXPECT_EQ(wav.bits, f.bits);

    // No catch-up silence anywhere: the whole file is the straight render.
    const std::vector<std::uint8_t> expected = referenceRender(f.bits, f.rate, f.channels, 41);
    ASSERT_EQ(wav.data, std::string(expected.begin(), expected.begin() + dataSize));
}

INSTANTIATE_TEST_SUITE_P(AllTwelve, WavFileFormat, ::testing::ValuesIn(formats),
                         [](const ::testing::TestParamInfo<Format>& testInfo) {
                             return std::to_string(testInfo.param.rate) + "Hz" + std::to_string(testInfo.param.bits) +
                                    "bit" + (testInfo.param.channels == 2 ? "Stereo" : "Mono");
                         });

// The session sets a file's end once the render has gone a little past it
// (it learns where the last song ended only then): the file, WAV or FLAC,
// still ends exactly there, whatever the staging had already handed on.
TEST(WavFile, FinishAtCutsWhatWasRenderedPastTheEndInEveryFileType) {
    const Format f{22050, 16, 2};
    const std::uint32_t framesPerBuffer = 16 * 88;
    // The staging hands on 256 KiB at a time. Rendered: just past 512 KiB
    // (2816 frames short of the point where two buffers more would have
    // gone out); the end lies before 512 KiB.
    const std::uint64_t end = 130000;
    const std::vector<std::uint8_t> expected = referenceRender(f.bits, f.rate, f.channels, 95);
    for (SoundFileType type : {SoundFileType::Wav, SoundFileType::Flac}) {
        TempDir dir;
        const std::string path = dir.path(std::string("out.") + soundFileExtension(type));
        WavFileDevice::Options options;
        options.skipOpeningSilence = true;
        options.startHeld = true;
        options.type = type;
        options.frameLimit = 94 * framesPerBuffer + 148;  // 530000 bytes
        auto owned = std::make_unique<WavFileDevice>(path, options);
        WavFileDevice* device = owned.get();
        SoundOutput output;
        output.setDevice(std::move(owned));
        ASSERT_TRUE(output.open(f.bits, f.rate, f.channels));
        CountingSource source(f.channels, 256);
        ASSERT_TRUE(output.attachSource(&source, f.channels));
        device->release();
        ASSERT_TRUE(device->waitEnded(60000));
        device->finishAt(end);
        output.close();
        ASSERT_EQ(device->lastError, RESULT_OK) << device->errorText();

        SF_INFO info{};
        SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
        ASSERT_NE(file, nullptr);
        std::vector<short> samples(static_cast<std::size_t>(info.frames) * 2);
        EXPECT_EQ(sf_readf_short(file, samples.data(), info.frames), info.frames);
        sf_close(file);
        EXPECT_EQ(info.frames, static_cast<sf_count_t>(end)) << soundFileExtension(type);
        EXPECT_EQ(std::memcmp(samples.data(), expected.data(), std::min(samples.size() * 2, expected.size())), 0)
            << soundFileExtension(type);
    }
}

TEST(WavFile, ALongRenderNeverFallsIntoCatchUpSilence) {
    TempDir dir;
    const Format f{22050, 8, 1};
    WavFileDevice::Options options;
    options.skipOpeningSilence = true;
    options.frameLimit = 1000 * 1408;  // 1000 buffers, 64 s of sound
    SoundOutput output;
    ASSERT_TRUE(renderCounting(dir.path("long.wav"), f, options, output));
    const Parsed wav = parseWav(dir.read("long.wav"));
    ASSERT_TRUE(wav.ok);
    const std::vector<std::uint8_t> expected = referenceRender(8, 22050, 1, 1000);
    ASSERT_EQ(wav.data.size(), expected.size());
    ASSERT_TRUE(std::memcmp(wav.data.data(), expected.data(), expected.size()) == 0);
}

TEST(WavFile, SameInputSameBytes) {
    TempDir dir;
    WavFileDevice::Options options;  // opening silence included
    options.frameLimit = 30 * 2816 + 5;
    SoundOutput first, second;
    ASSERT_TRUE(renderCounting(dir.path("a.wav"), {44100, 16, 2}, options, first));
    ASSERT_TRUE(renderCounting(dir.path("b.wav"), {44100, 16, 2}, options, second));
    const std::string a = dir.read("a.wav");
    ASSERT_GT(a.size(), 44u + 8u * 11264u);
    EXPECT_TRUE(isSilence(reinterpret_cast<const std::uint8_t*>(a.data()) + 44, 8 * 11264, 16))
        << "the eight buffers queued at open are silence";
    EXPECT_EQ(a, dir.read("b.wav"));
}

TEST(WavFile, EightBitMonoWithAnOddLengthIsPadded) {
    TempDir dir;
    WavFileDevice::Options options;
    options.skipOpeningSilence = true;
    options.frameLimit = 1001;
    SoundOutput output;
    ASSERT_TRUE(renderCounting(dir.path("odd.wav"), {11025, 8, 1}, options, output));
    const std::string file = dir.read("odd.wav");
    const Parsed wav = parseWav(file);
    ASSERT_TRUE(wav.ok);
    EXPECT_EQ(wav.dataSize, 1001u);
    EXPECT_EQ(wav.riffSize, 36u + 1002u);
    EXPECT_EQ(file.size(), 44u + 1002u);
    EXPECT_EQ(file.back(), '\0');
}

struct FinishAt {
    SoundOutput* output;
    WavFileDevice* device;
    std::uint32_t clock;
};

void finishWhenDue(void* argument) {
    auto* at = static_cast<FinishAt*>(argument);
    if (at->output->clock.load() == at->clock) at->device->finish();
}

TEST(WavFile, FinishFromASliceClientEndsAfterThatBuffer) {
    TempDir dir;
    for (int run = 0; run < 2; ++run) {
        auto owned = std::make_unique<WavFileDevice>(dir.path("finish.wav"));
        WavFileDevice* device = owned.get();
        SoundOutput output;
        output.setDevice(std::move(owned));
        // The slice that sees clock 1000 is slice 249 (clock 4 per slice), in buffer 15.
        FinishAt at{&output, device, 1000};
        output.addSliceClient(finishWhenDue, &at, SliceOrder::Watch);
        ASSERT_TRUE(output.open(16, 11025, 1));
        ASSERT_TRUE(device->waitEnded(60000));
        EXPECT_EQ(device->framesWritten(), (8u + 16u) * 704u);
        output.close();
        const Parsed wav = parseWav(dir.read("finish.wav"));
        ASSERT_TRUE(wav.ok);
        EXPECT_EQ(wav.dataSize, (8u + 16u) * 1408u) << "run " << run;
    }
}

TEST(WavFile, StartHeldRendersNothingUntilReleased) {
    TempDir dir;
    WavFileDevice::Options options;
    options.startHeld = true;
    options.frameLimit = 8 * 704 + 20 * 704;
    auto owned = std::make_unique<WavFileDevice>(dir.path("held.wav"), options);
    WavFileDevice* device = owned.get();
    SoundOutput output;
    output.setDevice(std::move(owned));
    ASSERT_TRUE(output.open(8, 11025, 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(output.clock.load(), 0u);
    EXPECT_EQ(device->framesWritten(), 8u * 704u) << "only the opening silence";
    EXPECT_FALSE(device->ended());
    device->release();
    ASSERT_TRUE(device->waitEnded(60000));
    EXPECT_EQ(device->framesWritten(), 28u * 704u);
    output.close();
}

TEST(WavFile, ClosingEarlyStillLeavesAConsistentFile) {
    TempDir dir;
    WavFileDevice::Options options;
    options.skipOpeningSilence = true;
    options.startHeld = true;
    auto owned = std::make_unique<WavFileDevice>(dir.path("early.wav"), options);
    WavFileDevice* device = owned.get();
    SoundOutput output;
    output.setDevice(std::move(owned));
    ASSERT_TRUE(output.open(16, 22050, 2));
    CountingSource source(2, 256);
    ASSERT_TRUE(output.attachSource(&source, 2));
    device->release();
    for (int i = 0; i < 20000 && output.clock.load() < 64 * 50; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    output.close();
    const std::string file = dir.read("early.wav");
    const Parsed wav = parseWav(file);
    ASSERT_TRUE(wav.ok);
    EXPECT_EQ(file.size(), 44u + wav.dataSize);
    EXPECT_EQ(wav.riffSize, 36u + wav.dataSize);
    EXPECT_EQ(wav.dataSize % 5632u, 0u) << "whole buffers";
    ASSERT_GE(wav.dataSize, 50u * 5632u);
    // The straight render up to the moment `close` detached the source, silence after it.
    const std::vector<std::uint8_t> expected = referenceRender(16, 22050, 2, wav.dataSize / 5632u);
    const std::size_t sliceBytes = 352;
    std::size_t matching = 0;
    while (matching < wav.dataSize &&
           std::memcmp(wav.data.data() + matching, expected.data() + matching, sliceBytes) == 0) {
        matching += sliceBytes;
    }
    EXPECT_GE(matching, 50u * 5632u);
    EXPECT_TRUE(
        isSilence(reinterpret_cast<const std::uint8_t*>(wav.data.data()) + matching, wav.dataSize - matching, 16));
}

std::string commandOutput(const std::string& command) { return testing::runCommand(command).output; }

TEST(WavFile, SoxReadsTheFileAsWritten) {
    if (std::system("command -v soxi >/dev/null 2>&1") != 0) GTEST_SKIP() << "sox is not installed";
    TempDir dir;
    for (const Format& f : {Format{11025, 8, 1}, Format{22050, 16, 2}, Format{44100, 8, 2}}) {
        WavFileDevice::Options options;
        options.skipOpeningSilence = true;
        options.frameLimit = 12345;
        SoundOutput output;
        const std::string path = dir.path("sox.wav");
        ASSERT_TRUE(renderCounting(path, f, options, output));
        const std::string info = commandOutput("soxi -r '" + path + "'; soxi -c '" + path + "'; soxi -b '" + path +
                                               "'; soxi -s '" + path + "'; soxi -e '" + path + "'");
        const std::string encoding = f.bits == 8 ? "Unsigned Integer PCM" : "Signed Integer PCM";
        EXPECT_EQ(info, std::to_string(f.rate) + "\n" + std::to_string(f.channels) + "\n" + std::to_string(f.bits) +
                            "\n12345\n" + encoding + "\n");
        // sox's own decoding of the samples gives back the rendered bytes.
        const std::string raw = commandOutput("sox '" + path + "' -t raw -");
        const std::vector<std::uint8_t> expected =
            referenceRender(f.bits, f.rate, f.channels, 12345 / (16 * (f.rate * 44 / 11025)) + 1);
        ASSERT_EQ(raw.size(), 12345u * f.channels * f.bits / 8);
        EXPECT_TRUE(std::memcmp(raw.data(), expected.data(), raw.size()) == 0);
    }
}

TEST(WavFile, AFileThatCannotBeCreatedFailsTheOpen) {
    TempDir dir;
    const std::string path = dir.path("missing-folder/out.wav");
    SoundOutput output;
    auto owned = std::make_unique<WavFileDevice>(path);
    WavFileDevice* device = owned.get();
    output.setDevice(std::move(owned));
    EXPECT_FALSE(output.open(16, 44100, 2));
    EXPECT_EQ(output.lastError, RESULT_DEVICE_ERROR);
    EXPECT_EQ(device->lastError, RESULT_CANNOT_OPEN_FILE);
    EXPECT_NE(std::string(output.deviceErrorText()).find(path), std::string::npos);
    output.close();
}

TEST(WavRecorder, RecordsWhatPlaysAtTheSpeedOfPlaying) {
    // The "wav:PATH" device of a real-time player: a song takes as long to
    // record as to hear, and the file holds what was played.
    TempDir dir;
    const std::string path = dir.path("rec.wav");
    SoundOutput output;
    auto device = std::make_unique<WavRecorderDevice>(path);
    WavRecorderDevice* recorder = device.get();
    output.setDevice(std::move(device));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(output.open(16, 22050, 2));
    testing::ConstantSource source(1000, -1000, 2);
    ASSERT_TRUE(output.attachSource(&source, 2));
    for (int i = 0; i < 5000 && output.clock.load() < 900; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    output.close();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_TRUE(recorder->errorText()[0] == '\0') << recorder->errorText();

    Parsed wav = parseWav(dir.read("rec.wav"));
    ASSERT_TRUE(wav.ok);
    EXPECT_EQ(wav.rate, 22050u);
    EXPECT_EQ(wav.channels, 2u);
    EXPECT_EQ(wav.data.size(), recorder->recordedBytes());
    const double recorded = static_cast<double>(wav.dataSize) / wav.byteRate;
    EXPECT_GT(recorded, 0.3) << "the opening silence and the played source";
    // Paced: never more sound than time went by (a file device would have
    // written many seconds by now), allowing one buffer of slack.
    EXPECT_LE(recorded, seconds + 0.07);
    // The source's constant level is in the file after the opening silence.
    const auto* samples = reinterpret_cast<const std::int16_t*>(wav.data.data());
    const std::size_t last = wav.data.size() / 4 - 1;
    EXPECT_EQ(samples[2 * last], 1000);
    EXPECT_EQ(samples[2 * last + 1], -1000);
}

}  // namespace
}  // namespace brellin
