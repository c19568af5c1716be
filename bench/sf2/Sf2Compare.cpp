// sf2-compare: checks a converted font note by note against FluidSynth
// playing the original SF2.
//   sf2-compare score OUT.mid              the test score as a MIDI file (for FluidSynth)
//   sf2-compare render FONT.brf OUT.wav    the same score through Brellin's synthesizer, 44100 Hz
//   sf2-compare analyze OURS.wav [FLUID.wav]
//   sf2-compare song FONT.brf SONG.mid OUT.wav    a MIDI file through the Sequencer, 44100 Hz, 32 voices
//   sf2-compare filter SONG.mid FAMILY OUT.mid    only notes of one GM family (0–15, 16 = drums) sound
//   sf2-compare stats A.wav [B.wav]               RMS, peak and spectral centroid (and differences)
// The score plays key 69 (440 Hz; or --key K) at velocity 100 for 1.5 s on every
// program of channel 1, one every 3 s, then every drum key 35–81 of kit 0 on
// channel 10, one every 0.5 s. The analysis prints, per note, the pitch of
// the held note (cents from 440 Hz, long-lag autocorrelation over 0.3–1.5 s
// after note-on), the level (RMS dBFS of the first second, both channels)
// and the spectral centroid, and for two files the differences, ending with
// the pitch table: programs clearly pitched in both renders, how many lie
// within ±5 cents of FluidSynth and beyond ±10, and the farthest ones.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bench/sf2/Sf2RenderScore.h"
#include "player/Sequencer.h"

using namespace brellin;
using namespace brellin::sf2check;

