// Sf2File: a reader for SoundFont 2 banks (RIFF "sfbk"), used by the
// converter that turns a General MIDI SF2 font into a BRF sound font.
//
// The whole file is never held in memory: the reader walks the RIFF chunks
// through a bounded source, keeps the preset/instrument/sample headers (the
// "pdta" hydra, usually well under a megabyte) and remembers where the 16-bit
// sample data ("sdta/smpl") lies; `readSamples` fetches one sample's frames on
// demand. Banks of version 3 (SF3) hold each sample as an Ogg Vorbis stream
// in smpl instead: their samples are laid end to end as decoded frames, in
// the same frame numbering SF2 samples have, and decoded one at a time when
// read. Every hydra index is checked before it is used, so a damaged file
// gives false with `lastError` and a readable `errorText`, never a read past
// a buffer. Runs on the caller's thread; not shared between threads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/ResultCode.h"

namespace brellin {

// Generator operators of the SoundFont 2.04 format (section 8.1.2).
enum Sf2Generator : std::uint16_t {
    SF2_START_ADDRS_OFFSET = 0,
    SF2_END_ADDRS_OFFSET = 1,
    SF2_STARTLOOP_ADDRS_OFFSET = 2,
    SF2_ENDLOOP_ADDRS_OFFSET = 3,
    SF2_START_ADDRS_COARSE_OFFSET = 4,
    SF2_MOD_LFO_TO_PITCH = 5,
    SF2_VIB_LFO_TO_PITCH = 6,
    SF2_MOD_ENV_TO_PITCH = 7,
    SF2_INITIAL_FILTER_FC = 8,
    SF2_INITIAL_FILTER_Q = 9,
    SF2_MOD_LFO_TO_FILTER_FC = 10,
    SF2_MOD_ENV_TO_FILTER_FC = 11,
    SF2_END_ADDRS_COARSE_OFFSET = 12,
    SF2_MOD_LFO_TO_VOLUME = 13,
    SF2_CHORUS_EFFECTS_SEND = 15,
    SF2_REVERB_EFFECTS_SEND = 16,
    SF2_PAN = 17,
    SF2_DELAY_MOD_LFO = 21,
    SF2_FREQ_MOD_LFO = 22,
    SF2_DELAY_VIB_LFO = 23,
    SF2_FREQ_VIB_LFO = 24,
    SF2_DELAY_MOD_ENV = 25,
    SF2_ATTACK_MOD_ENV = 26,
    SF2_HOLD_MOD_ENV = 27,
    SF2_DECAY_MOD_ENV = 28,
    SF2_SUSTAIN_MOD_ENV = 29,
    SF2_RELEASE_MOD_ENV = 30,
    SF2_KEYNUM_TO_MOD_ENV_HOLD = 31,
    SF2_KEYNUM_TO_MOD_ENV_DECAY = 32,
    SF2_DELAY_VOL_ENV = 33,
    SF2_ATTACK_VOL_ENV = 34,
    SF2_HOLD_VOL_ENV = 35,
    SF2_DECAY_VOL_ENV = 36,
    SF2_SUSTAIN_VOL_ENV = 37,
    SF2_RELEASE_VOL_ENV = 38,
    SF2_KEYNUM_TO_VOL_ENV_HOLD = 39,
    SF2_KEYNUM_TO_VOL_ENV_DECAY = 40,
    SF2_INSTRUMENT = 41,
    SF2_KEY_RANGE = 43,
    SF2_VEL_RANGE = 44,
    SF2_STARTLOOP_ADDRS_COARSE_OFFSET = 45,
    SF2_KEYNUM = 46,
    SF2_VELOCITY = 47,
    SF2_INITIAL_ATTENUATION = 48,
    SF2_ENDLOOP_ADDRS_COARSE_OFFSET = 50,
    SF2_COARSE_TUNE = 51,
    SF2_FINE_TUNE = 52,
    SF2_SAMPLE_ID = 53,
    SF2_SAMPLE_MODES = 54,
    SF2_SCALE_TUNING = 56,
    SF2_EXCLUSIVE_CLASS = 57,
    SF2_OVERRIDING_ROOT_KEY = 58,
    SF2_GENERATOR_COUNT = 61,
};

struct Sf2PresetHeader {
    std::string name;
    std::uint16_t program = 0;
    std::uint16_t bank = 0;
    std::uint16_t bagIndex = 0;  // first zone in `presetBags`
};

struct Sf2InstrumentHeader {
    std::string name;
    std::uint16_t bagIndex = 0;  // first zone in `instrumentBags`
};

// In a bank with compressed samples, the frame numbers are those of the
// decoded samples laid end to end (as `readSamples` reads them), not the
// byte offsets and sample-relative loop points the file stores.
struct Sf2SampleHeader {
    std::string name;
    std::uint32_t start = 0;  // sample frames from the start of the smpl chunk
    std::uint32_t end = 0;    // one past the last frame
    std::uint32_t loopStart = 0;
    std::uint32_t loopEnd = 0;  // first frame after the loop
    std::uint32_t sampleRate = 0;
    std::uint8_t originalPitch = 60;  // MIDI key of the recording; 255 means unpitched
    std::int8_t pitchCorrection = 0;  // cents
    std::uint16_t sampleLink = 0;
    std::uint16_t sampleType = 0;  // 1 mono, 2 right, 4 left, 8 linked; 0x10 Ogg Vorbis; 0x8000 ROM
};

constexpr std::uint16_t SF2_SAMPLE_COMPRESSED = 0x10;

struct Sf2Bag {
    std::uint16_t generatorIndex = 0;
    std::uint16_t modulatorIndex = 0;
};

// A modulator record (pmod/imod): amount × source × amount source, added to
// the destination generator.
struct Sf2ModulatorEntry {
    std::uint16_t source = 0;       // controller index, CC flag, direction, polarity, curve
    std::uint16_t destination = 0;  // generator operator
    std::int16_t amount = 0;
    std::uint16_t amountSource = 0;  // like `source`; 0 = none (1)
    std::uint16_t transform = 0;     // 0 linear, 2 absolute value
};

struct Sf2GeneratorEntry {
    std::uint16_t op = 0;
    std::uint16_t amount = 0;  // raw: signed short, unsigned word or lo/hi range bytes
};

// One playable region as a synthesizer would start it for a key and a
// velocity: the instrument zone's generators (defaults, global zone, local
// zone) with the preset zone's generators added as the format prescribes,
// and the zone's modulators (the default ones, replaced by identical ones of
// the instrument, with the preset's added) evaluated for that key and
// velocity with every controller at rest (see sf2ModulatedAmount). Each
// generator holds the modulators' sum beyond what the default modulators
// alone give; the initial attenuation keeps the file's value and its
// modulation is in `attenuationModulation` instead, because the two do not
// count alike (a synthesizer scales the generator, not the modulators).
struct Sf2Region {
    std::array<std::int32_t, SF2_GENERATOR_COUNT> generators{};
    // Centibels the zone's modulators add to the attenuation beyond the
    // default modulators (negative: louder).
    double attenuationModulation = 0.0;
    std::uint32_t sampleIndex = 0;  // into `samples`
    std::uint32_t instrumentIndex = 0;
    std::uint8_t keyLow = 0, keyHigh = 127, velocityLow = 0, velocityHigh = 127;  // intersected ranges

