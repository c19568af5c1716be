#include "fontmaker/Sf2File.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/ByteReader.h"
#include "common/FileObject.h"
#include "common/RiffWalker.h"
#include "fontmaker/OggVorbisSample.h"

namespace brellin {

// Random access to the bank's bytes. A read outside the source fails; it
// never touches memory beyond it.
class Sf2File::Source {
public:
    virtual ~Source() = default;
    virtual std::uint64_t size() const = 0;
    virtual bool read(std::uint64_t offset, void* buffer, std::uint32_t n) = 0;
};

namespace {

class MemorySource final : public Sf2File::Source {
public:
    MemorySource(const std::uint8_t* bytes, std::size_t size) : data(bytes), length(size) {}
    std::uint64_t size() const override { return length; }
    bool read(std::uint64_t offset, void* buffer, std::uint32_t n) override {
        if (offset > length || n > length - offset) return false;
        if (n != 0) std::memcpy(buffer, data + offset, n);
        return true;
    }

private:
    const std::uint8_t* data;
    std::size_t length;
};

class FileSource final : public Sf2File::Source {
public:
    bool open(const char* path) {
        if (!file.open(path, FileAccess::Read)) return false;
        std::uint32_t s = file.size();
        if (s == 0xFFFFFFFFu) return false;
        length = s;
        position = 0;
        return true;
    }
    std::uint64_t size() const override { return length; }
    bool read(std::uint64_t offset, void* buffer, std::uint32_t n) override {
        if (offset > length || n > length - offset) return false;
        if (offset != position) {
            // FileObject seeks by a signed 32-bit distance; step in pieces.
            if (!file.seek(0, SeekOrigin::Begin)) return false;
            std::uint64_t left = offset;
            while (left > 0) {
                std::uint32_t stride = static_cast<std::uint32_t>(std::min<std::uint64_t>(left, 0x40000000u));
                if (!file.seek(static_cast<std::int32_t>(stride), SeekOrigin::Current)) return false;
                left -= stride;
            }
            position = offset;
        }
        if (n != 0 && !file.read(buffer, n)) return false;
        position += n;
        return true;
    }

private:
    FileObject file;
    std::uint64_t length = 0;
    std::uint64_t position = 0;
};

// A 20-byte name field, cut at its first zero byte.
std::string name20(ByteReader& in) {
    char text[21] = {};
    in.read(text, 20);
    return std::string(text);
}

// The hydra of a large General MIDI bank is about a megabyte; anything far
// beyond this is a damaged size field, not a bank.
constexpr std::uint32_t MAX_HYDRA_BYTES = 64u << 20;

// Operators that a preset zone may not set: sample addresses, key/velocity
// overrides, sample modes, exclusive class and root key are instrument-only
// (SoundFont 2.04, section 8.5); ranges are intersected, not added.
bool presetMayAdd(int op) {
    switch (op) {
        case SF2_START_ADDRS_OFFSET:
        case SF2_END_ADDRS_OFFSET:
        case SF2_STARTLOOP_ADDRS_OFFSET:
        case SF2_ENDLOOP_ADDRS_OFFSET:
        case SF2_START_ADDRS_COARSE_OFFSET:
        case SF2_END_ADDRS_COARSE_OFFSET:
        case SF2_STARTLOOP_ADDRS_COARSE_OFFSET:
        case SF2_ENDLOOP_ADDRS_COARSE_OFFSET:
        case SF2_KEYNUM:
        case SF2_VELOCITY:
        case SF2_SAMPLE_MODES:
        case SF2_EXCLUSIVE_CLASS:
        case SF2_OVERRIDING_ROOT_KEY:
        case SF2_INSTRUMENT:
        case SF2_SAMPLE_ID:
        case SF2_KEY_RANGE:
        case SF2_VEL_RANGE:
        case 14:
        case 18:
        case 19:
        case 20:
        case 42:
        case 49:
        case 55:
        case 59:
        case 60: return false;
        default: return op < SF2_GENERATOR_COUNT;
    }
}

// Sample addresses are unsigned words offset by signed amounts; everything
// else that is not a range is a signed short.
std::int32_t amountValue(const Sf2GeneratorEntry& g) {
    if (g.op == SF2_KEY_RANGE || g.op == SF2_VEL_RANGE || g.op == SF2_INSTRUMENT || g.op == SF2_SAMPLE_ID) {
        return g.amount;
    }
    return static_cast<std::int16_t>(g.amount);
}

struct Range {
    int low = 0, high = 127;
    bool contains(int v) const { return v >= low && v <= high; }
};

Range rangeOf(std::uint16_t amount) {
    Range r;
    r.low = amount & 0xFF;
    r.high = amount >> 8;
    return r;
}

}  // namespace

std::int32_t sf2GeneratorDefault(int op) {
    switch (op) {
        case SF2_INITIAL_FILTER_FC: return 13500;
        case SF2_DELAY_MOD_LFO:
        case SF2_DELAY_VIB_LFO:
        case SF2_DELAY_MOD_ENV:
        case SF2_ATTACK_MOD_ENV:
        case SF2_HOLD_MOD_ENV:
        case SF2_DECAY_MOD_ENV:
        case SF2_RELEASE_MOD_ENV:
        case SF2_DELAY_VOL_ENV:
        case SF2_ATTACK_VOL_ENV:
        case SF2_HOLD_VOL_ENV:
        case SF2_DECAY_VOL_ENV:
        case SF2_RELEASE_VOL_ENV: return -12000;
        case SF2_KEY_RANGE:
        case SF2_VEL_RANGE: return 0x7F00;  // low 0, high 127
        case SF2_KEYNUM:
        case SF2_VELOCITY:
        case SF2_OVERRIDING_ROOT_KEY: return -1;
        case SF2_SCALE_TUNING: return 100;
        default: return 0;
    }
}

namespace {

bool sameModulator(const Sf2ModulatorEntry& a, const Sf2ModulatorEntry& b) {
    return a.source == b.source && a.destination == b.destination && a.amountSource == b.amountSource &&
           a.transform == b.transform;
}

// The concave curve of the format: 0 at 0, 1 at 1, rising like the
// attenuation of a 40 log10 velocity curve (960 cB at 1 … 0).
double concave(double x) {
    if (x >= 1.0) return 1.0;
    if (x <= 0.0) return 0.0;
    return std::min(1.0, -(40.0 / 96.0) * std::log10(1.0 - x));
}

// A modulator source's value for the note, mapped by its direction,
// polarity and curve; false for a source that cannot be evaluated (link).
bool sourceValue(std::uint16_t source, int key, int velocity, double& out) {
    const int index = source & 0x7F;
    const bool cc = (source & 0x80) != 0;
    const bool negative = (source & 0x100) != 0;
    const bool bipolar = (source & 0x200) != 0;
    const int curve = source >> 10;
    double x;  // 0 … 1
    if (cc) {
        int value = index == 7 ? 100 : index == 10 ? 64 : index == 11 ? 127 : 0;
        x = value / 128.0;
    } else {
        switch (index) {
            case 0: out = 1.0; return true;  // no controller
            case 2: x = std::clamp(velocity, 0, 127) / 128.0; break;
            case 3: x = std::clamp(key, 0, 127) / 128.0; break;
            case 10:
            case 13: x = 0.0; break;          // no pressure
            case 14: x = 0.5; break;          // pitch wheel centred
            case 16: x = 2.0 / 128.0; break;  // two semitones
            default: return false;            // link or undefined
        }
    }
    if (negative) x = 1.0 - x;
    auto shape = [&](double v) {  // v: 0 … 1
        switch (curve) {
            case 0: return v;
            case 1: return concave(v);
            case 2: return 1.0 - concave(1.0 - v);
            case 3: return v >= 0.5 ? 1.0 : 0.0;
            default: return v;
        }
    };
    if (!bipolar) {
        out = shape(x);
    } else if (curve == 0) {
        out = 2.0 * x - 1.0;
    } else if (curve == 3) {
        out = x >= 0.5 ? 1.0 : -1.0;
    } else {
        out = x >= 0.5 ? shape(2.0 * x - 1.0) : -shape(1.0 - 2.0 * x);
    }
    return true;
}

}  // namespace

double sf2ModulatedAmount(const std::vector<Sf2ModulatorEntry>& modulators, int op, int key, int velocity) {
    double sum = 0.0;
    for (const Sf2ModulatorEntry& m : modulators) {
        if (m.destination != op || (m.source & 0xFF) == 0) continue;
        double a, b;
        if (!sourceValue(m.source, key, velocity, a) || !sourceValue(m.amountSource, key, velocity, b)) continue;
        double v = m.amount * a * b;
        sum += m.transform == 2 ? std::fabs(v) : v;
    }
    return sum;
}

const std::vector<Sf2ModulatorEntry>& sf2DefaultModulators() {
    static const std::vector<Sf2ModulatorEntry> defaults = {
        {0x0502, SF2_INITIAL_ATTENUATION, 960, 0, 0},       // velocity, concave, falling
        {0x0102, SF2_INITIAL_FILTER_FC, -2400, 0x0D02, 0},  // velocity below 64 closes the filter
        {0x000D, SF2_VIB_LFO_TO_PITCH, 50, 0, 0},           // channel pressure
        {0x0081, SF2_VIB_LFO_TO_PITCH, 50, 0, 0},           // modulation wheel
        {0x0587, SF2_INITIAL_ATTENUATION, 960, 0, 0},       // volume
        {0x028A, SF2_PAN, 1000, 0, 0},                      // pan
        {0x058B, SF2_INITIAL_ATTENUATION, 960, 0, 0},       // expression
        {0x00DB, SF2_REVERB_EFFECTS_SEND, 200, 0, 0},
        {0x00DD, SF2_CHORUS_EFFECTS_SEND, 200, 0, 0},
        {0x020E, 59, 12700, 0x0010, 0},  // pitch wheel × sensitivity → pitch
    };
    return defaults;
}

Sf2File::Sf2File() = default;
Sf2File::~Sf2File() = default;

bool Sf2File::fail(ResultCode code, const std::string& text) {
    lastError = code;
    errorText = text;
    return false;
}

bool Sf2File::open(const char* path) {
    auto file = std::make_unique<FileSource>();
    if (!file->open(path)) return fail(RESULT_CANNOT_OPEN_FILE, "cannot open the file");
    source = std::move(file);
    return load();
}

bool Sf2File::parse(const std::uint8_t* data, std::size_t size) {
    source = std::make_unique<MemorySource>(data, data ? size : 0);
    return load();
}

namespace {

// Four printable ASCII characters, as every chunk identifier is.
bool printableId(const std::uint8_t* id) {
    for (int i = 0; i < 4; ++i)
        if (id[i] < 0x20 || id[i] > 0x7E) return false;
    return true;
}

// "the smpl chunk", or "a chunk" when the identifier is garbage.
std::string chunkName(const char* id, const char* kind = "chunk") {
    return printableId(reinterpret_cast<const std::uint8_t*>(id)) ? "the " + std::string(id, 4) + " " + kind
                                                                  : std::string("a ") + kind;
}

}  // namespace

bool Sf2File::load() {
    presets.clear();
    instruments.clear();
    samples.clear();
    presetBags.clear();
    instrumentBags.clear();
    presetGenerators.clear();
    instrumentGenerators.clear();
    bankName.clear();
    smplOffset = 0;
    smplFrames = 0;
    fileVersionMajor = 2;
    fileVersionMinor = 0;
    stored.clear();
    decodedIndex = SIZE_MAX;
    decoded.clear();

    const std::uint64_t fileSize = source->size();
    std::uint8_t headerBytes[12];
    if (!source->read(0, headerBytes, 12)) return fail(RESULT_UNSUPPORTED_DATA, "too short for a RIFF file");
    ByteReader header(headerBytes, sizeof headerBytes);
    if (!header.startsWith("RIFF") || !header.at(8).startsWith("sfbk")) {
        return fail(RESULT_UNSUPPORTED_DATA, "not a SoundFont 2 file (no RIFF sfbk header)");
    }
    header.skip(4);
    // Some writers get the outer size slightly wrong; the chunks inside must
    // still lie within the file, which is what the walk checks.
    const std::uint64_t riffEnd = std::min<std::uint64_t>(8 + static_cast<std::uint64_t>(header.u32le()), fileSize);

    // After a chunk of odd size the next header normally follows a pad
    // byte, but some SF3 writers leave the pad out. The header after the
    // pad is taken when it looks like one (a printable identifier and a body
    // within `limit`), else the one right after the body when that does.
    const auto settlePad = [&](RiffWalker& walk, std::uint64_t limit) {
        if (!walk.skippedPad()) return;
        const auto plausibleAt = [&](std::uint64_t offset) {
            std::uint8_t h[RiffWalker::HEADER_SIZE];
            if (offset + sizeof h > limit || !source->read(offset, h, sizeof h)) return false;
            ByteReader size(h + 4, 4);
            return printableId(h) && offset + sizeof h + size.u32le() <= limit;
        };
        const std::uint64_t padded = walk.headerOffset();
        if (!plausibleAt(padded) && plausibleAt(padded - 1)) walk.dropPad();
    };

    bool haveSmpl = false;
    bool havePdta = false;
    std::uint64_t smplBytes = 0;
    std::vector<std::uint8_t> pdta;
    RiffWalker chunks(12, riffEnd, fileSize, true);
    while (chunks.more()) {
        std::uint8_t chunkHeader[RiffWalker::HEADER_SIZE];
        if (!source->read(chunks.headerOffset(), chunkHeader, sizeof chunkHeader)) {
            return fail(RESULT_FILE_IO_ERROR, "cannot read a chunk header");
        }
        RiffChunk chunk;
        if (!chunks.take(ByteReader(chunkHeader, sizeof chunkHeader), chunk)) {
            std::string what = chunkName(chunk.id);
            char listType[4];
            if (chunk.is("LIST") && source->read(chunk.body, listType, 4)) what = chunkName(listType, "list");
            const std::uint64_t missing = chunk.body + chunk.size - fileSize;
            return fail(RESULT_FILE_IO_ERROR, "truncated file: " + what + " runs " + std::to_string(missing) +
                                                  " bytes past the end of the file");
        }
        settlePad(chunks, fileSize);
        if (!chunk.is("LIST") || chunk.size < 4) continue;
        char listType[4];
        if (!source->read(chunk.body, listType, 4)) return fail(RESULT_FILE_IO_ERROR, "cannot read a list type");
        const auto isList = [&listType](const char* id) { return std::memcmp(listType, id, 4) == 0; };
        const std::uint64_t listEnd = chunk.body + chunk.size;
        RiffWalker subChunks(chunk.body + 4, listEnd, listEnd, true);
        while (subChunks.more()) {
            std::uint8_t subHeader[RiffWalker::HEADER_SIZE];
            if (!source->read(subChunks.headerOffset(), subHeader, sizeof subHeader)) {
                return fail(RESULT_FILE_IO_ERROR, "cannot read a chunk header");
            }
            RiffChunk sub;
            if (!subChunks.take(ByteReader(subHeader, sizeof subHeader), sub)) {
                return fail(RESULT_UNSUPPORTED_DATA, chunkName(sub.id) + " runs " +
                                                         std::to_string(sub.body + sub.size - listEnd) +
                                                         " bytes past the end of " + chunkName(listType, "list"));
            }
            settlePad(subChunks, listEnd);
            if (isList("sdta") && sub.is("smpl")) {
                smplOffset = sub.body;
                smplBytes = sub.size;
                smplFrames = sub.size / 2;
                haveSmpl = true;
            } else if (isList("INFO") && sub.is("INAM") && sub.size > 0 && sub.size < 256) {
                char text[256] = {};
                if (source->read(sub.body, text, sub.size)) bankName = text;
            } else if (isList("INFO") && sub.is("ifil") && sub.size >= 4) {
                std::uint8_t version[4];
                if (!source->read(sub.body, version, 4)) return fail(RESULT_FILE_IO_ERROR, "cannot read the version");
                ByteReader v(version, 4);
                fileVersionMajor = v.u16le();
                fileVersionMinor = v.u16le();
                // 2.x is SoundFont 2; 3.x the same with Ogg Vorbis samples.
                if (fileVersionMajor != 2 && fileVersionMajor != 3) {
                    return fail(RESULT_UNSUPPORTED_DATA, "unsupported SoundFont version " +
                                                             std::to_string(fileVersionMajor) + "." +
                                                             std::to_string(fileVersionMinor));
                }
            }
        }
        if (isList("pdta")) {
            if (chunk.size > MAX_HYDRA_BYTES)
                return fail(RESULT_UNSUPPORTED_DATA, "preset data chunk is absurdly large");
            pdta.resize(chunk.size - 4);
            if (!source->read(chunk.body + 4, pdta.data(), static_cast<std::uint32_t>(pdta.size()))) {
                return fail(RESULT_FILE_IO_ERROR, "cannot read the preset data");
            }
            havePdta = true;
        }
    }
    if (!havePdta) return fail(RESULT_UNSUPPORTED_DATA, "no preset data (pdta) in the file");
    if (!haveSmpl) return fail(RESULT_UNSUPPORTED_DATA, "no sample data (sdta/smpl) in the file");
    if (!readHydra(pdta)) return false;
    if (fileVersionMajor == 3) {
        for (const Sf2SampleHeader& s : samples)
            if (s.sampleType & SF2_SAMPLE_COMPRESSED) return layOutCompressed(smplBytes);
    }
    return true;
}

bool Sf2File::readHydra(const std::vector<std::uint8_t>& pdta) {
    struct Part {
        const char* id;
        std::uint32_t recordSize;
        ByteReader data = {};
        bool found = false;
    };
    Part parts[9] = {{"phdr", 38}, {"pbag", 4},  {"pmod", 10}, {"pgen", 4}, {"inst", 22},
                     {"ibag", 4},  {"imod", 10}, {"igen", 4},  {"shdr", 46}};
    const ByteReader hydra(pdta.data(), pdta.size());
    RiffWalker chunks(0, pdta.size(), pdta.size(), true);
    RiffChunk chunk;
    while (chunks.next(hydra, chunk)) {
        for (Part& p : parts) {
            if (chunk.is(p.id) && !p.found) {
                p.data = hydra.at(static_cast<std::size_t>(chunk.body)).sub(chunk.size);
                p.found = true;
            }
        }
    }
    if (chunks.overran()) {
        return fail(RESULT_UNSUPPORTED_DATA, chunkName(chunk.id) + " runs past the end of the pdta list");
    }
    for (const Part& p : parts) {
        if (!p.found) return fail(RESULT_UNSUPPORTED_DATA, std::string("the preset data has no ") + p.id + " chunk");
        if (p.data.size() % p.recordSize != 0) {
            return fail(RESULT_UNSUPPORTED_DATA,
                        std::string("the ") + p.id + " chunk is not a whole number of records");
        }
    }
    auto count = [&](int i) { return parts[i].data.size() / parts[i].recordSize; };
    // Each list ends with a terminal record; pmod/imod may be just that one.
    if (count(0) < 2 || count(1) < 1 || count(3) < 1 || count(4) < 2 || count(5) < 1 || count(7) < 1 || count(8) < 1) {
        return fail(RESULT_UNSUPPORTED_DATA, "the preset data lists are too short");
    }

    {
        ByteReader c = parts[0].data;
        std::vector<Sf2PresetHeader> all(count(0));
        for (auto& p : all) {
            p.name = name20(c);
            p.program = c.u16le();
            p.bank = c.u16le();
            p.bagIndex = c.u16le();
            c.skip(12);  // library, genre, morphology: reserved
        }
        presets = all;
    }
    auto readBags = [](const Part& part, std::vector<Sf2Bag>& out) {
        ByteReader c = part.data;
        out.resize(c.size() / 4);
        for (auto& b : out) {
            b.generatorIndex = c.u16le();
            b.modulatorIndex = c.u16le();
        }
    };
    auto readGens = [](const Part& part, std::vector<Sf2GeneratorEntry>& out) {
        ByteReader c = part.data;
        out.resize(c.size() / 4);
        for (auto& g : out) {
            g.op = c.u16le();
            g.amount = c.u16le();
        }
    };
    auto readMods = [](const Part& part, std::vector<Sf2ModulatorEntry>& out) {
        ByteReader c = part.data;
        out.resize(c.size() / 10);
        for (auto& m : out) {
            m.source = c.u16le();
            m.destination = c.u16le();
            m.amount = static_cast<std::int16_t>(c.u16le());
            m.amountSource = c.u16le();
            m.transform = c.u16le();
        }
    };
    readBags(parts[1], presetBags);
    readMods(parts[2], presetModulators);
    readGens(parts[3], presetGenerators);
    {
        ByteReader c = parts[4].data;
        instruments.resize(count(4));
        for (auto& i : instruments) {
            i.name = name20(c);
            i.bagIndex = c.u16le();
        }
    }
    readBags(parts[5], instrumentBags);
    readMods(parts[6], instrumentModulators);
    readGens(parts[7], instrumentGenerators);
    {
        ByteReader c = parts[8].data;
        samples.resize(count(8));
        for (auto& s : samples) {
            s.name = name20(c);
            s.start = c.u32le();
            s.end = c.u32le();
            s.loopStart = c.u32le();
            s.loopEnd = c.u32le();
            s.sampleRate = c.u32le();
            s.originalPitch = c.u8();
            s.pitchCorrection = static_cast<std::int8_t>(c.u8());
            s.sampleLink = c.u16le();
            s.sampleType = c.u16le();
        }
    }

    // Index chains must run forwards and stay inside the next list; the
    // terminal records close the last zone of each.
    auto checkChain = [&](auto& headers, const std::vector<Sf2Bag>& bags, const char* what) {
        for (std::size_t i = 0; i + 1 < headers.size(); ++i) {
            if (headers[i].bagIndex > headers[i + 1].bagIndex) {
                return fail(RESULT_UNSUPPORTED_DATA, std::string("the ") + what + " zone indexes run backwards");
            }
        }
        if (headers.back().bagIndex >= bags.size()) {
            return fail(RESULT_UNSUPPORTED_DATA, std::string("the ") + what + " zone indexes point past the zone list");
        }
        return true;
    };
    auto checkBags = [&](const std::vector<Sf2Bag>& bags, std::size_t gens, const char* what) {
        for (std::size_t i = 0; i + 1 < bags.size(); ++i) {
            if (bags[i].generatorIndex > bags[i + 1].generatorIndex) {
                return fail(RESULT_UNSUPPORTED_DATA, std::string("the ") + what + " generator indexes run backwards");
            }
        }
        if (bags.back().generatorIndex > gens) {
            return fail(RESULT_UNSUPPORTED_DATA, std::string("the ") + what + " generator indexes point past the list");
        }
        return true;
    };
    if (!checkChain(presets, presetBags, "preset") || !checkChain(instruments, instrumentBags, "instrument") ||
        !checkBags(presetBags, presetGenerators.size(), "preset") ||
        !checkBags(instrumentBags, instrumentGenerators.size(), "instrument")) {
        return false;
    }
    // Drop the terminal records ("EOP", "EOI", "EOS"); the zone of the last
    // real entry ends at the terminal's bag index, kept in the bag lists.
    terminalPresetBag = presets.back().bagIndex;
    terminalInstrumentBag = instruments.back().bagIndex;
    presets.pop_back();
    instruments.pop_back();
    samples.pop_back();
    return true;
}

// Lays the samples of a version-3 bank out end to end as decoded frames,
// with the format's 46 zero frames after each, and rewrites their headers
// into that numbering. A compressed sample's start and end are byte offsets
// of its Ogg stream in smpl and its loop points count decoded frames from
// its start; an uncompressed one keeps SF2's frame numbers. The frame count
// comes from the stream's last page; a sample whose stream is cut short,
// damaged or too long keeps a stand-in length and the reason, given when
// it is read, so that only the presets that use it fail.
bool Sf2File::layOutCompressed(std::uint64_t smplBytes) {
    constexpr std::uint64_t GAP = 46;
    std::uint64_t next = 0;
    stored.resize(samples.size());
    std::vector<std::uint8_t> tail;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        Sf2SampleHeader& h = samples[i];
        StoredSample& st = stored[i];
        st.compressed = (h.sampleType & SF2_SAMPLE_COMPRESSED) != 0;
        std::uint32_t frames = 0;
        std::uint64_t loopStart = h.loopStart, loopEnd = h.loopEnd;
        if (st.compressed) {
            if (h.start > h.end || h.end > smplBytes) {
                st.problem = "its Ogg data lies outside the sample data";
            } else {
                st.byteOffset = h.start;
                st.byteLength = h.end - h.start;
                const auto tailBytes =
                    static_cast<std::size_t>(std::min<std::uint64_t>(st.byteLength, OGG_MAX_PAGE_BYTES));
                tail.resize(tailBytes);
                if (!source->read(smplOffset + st.byteOffset + st.byteLength - tailBytes, tail.data(),
                                  static_cast<std::uint32_t>(tailBytes))) {
                    return fail(RESULT_FILE_IO_ERROR, "cannot read sample data");
                }
                if (!oggStreamFrames(tail.data(), tail.size(), maxDecodedFrames, frames, st.problem)) {
                    frames = 0;
                } else if (st.byteLength > std::uint64_t{frames} * 8 + OGG_MAX_PAGE_BYTES) {
                    // Vorbis needs well under 2 bytes a frame; this much is not one stream.
                    st.problem = "its Ogg data is far longer than its " + std::to_string(frames) + " frames need";
                    frames = 0;
                }
            }
        } else {
            if (h.start > h.end || h.end > smplBytes / 2 || h.end - h.start > maxDecodedFrames) {
                st.problem = "it lies outside the sample data";
            } else {
                st.byteOffset = std::uint64_t{h.start} * 2;
                st.byteLength = std::uint64_t{h.end - h.start} * 2;
                frames = h.end - h.start;
                loopStart -= std::min(loopStart, std::uint64_t{h.start});
                loopEnd -= std::min(loopEnd, std::uint64_t{h.start});
            }
        }
        if (frames == 0) {
            // Long enough for its loop, so that reading it is what reports the problem.
            frames = static_cast<std::uint32_t>(std::clamp<std::uint64_t>(loopEnd, 1, maxDecodedFrames));
            if (st.problem.empty()) st.problem = "it holds no frames";
        }
        if (next + frames + GAP > 0xFFFFFFFFu) {
            return fail(RESULT_UNSUPPORTED_DATA, "the samples decode to more than 4 Gi frames");
        }
        h.start = static_cast<std::uint32_t>(next);
        h.end = static_cast<std::uint32_t>(next + frames);
        // Loop points past the sample stay past it (the converter checks them) but inside the numbering.
        h.loopStart = static_cast<std::uint32_t>(std::min<std::uint64_t>(next + loopStart, 0xFFFFFFFFu));
        h.loopEnd = static_cast<std::uint32_t>(std::min<std::uint64_t>(next + loopEnd, 0xFFFFFFFFu));
        next += frames + GAP;
    }
    smplFrames = static_cast<std::uint32_t>(next);
    return true;
}

