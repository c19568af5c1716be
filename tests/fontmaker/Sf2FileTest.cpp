#include "fontmaker/Sf2File.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>

#include "tests/TempDir.h"
#include "tests/fontmaker/OggEncode.h"
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
    b.instruments.push_back(
        {"split",
         {{{SF2_ATTACK_VOL_ENV, -1200}, {SF2_SUSTAIN_VOL_ENV, 300}},
          {{SF2_KEY_RANGE, Sf2Builder::range(0, 59)}, {SF2_SAMPLE_MODES, 1}, {SF2_SAMPLE_ID, 0}},
          {{SF2_KEY_RANGE, Sf2Builder::range(60, 127)}, {SF2_ATTACK_VOL_ENV, -2400}, {SF2_SAMPLE_ID, 1}}}});
    b.presets.push_back({"Piano",
                         0,
                         0,
                         {{{SF2_ATTACK_VOL_ENV, 1200}, {SF2_INITIAL_ATTENUATION, 50}},
                          {{SF2_KEY_RANGE, Sf2Builder::range(0, 100)},
                           {SF2_INITIAL_ATTENUATION, 20},
                           {SF2_SAMPLE_MODES, 0},
                           {SF2_OVERRIDING_ROOT_KEY, 10},
                           {SF2_INSTRUMENT, 0}}}});
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

