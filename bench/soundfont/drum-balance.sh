#!/usr/bin/env bash
# How far the drums sit under the melodic programs in the built-in font and
# in FluidSynth with Debian's General MIDI fonts, over the song of
# DrumBalanceTest (every program, then every percussion key 27 … 87, each at
# velocity 100 in a 1-second slot): 22050 Hz, 16-bit, 32 voices (64 for
# FluidSynth), reverb and chorus off.
#   bench/soundfont/drum-balance.sh [BUILD_FOLDER]     (default: build)
# Prints the level for each renderer, then every key's slot level side by side.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
tool="$build/drum_balance"
[[ -x "$tool" && -x "$build/brellin-render" ]] || { echo "build drum_balance and brellin-render first" >&2; exit 1; }
command -v fluidsynth >/dev/null || { echo "fluidsynth is not installed" >&2; exit 1; }
command -v soxi >/dev/null || { echo "sox is not installed" >&2; exit 1; }

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
"$tool" song "$out/balance.mid"
"$build/brellin-render" -q --rate 22050 --bits 16 --mono --voices 32 --reverb 0 -o "$out/small.wav" "$out/balance.mid"
# Our render ends with the song's last event; the player's clock is a little
# off the nominal tempo, so the slots are placed by the render's length.
"$tool" measure "$out/small.wav" "$(soxi -D "$out/small.wav")" >"$out/small.txt"
names=(small.brf)
tables=("$out/small.txt")
for font in /usr/share/sounds/sf2/TimGM6mb.sf2 /usr/share/sounds/sf2/FluidR3_GM.sf2; do
  [[ -f "$font" ]] || { echo "missing $font" >&2; continue; }
  name=$(basename "$font")
  fluidsynth -ni -q -F "$out/$name.wav" -r 22050 -o synth.polyphony=64 -o synth.reverb.active=0 \
    -o synth.chorus.active=0 "$font" "$out/balance.mid" >/dev/null 2>&1
  "$tool" measure "$out/$name.wav" >"$out/$name.txt"
  names+=("$name")
  tables+=("$out/$name.txt")
done
for i in "${!names[@]}"; do printf '%-16s %s\n' "${names[$i]}" "$(head -n 1 "${tables[$i]}")"; done
echo
printf 'key  %s\n' "${names[*]}"
paste "${tables[@]}" | tail -n +2 | awk '{ line = $2; for (i = 4; i <= NF; i += 8) line = line "  " $i; print line }'
