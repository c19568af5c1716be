// The ALSA backend through a real ALSA path without sound hardware: a
// temporary HOME whose .asoundrc makes "default" ALSA's `file` PCM (writing
// what it is given to a file, with the `null` PCM behind it), and one whose
// "default" is a card that does not exist.
#include "output/devices/AlsaDevice.h"

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "output/SoundOutput.h"
#include "tests/TempDir.h"
#include "tests/output/OutputTestSupport.h"

namespace brellin {
namespace {

using testing::CountingSource;
using testing::isSilence;
using testing::referenceRender;
using testing::TempDir;

// Points HOME at a folder with the given .asoundrc and makes ALSA read its
// configuration again; puts everything back at the end.
class AlsaHome {
public:
    explicit AlsaHome(const std::string& asoundrc) {
        const char* home = std::getenv("HOME");
        if (home) oldHome = home;
        hadHome = home != nullptr;
        dir.write(".asoundrc", asoundrc);
        setenv("HOME", dir.root.c_str(), 1);
        unsetenv("ALSA_CONFIG_PATH");
        snd_config_update_free_global();
    }
    ~AlsaHome() {
        if (hadHome) {
            setenv("HOME", oldHome.c_str(), 1);
        } else {
            unsetenv("HOME");
        }
        snd_config_update_free_global();
    }
    std::string path(const std::string& name) const { return dir.path(name); }
    std::string read(const std::string& name) const { return dir.read(name); }

private:
    TempDir dir;
    std::string oldHome;
    bool hadHome = false;
};

std::string filePcm(const std::string& rawPath) {
    return "pcm.!default {\n"
           "    type file\n"
           "    slave.pcm \"null\"\n"
           "    file \"" +
           rawPath +
           "\"\n"
           "    format \"raw\"\n"
           "}\n";
}

struct Format {
    std::uint32_t rate, bits, channels;
};

// Every slice that reached ALSA is either silence (the opening buffers,
// slices rendered before the source was attached, catch-up buffers) or the
// next slice of the straight render, in order. Returns how many rendered
// slices were found, or -1 at the first slice that is neither.
long matchSlices(const std::string& raw, const Format& f) {
    const std::size_t sliceBytes = (f.rate * 44 / 11025) * f.channels * f.bits / 8;
    const std::size_t slices = raw.size() / sliceBytes;
    const std::vector<std::uint8_t> expected =
        referenceRender(f.bits, f.rate, f.channels, static_cast<std::uint32_t>(slices / 16 + 1));
    std::size_t next = 0;
    for (std::size_t s = 0; s < slices; ++s) {
        const auto* slice = reinterpret_cast<const std::uint8_t*>(raw.data()) + s * sliceBytes;
        if (std::memcmp(slice, expected.data() + next * sliceBytes, sliceBytes) == 0) {
            ++next;
        } else if (!isSilence(slice, sliceBytes, f.bits)) {
            ADD_FAILURE() << "slice " << s << " is neither silence nor rendered slice " << next;
            return -1;
        }
    }
    return static_cast<long>(next);
}

class AlsaFilePcm : public ::testing::TestWithParam<Format> {};

TEST_P(AlsaFilePcm, TheBytesReachingAlsaAreTheRenderedOnes) {
    const Format f = GetParam();
    TempDir scratch;
    AlsaHome home(filePcm(scratch.path("alsa.raw")));
    SoundOutput output;
    output.setDevice(std::make_unique<AlsaDevice>());
    ASSERT_TRUE(output.open(f.bits, f.rate, f.channels)) << output.deviceErrorText();
    CountingSource source(f.channels, f.bits == 8 ? 1 : 256);
    ASSERT_TRUE(output.attachSource(&source, f.channels));
    const std::uint32_t start = output.clock.load();
    // The null PCM takes data as fast as it comes; wait for 40 rendered buffers (bounded).
    for (int i = 0; i < 20000 && output.clock.load() - start < 64 * 40; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    output.close();
    ASSERT_GE(output.clock.load() - start, 64u * 40u);

    const std::string raw = scratch.read("alsa.raw");
    const std::size_t bufferBytes = 16 * (f.rate * 44 / 11025) * f.channels * f.bits / 8;
    ASSERT_GE(raw.size(), 9 * bufferBytes);
    EXPECT_TRUE(isSilence(reinterpret_cast<const std::uint8_t*>(raw.data()), 8 * bufferBytes, f.bits))
        << "the eight buffers queued at open are silence";
    const long rendered = matchSlices(raw, f);
    EXPECT_GE(rendered, 16) << "at least one buffer of the source reached ALSA";
}

INSTANTIATE_TEST_SUITE_P(Formats, AlsaFilePcm,
                         ::testing::Values(Format{11025, 8, 1}, Format{22050, 16, 2}, Format{44100, 16, 1},
                                           Format{44100, 8, 2}),
                         [](const ::testing::TestParamInfo<Format>& testInfo) {
                             return std::to_string(testInfo.param.rate) + "Hz" + std::to_string(testInfo.param.bits) +
                                    "bit" + (testInfo.param.channels == 2 ? "Stereo" : "Mono");
                         });

TEST(AlsaDevice, AMissingSoundDeviceFailsTheOpenWithADeviceError) {
    AlsaHome home("pcm.!default {\n    type hw\n    card 99\n}\nctl.!default {\n    type hw\n    card 99\n}\n");
    SoundOutput output;
    output.setDevice(std::make_unique<AlsaDevice>());
    EXPECT_FALSE(output.open(16, 44100, 2));
    EXPECT_EQ(output.lastError, static_cast<ResultCode>(0x80000003u));
    EXPECT_FALSE(output.isRunning());
    const std::string text = output.deviceErrorText();
    EXPECT_NE(text.find("\"default\""), std::string::npos) << text;
    EXPECT_NE(text.find("pipewire-alsa"), std::string::npos) << text;
    output.close();
    EXPECT_FALSE(output.isRunning());
}

TEST(AlsaDevice, ReopensAfterClose) {
    TempDir scratch;
    AlsaHome home(filePcm(scratch.path("again.raw")));
    SoundOutput output;
    output.setDevice(std::make_unique<AlsaDevice>());
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(output.open(8, 22050, 1)) << output.deviceErrorText();
        for (int i = 0; i < 20000 && output.clock.load() < 64u * 4u * static_cast<unsigned>(round + 1); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        output.close();
    }
    EXPECT_GE(output.clock.load(), 64u * 12u);
}

}  // namespace
}  // namespace brellin
