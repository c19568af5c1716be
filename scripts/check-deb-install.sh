#!/usr/bin/env bash
# Installs the Debian package into a clean Debian 12 (bookworm) root with
# apt-get, as a user would on a fresh machine, and runs the installed programs
# there without a display or sound device:
#   brellin-render renders the installed demo song into a WAV file;
#   brellin starts on the offscreen platform, plays, and saves its settings on SIGTERM.
#
# Usage (as root): scripts/check-deb-install.sh [--keep] [PACKAGE.deb]
#   PACKAGE.deb  default: build/brellin_*.deb (make it with `cd build && cpack -G DEB`)
#   --keep       leave the root with the package installed for a look around
# Environment:
#   BRELLIN_CHROOT_CACHE   where the clean root is kept between runs (default /var/tmp/brellin-bookworm)
#   BRELLIN_DEBIAN_MIRROR  the Debian mirror (default http://deb.debian.org/debian)
#
# The first run makes the clean root with debootstrap (minbase, about 1.5
# minutes) and keeps it, and keeps the packages apt downloads (about 100 MB);
# later runs copy both. Every run needs the mirror for apt-get update, so this
# is a release check rather than a CI test (the ctest PackageTest checks the
# package offline).
set -euo pipefail

keep=0
if [[ "${1:-}" == "--keep" ]]; then keep=1; shift; fi
here=$(cd "$(dirname "$0")/.." && pwd)
deb="${1:-}"
if [[ -z "$deb" ]]; then
  deb=$(ls -t "$here"/build/brellin_*.deb 2>/dev/null | head -n 1 || true)
  [[ -n "$deb" ]] || { echo "No build/brellin_*.deb: run (cd build && cpack -G DEB) first" >&2; exit 2; }
fi
[[ -f "$deb" ]] || { echo "No such package: $deb" >&2; exit 2; }
[[ $(id -u) -eq 0 ]] || { echo "Run as root (debootstrap and chroot need it)" >&2; exit 2; }
command -v debootstrap >/dev/null || { echo "Please install debootstrap" >&2; exit 2; }

cache="${BRELLIN_CHROOT_CACHE:-/var/tmp/brellin-bookworm}"
mirror="${BRELLIN_DEBIAN_MIRROR:-http://deb.debian.org/debian}"
base="$cache/base"
root="$cache/work"
mkdir -p "$cache"

started=$(date +%s)
stage() { echo "== $(( $(date +%s) - started )) s: $*"; }

pid=""
cleanup() {
  # A player left running would hold the root (and needs /proc to save).
  if [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null; then kill -9 "$pid"; wait "$pid" 2>/dev/null || true; fi
  if mountpoint -q "$root/proc"; then umount "$root/proc"; fi
}
trap cleanup EXIT

# The clean root, made once. A root whose making was cut short has no
# .complete mark and is made again.
if [[ ! -f "$base/.complete" ]]; then
  stage "debootstrap --variant=minbase bookworm $base"
  rm -rf "$base"
  debootstrap --variant=minbase bookworm "$base" "$mirror" >"$cache/debootstrap.log" 2>&1 ||
    { tail -n 20 "$cache/debootstrap.log" >&2; exit 1; }
  # What a fresh Debian 12 installation has: the release, its updates and
  # security updates.
  cat >"$base/etc/apt/sources.list" <<EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb http://security.debian.org/debian-security bookworm-security main
EOF
  # debootstrap leaves the base system's packages in apt's cache: a fresh
  # installation has none there.
  rm -f "$base"/var/cache/apt/archives/*.deb
  # Packages must not start services inside the root.
  printf '#!/bin/sh\nexit 101\n' >"$base/usr/sbin/policy-rc.d"
  chmod 755 "$base/usr/sbin/policy-rc.d"
  touch "$base/.complete"
fi

stage "copying the clean root to $root"
if mountpoint -q "$root/proc"; then umount "$root/proc"; fi
rm -rf "$root"
cp -a "$base" "$root"
mount -t proc proc "$root/proc"
cp -L /etc/resolv.conf "$root/etc/resolv.conf"
cp "$deb" "$root/tmp/"
name=$(basename "$deb")
clean_env=(env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8)
in_root() { chroot "$root" "${clean_env[@]}" "$@"; }

stage "apt-get update"
in_root apt-get update -qq
in_root dpkg-query -W -f='${Package}\n' | sort >"$cache/before.txt"

stage "apt-get install -y ./$name"
# The packages downloaded by earlier runs are kept beside the clean root (apt
# checks each against the index and fetches again what changed).
archives="$root/var/cache/apt/archives"
mkdir -p "$cache/archives"
for file in "$cache"/archives/*.deb; do
  if [[ -e "$file" && ! -e "$archives/${file##*/}" ]]; then ln "$file" "$archives/"; fi