TEST(Sf2FileZones, ModulatorsReachTheRegionAndDamagedModulatorIndexesAreIgnored) {
    // Velocity (linear, rising) to the filter cutoff: 1280 cents in the
    // instrument's global zone, replaced by 2560 in its high zone, plus 640
    // from the preset's zone; the default velocity curve switched off.
    Sf2Builder b = layeredBank();
    const testing::Sf2BuildModulator curveOff{0x0502, SF2_INITIAL_ATTENUATION, 0, 0, 0};
    b.instruments[0].modulators = {
        {{0x0002, SF2_INITIAL_FILTER_FC, 1280, 0, 0}, curveOff}, {}, {{0x0002, SF2_INITIAL_FILTER_FC, 2560, 0, 0}}};
    b.presets[0].modulators = {{}, {{0x0002, SF2_INITIAL_FILTER_FC, 640, 0, 0}}};
    std::string file = b.build();
    Sf2File bank;
    ASSERT_TRUE(bank.parse(bytesOf(file), file.size())) << bank.errorText;
    std::vector<Sf2Region> regions;
    ASSERT_EQ(bank.findRegions(0, 40, 64, regions), 1u);
    EXPECT_EQ(regions[0][SF2_INITIAL_FILTER_FC], 13500 + (1280 + 640) / 2);
    // The default curve takes 12 dB at velocity 64; switched off, that comes back.
    EXPECT_NEAR(regions[0].attenuationModulation, -400 * std::log10(2.0), 1.0);
    EXPECT_EQ(regions[0][SF2_INITIAL_ATTENUATION], 20);  // the file's value stays
    ASSERT_EQ(bank.findRegions(0, 70, 64, regions), 1u);
    EXPECT_EQ(regions[0][SF2_INITIAL_FILTER_FC], 13500 + (2560 + 640) / 2);

    // The preset's modulator indexes pointing past the list: its zones have
    // none, the instrument's still count.
    const std::size_t pbag = file.find("pbag");
    ASSERT_NE(pbag, std::string::npos);
    file[pbag + 8 + 4 + 2] = 100;
    Sf2File damaged;
    ASSERT_TRUE(damaged.parse(bytesOf(file), file.size())) << damaged.errorText;
    ASSERT_EQ(damaged.findRegions(0, 40, 64, regions), 1u);
    EXPECT_EQ(regions[0][SF2_INITIAL_FILTER_FC], 13500 + 1280 / 2);
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

// ---- SF3: the same bank with Ogg Vorbis samples ----

// Two compressed samples (a looped 440 Hz sine at 44.1 kHz, a one-shot one
// at 22.05 kHz) and a plain 16-bit one, stored as MuseScore's banks are:
// version 3, no pad byte after the odd-sized smpl chunk and its list.
struct Sf3Bank {
    std::vector<std::int16_t> tone = Sf2Builder::sine(8820, 44100.0 / 440.0, 20000);
    std::vector<std::int16_t> blip = Sf2Builder::sine(3001, 50.0, 12000);
    std::vector<std::int16_t> plain = Sf2Builder::sine(500, 25.0);
    Sf2Builder builder;

    Sf3Bank() {
        builder.versionMajor = 3;
        builder.versionMinor = 1;
        builder.padOddChunks = false;
        builder.samples.push_back({"tone", tone, 44100, 69, 0, 2205, 6615, 1, testing::encodeOggVorbis(tone, 44100)});
        builder.samples.push_back({"blip", blip, 22050, 60, 0, 0, 0, 1, testing::encodeOggVorbis(blip, 22050)});
        builder.samples.push_back({"plain", plain, 44100, 60, 0, 100, 400});
        builder.instruments.push_back(
            {"all",
             {{{SF2_KEY_RANGE, Sf2Builder::range(0, 59)}, {SF2_SAMPLE_ID, 1}},
              {{SF2_KEY_RANGE, Sf2Builder::range(60, 99)}, {SF2_SAMPLE_MODES, 1}, {SF2_SAMPLE_ID, 0}},
              {{SF2_KEY_RANGE, Sf2Builder::range(100, 127)}, {SF2_SAMPLE_ID, 2}}}});
        builder.presets.push_back({"All", 0, 0, {{{SF2_INSTRUMENT, 0}}}});
        // The plain sample starts on an even byte, so the samples fill an
        // even number of bytes: one more byte makes smpl odd-sized.
        builder.smplTail = std::string(1, '\0');
    }
};

// Largest difference between decoded frames and the frames that were encoded.
int worstError(const std::vector<std::int16_t>& decoded, const std::vector<std::int16_t>& original) {
    int worst = 0;
    for (std::size_t i = 0; i < std::min(decoded.size(), original.size()); ++i)
        worst = std::max(worst, std::abs(decoded[i] - original[i]));
    return worst;
}

TEST(Sf3File, CompressedSamplesDecodeIntoFramesWithTheirLoops) {
    Sf3Bank sf3;
    ASSERT_FALSE(sf3.builder.samples[0].ogg.empty()) << "libvorbisenc refused the set-up";
    std::string file = sf3.builder.build();
    // The smpl chunk's size is odd and nothing pads it: the bank as written.
    std::size_t smpl = file.find("smpl");
    std::uint32_t smplSize;
    std::memcpy(&smplSize, file.data() + smpl + 4, 4);
    ASSERT_EQ(smplSize & 1, 1u) << "re-pick the sample lengths so that the Ogg data has an odd size";
    ASSERT_EQ(file.compare(smpl + 8 + smplSize, 4, "LIST"), 0);

    Sf2File bank;
    ASSERT_TRUE(bank.parse(bytesOf(file), file.size())) << bank.errorText;
    EXPECT_TRUE(bank.compressed());
    EXPECT_EQ(bank.versionMajor(), 3);
    ASSERT_EQ(bank.samples.size(), 3u);
    const std::vector<std::int16_t>* originals[] = {&sf3.tone, &sf3.blip, &sf3.plain};
    std::vector<std::int16_t> frames;
    for (std::size_t i = 0; i < 3; ++i) {
        const Sf2SampleHeader& h = bank.samples[i];
        SCOPED_TRACE(h.name);
        // Lengths in decoded frames, in a layout where no sample overlaps the next.
        EXPECT_EQ(h.end - h.start, originals[i]->size());
        if (i > 0) {
            EXPECT_GE(h.start, bank.samples[i - 1].end);
        }
        ASSERT_TRUE(bank.readSamples(h.start, h.end, frames)) << bank.errorText;
        ASSERT_EQ(frames.size(), originals[i]->size());
        // Lossy, but close: the worst frame within 4 % of full scale.
        EXPECT_LT(worstError(frames, *originals[i]), i == 2 ? 1 : 1300);
    }
    // Loop points count from each sample's own start, compressed or not.
    EXPECT_EQ(bank.samples[0].loopStart - bank.samples[0].start, 2205u);
    EXPECT_EQ(bank.samples[0].loopEnd - bank.samples[0].start, 6615u);
    EXPECT_EQ(bank.samples[2].loopStart - bank.samples[2].start, 100u);
    EXPECT_EQ(bank.samples[2].loopEnd - bank.samples[2].start, 400u);
    // A range across two samples reads the end of one, the zero gap, the next.
    const Sf2SampleHeader& a = bank.samples[0];
    const Sf2SampleHeader& b = bank.samples[1];
    ASSERT_TRUE(bank.readSamples(a.end - 10, b.start + 10, frames));
    ASSERT_EQ(frames.size(), b.start - a.end + 20);
    EXPECT_EQ(frames[12], 0);
    std::vector<std::int16_t> tail, head;
    ASSERT_TRUE(bank.readSamples(a.end - 10, a.end, tail));
    ASSERT_TRUE(bank.readSamples(b.start, b.start + 10, head));
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), frames.begin()));
    EXPECT_TRUE(std::equal(head.begin(), head.end(), frames.end() - 10));
    EXPECT_FALSE(bank.readSamples(0, bank.sampleFrameCount() + 1, frames));
}

