#!/bin/bash
# Converts Debian's two General MIDI SoundFont 2 banks and MuseScore's SF3
# bank (Ogg Vorbis samples) with brf-tool and compares the converted fonts
# with FluidSynth playing the originals:
#  - the conversion: output size, time and peak memory, `brf-tool info`;
#  - key 69 of every program, held 1.5 s, and every drum key (sf2-compare
#    score/analyze): the pitch the held note settles on (long-lag
#    autocorrelation over 0.3-1.5 s after note-on, the same measurement for
#    Brellin and FluidSynth) against 440 Hz, level, spectral centroid, and
#    the pitch table against FluidSynth (programs clearly pitched in both
#    renders, within ±5 cents, beyond ±10, the farthest ones), repeated for
#    all banks at the end;
#  - the first three songs of openttd-openmsx: RMS, peak and centroid of the
#    whole render, and per General MIDI family; with ALL_SONGS=1 every song
#    of the set (whole renders only).
# FluidSynth plays dry (-R 0 -C 0) at its default gain 0.2: a BRF font has no
# per-instrument effect sends and Brellin's reverb is one switch for the
# whole output, so the comparison is of the instruments themselves
# (FluidSynth's default chorus adds up to 15 dB to some synth pads).
# PITCH_ONLY=1 leaves the songs out (conversion and the note-by-note score only).
# Usage: bench/sf2/compare-fluidsynth.sh [BUILD_DIR] [OUT_DIR]
set -euo pipefail
build=$(realpath "${1:-build}")
out=${2:-build/sf2-compare-out}
mkdir -p "$out"
out=$(realpath "$out")
fonts=(/usr/share/sounds/sf2/TimGM6mb.sf2 /usr/share/sounds/sf2/FluidR3_GM.sf2
       /usr/share/sounds/sf3/MuseScore_General_Lite.sf3)
songdir=/usr/share/games/openttd/baseset/openmsx
mapfile -t songs < <(ls "$songdir" 2>/dev/null | sed -n 's/\.mid$//p' | sort)
[[ ${ALL_SONGS:-0} == 1 ]] || songs=("${songs[@]:0:3}")
[[ ${PITCH_ONLY:-0} == 1 ]] && songs=()
for f in "${fonts[@]}" ${songs[0]:+"$songdir/${songs[0]}.mid"}; do
    [[ -f $f ]] || { echo "missing $f (install fluid-soundfont-gm timgm6mb-soundfont musescore-general-soundfont-small openttd-openmsx)" >&2; exit 1; }
done
command -v fluidsynth >/dev/null || { echo "fluidsynth is not installed" >&2; exit 1; }

"$build/sf2-compare" score "$out/score69.mid"
for sf2 in "${fonts[@]}"; do
    name=$(basename "$sf2")
    name=${name%.*}
    echo "=== $name"
    /usr/bin/time -f "conversion: %e s, peak memory %M KB" \
        "$build/brf-tool" from-sf2 "$sf2" "$out/$name.brf" --verbose >"$out/$name.convert.txt" 2>"$out/$name.time.txt"
    tail -n 1 "$out/$name.convert.txt"
    cat "$out/$name.time.txt"
    echo "size: $(stat -c %s "$out/$name.brf") bytes"
    "$build/brf-tool" info "$out/$name.brf" >"$out/$name.info.txt"
    echo "info: $(grep "problem(s)" "$out/$name.info.txt")"
    "$build/sf2-compare" render "$out/$name.brf" "$out/$name.score.brellin.wav"
    fluidsynth -ni -q -g 0.2 -R 0 -C 0 -r 44100 -F "$out/$name.score.fluid.wav" "$sf2" "$out/score69.mid" >/dev/null 2>&1
    "$build/sf2-compare" analyze "$out/$name.score.brellin.wav" "$out/$name.score.fluid.wav" >"$out/$name.notes.txt"
    tail -n 3 "$out/$name.notes.txt"
    for song in ${songs[@]+"${songs[@]}"}; do
        mid="$songdir/$song.mid"
        "$build/sf2-compare" song "$out/$name.brf" "$mid" "$out/$name.$song.brellin.wav"
        fluidsynth -ni -q -g 0.2 -R 0 -C 0 -r 44100 -F "$out/$name.$song.fluid.wav" "$sf2" "$mid" >/dev/null 2>&1
        echo "--- $song"
        "$build/sf2-compare" stats "$out/$name.$song.brellin.wav" "$out/$name.$song.fluid.wav" | tail -n 1
        [[ ${ALL_SONGS:-0} == 1 ]] && continue
        # Per General MIDI family (16 = drums): only that family's notes sound.
        for family in $(seq 0 16); do
            "$build/sf2-compare" filter "$mid" "$family" "$out/family.mid"
            "$build/sf2-compare" song "$out/$name.brf" "$out/family.mid" "$out/family.brellin.wav"
            fluidsynth -ni -q -g 0.2 -R 0 -C 0 -r 44100 -F "$out/family.fluid.wav" "$sf2" "$out/family.mid" >/dev/null 2>&1
            line=$("$build/sf2-compare" stats "$out/family.brellin.wav" "$out/family.fluid.wav")
            # Families the song does not use render silence: left out.
            grep -q "RMS -200.00" <<<"$line" && continue
            echo "    family $family: $(tail -n 1 <<<"$line")"
        done
    done
done
rm -f "$out/family.mid" "$out/family.brellin.wav" "$out/family.fluid.wav"
echo "=== pitch of key 69 against FluidSynth, 0.3-1.5 s after note-on"
for sf2 in "${fonts[@]}"; do
    name=$(basename "$sf2")
    name=${name%.*}
    echo "$name: $(grep "^pitch against fluid" "$out/$name.notes.txt" | sed 's/^pitch against fluid: //')"
    echo "    $(grep "^conversion" "$out/$name.time.txt")"
done