done
in_root sh -c "cd /tmp && DEBIAN_FRONTEND=noninteractive apt-get install -y ./$name" >"$cache/apt.log" 2>&1 ||
  { tail -n 30 "$cache/apt.log" >&2; exit 1; }
for file in "$archives"/*.deb; do
  if [[ -e "$file" && ! -e "$cache/archives/${file##*/}" ]]; then ln "$file" "$cache/archives/"; fi
done
grep -E '^(Need to get|After this operation|[0-9]+ upgraded)' "$cache/apt.log" || true
in_root dpkg-query -W -f='${Package}\n' | sort >"$cache/after.txt"
added=$(comm -13 "$cache/before.txt" "$cache/after.txt")
echo "apt installed $(echo "$added" | wc -l) packages: $(echo $added)"
in_root dpkg-query -W -f='${Package} ${Version} ${Status}\n' brellin

stage "brellin-render renders the installed demo song"
in_root brellin-render --version
in_root env XDG_CONFIG_HOME=/tmp/config BRELLIN_AUDIO_DEVICE=null \
  brellin-render -q -o /tmp/demo.wav /usr/share/brellin/demo.mid
wav="$root/tmp/demo.wav"
size=$(stat -c %s "$wav")
[[ "$(head -c 4 "$wav")" == "RIFF" && $size -gt 22094 ]] ||
  { echo "brellin-render wrote no sound ($size bytes)" >&2; exit 1; }
echo "demo.wav: $size bytes"

stage "brellin starts headless, plays, and saves its settings on SIGTERM"
mkdir -p "$root/tmp/run" && chmod 700 "$root/tmp/run"
# chroot and env exec the player: $! is its process.
chroot "$root" "${clean_env[@]}" QT_QPA_PLATFORM=offscreen BRELLIN_AUDIO_DEVICE=null XDG_RUNTIME_DIR=/tmp/run \
  XDG_CONFIG_HOME=/tmp/config brellin /usr/share/brellin/demo.mid play >"$cache/brellin.log" 2>&1 &
pid=$!
for _ in $(seq 300); do
  [[ -S "$root/tmp/run/brellin/instance.socket" ]] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if [[ ! -S "$root/tmp/run/brellin/instance.socket" ]]; then
  echo "brellin did not start:" >&2; cat "$cache/brellin.log" >&2; exit 1
fi
sleep 1
kill -TERM "$pid"
for _ in $(seq 300); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then
  echo "brellin did not end within 30 s of SIGTERM" >&2; cat "$cache/brellin.log" >&2; exit 1
fi
status=0
wait "$pid" || status=$?
pid=""
cat "$cache/brellin.log"
settings="$root/tmp/config/brellin/Brellin.cfg"
if [[ $status -ne 0 ]] || ! grep -qx 'LastPlayFileName=/usr/share/brellin/demo.mid' "$settings" 2>/dev/null; then
  echo "brellin ended with status $status without saving its settings" >&2; exit 1
fi
echo "brellin ended with status 0; $settings written"

cleanup
if [[ $keep -eq 1 ]]; then
  echo "The root with brellin installed: $root"
else
  rm -rf "$root"
fi
stage "done: the package installs and runs on a clean Debian 12"
