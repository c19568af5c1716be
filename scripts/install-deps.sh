#!/usr/bin/env bash
# Installs the Debian packages Brellin needs when any is missing: one
# `apt-get update`, then one `apt-get install`. Run as root (or with sudo
# available). Usage: scripts/install-deps.sh build|test|run|package
set -euo pipefail

# The window (BRELLIN_UI=ON, the default) needs Qt 6 Widgets and X11 with its
# DPMS extension; the sanitizer and fuzz builds leave it out.
build=(g++ cmake ninja-build pkg-config libgtest-dev libbenchmark-dev libasound2-dev
       libfreetype-dev libfontconfig-dev fonts-dejavu-core fonts-ipafont-gothic
       qt6-base-dev libx11-dev libxext-dev)
# brellin-render's FLAC, Ogg Vorbis, Opus and MP3 files (libsndfile with its codecs).
build+=(libsndfile1-dev)
# The JACK device and its MIDI input (jackd2's library; PipeWire's JACK
# library stands in for it at run time).
build+=(libjack-jackd2-dev)
# brf-tool's SF3 import decodes Ogg Vorbis samples (libvorbisfile); the SF3
# tests and fuzz seeds encode theirs (libvorbisenc): both in libvorbis-dev.
build+=(libvorbis-dev)
# Tests: clang with its fuzzer and sanitizer runtimes and the llvm-symbolizer
# that turns a fault's addresses into files and lines, the real-world songs,
# the peer synthesizer and its sound fonts, sox for measuring renders, a
# virtual display for the window, xdotool to drive it and imagemagick for
# screenshots.
test=(clang libclang-rt-14-dev llvm-14 openttd-openmsx fluidsynth timgm6mb-soundfont sox xvfb xauth
      xdotool imagemagick)
# The SF3 reader's test opens MuseScore's General bank as Debian ships it.
test+=(musescore-general-soundfont-small)
# The live tests run a private JACK server on its dummy backend (no sound
# card, no root); the latency benchmark measures FluidSynth's JACK driver too.
test+=(jackd2)
# bench/sf2/compare-fluidsynth.sh also converts and plays FluidR3_GM.
test+=(fluid-soundfont-gm)
run=(alsa-utils)
# The Debian package: dpkg-shlibdeps (dpkg-dev) and file, with which cpack
# finds its dependencies (it stops without them); scripts/check-deb-install.sh:
# a clean Debian 12 root to install the package into.
package=(dpkg-dev file debootstrap)
# The file-association tests: the MIME and desktop-entry databases and xdg-mime.
test+=(shared-mime-info desktop-file-utils xdg-utils)
# The Wayland test: a real compositor (weston, shown on Xvfb) and Qt's Wayland plugin.
test+=(weston qt6-wayland)
# The media-player test: a private session bus and a client to call it.
test+=(dbus libglib2.0-bin playerctl)
# The installation tests and the Debian package: the AppStream validator,
# dpkg-shlibdeps and file for cpack's dependency list, lintian for the package.
test+=(appstream dpkg-dev file lintian)

want=("${build[@]}")
case "${1:-build}" in
  test) want+=("${test[@]}") ;;
  run) want+=("${run[@]}") ;;
  package) want+=("${package[@]}") ;;
esac

missing=()
for package in "${want[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "Please install as root: ${missing[*]}" >&2; exit 1; }
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
