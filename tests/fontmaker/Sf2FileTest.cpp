#include "fontmaker/Sf2File.h"

#include <gtest/gtest.h>

#include "tests/TempDir.h"
#include "tests/fontmaker/Sf2Builder.h"

namespace brellin {
namespace {

using testing::Sf2Builder;

const std::uint8_t* bytesOf(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

// One instrument with a global zone and two key-split zones, one preset
// with a global zone and a zone that adds to the instrument's generators.
Sf2Builder layeredBank() {
    Sf2Builder b;
    b.samples.push_back({"low", Sf2Builder::sine(1000, 100.0), 44100, 48, 0, 100, 900});
    b.samples.push_back({"high", Sf2Builder::sine(1000, 50.0), 22050, 72, -10, 0, 0});
    b.instruments.push_back({"split",
                             {{{SF2_ATTACK_VOL_ENV, -1200}, {SF2_SUSTAIN_VOL_ENV, 300}},
                              {{SF2_KEY_RANGE, Sf2Builder::range(0, 59)}, {SF2_SAMPLE_MODES, 1}, {SF2_SAMPLE_ID, 0}},
                              {{SF2_KEY_RANGE, Sf2Builder::range(60, 127)}, {SF2_ATTACK_VOL_ENV, -2400},
                               {SF2_SAMPLE_ID, 1}}}});
    b.presets.push_back({"Piano",
                         0,
                         0,
                         {{{SF2_ATTACK_VOL_ENV, 1200}, {SF2_INITIAL_ATTENUATION, 50}},
                          {{SF2_KEY_RANGE, Sf2Builder::range(0, 100)}, {SF2_INITIAL_ATTENUATION, 20},
                           {SF2_SAMPLE_MODES, 0}, {SF2_OVERRIDING_ROOT_KEY, 10}, {SF2_INSTRUMENT, 0}}}});
    return b;
}

TEST(Sf2FileParse, ReadsHeadersOfAValidBank) {
    std::string file = layeredBank().build();
    Sf2File bank;
    ASSERT_TRUE(bank.parse(bytesOf(file), file.size())) << bank.errorText;
    ASSERT_EQ(bank.presets.size(), 1u);
    EXPECT_EQ(bank.presets[0].name, "Piano");
    ASSERT_EQ(bank.instruments.size(), 1u);
    ASSERT_EQ(bank.samples.size(), 2u);
    EXPECT_EQ(bank.samples[1].sampleRate, 22050u);
    EXPECT_EQ(bank.samples[1].originalPitch, 72);
    EXPECT_EQ(bank.samples[1].pitchCorrection, -10);
    EXPECT_EQ(bank.samples[0].loopEnd - bank.samples[0].start, 900u);
    EXPECT_EQ(bank.bankName, "Test bank");
    std::vector<std::int16_t> frames;
    ASSERT_TRUE(bank.readSamples(bank.samples[0].start, bank.samples[0].start + 30, frames));
    EXPECT_EQ(frames[25], Sf2Builder::sine(1000, 100.0)[25]);
}

TEST(Sf2FileZones, GlobalZonesGiveDefaultsAndLocalZonesOverride) {
    std::string file = layeredBank().build();
    Sf2File bank;
    ASSERT_TRUE(bank.parse(bytesOf(file), file.size()));
    std::vector<Sf2Region> regions;
    ASSERT_EQ(bank.findRegions(0, 40, 100, regions), 1u);
    // Instrument global attack -1200 plus the preset's global +1200.
    EXPECT_EQ(regions[0][SF2_ATTACK_VOL_ENV], 0);
    EXPECT_EQ(regions[0][SF2_SUSTAIN_VOL_ENV], 300);
    EXPECT_EQ(regions[0].sampleIndex, 0u);
    ASSERT_EQ(bank.findRegions(0, 70, 100, regions), 1u);
    // The local zone's -2400 replaces the instrument's global -1200.
    EXPECT_EQ(regions[0][SF2_ATTACK_VOL_ENV], -1200);
    EXPECT_EQ(regions[0].sampleIndex, 1u);
}

TEST(Sf2FileZones, PresetLocalZoneOverridesPresetGlobalAndInstrumentOnlyOperatorsAreIgnored) {
    std::string file = layeredBank().build();
    Sf2File bank;
    ASSERT_TRUE(bank.parse(bytesOf(file), file.size()));
    std::vector<Sf2Region> regions;
    ASSERT_EQ(bank.findRegions(0, 40, 100, regions), 1u);
    // Attenuation 20 from the preset's local zone replaces its global 50.
    EXPECT_EQ(regions[0][SF2_INITIAL_ATTENUATION], 20);
    // Sample modes and root key may not be set at preset level.
    EXPECT_EQ(regions[0][SF2_SAMPLE_MODES], 1);
    EXPECT_EQ(regions[0][SF2_OVERRIDING_ROOT_KEY], -1);
}

TEST(Sf2FileZones, PresetAndInstrumentKeyRangesIntersect) {
    std::string file = layeredBank().build();
    Sf2File bank;
    ASSERT_TRUE(bank.parse(bytesOf(file), file.size()));
    std::vector<Sf2Region> regions;
    EXPECT_EQ(bank.findRegions(0, 101, 100, regions), 0u);  // instrument covers it, preset does not
    ASSERT_EQ(bank.findRegions(0, 100, 100, regions), 1u);
    EXPECT_EQ(regions[0].keyLow, 60);
    EXPECT_EQ(regions[0].keyHigh, 100);
    int low, high;
    ASSERT_TRUE(bank.presetKeyRange(0, low, high));
    EXPECT_EQ(low, 0);
    EXPECT_EQ(high, 100);
}

TEST(Sf2FileZones, ZonesNamingMissingInstrumentsOrSamplesAreSkipped) {
    Sf2Builder b = layeredBank();
    b.instruments[0].zones.push_back({{SF2_SAMPLE_ID, 7}});
    b.presets[0].zones.push_back({{SF2_INSTRUMENT, 5}});
    std::string file = b.build();
    Sf2File bank;
    ASSERT_TRUE(bank.parse(bytesOf(file), file.size()));
    std::vector<Sf2Region> regions;
    EXPECT_EQ(bank.findRegions(0, 70, 100, regions), 1u);
}

TEST(Sf2FileReject, NonSf2AndEmptyInputFailWithAReason) {
    Sf2File bank;
    EXPECT_FALSE(bank.parse(nullptr, 0));
    EXPECT_EQ(bank.lastError, RESULT_UNSUPPORTED_DATA);
    std::string wave("RIFF\x04\0\0\0WAVEfmt ", 16);
    EXPECT_FALSE(bank.parse(bytesOf(wave), wave.size()));
    EXPECT_NE(bank.errorText.find("not a SoundFont"), std::string::npos);
}

TEST(Sf2FileReject, EveryTruncationFailsCleanly) {
    std::string file = layeredBank().build();
    // Any prefix that cuts into the preset data must fail; none may crash
    // (the sanitizer builds run this too).
    for (std::size_t n = 0; n < file.size(); ++n) {
        Sf2File bank;
        std::string cut = file.substr(0, n);
        EXPECT_FALSE(bank.parse(bytesOf(cut), cut.size())) << "prefix " << n;
        EXPECT_TRUE(failed(bank.lastError));
        EXPECT_FALSE(bank.errorText.empty());
    }
}

TEST(Sf2FileReject, BackwardZoneIndexesAreRejected) {
    std::string file = layeredBank().build();
    // The first preset header's bag index is at "phdr" + 8 + 24.
    std::size_t phdr = file.find("phdr");
    ASSERT_NE(phdr, std::string::npos);
    file[phdr + 8 + 24] = 5;  // past the terminal record's index
    Sf2File bank;
    EXPECT_FALSE(bank.parse(bytesOf(file), file.size()));
    EXPECT_NE(bank.errorText.find("zone indexes"), std::string::npos);
}

TEST(Sf2FileReject, RecordListsOfTheWrongSizeAreRejected) {
    std::string file = layeredBank().build();
    std::size_t shdr = file.find("shdr");
    file[shdr + 4] = static_cast<char>(file[shdr + 4] - 1);  // 46 × n − 1 bytes
    Sf2File bank;
    EXPECT_FALSE(bank.parse(bytesOf(file), file.size()));
}

TEST(Sf2FileSamples, ReadsOutsideTheSampleDataFail) {
    std::string file = layeredBank().build();
    Sf2File bank;
    ASSERT_TRUE(bank.parse(bytesOf(file), file.size()));
    std::vector<std::int16_t> frames;
    EXPECT_FALSE(bank.readSamples(0, bank.sampleFrameCount() + 1, frames));
    EXPECT_FALSE(bank.readSamples(10, 5, frames));
    EXPECT_TRUE(bank.readSamples(0, bank.sampleFrameCount(), frames));
}

TEST(Sf2FileOpen, ReadsFromAFileAndReportsAMissingOne) {
    testing::TempDir dir;
    std::string path = dir.write("bank.sf2", layeredBank().build());
    Sf2File bank;
    ASSERT_TRUE(bank.open(path.c_str())) << bank.errorText;
    std::vector<std::int16_t> frames;
    ASSERT_TRUE(bank.readSamples(bank.samples[1].start, bank.samples[1].start + 10, frames));
    EXPECT_EQ(frames[3], Sf2Builder::sine(1000, 50.0)[3]);
    Sf2File missing;
    EXPECT_FALSE(missing.open(dir.path("none.sf2").c_str()));
    EXPECT_EQ(missing.lastError, RESULT_CANNOT_OPEN_FILE);
}

}  // namespace
}  // namespace brellin