TEST(Sf3File, DamagedBanksFailWithWhatIsWrong) {
    Sf3Bank sf3;
    const std::string good = sf3.builder.build();
    const std::size_t smpl = good.find("smpl");
    std::uint32_t smplSize;
    std::memcpy(&smplSize, good.data() + smpl + 4, 4);
    {
        SCOPED_TRACE("an unknown version");
        Sf2Builder b = sf3.builder;
        b.versionMajor = 4;
        b.versionMinor = 0;
        std::string file = b.build();
        Sf2File bank;
        EXPECT_FALSE(bank.parse(bytesOf(file), file.size()));
        EXPECT_EQ(bank.lastError, RESULT_UNSUPPORTED_DATA);
        EXPECT_EQ(bank.errorText, "unsupported SoundFont version 4.0");
    }
    {
        SCOPED_TRACE("a file cut inside its samples");
        std::string cut = good.substr(0, smpl + 8 + smplSize / 2);
        Sf2File bank;
        EXPECT_FALSE(bank.parse(bytesOf(cut), cut.size()));
        EXPECT_EQ(bank.lastError, RESULT_FILE_IO_ERROR);
        EXPECT_EQ(bank.errorText.rfind("truncated file: the sdta list runs ", 0), 0u) << bank.errorText;
    }
    {
        SCOPED_TRACE("a chunk running past its list, the file long enough");
        std::string file = good;
        const std::uint32_t longer = smplSize + 100;
        std::memcpy(file.data() + smpl + 4, &longer, 4);
        Sf2File bank;
        EXPECT_FALSE(bank.parse(bytesOf(file), file.size()));
        EXPECT_EQ(bank.lastError, RESULT_UNSUPPORTED_DATA);
        EXPECT_EQ(bank.errorText, "the smpl chunk runs 100 bytes past the end of the sdta list");
    }
    {
        SCOPED_TRACE("one sample's Ogg data cut short");
        std::string file = good;
        // The first sample header's end offset, in shdr after its 20-byte name and start.
        const std::size_t end = file.find("shdr") + 8 + 24;
        std::uint32_t value;
        std::memcpy(&value, file.data() + end, 4);
        value -= 40;
        std::memcpy(file.data() + end, &value, 4);
        Sf2File bank;
        ASSERT_TRUE(bank.parse(bytesOf(file), file.size())) << bank.errorText;
        std::vector<std::int16_t> frames;
        const Sf2SampleHeader& tone = bank.samples[0];
        EXPECT_FALSE(bank.readSamples(tone.start, tone.end, frames));
        EXPECT_EQ(bank.lastError, RESULT_FILE_IO_ERROR);
        EXPECT_EQ(bank.errorText.rfind("sample \"tone\" does not decode: its Ogg data is cut short", 0), 0u)
            << bank.errorText;
        // The others still decode.
        EXPECT_TRUE(bank.readSamples(bank.samples[1].start, bank.samples[1].end, frames)) << bank.errorText;
    }
    {
        SCOPED_TRACE("damaged Vorbis headers");
        std::string file = good;
        // The identification packet names "vorbis"; a changed byte breaks the first page.
        const std::size_t vorbis = file.find("vorbis", smpl);
        ASSERT_NE(vorbis, std::string::npos);
        file[vorbis + 1] ^= 0x20;
        Sf2File bank;
        ASSERT_TRUE(bank.parse(bytesOf(file), file.size())) << bank.errorText;
        std::vector<std::int16_t> frames;
        EXPECT_FALSE(bank.readSamples(bank.samples[0].start, bank.samples[0].end, frames));
        EXPECT_EQ(bank.lastError, RESULT_FILE_IO_ERROR);
        EXPECT_EQ(bank.errorText.rfind("sample \"tone\" does not decode: its Ogg Vorbis data does not open", 0), 0u)
            << bank.errorText;
    }
    {
        SCOPED_TRACE("a sample longer than the decode limit");
        Sf2File bank;
        bank.maxDecodedFrames = 5000;
        ASSERT_TRUE(bank.parse(bytesOf(good), good.size()));
        std::vector<std::int16_t> frames;
        EXPECT_TRUE(bank.readSamples(bank.samples[1].start, bank.samples[1].end, frames));
        EXPECT_FALSE(bank.readSamples(bank.samples[0].start, bank.samples[0].start + 10, frames));
        EXPECT_NE(bank.errorText.find("decodes to 8820 frames, more than the limit of 5000"), std::string::npos)
            << bank.errorText;
    }
}

