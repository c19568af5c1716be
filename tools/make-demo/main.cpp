// make-demo: writes Brellin's demo song, assets/demo.mid.
//
// The tune is the "Ode to Joy" theme (Beethoven, 1824; public domain),
// arranged here for four instruments: melody (flute), bass, string chords and
// a drum kit on channel 10. It is played twice, the second time faster (a
// Set Tempo in the middle). A Standard MIDI File, format 1, division 480,
// with a conductor track holding the song name, a copyright line and the tempo.
//
//     make-demo assets/demo.mid
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t QUARTER = 480;  // ticks per quarter note

struct Event {
    std::uint32_t time;  // absolute ticks
    int order;           // events at the same time: note-offs first
    std::string bytes;
};

class Track {
public:
    void meta(std::uint32_t time, int type, const std::string& payload) {
        std::string bytes = {static_cast<char>(0xFF), static_cast<char>(type)};
        bytes += varLen(static_cast<std::uint32_t>(payload.size())) + payload;
        events.push_back({time, 1, bytes});
    }
    void tempo(std::uint32_t time, std::uint32_t microseconds) {
        meta(time, 0x51,
             std::string{static_cast<char>(microseconds >> 16), static_cast<char>(microseconds >> 8),
                         static_cast<char>(microseconds)});
    }
    void channel(std::uint32_t time, int status, int a, int b = -1) {
        std::string bytes = {static_cast<char>(status), static_cast<char>(a)};
        if (b >= 0) bytes += static_cast<char>(b);
        events.push_back({time, 2, bytes});
    }
    void note(std::uint32_t time, std::uint32_t length, int channelNumber, int key, int velocity) {
        events.push_back(
            {time, 3, {static_cast<char>(0x90 | channelNumber), static_cast<char>(key), static_cast<char>(velocity)}});
        events.push_back({time + length, 0, {static_cast<char>(0x80 | channelNumber), static_cast<char>(key), 0}});
    }
    // The chunk: events in time order, running status not used, End of Track last.
    std::string chunk() const {
        std::vector<Event> sorted = events;
        std::stable_sort(sorted.begin(), sorted.end(), [](const Event& a, const Event& b) {
            return a.time != b.time ? a.time < b.time : a.order < b.order;
        });
        std::string body;
        std::uint32_t now = 0;
        for (const Event& e : sorted) {
            body += varLen(e.time - now) + e.bytes;
            now = e.time;
        }
        body += varLen(0) + std::string{static_cast<char>(0xFF), 0x2F, 0x00};
        return "MTrk" + be32(static_cast<std::uint32_t>(body.size())) + body;
    }

    static std::string varLen(std::uint32_t value) {
        std::string out(1, static_cast<char>(value & 0x7F));
        while (value >>= 7) out.insert(out.begin(), static_cast<char>(0x80 | (value & 0x7F)));
        return out;
    }
    static std::string be32(std::uint32_t v) {
        return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                static_cast<char>(v)};
    }

private:
    std::vector<Event> events;
};

// The theme: (key, length in eighths); 16 bars of 4/4.
struct Note {
    int key;
    int eighths;
};
// clang-format off
const std::vector<Note> theme = {
    // bars 1-4
    {64, 2}, {64, 2}, {65, 2}, {67, 2}, {67, 2}, {65, 2}, {64, 2}, {62, 2},
    {60, 2}, {60, 2}, {62, 2}, {64, 2}, {64, 3}, {62, 1}, {62, 4},
    // bars 5-8
    {64, 2}, {64, 2}, {65, 2}, {67, 2}, {67, 2}, {65, 2}, {64, 2}, {62, 2},
    {60, 2}, {60, 2}, {62, 2}, {64, 2}, {62, 3}, {60, 1}, {60, 4},
    // bars 9-12
    {62, 2}, {62, 2}, {64, 2}, {60, 2}, {62, 2}, {64, 1}, {65, 1}, {64, 2}, {60, 2},
    {62, 2}, {64, 1}, {65, 1}, {64, 2}, {62, 2}, {60, 2}, {62, 2}, {55, 4},
    // bars 13-16
    {64, 2}, {64, 2}, {65, 2}, {67, 2}, {67, 2}, {65, 2}, {64, 2}, {62, 2},
    {60, 2}, {60, 2}, {62, 2}, {64, 2}, {62, 3}, {60, 1}, {60, 4},
};
// One chord root per half bar (C = 48), 16 bars.
const std::vector<int> roots = {
    48, 48, 43, 43, 48, 48, 43, 43,  // C C G G C C G G
    48, 48, 43, 43, 48, 48, 43, 48,  // ... ending G C
    43, 43, 48, 48, 43, 43, 48, 43,  // G G C C G G C G
    48, 48, 43, 43, 48, 48, 43, 48,
};
// clang-format on

