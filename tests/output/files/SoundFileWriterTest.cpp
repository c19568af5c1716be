// The file end of offline renders: every type reads back (libsndfile) with
// its rate, channels and length, FLAC with exactly the samples given; our
// WAV writer puts real sizes into a file and a streaming header into a pipe;
// the Opus rate conversion keeps pitch, level and length.
#include "output/files/SoundFileWriter.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "output/devices/WavFileDevice.h"
#include "output/files/RateConverter.h"
#include "output/files/SndFileWriter.h"
#include "output/files/WavFileWriter.h"
#include "tests/SoundFileReadBack.h"
#include "tests/TempDir.h"

namespace brellin {
namespace {

using testing::TempDir;

constexpr double PI = 3.14159265358979323846;

// A 441-Hz sine with a little of a second tone (so an encoder has
// something to do), left and right different; -1 … 1 at time `t` (s).
double tone(double t, std::size_t channel) {
    return 0.5 * std::sin(2 * PI * 441 * t + static_cast<double>(channel)) + 0.1 * std::sin(2 * PI * 1234 * t);
}

// `frames` frames of the tones as PCM the render loop writes.
std::vector<std::uint8_t> testPcm(const AudioFormat& format, std::uint32_t frames) {
    std::vector<std::uint8_t> pcm;
    for (std::uint32_t i = 0; i < frames; ++i) {
        for (std::uint32_t c = 0; c < format.channels; ++c) {
            const double v = tone(static_cast<double>(i) / format.sampleRate, c);
            if (format.bitsPerSample == 8) {
                pcm.push_back(static_cast<std::uint8_t>(128 + std::lround(v * 127)));
            } else {
                const auto s = static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(v * 32000)));
                pcm.push_back(static_cast<std::uint8_t>(s));
                pcm.push_back(static_cast<std::uint8_t>(s >> 8));
            }
        }
    }
    return pcm;
}

// The PCM as libsndfile's shorts: 8-bit unsigned in the top byte.
std::vector<short> asShorts(const AudioFormat& format, const std::vector<std::uint8_t>& pcm) {
    std::vector<short> out;
    if (format.bitsPerSample == 8) {
        for (std::uint8_t b : pcm) out.push_back(static_cast<short>((b - 128) * 256));
    } else {
        for (std::size_t i = 0; i + 1 < pcm.size(); i += 2)
            out.push_back(static_cast<short>(static_cast<std::uint16_t>(pcm[i] | pcm[i + 1] << 8)));
    }
    return out;
}

double rms(const std::vector<short>& s, std::size_t from, std::size_t to) {
    double sum = 0;
    for (std::size_t i = from; i < to; ++i) sum += static_cast<double>(s[i]) * s[i];
    return std::sqrt(sum / static_cast<double>(to - from));
}

// Writes `pcm` in uneven pieces, as the device's staging flushes do.
bool writeAll(SoundFileWriter& writer, const AudioFormat& format, const std::vector<std::uint8_t>& pcm) {
    const std::uint32_t block = format.blockSize();
    std::size_t at = 0;
    for (std::uint32_t piece = 1; at < pcm.size(); piece = piece * 7 % 5003 + 1) {
        const std::size_t n = std::min<std::size_t>(pcm.size() - at, static_cast<std::size_t>(piece) * block);
        if (!writer.write(pcm.data() + at, static_cast<std::uint32_t>(n))) return false;
        at += n;
    }
    return true;
}

TEST(SoundFileTypes, ExtensionsAndFormatWordsChooseTheType) {
    SoundFileType type = SoundFileType::Mp3;
    EXPECT_TRUE(soundFileTypeFromPath("/dev/null", &type) && type == SoundFileType::Wav);
    EXPECT_TRUE(soundFileTypeFromPath("dir.v2/out", &type) && type == SoundFileType::Wav);
    EXPECT_TRUE(soundFileTypeFromPath("a/.hidden", &type) && type == SoundFileType::Wav);
    EXPECT_TRUE(soundFileTypeFromPath("Song.FLAC", &type) && type == SoundFileType::Flac);
    EXPECT_TRUE(soundFileTypeFromPath("x.oga", &type) && type == SoundFileType::Ogg);
    EXPECT_TRUE(soundFileTypeFromPath("x.opus", &type) && type == SoundFileType::Opus);
    EXPECT_TRUE(soundFileTypeFromPath("x.mp3", &type) && type == SoundFileType::Mp3);
    EXPECT_FALSE(soundFileTypeFromPath("x.aiff", &type));
    EXPECT_FALSE(soundFileTypeFromPath("x.", &type));
    EXPECT_TRUE(soundFileTypeFromName("OGG", &type) && type == SoundFileType::Ogg);
    EXPECT_FALSE(soundFileTypeFromName("oga", &type));
    EXPECT_FALSE(soundFileTypeFromName("", &type));
    // This libsndfile (Debian 12's 1.2) writes every type the program offers.
    EXPECT_EQ(writableSoundFileTypes(), "wav flac ogg opus mp3");
}