bool Sf2File::readSamples(std::uint32_t start, std::uint32_t end, std::vector<std::int16_t>& frames) {
    frames.clear();
    if (!source || start > end || end > smplFrames)
        return fail(RESULT_UNSUPPORTED_DATA, "sample outside the sample data");
    if (!stored.empty()) return readStored(start, end, frames);
    std::uint32_t n = end - start;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(n) * 2);
    if (!source->read(smplOffset + static_cast<std::uint64_t>(start) * 2, bytes.data(), n * 2)) {
        return fail(RESULT_FILE_IO_ERROR, "cannot read sample data");
    }
    frames.resize(n);
    ByteReader in(bytes.data(), bytes.size());
    for (std::uint32_t i = 0; i < n; ++i) frames[i] = in.s16le();
    return true;
}

// readSamples over the decoded layout: the gaps between samples read as
// zeros, each sample in the range is decoded (the last one is kept).
bool Sf2File::readStored(std::uint32_t start, std::uint32_t end, std::vector<std::int16_t>& frames) {
    frames.assign(end - start, 0);
    // The first sample whose frames or gap reach past `start`.
    std::size_t i = static_cast<std::size_t>(
        std::upper_bound(samples.begin(), samples.end(), start,
                         [](std::uint32_t f, const Sf2SampleHeader& h) { return f < h.start; }) -
        samples.begin());
    if (i > 0) --i;
    for (; i < samples.size() && samples[i].start < end; ++i) {
        const Sf2SampleHeader& h = samples[i];
        const std::uint32_t from = std::max(start, h.start), to = std::min(end, h.end);
        if (from >= to) continue;
        if (decodedIndex != i) {
            decodedIndex = SIZE_MAX;
            const StoredSample& st = stored[i];
            std::string why = st.problem;
            bool ok = why.empty();
            if (ok) {
                std::vector<std::uint8_t> bytes(static_cast<std::size_t>(st.byteLength));
                if (!source->read(smplOffset + st.byteOffset, bytes.data(), static_cast<std::uint32_t>(bytes.size()))) {
                    return fail(RESULT_FILE_IO_ERROR, "cannot read sample data");
                }
                if (st.compressed) {
                    ok = decodeOggVorbis(bytes.data(), bytes.size(), h.end - h.start, decoded, why);
                } else {
                    decoded.resize(bytes.size() / 2);
                    ByteReader in(bytes.data(), bytes.size());
                    for (auto& v : decoded) v = in.s16le();
                }
            }
            if (!ok) {
                decoded.clear();
                return fail(RESULT_FILE_IO_ERROR, "sample \"" + h.name + "\" does not decode: " + why);
            }
            decodedIndex = i;
        }
        std::copy(decoded.begin() + (from - h.start), decoded.begin() + (to - h.start),
                  frames.begin() + (from - start));
    }
    return true;
}

