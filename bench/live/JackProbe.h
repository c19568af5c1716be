// JackProbe: measures a JACK synthesizer from outside, as a keyboard player
// would hear it. Two JACK clients of this process: one sends note-ons to the
// synthesizer's MIDI input at known frames, the other listens to its audio
// output and notes the first frame of each note's sound. Two clients rather
// than one, so that the graph has no cycle: the server runs sender,
// synthesizer and listener in that order within every period, and a note
// sent at frame f of a period can sound at frame f of the same period.
//
// Notes are sent `spacing` apart, each at a different offset within the
// period, and released half-way, so that each starts from silence. A note
// whose sound does not start before the next one is sent counts as unheard.
#pragma once

#include <jack/jack.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace brellin::bench {

struct ProbeOptions {
    std::string server;       // JACK server name; empty: the default server
    std::string midiTarget;   // the synthesizer's MIDI input ("brellin:midi_in")
    std::string audioSource;  // one of its audio outputs ("brellin:out_left")
    std::uint32_t notes = 100;
    double spacingSeconds = 0.25;  // between two note-ons
    std::uint8_t channel = 0;
    std::uint8_t program = 0;  // sent before the first note
    std::uint8_t key = 60;
    std::uint8_t velocity = 100;
    float threshold = 1.0f / 8192.0f;  // |sample| from which a note counts as sounding
    // Sent once before the measured notes and held through them: voices
    // that sound while the notes are measured (0: none).
    std::uint32_t backgroundVoices = 0;
    // Bad input: this many note-ons (channel 3) in the first period, as many
    // as the MIDI buffer takes, then All Sound Off on that channel.
    std::uint32_t floodNotes = 0;
};

struct ProbeResult {
    bool connected = false;
    std::string error;
    // Frames from each note's frame to its first sound; -1: not heard.
    std::vector<std::int64_t> delays;
    std::vector<std::uint32_t> offsets;  // each note's frame within its period
    std::uint32_t rate = 0;
    std::uint32_t period = 0;
    std::uint32_t flooded = 0;  // flood note-ons the MIDI buffer took
    std::uint32_t xruns = 0;    // reported by the server while the notes played
    float maxDspLoad = 0;       // the server's DSP load, percent, highest seen
    std::uint32_t heard() const;
    double medianMs() const;
    double spreadMs() const;  // max − min of the heard notes
};

ProbeResult runProbe(const ProbeOptions& options);

}  // namespace brellin::bench
