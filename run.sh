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
# With a display ($DISPLAY or $WAYLAND_DISPLAY) the songs play in the player
# window, build/brellin (a player already running takes them over); without a
# sound device the window records what it plays into a WAV file. Without a
# display the command-line player plays them, or renders them to WAV files
# when there is no sound device, and the script says where they are.
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
# The window takes one file or play list: several files go into one list.
if [[ -x build/brellin && ( -n ${DISPLAY:-} || -n ${WAYLAND_DISPLAY:-} ) && ${1:-} != --soundfont ]]; then
  files=()
  if [[ $# -eq 0 ]]; then
    files=("$root/assets/demo.mid")
  else
    for file in "$@"; do
      [[ $file == /* ]] || file="$caller/$file"
      files+=("$file")
    done
  fi
  target=${files[0]}
  if [[ ${#files[@]} -gt 1 ]]; then
    target="$root/build/run.brl"
    build/brellin-render --save-list "$target" "${files[@]}" || exit 1
  fi
  # Without a sound device the window still plays, and keeps what it plays
  # in a WAV file in the folder the user started in.
  if [[ -z ${BRELLIN_AUDIO_DEVICE:-} ]] && command -v aplay >/dev/null &&
     ! timeout 5 aplay -q -D default -f S16_LE -r 22050 -c 2 --samples=1 /dev/zero >/dev/null 2>&1; then
    name=$(basename -- "${files[0]}")
    export BRELLIN_AUDIO_DEVICE="wav:$caller/${name%.*}.wav"
    echo "No sound device: the window records what it plays into $caller/${name%.*}.wav."
  fi
  echo "Playing in the player window (build/brellin)."
  cd "$caller"
  exec "$root/build/brellin" "$target" play
fi
if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
  echo "No display (\$DISPLAY and \$WAYLAND_DISPLAY are empty): playing with the command-line player brellin-render."
elif [[ ${1:-} == --soundfont ]]; then
  echo "--soundfont: playing with the command-line player brellin-render (the window uses the sound font of Brellin.cfg)."
fi
# Play from the folder the user started in, so that relative names and the
# rendered WAV files are where the user expects them.
cd "$caller"
exec "$root/scripts/play.sh" "$@"