namespace {

// Each program's note is held 1.5 s, long enough to measure the pitch a held
// note settles on (0.3 to 1.5 s after note-on); its level is taken over the
// first second.
constexpr double PROGRAM_SPACING = 3.0, NOTE_LENGTH = 1.5, LEVEL_SECONDS = 1.0;
constexpr double PITCH_FROM = 0.3, PITCH_TO = 1.5;
constexpr double DRUM_START = 128 * PROGRAM_SPACING, DRUM_SPACING = 0.5;
constexpr int FIRST_DRUM = 35, LAST_DRUM = 81;
int noteKey = 69;  // the key every program plays (--key K after the command's arguments)
double noteHz() { return 440.0 * std::pow(2.0, (noteKey - 69) / 12.0); }

struct TimedMessage {
    double seconds;
    std::vector<std::uint8_t> bytes;
};

std::vector<TimedMessage> scoreMessages() {
    std::vector<TimedMessage> m;
    m.push_back({0.0, {0xB0, 7, 100}});
    m.push_back({0.0, {0xB9, 7, 100}});
    for (int p = 0; p < 128; ++p) {
        double t = p * PROGRAM_SPACING + 0.1;
        m.push_back({t - 0.05, {0xC0, static_cast<std::uint8_t>(p)}});
        m.push_back({t, {0x90, static_cast<std::uint8_t>(noteKey), 100}});
        m.push_back({t + NOTE_LENGTH, {0x80, static_cast<std::uint8_t>(noteKey), 0}});
    }
    for (int k = FIRST_DRUM; k <= LAST_DRUM; ++k) {
        double t = DRUM_START + (k - FIRST_DRUM) * DRUM_SPACING + 0.1;
        m.push_back({t, {0x99, static_cast<std::uint8_t>(k), 100}});
        m.push_back({t + 0.1, {0x89, static_cast<std::uint8_t>(k), 0}});
    }
    std::stable_sort(m.begin(), m.end(), [](const auto& a, const auto& b) { return a.seconds < b.seconds; });
    return m;
}

double scoreEnd() { return DRUM_START + (LAST_DRUM - FIRST_DRUM + 1) * DRUM_SPACING + 1.0; }

void putVarLen(std::string& out, std::uint32_t v) {
    std::uint8_t bytes[5];
    int n = 0;
    bytes[n++] = v & 0x7F;
    while (v >>= 7) bytes[n++] = static_cast<std::uint8_t>((v & 0x7F) | 0x80);
    while (n) out.push_back(static_cast<char>(bytes[--n]));
}

int writeMidi(const char* path) {
    // 960 ticks per second: division 480 at the default 120 beats per minute.
    std::string track;
    std::uint32_t lastTick = 0;
    for (const auto& msg : scoreMessages()) {
        auto tick = static_cast<std::uint32_t>(std::lround(msg.seconds * 960));
        putVarLen(track, tick - lastTick);
        lastTick = tick;
        track.append(msg.bytes.begin(), msg.bytes.end());
    }
    putVarLen(track, static_cast<std::uint32_t>(scoreEnd() * 960) - lastTick);
    track += std::string("\xFF\x2F\x00", 3);
    std::string file("MThd\0\0\0\x06\0\0\0\x01\x01\xE0", 14);
    file += "MTrk";
    for (int s = 24; s >= 0; s -= 8) file.push_back(static_cast<char>((track.size() >> s) & 0xFF));
    file += track;
    std::ofstream(path, std::ios::binary).write(file.data(), static_cast<std::streamsize>(file.size()));
    return 0;
}

int render(const char* font, const char* wav) {
    Score score;
    for (const auto& msg : scoreMessages()) {
        score.at(static_cast<std::uint32_t>(std::lround(msg.seconds / SLICE_SECONDS)), msg.bytes);
    }
    score.endSlice = static_cast<std::uint32_t>(scoreEnd() / SLICE_SECONDS);
    std::string error;
    if (!renderScore(font, score, wav, 44100, error, 64)) {
        std::fprintf(stderr, "sf2-compare: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

// Pitch by normalized autocorrelation over [from, from + length): the best
// lag within ±4 semitones of the note, then the peak near 16 periods and
// again near 64, each refined with parabolic interpolation. One period is
// 25 to 100 samples here, too coarse to resolve a few cents; a lag of 64
// periods resolves a hundredth of a cent, and over the sustained part of a
// held note it measures what repeats there (a sample's loop) rather than
// its attack. Both sides of every product lie inside the stretch.
double correlation(const std::vector<double>& x, std::size_t from, std::size_t length, std::size_t lag) {
    double xy = 0, xx = 0, yy = 0;
    for (std::size_t i = from; i + lag < from + length && i + lag < x.size(); ++i) {
        xy += x[i] * x[i + lag];
        xx += x[i] * x[i];
        yy += x[i + lag] * x[i + lag];
    }
    return xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0.0;
}

// The best lag in [lo, hi] (parabolic refinement around it) and its correlation.
double bestLag(const std::vector<double>& x, std::size_t from, std::size_t length, std::size_t lo, std::size_t hi,
               double& clarity) {
    std::size_t best = lo;
    double bestR = -2;
    for (std::size_t lag = lo; lag <= hi; ++lag) {
        double r = correlation(x, from, length, lag);
        if (r > bestR) bestR = r, best = lag;
    }
    clarity = bestR;
    if (best == 0) return 0;
    double r0 = correlation(x, from, length, best - 1), r2 = correlation(x, from, length, best + 1);
    double denom = r0 - 2 * bestR + r2;
    return static_cast<double>(best) + (denom < 0 ? std::clamp(0.5 * (r0 - r2) / denom, -0.5, 0.5) : 0.0);
}

double pitchHz(const std::vector<double>& x, std::size_t from, std::size_t length, double rate, double& clarity,
               double& periodClarity) {
    double expected = rate / noteHz();
    auto lo = static_cast<std::size_t>(expected * 0.79), hi = static_cast<std::size_t>(expected * 1.26);
    double period = bestLag(x, from, length, lo, hi, clarity);
    periodClarity = clarity;
    for (int periods : {16, 64}) {
        // Half the window at least stays compared at the longest lag.
        if (period <= 0 || periods * period * 2 > double(length)) break;
        // The period is known to better than a sample (then 1/16 sample):
        // the peak lies within ±periods/2 (then ±8) of the estimate.
        double estimate = periods * period;
        double reach = periods == 16 ? 10 : 8;
        double refined = bestLag(x, from, length, static_cast<std::size_t>(estimate - reach),
                                 static_cast<std::size_t>(estimate + reach), clarity);
        period = refined / periods;
    }
    return period > 0 ? rate / period : 0;
}

double rmsDb(const Pcm& pcm, std::size_t from, std::size_t to) {
    double sum = 0;
    std::size_t n = 0;
    for (std::size_t i = from; i < to && i < pcm.left.size(); ++i, n += 2) {
        sum += pcm.left[i] * pcm.left[i] + pcm.right[i] * pcm.right[i];
    }
    return n ? 10 * std::log10(sum / static_cast<double>(n) + 1e-20) : -200;
}

void fft(std::vector<std::complex<double>>& a) {
    const std::size_t n = a.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (std::size_t len = 2; len <= n; len <<= 1) {
        double angle = -2 * M_PI / static_cast<double>(len);
        std::complex<double> wl(std::cos(angle), std::sin(angle));
        for (std::size_t i = 0; i < n; i += len) {
            std::complex<double> w(1);
            for (std::size_t j = 0; j < len / 2; ++j) {
                auto u = a[i + j], v = a[i + j + len / 2] * w;
                a[i + j] = u + v;
                a[i + j + len / 2] = u - v;
                w *= wl;
            }
        }
    }
}

// Power-weighted mean frequency over [from, to), in 8192-frame Hann
// windows, the powers of both channels added (a mono sum would let the two
// halves of a stereo sample cancel each other's upper partials).
double centroidHz(const Pcm& pcm, std::size_t from, std::size_t to) {
    const std::size_t n = 8192;
    double weighted = 0, total = 0;
    for (std::size_t start = from; start + n <= to && start + n <= pcm.left.size(); start += n / 2) {
        for (const std::vector<double>* channel : {&pcm.left, &pcm.right}) {
            std::vector<std::complex<double>> a(n);
            for (std::size_t i = 0; i < n; ++i) {
                double w = 0.5 - 0.5 * std::cos(2 * M_PI * static_cast<double>(i) / (n - 1));
                a[i] = w * (*channel)[start + i];
            }
            fft(a);
            for (std::size_t k = 1; k < n / 2; ++k) {
                double p = std::norm(a[k]);
                weighted += p * static_cast<double>(k) * pcm.rate / n;
                total += p;
            }
        }
    }
    return total > 0 ? weighted / total : 0;
}

struct NoteResult {
    // clarity: correlation at the longest lag used; periodClarity at one period.
    double cents = NAN, clarity = 0, periodClarity = 0, level = -200, centroid = 0;
};

std::vector<NoteResult> analyzeNotes(const Pcm& pcm) {
    std::vector<NoteResult> out;
    const double rate = pcm.rate;
    std::vector<double> mono(pcm.left.size());
    for (std::size_t i = 0; i < mono.size(); ++i) mono[i] = pcm.left[i] + pcm.right[i];
    for (int p = 0; p < 128; ++p) {
        NoteResult r;
        double t = p * PROGRAM_SPACING + 0.1;
        auto at = [&](double s) { return static_cast<std::size_t>(s * rate); };
        r.level = rmsDb(pcm, at(t), at(t + LEVEL_SECONDS));
        double hz = pitchHz(mono, at(t + PITCH_FROM), at(PITCH_TO - PITCH_FROM), rate, r.clarity, r.periodClarity);
        r.cents = hz > 0 ? 1200 * std::log2(hz / noteHz()) : NAN;
        r.centroid = centroidHz(pcm, at(t), at(t + LEVEL_SECONDS));
        out.push_back(r);
    }
    for (int k = FIRST_DRUM; k <= LAST_DRUM; ++k) {
        NoteResult r;
        double t = DRUM_START + (k - FIRST_DRUM) * DRUM_SPACING + 0.1;
        auto at = [&](double s) { return static_cast<std::size_t>(s * rate); };
        r.level = rmsDb(pcm, at(t), at(t + DRUM_SPACING));
        r.centroid = centroidHz(pcm, at(t), at(t + DRUM_SPACING));
        out.push_back(r);
    }
    return out;
}

int analyze(const char* oursPath, const char* fluidPath) {
    Pcm ours, fluid;
    if (!readWav(oursPath, ours)) return std::fprintf(stderr, "cannot read %s\n", oursPath), 1;
    if (fluidPath && !readWav(fluidPath, fluid)) return std::fprintf(stderr, "cannot read %s\n", fluidPath), 1;
    auto a = analyzeNotes(ours);
    std::vector<NoteResult> b;
    if (fluidPath) b = analyzeNotes(fluid);
    int inTune = 0, pitched = 0, silent = 0;
    std::string beyond;
    double levelSum = 0, levelSq = 0;
    int levelCount = 0, within2 = 0;
    std::printf("note   cents clarity  level  centroid%s\n",
                fluidPath ? " | fluid: cents  level centroid | dLevel" : "");
    for (std::size_t i = 0; i < a.size(); ++i) {
        bool drum = i >= 128;
        std::printf("%s%3zu %7.2f %6.3f %7.1f %8.0f", drum ? "d" : "p", drum ? i - 128 + FIRST_DRUM : i,
                    drum ? 0.0 : a[i].cents, a[i].clarity, a[i].level, a[i].centroid);
        if (!drum && a[i].level < -70) ++silent;
        // At a lag of 16 to 64 periods a real instrument (vibrato, a loop
        // of a few dozen cycles) correlates far below 1: 0.5 marks a pitch.
        if (!drum && a[i].clarity > 0.5 && a[i].level > -70) {
            ++pitched;
            if (std::fabs(a[i].cents) <= 3.0)
                ++inTune;
            else
                beyond += " " + std::to_string(i);
        }
        if (fluidPath) {
            double d = a[i].level - b[i].level;
            std::printf(" | %7.2f %6.1f %8.0f | %+5.1f", drum ? 0.0 : b[i].cents, b[i].level, b[i].centroid, d);
            if (a[i].level > -70 && b[i].level > -70) {
                levelSum += d, levelSq += d * d, ++levelCount;
                if (std::fabs(d) <= 2.0) ++within2;
            }
        }
        std::printf("\n");
    }
    std::printf(
        "programs clearly pitched (clarity > 0.5): %d, within ±3 cents of %.2f Hz: %d (beyond:%s), silent: %d\n",
        pitched, noteHz(), inTune, beyond.empty() ? " none" : beyond.c_str(), silent);
    if (fluidPath) {
        // Pitch against FluidSynth playing the bank: the bank's own tuning,
        // whatever it is, is the reference. Only programs clearly pitched in
        // both renders count.
        struct Off {
            int program;
            double cents;
        };
        std::vector<Off> offs;
        for (int p = 0; p < 128; ++p) {
            // Clear: the sound repeats closely at one period (0.9); the
            // long-lag clarity would leave out instruments with vibrato,
            // whose mean pitch the long lag still measures.
            auto clear = [](const NoteResult& r) {
                return r.periodClarity > 0.9 && r.level > -70 && std::isfinite(r.cents);
            };
            const auto i = static_cast<std::size_t>(p);
            if (clear(a[i]) && clear(b[i])) offs.push_back({p, a[i].cents - b[i].cents});
        }
        int within5 = 0, beyond10 = 0;
        for (const Off& o : offs) {
            within5 += std::fabs(o.cents) <= 5.0;
            beyond10 += std::fabs(o.cents) > 10.0;
        }
        std::stable_sort(offs.begin(), offs.end(),
                         [](const Off& x, const Off& y) { return std::fabs(x.cents) > std::fabs(y.cents); });
        std::string worst;
        for (std::size_t i = 0; i < offs.size() && (i < 6 || std::fabs(offs[i].cents) > 10.0); ++i) {
            char item[32];
            std::snprintf(item, sizeof item, "%s%d %+.1f", i ? ", " : "", offs[i].program, offs[i].cents);
            worst += item;
        }
        std::printf(
            "pitch against fluid: clearly pitched %zu, within ±5 cents %d (%.0f %%), beyond ±10 %d, worst: %s\n",
            offs.size(), within5, offs.empty() ? 0.0 : 100.0 * within5 / double(offs.size()), beyond10,
            worst.empty() ? "none" : worst.c_str());
    }
    if (levelCount) {
        double mean = levelSum / levelCount;
        std::printf("level difference ours - fluid over %d notes: mean %+.2f dB, rms %.2f dB, within ±2 dB: %d\n",
                    levelCount, mean, std::sqrt(levelSq / levelCount), within2);
    }
    return 0;
}

struct SongRender {
    Sequencer* sequencer = nullptr;
    WavFileDevice* device = nullptr;
    int tail = -1;  // slices left after the last track ended

    static void tick(void* argument) {
        auto& r = *static_cast<SongRender*>(argument);
        r.sequencer->tick();
        if (r.tail < 0 && r.sequencer->activeTracks == 0) r.tail = static_cast<int>(2.0 / SLICE_SECONDS);
        if (r.tail > 0 && --r.tail == 0) r.device->finish();
    }
};

int renderSong(const char* font, const char* midi, const char* wav) {
    SoundOutput output;
    WavFileDevice::Options options;
    options.skipOpeningSilence = true;
    options.startHeld = true;
    auto owned = std::make_unique<WavFileDevice>(wav, options);
    WavFileDevice* device = owned.get();
    output.setDevice(std::move(owned));
    Synthesizer synth;
    if (!synth.loadSoundFont(font)) return std::fprintf(stderr, "cannot load %s\n", font), 1;
    if (!output.open(16, 44100, 2)) return std::fprintf(stderr, "cannot open output\n"), 1;
    if (!synth.createVoices(output, 32)) return std::fprintf(stderr, "cannot create voices\n"), 1;
    synth.setUserVolume(128);
    Sequencer sequencer(&synth);
    if (!sequencer.load(midi)) return std::fprintf(stderr, "cannot load %s\n", midi), 1;
    sequencer.rewind();
    SongRender render{&sequencer, device};
    const SliceClientHandle tickClient = synth.addSliceClient(&SongRender::tick, &render, SliceOrder::Song);
    sequencer.startClock();
    device->release();
    bool ended = device->waitEnded(600000);
    synth.removeSliceClient(tickClient);
    sequencer.playing = false;
    synth.destroyVoices();
    output.close();
    return ended ? 0 : 1;
}

// Rewrites the velocity of every note-on outside the family to 0 (a
// note-off), so the file keeps its timing byte for byte. The family of a
// channel follows the program changes met earlier in the same track.
int filterSong(const char* in, int family, const char* out) {
    std::ifstream file(in, std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    auto be32 = [&](std::size_t at) {
        return (std::uint32_t(std::uint8_t(data[at])) << 24) | (std::uint32_t(std::uint8_t(data[at + 1])) << 16) |
               (std::uint32_t(std::uint8_t(data[at + 2])) << 8) | std::uint8_t(data[at + 3]);
    };
    std::size_t at = data.compare(0, 4, "RIFF") == 0 ? data.find("MThd") : 0;
    if (at == std::string::npos || data.compare(at, 4, "MThd") != 0)
        return std::fprintf(stderr, "not a MIDI file\n"), 1;
    at += 8 + be32(at + 4);
    while (at + 8 <= data.size()) {
        std::size_t end = std::min<std::size_t>(data.size(), at + 8 + be32(at + 4));
        bool track = data.compare(at, 4, "MTrk") == 0;
        std::size_t p = at + 8;
        int program[16] = {};
        std::uint8_t status = 0;
        while (track && p < end) {
            while (p < end && (std::uint8_t(data[p]) & 0x80)) ++p;  // delta time
            ++p;
            if (p >= end) break;
            std::uint8_t b = std::uint8_t(data[p]);
            if (b == 0xFF || b == 0xF0 || b == 0xF7) {
                p += b == 0xFF ? 2 : 1;
                std::uint32_t len = 0;
                while (p < end) {
                    std::uint8_t v = std::uint8_t(data[p++]);
                    len = (len << 7) | (v & 0x7F);
                    if (!(v & 0x80)) break;
                }
                p += len;
                continue;
            }
            if (b & 0x80) status = b, ++p;
            int channel = status & 15, kind = status & 0xF0;
            int length = (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
            if (p + static_cast<std::size_t>(length) > end) break;
            if (kind == 0xC0) program[channel] = std::uint8_t(data[p]) & 0x7F;
            if (kind == 0x90) {
                int noteFamily = channel == 9 ? 16 : program[channel] / 8;
                if (noteFamily != family) data[p + 1] = 0;
            }
            p += static_cast<std::size_t>(length);
        }
        at = end;
    }
    std::ofstream(out, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
    return 0;
}

struct Stats {
    double rmsDb = -200, peakDb = -200, centroid = 0, seconds = 0;
};

Stats statsOf(const Pcm& pcm) {
    Stats s;
    double sum = 0, peak = 0;
    for (std::size_t i = 0; i < pcm.left.size(); ++i) {
        sum += pcm.left[i] * pcm.left[i] + pcm.right[i] * pcm.right[i];
        peak = std::max({peak, std::fabs(pcm.left[i]), std::fabs(pcm.right[i])});
    }
    if (!pcm.left.empty()) s.rmsDb = 10 * std::log10(sum / (2.0 * static_cast<double>(pcm.left.size())) + 1e-20);
    s.peakDb = 20 * std::log10(peak + 1e-10);
    s.centroid = centroidHz(pcm, 0, pcm.left.size());
    s.seconds = pcm.rate ? double(pcm.left.size()) / pcm.rate : 0;
    return s;
}

int stats(const char* a, const char* b) {
    Pcm pa, pb;
    if (!readWav(a, pa)) return std::fprintf(stderr, "cannot read %s\n", a), 1;
    Stats sa = statsOf(pa);
    std::printf("%s: %.1f s, RMS %.2f dBFS, peak %.2f dBFS, centroid %.0f Hz\n", a, sa.seconds, sa.rmsDb, sa.peakDb,
                sa.centroid);
    if (b) {
        if (!readWav(b, pb)) return std::fprintf(stderr, "cannot read %s\n", b), 1;
        // Compared over the length both renders have (FluidSynth renders
        // release tails to their end; Brellin's renders stop 2 s after the song).
        std::size_t common = std::min(pa.left.size(), pb.left.size());
        for (Pcm* p : {&pa, &pb}) p->left.resize(common), p->right.resize(common);
        sa = statsOf(pa);
        std::printf("over the common %.1f s: %s RMS %.2f dBFS, peak %.2f dBFS, centroid %.0f Hz\n", sa.seconds, a,
                    sa.rmsDb, sa.peakDb, sa.centroid);
        Stats sb = statsOf(pb);
        std::printf("%s: %.1f s, RMS %.2f dBFS, peak %.2f dBFS, centroid %.0f Hz\n", b, sb.seconds, sb.rmsDb, sb.peakDb,
                    sb.centroid);
        std::printf("difference: RMS %+.2f dB, peak %+.2f dB, centroid ratio %.2f\n", sa.rmsDb - sb.rmsDb,
                    sa.peakDb - sb.peakDb, sb.centroid > 0 ? sa.centroid / sb.centroid : 0.0);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[argc - 2], "--key") == 0) {
        noteKey = std::clamp(std::atoi(argv[argc - 1]), 0, 127);
        argc -= 2;
    }
    if (argc >= 5 && std::strcmp(argv[1], "song") == 0) return renderSong(argv[2], argv[3], argv[4]);
    if (argc >= 5 && std::strcmp(argv[1], "filter") == 0) return filterSong(argv[2], std::atoi(argv[3]), argv[4]);
    if (argc >= 3 && std::strcmp(argv[1], "stats") == 0) return stats(argv[2], argc >= 4 ? argv[3] : nullptr);
    if (argc >= 3 && std::strcmp(argv[1], "score") == 0) return writeMidi(argv[2]);
    if (argc >= 4 && std::strcmp(argv[1], "render") == 0) return render(argv[2], argv[3]);
    if (argc >= 3 && std::strcmp(argv[1], "analyze") == 0) return analyze(argv[2], argc >= 4 ? argv[3] : nullptr);
    std::fprintf(stderr,
                 "usage: sf2-compare score OUT.mid | render FONT.brf OUT.wav | analyze OURS.wav [FLUID.wav]\n"
                 "       sf2-compare song FONT.brf SONG.mid OUT.wav | filter SONG.mid FAMILY OUT.mid |"
                 " stats A.wav [B.wav]\n");
    return 2;
}