    std::int32_t operator[](Sf2Generator op) const { return generators[op]; }
};

class Sf2File {
public:
    Sf2File();
    ~Sf2File();
    Sf2File(const Sf2File&) = delete;
    Sf2File& operator=(const Sf2File&) = delete;

    // Reads the chunk structure and the hydra of the file at `path`; sample
    // frames stay in the file until `readSamples`.
    bool open(const char* path);
    // The same over a buffer, which must outlive the Sf2File (tests, fuzzing).
    bool parse(const std::uint8_t* data, std::size_t size);

    // Frames [start, end) of the smpl chunk as signed 16-bit values. False
    // when the range lies outside the chunk, the file cannot be read or
    // (RESULT_FILE_IO_ERROR, naming the sample) a compressed sample in the
    // range does not decode.
    bool readSamples(std::uint32_t start, std::uint32_t end, std::vector<std::int16_t>& frames);

    // Number of 16-bit frames in the smpl chunk (decoded, for SF3).
    std::uint32_t sampleFrameCount() const { return smplFrames; }

    // The version in the file's ifil chunk (2.x when it has none).
    int versionMajor() const { return fileVersionMajor; }
    int versionMinor() const { return fileVersionMinor; }
    // True when the samples are Ogg Vorbis streams (version 3).
    bool compressed() const { return !stored.empty(); }