int Sf2File::findPreset(int bank, int program) const {
    for (std::size_t i = 0; i < presets.size(); ++i) {
        if (presets[i].bank == bank && presets[i].program == program) return static_cast<int>(i);
    }
    return -1;
}

void Sf2File::zoneRange(const std::vector<Sf2Bag>& bags, std::size_t bag, std::size_t& first, std::size_t& last) const {
    // Checked in readHydra: bags run forwards and the last one is in range.
    first = bags[bag].generatorIndex;
    last = bag + 1 < bags.size() ? bags[bag + 1].generatorIndex : first;
}

namespace {

// The generators of one zone, in file order, with the terminal operator
// (instrument or sample) noted. Generators after the terminal one are ignored.
struct Zone {
    std::vector<Sf2GeneratorEntry> gens;
    std::vector<Sf2ModulatorEntry> mods;
    bool hasTerminal = false;
    std::uint16_t terminalValue = 0;
    Range keys, velocities;
};

Zone readZone(const std::vector<Sf2GeneratorEntry>& all, std::size_t first, std::size_t last,
              std::uint16_t terminalOp) {
    Zone z;
    for (std::size_t g = first; g < last && g < all.size(); ++g) {
        const Sf2GeneratorEntry& e = all[g];
        if (e.op == terminalOp) {
            z.hasTerminal = true;
            z.terminalValue = e.amount;
            break;
        }
        if (e.op == SF2_KEY_RANGE) z.keys = rangeOf(e.amount);
        if (e.op == SF2_VEL_RANGE) z.velocities = rangeOf(e.amount);
        z.gens.push_back(e);
    }
    return z;
}

// A zone of a real bank has a handful of modulators; a damaged one could
// claim 65535, and merging them (quadratic) would stall the conversion.
constexpr std::size_t MAX_ZONE_MODULATORS = 128;

// The modulators of zone `bag`: the records up to the next bag's index (the
// first MAX_ZONE_MODULATORS), none when the indexes run backwards or past
// the list. A later modulator identical to an earlier one of the same zone
// replaces it.
void readModulators(const std::vector<Sf2Bag>& bags, const std::vector<Sf2ModulatorEntry>& all, std::size_t bag,
                    Zone& z) {
    if (bag + 1 >= bags.size()) return;
    std::size_t first = bags[bag].modulatorIndex, last = bags[bag + 1].modulatorIndex;
    if (first > last || last > all.size()) return;
    last = std::min(last, first + MAX_ZONE_MODULATORS);
    for (std::size_t i = first; i < last; ++i) {
        auto same = std::find_if(z.mods.begin(), z.mods.end(), [&](const auto& m) { return sameModulator(m, all[i]); });
        if (same != z.mods.end())
            *same = all[i];
        else
            z.mods.push_back(all[i]);
    }
}

}  // namespace