struct Case {
    SoundFileType type;
    AudioFormat format;
};

class EveryType : public ::testing::TestWithParam<Case> {};

TEST_P(EveryType, ReadsBackWithItsRateChannelsAndLength) {
    const Case c = GetParam();
    TempDir dir;
    const std::string path = dir.path(std::string("out.") + soundFileExtension(c.type));
    const std::uint32_t frames = c.format.sampleRate * 3 / 2 + 17;  // 1.5 s and an odd tail
    const std::vector<std::uint8_t> pcm = testPcm(c.format, frames);
    auto writer = createSoundFileWriter(c.type);
    ASSERT_TRUE(writer->open(path, c.format)) << writer->errorText();
    ASSERT_TRUE(writeAll(*writer, c.format, pcm));
    ASSERT_TRUE(writer->close()) << writer->errorText();

    const DecodedSoundFile back = decodeSoundFile(path);
    ASSERT_TRUE(back.ok) << sf_strerror(nullptr);
    EXPECT_EQ(back.info.channels, static_cast<int>(c.format.channels));
    const std::vector<short> given = asShorts(c.format, pcm);
    if (c.type == SoundFileType::Opus) {
        // 11025, 22050, 44100 Hz are stored at 12000, 24000, 48000 Hz.
        EXPECT_EQ(back.info.samplerate, static_cast<int>(c.format.sampleRate / 147 * 160));
        EXPECT_EQ(back.info.frames, (static_cast<sf_count_t>(frames) * 160 + 146) / 147);
    } else {
        EXPECT_EQ(back.info.samplerate, static_cast<int>(c.format.sampleRate));
        EXPECT_EQ(back.info.frames, static_cast<sf_count_t>(frames));
    }
    if (c.type == SoundFileType::Wav || c.type == SoundFileType::Flac) {
        EXPECT_TRUE(back.samples == given) << "lossless types keep every sample";
    } else {
        // Lossy: the same loudness over the middle of the sound.
        const double ratio = rms(back.samples, back.samples.size() / 4, back.samples.size() * 3 / 4) /
                             rms(given, given.size() / 4, given.size() * 3 / 4);
        EXPECT_NEAR(20 * std::log10(ratio), 0.0, 0.5);
        // And the same waveform at the same instants (the codecs' delays
        // taken out, Opus's rate converted): against the tones themselves.
        const std::size_t channels = c.format.channels;
        double dot = 0, a = 0, b = 0;
        for (std::size_t i = back.samples.size() / 4; i < back.samples.size() * 3 / 4; ++i) {
            const double expected = tone(static_cast<double>(i / channels) / back.info.samplerate, i % channels);
            dot += expected * back.samples[i];
            a += expected * expected;
            b += static_cast<double>(back.samples[i]) * back.samples[i];
        }
        EXPECT_GT(dot / std::sqrt(a * b), 0.995);
    }
}

