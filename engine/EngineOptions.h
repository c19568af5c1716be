// EngineOptions: the command-line options that build the engine, shared by
// brellin-render and brellin-synth (--rate, --bits, --mono, --stereo,
// --voices, --soundfont, --reverb, --lowpass, --volume, --audio-device,
// --latency), and the defaults both take from Brellin.cfg.
//
// A program lists `engineLongOptions()` in its getopt_long table beside its
// own options (whose values stay below ENGINE_OPTION_FIRST) and hands every
// value getopt_long returns to `applyEngineOption` first.
#pragma once

#include <getopt.h>

#include <string>
#include <vector>

#include "engine/RenderSession.h"
#include "settings/Settings.h"

namespace brellin {

inline constexpr int ENGINE_OPTION_FIRST = 2000;

// The engine options as getopt_long entries (no terminating entry).
std::vector<option> engineLongOptions();

enum class OptionUse {
    NotEngine,  // not an engine option: the program's own
    Taken,      // stored in the RenderOptions
    Refused,    // an engine option with a bad value: `error` says why (the value is the argument)
};

// Stores the engine option `id` with its `value` in `options`.
OptionUse applyEngineOption(int id, const char* value, RenderOptions& options, std::string& error);

// The engine part of the settings: rate, width, channels, voices, reverb,
// low-pass filter, volume, sound font and latency.
void engineOptionsFromSettings(const Settings& settings, RenderOptions& options);

// Prints "PROGRAM: MESSAGE[: VALUE]" and "Try 'PROGRAM --help'." on stderr;
// returns 2, the exit status of a usage error.
int reportUsageError(const char* program, const char* message, const char* value = nullptr);

// A whole decimal number from `low` to `high`.
bool parseNumber(const char* text, long low, long high, long& value);

}  // namespace brellin
