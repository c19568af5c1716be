#!/usr/bin/env bash
# Renders the songs of Debian's openttd-openmsx (about 63.5 minutes of music)
# into WAV files at 22050 Hz, 16-bit stereo, 32 voices, effects off, with
# brellin-render and with FluidSynth's fast render, timed side by side in one
# run (hyperfine when installed, otherwise /usr/bin/time), then the peak
# memory of brellin-render.
#   bench/render/compare-fluidsynth.sh [BUILD_FOLDER]     (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
render="$build/brellin-render"
font=/usr/share/sounds/sf2/TimGM6mb.sf2
[[ -x "$render" ]] || { echo "missing $render (build first)" >&2; exit 1; }
[[ -f "$font" ]] || { echo "missing $font (timgm6mb-soundfont)" >&2; exit 1; }
command -v fluidsynth >/dev/null || { echo "fluidsynth is not installed" >&2; exit 1; }
mapfile -t songs < <(dpkg -L openttd-openmsx | grep -i '\.mid$' | sort)
[[ ${#songs[@]} -gt 0 ]] || { echo "openttd-openmsx is not installed" >&2; exit 1; }

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
# Both renderers write one WAV file per song.
brellin_cmd="for f in ${songs[*]}; do '$render' -q --rate 22050 --bits 16 --stereo --voices 32 --reverb 0 -o '$out/b.wav' \"\$f\"; done"
fluid_cmd="for f in ${songs[*]}; do fluidsynth -ni -q -F '$out/f.wav' -r 22050 -o synth.polyphony=32 -o synth.reverb.active=0 -o synth.chorus.active=0 '$font' \"\$f\" >/dev/null 2>&1; done"
# The whole corpus into one WAV file with a single brellin-render run.
brellin_one="'$render' -q --rate 22050 --bits 16 --stereo --voices 32 -o '$out/all.wav' ${songs[*]}"

music_ms=$("$render" --info "${songs[@]}" | sed -n 's/^Length: .*(\([0-9]*\) ms)$/\1/p' | awk '{s+=$1} END {print s}')
echo "songs: ${#songs[@]}, music: $((music_ms / 1000)) s of play clock"
if command -v hyperfine >/dev/null; then
  hyperfine --warmup 1 --runs "${RUNS:-3}" -n brellin-render "$brellin_cmd" -n fluidsynth "$fluid_cmd" \
    -n "brellin-render (one run)" "$brellin_one"
else
  for name in brellin_cmd fluid_cmd brellin_one; do
    echo "== $name"
    /usr/bin/time -f "%e s wall, %U s user, %S s system" bash -c "${!name}"
  done
fi
echo
echo "== peak memory of brellin-render (whole corpus, one run)"
/usr/bin/time -v bash -c "exec $brellin_one" 2>&1 | grep -E 'Maximum resident|Elapsed|User time'