std::vector<Case> allCases() {
    std::vector<Case> cases;
    for (SoundFileType type :
         {SoundFileType::Wav, SoundFileType::Flac, SoundFileType::Ogg, SoundFileType::Opus, SoundFileType::Mp3}) {
        cases.push_back({type, AudioFormat{11025, 8, 1}});
        cases.push_back({type, AudioFormat{44100, 16, 2}});
        cases.push_back({type, AudioFormat{22050, 8, 2}});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Types, EveryType, ::testing::ValuesIn(allCases()), [](const auto& testInfo) {
    return std::string(soundFileExtension(testInfo.param.type)) + "_" +
           std::to_string(testInfo.param.format.sampleRate) + "_" +
           std::to_string(testInfo.param.format.bitsPerSample) + "bit_" +
           std::to_string(testInfo.param.format.channels) + "ch";
});

std::uint32_t get32(const std::string& s, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<std::uint8_t>(s[at + static_cast<std::size_t>(i)]);
    return v;
}

TEST(WavFileWriter, FileGetsItsSizesPipeAndDeviceAStreamingHeader) {
    TempDir dir;
    const AudioFormat format{22050, 8, 1};
    const std::vector<std::uint8_t> pcm = testPcm(format, 1001);  // odd: a pad byte follows in a file

    WavFileWriter file;
    ASSERT_TRUE(file.open(dir.path("a.wav"), format));
    EXPECT_FALSE(file.streaming());
    ASSERT_TRUE(file.write(pcm.data(), 1001));
    ASSERT_TRUE(file.close());
    const std::string bytes = dir.read("a.wav");
    ASSERT_EQ(bytes.size(), 44u + 1002u);
    EXPECT_EQ(get32(bytes, 4), 36u + 1002u);
    EXPECT_EQ(get32(bytes, 40), 1001u);

    // A FIFO: the reader gets the header with both sizes at their largest, then the data.
    const std::string fifo = dir.path("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] {
        std::ifstream in(fifo, std::ios::binary);
        received.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    });
    WavFileWriter stream;
    const bool opened = stream.open(fifo, format);
    EXPECT_TRUE(opened && stream.streaming());
    EXPECT_TRUE(opened && stream.write(pcm.data(), 1001));
    EXPECT_TRUE(stream.close());
    reader.join();
    ASSERT_EQ(received.size(), 44u + 1001u);
    EXPECT_EQ(get32(received, 4), WAV_STREAMING_SIZE);
    EXPECT_EQ(get32(received, 40), WAV_STREAMING_SIZE);
    EXPECT_EQ(received.compare(8, 32, bytes, 8, 32), 0) << "the same format chunk";
    EXPECT_EQ(received.compare(44, 1001, bytes, 44, 1001), 0);

    WavFileWriter null;
    EXPECT_TRUE(null.open("/dev/null", format) && null.streaming());
    EXPECT_TRUE(null.write(pcm.data(), 1001));
    EXPECT_TRUE(null.close());

    WavFileWriter nowhere;
    EXPECT_FALSE(nowhere.open(dir.path("no/such/folder/a.wav"), format));
    EXPECT_NE(std::string(nowhere.errorText()).find("no/such/folder/a.wav"), std::string::npos);
    EXPECT_FALSE(nowhere.open(dir.root.string(), format)) << "a folder is not a file";
}

TEST(SndFileWriter, RefusesStandardOutputAndUnwritablePaths) {
    TempDir dir;
    SndFileWriter flac(SoundFileType::Flac);
    EXPECT_FALSE(flac.open("-", AudioFormat{22050, 16, 2}));
    EXPECT_FALSE(flac.open(dir.path("no/such/folder/a.flac"), AudioFormat{22050, 16, 2}));
    EXPECT_NE(std::string(flac.errorText()).find("FLAC"), std::string::npos);
    EXPECT_FALSE(flac.write(nullptr, 0)) << "nothing open";
    EXPECT_TRUE(flac.close());
}

// The converted sine at output instant n, against the sine itself.
TEST(RateConverter, KeepsPitchLevelAndLengthWhateverTheChunks) {
    const std::uint32_t inFrames = 44100;
    std::vector<float> input(inFrames * 2);
    for (std::uint32_t i = 0; i < inFrames; ++i) {
        input[2 * i] = static_cast<float>(0.8 * std::sin(2 * PI * 1000.0 * i / 44100));
        input[2 * i + 1] = static_cast<float>(0.5 * std::sin(2 * PI * 15000.0 * i / 44100));
    }
    auto convert = [&](std::uint32_t chunk) {
        RateConverter converter;
        EXPECT_TRUE(converter.setup(160, 147, 2, chunk));
        std::vector<float> out, scratch(static_cast<std::size_t>(converter.maxOutputFrames()) * 2);
        for (std::uint32_t at = 0; at < inFrames; at += chunk) {
            const std::uint32_t n = converter.convert(&input[2 * at], std::min(chunk, inFrames - at), scratch.data());
            out.insert(out.end(), scratch.begin(), scratch.begin() + 2 * n);
        }
        const std::uint32_t n = converter.drain(scratch.data());
        out.insert(out.end(), scratch.begin(), scratch.begin() + 2 * n);
        return out;
    };
    const std::vector<float> whole = convert(inFrames);
    ASSERT_EQ(whole.size(), 2u * ((inFrames * 160u + 146u) / 147u));
    EXPECT_EQ(convert(1000), whole);
    EXPECT_EQ(convert(1), whole);
    // Away from the edges (the filter reaches 16 input frames), both tones
    // are where they were in time and level, at 48000 Hz.
    double worst1k = 0, worst15k = 0;
    for (std::size_t n = 100; n + 100 < whole.size() / 2; ++n) {
        const double t = static_cast<double>(n) / 48000;
        worst1k = std::max(worst1k, std::fabs(whole[2 * n] - 0.8 * std::sin(2 * PI * 1000 * t)));
        worst15k = std::max(worst15k, std::fabs(whole[2 * n + 1] - 0.5 * std::sin(2 * PI * 15000 * t)));
    }
    EXPECT_LT(worst1k, 1e-3);
    EXPECT_LT(worst15k, 5e-3);
    RateConverter bad;
    EXPECT_FALSE(bad.setup(0, 147, 2, 10));
    EXPECT_FALSE(bad.setup(160, 147, 3, 10));
}

}  // namespace
}  // namespace brellin