std::vector<int> triad(int root) {
    // C: C E G; G: B D G (close position around middle C)
    if (root % 12 == 0) return {60, 64, 67};
    return {59, 62, 67};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-demo OUTPUT.mid\n");
        return 2;
    }
    const std::uint32_t bar = 4 * QUARTER, eighth = QUARTER / 2;
    const std::uint32_t tuneLength = 16 * bar;
    const int passes = 2;

    Track conductor, melody, bass, chords, drums;
    conductor.meta(0, 0x03, "Ode to Joy (Brellin demo)");
    conductor.meta(0, 0x02, "Tune: L. van Beethoven (public domain). Arrangement: the Brellin authors.");
    conductor.meta(0, 0x58, std::string{4, 2, 24, 8});
    conductor.tempo(0, 500000);           // 120 beats per minute
    conductor.tempo(tuneLength, 428571);  // 140 for the second time through
    conductor.meta(tuneLength, 0x01, "Second time, faster");

    melody.meta(0, 0x03, "Melody");
    melody.channel(0, 0xC0, 73);  // flute
    melody.channel(0, 0xB0, 7, 110);
    melody.channel(0, 0xB0, 10, 64);
    bass.meta(0, 0x03, "Bass");
    bass.channel(0, 0xC1, 33);  // finger bass
    bass.channel(0, 0xB1, 7, 100);
    bass.channel(0, 0xB1, 10, 54);
    chords.meta(0, 0x03, "Strings");
    chords.channel(0, 0xC2, 48);  // string ensemble
    chords.channel(0, 0xB2, 7, 70);
    chords.channel(0, 0xB2, 10, 80);
    drums.meta(0, 0x03, "Drums");
    drums.channel(0, 0xB9, 7, 90);

    for (int pass = 0; pass < passes; ++pass) {
        std::uint32_t start = static_cast<std::uint32_t>(pass) * tuneLength;
        std::uint32_t t = start;
        for (const Note& n : theme) {
            std::uint32_t length = static_cast<std::uint32_t>(n.eighths) * eighth;
            melody.note(t, length - 30, 0, n.key + (pass == 1 ? 12 : 0), pass == 1 ? 100 : 92);
            t += length;
        }
        for (std::size_t half = 0; half < roots.size(); ++half) {
            std::uint32_t at = start + static_cast<std::uint32_t>(half) * 2 * QUARTER;
            int root = roots[half];
            bass.note(at, QUARTER - 40, 1, root - 12, 96);
            bass.note(at + QUARTER, QUARTER - 40, 1, root - 5, 84);  // the fifth below
            for (int key : triad(root)) chords.note(at, 2 * QUARTER - 20, 2, key, 60);
        }
        for (std::uint32_t b = 0; b < 16; ++b) {
            std::uint32_t at = start + b * bar;
            bool fill = b == 15;
            for (int i = 0; i < 8; ++i)
                drums.note(at + static_cast<std::uint32_t>(i) * eighth, eighth / 2, 9, 42,
                           i % 2 == 0 ? 80 : 60);  // closed hi-hat
            drums.note(at, eighth, 9, 36, 110);    // bass drum on 1 and 3
            drums.note(at + 2 * QUARTER, eighth, 9, 36, 100);
            drums.note(at + QUARTER, eighth, 9, 38, 96);  // snare on 2 and 4
            drums.note(at + 3 * QUARTER, eighth, 9, 38, fill ? 110 : 96);
            if (fill) drums.note(at + 3 * QUARTER + eighth, eighth, 9, 38, 80);
            if (b == 0) drums.note(at, QUARTER, 9, 49, 100);  // crash at the start of a pass
        }
    }
    // A last chord to end on.
    std::uint32_t end = passes * tuneLength;
    melody.note(end, 2 * QUARTER, 0, 72, 100);
    bass.note(end, 2 * QUARTER, 1, 36, 100);
    for (int key : triad(48)) chords.note(end, 2 * QUARTER, 2, key, 70);
    drums.note(end, 2 * QUARTER, 9, 49, 110);
    drums.note(end, eighth, 9, 36, 110);

    std::string file = "MThd" + Track::be32(6) + std::string{0, 1, 0, 5} +
                       std::string{static_cast<char>(QUARTER >> 8), static_cast<char>(QUARTER & 0xFF)};
    for (const Track* track : {&conductor, &melody, &bass, &chords, &drums}) file += track->chunk();

    FILE* out = std::fopen(argv[1], "wb");
    if (!out || std::fwrite(file.data(), 1, file.size(), out) != file.size() || std::fclose(out) != 0) {
        std::fprintf(stderr, "make-demo: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
