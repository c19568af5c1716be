// Builds small SoundFont 2 files in memory for the converter's tests and
// the seed corpus of its fuzz target; with Ogg Vorbis streams given for the
// samples, SF3 files (version 3, compressed samples).
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace brellin::testing {

struct Sf2BuildSample {
    std::string name;
    std::vector<std::int16_t> frames;
    std::uint32_t sampleRate = 44100;
    std::uint8_t originalPitch = 60;
    std::int8_t correction = 0;
    std::uint32_t loopStart = 0, loopEnd = 0;  // relative to the sample's first frame
    std::uint16_t type = 1;                    // mono
    // When set, the sample is stored as this Ogg Vorbis stream (of `frames`):
    // start and end become its byte offsets in smpl, the loop stays relative
    // to the sample's start and the type gets the compressed bit.
    std::string ogg = {};
};

using Sf2Gen = std::pair<std::uint16_t, std::int32_t>;  // operator, amount (ranges: lo | hi << 8)
using Sf2ZoneGens = std::vector<Sf2Gen>;

// A modulator record: amount × source × amountSource added to destination.
struct Sf2BuildModulator {
    std::uint16_t source = 0, destination = 0;
    std::int16_t amount = 0;
    std::uint16_t amountSource = 0, transform = 0;
};
using Sf2ZoneMods = std::vector<Sf2BuildModulator>;

struct Sf2BuildInstrument {
    std::string name;
    std::vector<Sf2ZoneGens> zones;            // a zone without sampleID (53) first is the global zone
    std::vector<Sf2ZoneMods> modulators = {};  // of zones[i]; zones past its end have none
};

struct Sf2BuildPreset {
    std::string name;
    std::uint16_t program = 0, bank = 0;
    std::vector<Sf2ZoneGens> zones;            // a zone without instrument (41) first is the global zone
    std::vector<Sf2ZoneMods> modulators = {};  // of zones[i]; zones past its end have none
};

class Sf2Builder {
public:
    std::vector<Sf2BuildSample> samples;
    std::vector<Sf2BuildInstrument> instruments;
    std::vector<Sf2BuildPreset> presets;
    std::uint16_t versionMajor = 2, versionMinor = 4;
    // False leaves out the pad byte after bodies of odd size, as some SF3 writers do.
    bool padOddChunks = true;
    std::string smplTail;  // bytes after the last sample in smpl

    std::string build() const {
        std::string smpl;
        std::vector<std::uint32_t> starts, ends;
        for (const auto& s : samples) {
            if (!s.ogg.empty()) {
                starts.push_back(static_cast<std::uint32_t>(smpl.size()));
                smpl += s.ogg;
                ends.push_back(static_cast<std::uint32_t>(smpl.size()));
                continue;
            }
            if (smpl.size() & 1) smpl.push_back('\0');  // frames after an odd-sized stream
            starts.push_back(static_cast<std::uint32_t>(smpl.size() / 2));
            ends.push_back(starts.back() + static_cast<std::uint32_t>(s.frames.size()));
            for (std::int16_t v : s.frames) put16(smpl, static_cast<std::uint16_t>(v));
            for (int i = 0; i < 46; ++i) put16(smpl, 0);  // the format's zero tail
        }
        smpl += smplTail;
        std::string phdr, pbag, pmod, pgen, inst, ibag, imod, igen, shdr;
        for (const auto& p : presets) {
            putName(phdr, p.name);
            put16(phdr, p.program);
            put16(phdr, p.bank);
            put16(phdr, static_cast<std::uint16_t>(pbag.size() / 4));
            put32(phdr, 0), put32(phdr, 0), put32(phdr, 0);
            for (std::size_t z = 0; z < p.zones.size(); ++z) {
                put16(pbag, static_cast<std::uint16_t>(pgen.size() / 4));
                put16(pbag, static_cast<std::uint16_t>(pmod.size() / 10));
                for (const auto& g : p.zones[z]) putGen(pgen, g);
                if (z < p.modulators.size())
                    for (const auto& m : p.modulators[z]) putMod(pmod, m);
            }
        }
        putName(phdr, "EOP");
        put16(phdr, 0), put16(phdr, 0), put16(phdr, static_cast<std::uint16_t>(pbag.size() / 4));
        put32(phdr, 0), put32(phdr, 0), put32(phdr, 0);
        put16(pbag, static_cast<std::uint16_t>(pgen.size() / 4)),
            put16(pbag, static_cast<std::uint16_t>(pmod.size() / 10));
        putGen(pgen, {0, 0});
        for (const auto& i : instruments) {
            putName(inst, i.name);
            put16(inst, static_cast<std::uint16_t>(ibag.size() / 4));
            for (std::size_t z = 0; z < i.zones.size(); ++z) {
                put16(ibag, static_cast<std::uint16_t>(igen.size() / 4));
                put16(ibag, static_cast<std::uint16_t>(imod.size() / 10));
                for (const auto& g : i.zones[z]) putGen(igen, g);
                if (z < i.modulators.size())
                    for (const auto& m : i.modulators[z]) putMod(imod, m);
            }
        }
        putName(inst, "EOI");
        put16(inst, static_cast<std::uint16_t>(ibag.size() / 4));
        put16(ibag, static_cast<std::uint16_t>(igen.size() / 4)),
            put16(ibag, static_cast<std::uint16_t>(imod.size() / 10));
        putGen(igen, {0, 0});
        for (std::size_t n = 0; n < samples.size(); ++n) {
            const auto& s = samples[n];
            putName(shdr, s.name);
            const bool compressed = !s.ogg.empty();
            std::uint32_t start = starts[n];
            std::uint32_t loopBase = compressed ? 0 : start;
            put32(shdr, start);
            put32(shdr, ends[n]);
            put32(shdr, loopBase + s.loopStart);
            put32(shdr, loopBase + s.loopEnd);
            put32(shdr, s.sampleRate);
            shdr.push_back(static_cast<char>(s.originalPitch));
            shdr.push_back(static_cast<char>(s.correction));
            put16(shdr, 0);
            put16(shdr, static_cast<std::uint16_t>(s.type | (compressed ? 0x10 : 0)));
        }
        putName(shdr, "EOS");
        shdr.append(26, '\0');

        pmod.append(10, '\0');  // terminal records
        imod.append(10, '\0');
        std::string pdta = "pdta" + chunk("phdr", phdr) + chunk("pbag", pbag) + chunk("pmod", pmod) +
                           chunk("pgen", pgen) + chunk("inst", inst) + chunk("ibag", ibag) + chunk("imod", imod) +
                           chunk("igen", igen) + chunk("shdr", shdr);
        std::string ifil;
        put16(ifil, versionMajor), put16(ifil, versionMinor);
        std::string info = "INFO" + chunk("ifil", ifil) + chunk("INAM", std::string("Test bank") + '\0');
        std::string body =
            "sfbk" + chunk("LIST", info) + chunk("LIST", "sdta" + chunk("smpl", smpl)) + chunk("LIST", pdta);
        return chunk("RIFF", body);
    }

    // A sine of `periods` whole periods of `length` frames in total.
    static std::vector<std::int16_t> sine(std::size_t length, double periodFrames, double amplitude = 30000.0) {
        std::vector<std::int16_t> frames(length);
        for (std::size_t i = 0; i < length; ++i) {
            frames[i] = static_cast<std::int16_t>(std::lround(
                amplitude * std::sin(2.0 * 3.14159265358979323846 * static_cast<double>(i) / periodFrames)));
        }
        return frames;
    }

    static std::int32_t range(int low, int high) { return low | (high << 8); }

private:
    static void put16(std::string& out, std::uint16_t v) {
        out.push_back(static_cast<char>(v & 0xFF));
        out.push_back(static_cast<char>(v >> 8));
    }
    static void put32(std::string& out, std::uint32_t v) {
        put16(out, static_cast<std::uint16_t>(v & 0xFFFF));
        put16(out, static_cast<std::uint16_t>(v >> 16));
    }
    static void putName(std::string& out, const std::string& name) {
        std::string n = name.substr(0, 19);
        n.resize(20, '\0');
        out += n;
    }
    static void putMod(std::string& out, const Sf2BuildModulator& m) {
        put16(out, m.source), put16(out, m.destination), put16(out, static_cast<std::uint16_t>(m.amount));
        put16(out, m.amountSource), put16(out, m.transform);
    }
    static void putGen(std::string& out, const Sf2Gen& g) {
        put16(out, g.first);
        put16(out, static_cast<std::uint16_t>(g.second & 0xFFFF));
    }
    std::string chunk(const char* id, const std::string& body) const {
        std::string out(id, 4);
        put32(out, static_cast<std::uint32_t>(body.size()));
        out += body;
        if ((body.size() & 1) && padOddChunks) out.push_back('\0');
        return out;
    }
};

}  // namespace brellin::testing
