// Sf2Importer: turns a General MIDI SoundFont 2 bank into the tables of a
// BRF sound font (programs, drum regions, kit maps, 8-bit samples).
//
// For each program of bank 0 the zone that sounds at key 60 (or the middle
// of the preset's key range) and velocity 100 becomes one pitched record:
// its sample is resampled (band-limited) so that one period at the sample's
// root pitch is a whole number of samples near the data rate, its loop is
// snapped to whole samples without a click, and it is quantized to 8 bits
// with the peak normalized. The program plays at the bank's own pitch: the
// sample as the bank tunes it, moved to the pitch of the bank's A4 where
// that comes from other recordings or from several layers at once (see
// Sf2ImportOptions). The SF2 volume envelope becomes the four-stage
// envelope at 22050 Hz, with the initial attenuation and the normalization
// gain folded into the levels. The zones' modulators count as they do for
// that note (velocity 100, controllers at rest): a bank that replaces the
// default velocity curve or opens its filter with velocity is converted at
// the level and brightness it plays at. Bank 128 presets become drum kits of
// fixed-step regions. Missing programs borrow the nearest program of the
// same General MIDI family, or program 0.
//
// Used by brf-tool on its own thread. Memory stays bounded by the hydra plus
// one sample's frames at a time plus the converted 8-bit data.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/ResultCode.h"
#include "soundfont/InstrumentRecord.h"

namespace brellin {

class Sf2File;
class SoundFontWriter;
struct Sf2Region;

// The SF2 volume envelope of one zone, in the file's units.
struct Sf2VolumeEnvelope {
    std::int32_t delay = -12000;    // timecents
    std::int32_t attack = -12000;   // timecents
    std::int32_t hold = -12000;     // timecents
    std::int32_t decay = -12000;    // timecents: time to fall 96 dB
    std::int32_t sustain = 0;       // centibels below the peak
    std::int32_t release = -12000;  // timecents: time to fall 96 dB
};

// Seconds of a timecent value; -12000 and below count as no time at all.
double sf2Seconds(std::int32_t timecents);

// Writes attackRate … releaseRate of `record` for an output rate of 22050 Hz
// from the SF2 envelope with the peak level `peak`:
//  - attack: linear rise to `peak` over the attack time (the delay is added
//    to it; the BRF envelope has no delay stage);
//  - hold: decay stage 1 falling by 2 per sample for the hold time;
//  - decay: the SF2 decay is linear in decibels; it is followed by straight
//    segments through points of that curve (knees at -10 and -30 dB), ending
//    at the sustain level, which the next stage holds with rate 0, or at
//    level 0 at the -60 dB time when the sustain is silent;
//  - release: a straight fall from the peak to 0 in the time the SF2 release
//    takes to fall 20 dB.
// All rates are even (the loader clears bit 0), attack and release at least 4.
void sf2ConvertEnvelope(const Sf2VolumeEnvelope& envelope, std::int32_t peak, InstrumentRecord& record);

// The level of the envelope `t` seconds after note-on while the key is held,
// 0 … 1 (1 = peak), for baking drum envelopes into their samples.
double sf2EnvelopeGain(const Sf2VolumeEnvelope& envelope, double t);

// How long a drum note is taken to be held. Drum regions play to their end
// regardless of note-off, so the release is baked in after this time; drum
// notes in General MIDI files are mostly this short or shorter.
constexpr double SF2_DRUM_NOTE_SECONDS = 0.2;

// sf2EnvelopeGain for a note released after SF2_DRUM_NOTE_SECONDS: from then
// on the level falls 96 dB per release time.
double sf2DrumGain(const Sf2VolumeEnvelope& envelope, double t);

struct Sf2ImportOptions {
    std::uint32_t dataRate = 22050;  // rate the sample data is stored at, about
    std::uint64_t maxBytes = 0;      // limit of the BRF file; 0 = none
    // Programs play at the bank's own pitch, as a SoundFont synthesizer
    // plays the bank's A4 (root key, tuning, correction, scale tuning, the
    // loop as stored): the converted sample is tuned as the bank tunes it,
    // then moved to where the bank's layers of key 69 sound together (their
    // mean pitch, a BRF record having one layer) when those are other
    // recordings or several. True keeps the converted sample's own tuning
    // exactly, without measuring anything.
    bool keepTuning = false;
    // True tunes programs to equal temperament at A = 440 Hz instead: each
    // program's sample is measured (a looped sample by its loop, a long
    // attack by its own pitch) and, when it sounds within a quarter tone of
    // the pitch the bank gives it, the measured pitch is what the record is
    // made for. Ignored with keepTuning.
    bool tuneTo440 = false;
    // Called after each converted preset: stage ("programs", "drum kits"),
    // done and total. Optional.
    std::function<void(const char*, int, int)> progress;
};

struct Sf2ImportSummary {
    int programsConverted = 0;   // programs with their own preset
    int programsBorrowed = 0;    // filled from another program
    int programsRetuned = 0;     // moved from the converted sample's own tuning
    int borrowedFrom[128] = {};  // program used for each (its own number when converted)
    int kits = 0;
    int drumRegions = 0;
    std::uint64_t sampleBytes = 0;
    std::uint32_t dataRate = 0;      // the rate finally used (lower than asked when shrunk to fit)
    std::vector<std::string> notes;  // things a user may want to know
};

class Sf2Importer {
public:
    // Fills `writer` (programs, drum regions, kit maps, program kits, samples)
    // from the bank. False with `lastError`/`errorText` when the bank has
    // nothing playable, a sample cannot be read, or the result cannot fit
    // `maxBytes`.
    bool convert(Sf2File& bank, SoundFontWriter& writer);

    Sf2ImportOptions options;
    Sf2ImportSummary summary;
    ResultCode lastError = RESULT_OK;
    std::string errorText;

private:
    bool convertAtRate(Sf2File& bank, SoundFontWriter& writer, std::uint32_t rate);
    bool fail(ResultCode code, const std::string& text);
};

// Relative loudness references shared with the tests: the peak envelope level
// of a full-scale sample at 0 cB, and the 8-bit drum sample scale for a
// full-scale 16-bit frame at 0 cB (see Sf2Importer.cpp for how they are set).
extern const double SF2_LEVEL_REFERENCE;
extern const double SF2_DRUM_GAIN_REFERENCE;

}  // namespace brellin
