#!/usr/bin/env bash
# Installs what is missing, builds, and plays.
#   ./run.sh              plays the bundled demo song
#   ./run.sh FILE...      plays the given MIDI files or .brl play lists
#   ./run.sh --soundfont FONT.brf FILE...
#                         plays them with another BRF sound font; any General
#                         MIDI SF2 bank converts into one with
#                         build/brf-tool from-sf2 IN.sf2 FONT.brf (README,
#                         "Using another sound font", also says how to make
#                         it the player's own)
# Without a sound device the songs are rendered to WAV files instead, and the
# script says where they are.
set -euo pipefail
caller=$PWD
root=$(cd "$(dirname "$0")" && pwd)
cd "$root"

scripts/install-deps.sh run
mkdir -p build
if [[ ! -f build/CMakeCache.txt ]]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >build.configure.log 2>&1 || { cat build.configure.log; exit 1; }
fi
# Only what is played: the programs and small.brf (./test.sh builds the tests).
cmake --build build -j "$(nproc)" --target programs

if [[ ! -x build/brellin-render ]]; then
  echo "Built into build/. The player is not part of this build yet; ./test.sh runs the tests."
  exit 0
fi
# Play from the folder the user started in, so that relative names and the
# rendered WAV files are where the user expects them.
cd "$caller"
exec "$root/scripts/play.sh" "$@"
