#!/usr/bin/env bash
# Key-to-sound delay on JACK, Brellin beside FluidSynth, in one run: a private
# server on the dummy backend (no sound card, no root) at 48000 Hz with
# periods of 64, 128 and 256 frames; jack-latency sends NOTES note-ons at
# varied offsets within the period to each synthesizer in turn and notes the
# first frame of each one's sound. At 64 frames Brellin is measured once more
# with 31 string voices held under the measured notes (32 sounding).
#
# Usage: bench/live/compare-fluidsynth.sh [BUILD_DIR]   (default: build)
# Environment: NOTES (default 120), SF2 (FluidSynth's font, default TimGM6mb).
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
notes=${NOTES:-120}
sf2=${SF2:-/usr/share/sounds/sf2/TimGM6mb.sf2}
server=brellin-bench-$$
export JACK_DEFAULT_SERVER=$server BRELLIN_JACK_CONNECT=0
log=$(mktemp -d)
cleanup() { kill $(jobs -p) 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$log"; }
trap cleanup EXIT

wait_port() {  # PORT: waits up to 10 s for it to appear
  for _ in $(seq 100); do jack_lsp -s "$server" 2>/dev/null | grep -qx "$1" && return 0; sleep 0.1; done
  echo "no port $1" >&2; return 1
}

echo "jack-latency, $notes notes each, $(nproc) cores, $(date -u +%F)"
for period in 64 128 256; do
  jackd -n "$server" -d dummy -r 48000 -p "$period" >"$log/jackd-$period" 2>&1 &
  jackd_pid=$!
  sleep 1
  "$build/brellin-synth" --audio-device jack -q 2>"$log/brellin" &
  pid=$!
  wait_port brellin:midi_in
  printf 'period %3d  Brellin     ' "$period"
  "$build/jack-latency" --server "$server" --midi brellin:midi_in --audio brellin:out_left --notes "$notes" --spacing 0.2
  if [[ $period == 64 ]]; then
    printf 'period %3d  Brellin+31  ' "$period"
    "$build/jack-latency" --server "$server" --midi brellin:midi_in --audio brellin:out_left --notes "$notes" \
      --spacing 0.2 --background 31
  fi
  kill "$pid"; wait "$pid" || true
  fluidsynth -a jack -m jack -R 0 -C 0 -g 1 -s -i -o audio.jack.autoconnect=0 "$sf2" >"$log/fluid" 2>&1 &
  pid=$!
  wait_port fluidsynth-midi:midi_00
  printf 'period %3d  FluidSynth  ' "$period"
  "$build/jack-latency" --server "$server" --midi fluidsynth-midi:midi_00 --audio fluidsynth-midi:left \
    --notes "$notes" --spacing 0.2
  kill "$pid"; wait "$pid" || true
  kill "$jackd_pid"; wait "$jackd_pid" || true
  echo "period $period: the server logged $(grep -c XRun "$log/jackd-$period" || true) xruns of its own timer in all"
done