template <class Visit>
void Sf2File::walkZones(std::size_t presetIndex, Visit&& visit) const {
    if (presetIndex >= presets.size()) return;
    std::size_t bagFirst = presets[presetIndex].bagIndex;
    std::size_t bagLast = presetIndex + 1 < presets.size() ? presets[presetIndex + 1].bagIndex : terminalPresetBag;
    Zone presetGlobal;
    for (std::size_t bag = bagFirst; bag < bagLast; ++bag) {
        std::size_t gFirst, gLast;
        zoneRange(presetBags, bag, gFirst, gLast);
        Zone pz = readZone(presetGenerators, gFirst, gLast, SF2_INSTRUMENT);
        readModulators(presetBags, presetModulators, bag, pz);
        if (!pz.hasTerminal) {
            if (bag == bagFirst) presetGlobal = pz;
            continue;
        }
        if (pz.terminalValue >= instruments.size()) continue;
        std::size_t inst = pz.terminalValue;
        std::size_t iFirst = instruments[inst].bagIndex;
        std::size_t iLast = inst + 1 < instruments.size() ? instruments[inst + 1].bagIndex : terminalInstrumentBag;
        Zone instGlobal;
        for (std::size_t ibag = iFirst; ibag < iLast; ++ibag) {
            std::size_t f, l;
            zoneRange(instrumentBags, ibag, f, l);
            Zone iz = readZone(instrumentGenerators, f, l, SF2_SAMPLE_ID);
            readModulators(instrumentBags, instrumentModulators, ibag, iz);
            if (!iz.hasTerminal) {
                if (ibag == iFirst) instGlobal = iz;
                continue;
            }
            if (iz.terminalValue >= samples.size()) continue;
            visit(presetGlobal, pz, inst, instGlobal, iz);
        }
    }
}

