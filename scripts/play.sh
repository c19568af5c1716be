#!/usr/bin/env bash
# Plays MIDI files (.mid, .midi, .rmi) or .brl play lists with build/brellin-render
# on the sound device.
#   scripts/play.sh             plays the demo song, assets/demo.mid
#   scripts/play.sh FILE...     plays the given files
#   scripts/play.sh --soundfont FONT.brf FILE...
#                               plays them with another sound font, for example
#                               one converted from an SF2 bank by
#                               `build/brf-tool from-sf2` (see the README)
# When no sound device can be opened (checked first, with brellin-render and a
# song of no notes), each file is rendered to a WAV file in the current folder
# instead (demo.wav for the demo, <name>.wav otherwise) and the script says
# where it is.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
render="$root/build/brellin-render"
if [[ ! -x "$render" ]]; then
  echo "play.sh: $render is missing; ./run.sh builds it." >&2
  exit 1
fi

options=()
while [[ $# -ge 2 && $1 == --soundfont ]]; do
  options+=("$1" "$2")
  shift 2
done
files=()
if [[ $# -eq 0 ]]; then
  files=("$root/assets/demo.mid")
else
  for file in "$@"; do
    # ./run.sh changes into the project folder first: find relative names
    # given from the folder it was started in.
    if [[ ! -e "$file" && "$file" != /* && -n "${OLDPWD:-}" && -e "$OLDPWD/$file" ]]; then
      file="$OLDPWD/$file"
    fi
    files+=("$file")
  done
fi

# First ask brellin-render itself whether the sound device opens (the device
# it would use, BRELLIN_AUDIO_DEVICE included), with a song of no notes, so
# that without one the user reads what happens instead of its error.
no_device() {
  local probe answer
  probe=$(mktemp --suffix=.mid) || return 1
  printf 'MThd\0\0\0\6\0\0\0\1\0\140MTrk\0\0\0\4\0\377\057\0' >"$probe"
  answer=$("$render" -q "${options[@]}" "$probe" 2>&1 >/dev/null)
  local status=$?
  rm -f "$probe"
  [[ $status -eq 3 && $answer == *"cannot open the sound device"* ]]
}

if ! no_device; then
  "$render" "${options[@]}" "${files[@]}"
  status=$?
  # 3: the engine could not start after all (the device went away meanwhile).
  [[ $status -ne 3 ]] && exit $status
fi

echo "play.sh: no sound device; rendering to WAV files instead." >&2
status=0
for file in "${files[@]}"; do
  name=$(basename -- "$file")
  name=${name%.*}
  out="$PWD/$name.wav"
  "$render" "${options[@]}" -o "$out" -- "$file"
  code=$?
  [[ $code -gt $status ]] && status=$code
  if [[ -f "$out" && $(stat -c %s "$out") -gt 44 ]]; then
    echo "Rendered $file to $out"
  else
    rm -f "$out"
    echo "play.sh: could not render $file" >&2
  fi
done
exit $status