    // Longest decoded sample, in frames; a compressed sample that would be
    // longer does not decode. Set before open/parse. 4 Mi frames is 95 s at
    // 44.1 kHz (8 MiB decoded); General MIDI banks stay far below.
    std::uint32_t maxDecodedFrames = 1u << 22;

    // Index of the preset with this bank and program, or -1.
    int findPreset(int bank, int program) const;

    // Every region of preset `presetIndex` that sounds for (key, velocity),
    // in file order. Zones that name a missing instrument or sample are
    // skipped. Returns the number found.
    std::size_t findRegions(std::size_t presetIndex, int key, int velocity, std::vector<Sf2Region>& regions) const;

    // Union of the key ranges of the preset's zones and of their instruments'
    // zones (0…127 when the preset has no zone); false when it has none.
    bool presetKeyRange(std::size_t presetIndex, int& low, int& high) const;

    // Parsed headers, without the terminal records of each list.
    std::vector<Sf2PresetHeader> presets;
    std::vector<Sf2InstrumentHeader> instruments;
    std::vector<Sf2SampleHeader> samples;
    // Bags and generators with their terminal records (indexes run to size()).
    std::vector<Sf2Bag> presetBags, instrumentBags;
    std::vector<Sf2GeneratorEntry> presetGenerators, instrumentGenerators;
    // Modulators with their terminal records. Zones whose modulator indexes
    // run backwards or past the list have none; a zone uses its first 128.
    std::vector<Sf2ModulatorEntry> presetModulators, instrumentModulators;

    std::string bankName;  // INFO/INAM, when present

    ResultCode lastError = RESULT_OK;
    std::string errorText;  // what was wrong, for a terminal

    class Source;  // random-access bytes: a file or a buffer

private:
    bool load();
    bool fail(ResultCode code, const std::string& text);
    bool readHydra(const std::vector<std::uint8_t>& pdta);
    bool layOutCompressed(std::uint64_t smplBytes);
    bool readStored(std::uint32_t start, std::uint32_t end, std::vector<std::int16_t>& frames);

    // Generators of zone `bag` in `bags`/`gens` (the range up to the next bag).
    void zoneRange(const std::vector<Sf2Bag>& bags, std::size_t bag, std::size_t& first, std::size_t& last) const;

    // Walks the zones of preset `presetIndex` and, for each preset zone that
    // names an existing instrument, that instrument's zones that name an
    // existing sample: visit(presetGlobal, presetZone, instrumentIndex,
    // instrumentGlobal, instrumentZone). Only a first zone without its
    // terminal generator is global; a later one is ignored.
    template <class Visit>
    void walkZones(std::size_t presetIndex, Visit&& visit) const;

    std::unique_ptr<Source> source;
    std::uint64_t smplOffset = 0;  // byte offset of the smpl data in the source
    std::uint32_t smplFrames = 0;
    std::size_t terminalPresetBag = 0;      // zone index where the last preset's zones end
    std::size_t terminalInstrumentBag = 0;  // the same for the last instrument
    int fileVersionMajor = 2, fileVersionMinor = 0;

    // Where each sample's decoded frames come from, in a bank with
    // compressed samples (empty otherwise); same order as `samples`, so
    // their `start` values ascend.
    struct StoredSample {
        std::uint64_t byteOffset = 0;  // into the smpl data
        std::uint64_t byteLength = 0;  // 2 × frames for an uncompressed one
        bool compressed = false;
        std::string problem;  // why it does not decode; empty when it may
    };
    std::vector<StoredSample> stored;
    // The last sample decoded, kept because the importer reads a sample
    // several times in a row.
    std::size_t decodedIndex = SIZE_MAX;
    std::vector<std::int16_t> decoded;
};

// Default value of a generator in an instrument zone (SoundFont 2.04, section 8.1.3).
std::int32_t sf2GeneratorDefault(int op);

// The sum of `modulators` (already merged: no two identical) for
// destination `op`, for a note of `key` and `velocity` with the controllers
// at their reset values (volume 100, pan 64, expression 127, the others 0,
// pitch wheel centred, sensitivity 2 semitones, no pressure). Modulators
// with a linked source or destination, or with no primary source, count
// nothing (as FluidSynth does).
double sf2ModulatedAmount(const std::vector<Sf2ModulatorEntry>& modulators, int op, int key, int velocity);

// The format's ten default modulators.
const std::vector<Sf2ModulatorEntry>& sf2DefaultModulators();

}  // namespace brellin