namespace {

// A zone's range of `op` (key or velocity range): the global zone's, replaced
// by the local zone's own where it has one.
Range effectiveRange(const Zone& global, const Zone& local, std::uint16_t op) {
    Range range = op == SF2_KEY_RANGE ? global.keys : global.velocities;
    for (const auto& e : local.gens)
        if (e.op == op) range = rangeOf(e.amount);
    return range;
}

}  // namespace

std::size_t Sf2File::findRegions(std::size_t presetIndex, int key, int velocity,
                                 std::vector<Sf2Region>& regions) const {
    regions.clear();
    walkZones(presetIndex, [&](const Zone& presetGlobal, const Zone& pz, std::size_t inst, const Zone& instGlobal,
                               const Zone& iz) {
        Range pKeys = effectiveRange(presetGlobal, pz, SF2_KEY_RANGE);
        Range pVels = effectiveRange(presetGlobal, pz, SF2_VEL_RANGE);
        if (!pKeys.contains(key) || !pVels.contains(velocity)) return;
        Range iKeys = effectiveRange(instGlobal, iz, SF2_KEY_RANGE);
        Range iVels = effectiveRange(instGlobal, iz, SF2_VEL_RANGE);
        if (!iKeys.contains(key) || !iVels.contains(velocity)) return;

        // Instrument amounts (global zone, overridden by the local zone) plus
        // the preset's additive amounts (likewise).
        Sf2Region region;
        for (int op = 0; op < SF2_GENERATOR_COUNT; ++op)
            region.generators[static_cast<std::size_t>(op)] = sf2GeneratorDefault(op);
        for (const auto* z : {&instGlobal, &iz})
            for (const auto& e : z->gens)
                if (e.op < SF2_GENERATOR_COUNT) region.generators[e.op] = amountValue(e);
        std::array<std::int32_t, SF2_GENERATOR_COUNT> presetAdd{};
        for (const auto* z : {&presetGlobal, &pz})
            for (const auto& e : z->gens)
                if (presetMayAdd(e.op)) presetAdd[e.op] = amountValue(e);
        for (int op = 0; op < SF2_GENERATOR_COUNT; ++op)
            region.generators[static_cast<std::size_t>(op)] += presetAdd[static_cast<std::size_t>(op)];

        // Modulators: the defaults; the instrument's global zone's, replaced
        // by identical ones of its local zone, each replacing an identical
        // default; then the preset's (global, replaced by local), whose
        // amounts add to an identical one already there.
        std::vector<Sf2ModulatorEntry> mods = sf2DefaultModulators();
        auto merge = [&](const std::vector<Sf2ModulatorEntry>& list, bool add) {
            for (const auto& m : list) {
                auto same = std::find_if(mods.begin(), mods.end(), [&](const auto& e) { return sameModulator(e, m); });
                if (same == mods.end())
                    mods.push_back(m);
                else if (add)
                    same->amount = static_cast<std::int16_t>(std::clamp(same->amount + m.amount, -32768, 32767));
                else
                    *same = m;
            }
        };
        auto localOverGlobal = [](const Zone& global, const Zone& local) {
            std::vector<Sf2ModulatorEntry> list = local.mods;
            for (const auto& g : global.mods)
                if (std::none_of(list.begin(), list.end(), [&](const auto& l) { return sameModulator(l, g); }))
                    list.push_back(g);
            return list;
        };
        merge(localOverGlobal(instGlobal, iz), false);
        merge(localOverGlobal(presetGlobal, pz), true);
        const auto& defaults = sf2DefaultModulators();
        for (int op = 0; op < SF2_GENERATOR_COUNT; ++op) {
            double extra =
                sf2ModulatedAmount(mods, op, key, velocity) - sf2ModulatedAmount(defaults, op, key, velocity);
            if (op == SF2_INITIAL_ATTENUATION) {
                region.attenuationModulation = extra;
            } else if (std::fabs(extra) >= 0.5) {
                // Only operators a synthesizer modulates; others keep the file's value.
                if (!presetMayAdd(op)) continue;
                std::int32_t& generator = region.generators[static_cast<std::size_t>(op)];
                generator = static_cast<std::int32_t>(std::lround(std::clamp(generator + extra, -1e6, 1e6)));
            }
        }

        region.sampleIndex = iz.terminalValue;
        region.instrumentIndex = static_cast<std::uint32_t>(inst);
        region.keyLow = static_cast<std::uint8_t>(std::max(pKeys.low, iKeys.low));
        region.keyHigh = static_cast<std::uint8_t>(std::min(pKeys.high, iKeys.high));
        region.velocityLow = static_cast<std::uint8_t>(std::max(pVels.low, iVels.low));
        region.velocityHigh = static_cast<std::uint8_t>(std::min(pVels.high, iVels.high));
        regions.push_back(region);
    });
    return regions.size();
}

bool Sf2File::presetKeyRange(std::size_t presetIndex, int& low, int& high) const {
    low = 128;
    high = -1;
    // The union over the preset's zones of (preset zone range ∩ instrument zone range).
    walkZones(presetIndex,
              [&](const Zone& presetGlobal, const Zone& pz, std::size_t, const Zone& instGlobal, const Zone& iz) {
                  Range pKeys = effectiveRange(presetGlobal, pz, SF2_KEY_RANGE);
                  Range iKeys = effectiveRange(instGlobal, iz, SF2_KEY_RANGE);
                  int lo = std::max(pKeys.low, iKeys.low), hi = std::min({pKeys.high, iKeys.high, 127});
                  if (lo > hi) return;
                  low = std::min(low, lo);
                  high = std::max(high, hi);
              });
    return high >= 0;
}

}  // namespace brellin