TEST(Sf3File, MuseScoresGeneralBankOpensAndItsSamplesDecode) {
    // Debian's musescore-general-soundfont-small: odd-sized chunks without
    // pad bytes, 1254 Ogg Vorbis samples.
    const char* path = "/usr/share/sounds/sf3/MuseScore_General_Lite.sf3";
    if (!std::ifstream(path).good()) GTEST_SKIP() << "musescore-general-soundfont-small is not installed";
    Sf2File bank;
    ASSERT_TRUE(bank.open(path)) << bank.errorText;
    EXPECT_EQ(bank.versionMajor(), 3);
    EXPECT_TRUE(bank.compressed());
    EXPECT_EQ(bank.samples.size(), 1254u);
    EXPECT_GE(bank.findPreset(0, 0), 0);
    EXPECT_GE(bank.findPreset(128, 0), 0);
    std::vector<std::int16_t> frames;
    for (std::size_t i : {std::size_t{0}, bank.samples.size() / 2, bank.samples.size() - 1}) {
        const Sf2SampleHeader& h = bank.samples[i];
        SCOPED_TRACE(h.name);
        ASSERT_TRUE(bank.readSamples(h.start, h.end, frames)) << bank.errorText;
        EXPECT_LE(h.loopEnd, h.end);
        EXPECT_LE(h.start, h.loopStart);
        int peak = 0;
        for (auto v : frames) peak = std::max(peak, std::abs(int(v)));
        EXPECT_GT(peak, 1000);  // a recording, not silence
    }
}

}  // namespace
}  // namespace brellin
