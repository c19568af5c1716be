#!/usr/bin/env bash
# The songs of Debian's openttd-openmsx rendered one file per song at
# 22050 Hz, 16-bit stereo, 32 voices, effects off, four ways in one run:
#   - brellin-render --output-dir --jobs N (N: JOBS, default 2), WAV
#   - one brellin-render run per song, one after another, WAV
#   - brellin-render --output-dir --jobs 1, WAV (the batch without parallelism)
#   - FluidSynth's fast render per song, one after another (TimGM6mb)
# with wall, user and system time of each (the fastest of RUNS runs, default
# 3) and the speed-up of the batch over the single runs; then the batch once more as FLAC, its total size against
# the WAV files', and a check that every batch file equals its single run.
#   bench/render/batch.sh [BUILD_FOLDER]     (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
render="$build/brellin-render"
font=/usr/share/sounds/sf2/TimGM6mb.sf2
jobs=${JOBS:-2}
[[ -x "$render" ]] || { echo "missing $render (build first)" >&2; exit 1; }
[[ -f "$font" ]] || { echo "missing $font (timgm6mb-soundfont)" >&2; exit 1; }
command -v fluidsynth >/dev/null || { echo "fluidsynth is not installed" >&2; exit 1; }
mapfile -t songs < <(dpkg -L openttd-openmsx | grep -i '\.mid$' | sort)
[[ ${#songs[@]} -gt 0 ]] || { echo "openttd-openmsx is not installed" >&2; exit 1; }

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
opts=(-q --rate 22050 --bits 16 --stereo --voices 32 --reverb 0)

music_ms=$("$render" --info "${songs[@]}" | sed -n 's/^Length: .*(\([0-9]*\) ms)$/\1/p' | awk '{s+=$1} END {print s}')
echo "songs: ${#songs[@]}, music: $((music_ms / 1000)) s of play clock, cores: $(nproc), jobs: $jobs"
printf '%-34s %9s %9s %9s %9s\n' "" "wall s" "user s" "sys s" "x music"

# Runs "$@" RUNS times (default 3) under /usr/bin/time; prints the fastest
# run as a row and leaves its wall time in $wall. The best of several keeps
# out the other work of a shared machine.
timed() {
  local name=$1; shift
  local w u s run
  wall=""
  for ((run = 0; run < ${RUNS:-3}; ++run)); do
    /usr/bin/time -o "$out/time" -f "%e %U %S" "$@" >/dev/null 2>&1
    read -r w u s <"$out/time"
    if [[ -z "$wall" ]] || awk -v a="$w" -v b="$wall" 'BEGIN {exit !(a < b)}'; then wall=$w user=$u sys=$s; fi
  done
  printf '%-34s %9.2f %9.2f %9.2f %9.0f\n' "$name" "$wall" "$user" "$sys" \
    "$(awk -v m="$music_ms" -v w="$wall" 'BEGIN {print (w > 0 ? m / 1000 / w : 0)}')"
}

timed "brellin-render --jobs $jobs (batch)" "$render" "${opts[@]}" --output-dir "$out/batch" --jobs "$jobs" "${songs[@]}"
batch_wall=$wall
single() {
  mkdir -p "$out/single"
  for f in "${songs[@]}"; do "$render" "${opts[@]}" -o "$out/single/$(basename "${f%.*}").wav" "$f"; done
}
timed "brellin-render, 31 single runs" bash -c "$(declare -p songs opts out render); $(declare -f single); single"
single_wall=$wall
timed "brellin-render --jobs 1 (batch)" "$render" "${opts[@]}" --output-dir "$out/batch1" --jobs 1 "${songs[@]}"
fluid() {
  for f in "${songs[@]}"; do
    fluidsynth -ni -q -F "$out/f.wav" -r 22050 -o synth.polyphony=32 -o synth.reverb.active=0 \
      -o synth.chorus.active=0 "$font" "$f" >/dev/null 2>&1
  done
}
timed "fluidsynth, 31 single runs" bash -c "$(declare -p songs out font); $(declare -f fluid); fluid"
echo "speed-up of the batch over the single runs: $(awk -v s="$single_wall" -v b="$batch_wall" 'BEGIN {printf "%.2f", s / b}')"

timed "brellin-render --jobs $jobs, FLAC" "$render" "${opts[@]}" --output-dir "$out/flac" --jobs "$jobs" --format flac "${songs[@]}"
wav_bytes=$(du -cb "$out"/batch/*.wav | tail -1 | cut -f1)
flac_bytes=$(du -cb "$out"/flac/*.flac | tail -1 | cut -f1)
echo "WAV total: $wav_bytes bytes, FLAC total: $flac_bytes bytes ($(awk -v f="$flac_bytes" -v w="$wav_bytes" 'BEGIN {printf "%.1f", 100 * f / w}') %)"

same=0
for f in "$out"/single/*.wav; do cmp -s "$f" "$out/batch/$(basename "$f")" && same=$((same + 1)); done
echo "batch files equal to their single runs: $same of ${#songs[@]}"
