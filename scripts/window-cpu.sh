#!/bin/sh
# CPU of the player window while it plays, per thread.
#
#   scripts/window-cpu.sh [PROGRAM] [SONG] [SECONDS]
#
# Starts PROGRAM (default build/brellin) on SONG (default assets/demo.mid)
# with `play`, on the paced null device, under Xvfb when no display is set,
# waits 3 s for start-up, then samples every thread over SECONDS (default 30)
# and prints its share of one core twice: from utime+stime in
# /proc/PID/task/*/stat (clock ticks, usually 10 ms) and from the run time in
# /proc/PID/task/*/schedstat (nanoseconds, exact for small shares). The main
# thread is the user-interface thread; the threads Qt names are Qt's; the
# engine threads (render, play, device) are the others.
set -eu
program=${1:-build/brellin}
song=${2:-assets/demo.mid}
seconds=${3:-30}

if [ -z "${DISPLAY:-}" ] && [ -z "${WINDOW_CPU_INNER:-}" ]; then
    WINDOW_CPU_INNER=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$program" "$song" "$seconds"
fi

BRELLIN_AUDIO_DEVICE=null "$program" "$song" play >/dev/null 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
sleep 3

# One line a thread: id, name, clock ticks used, nanoseconds run.
snapshot() {
    for task in /proc/$pid/task/*; do
        tid=${task##*/}
        name=$(tr ' ' '_' < "$task/comm" 2>/dev/null) || continue
        # Fields after the ")" that closes the thread name: 12 utime, 13 stime.
        stat=$(sed 's/.*) //' "$task/stat" 2>/dev/null) || continue
        ns=$(cut -d' ' -f1 "$task/schedstat" 2>/dev/null) || continue
        set -- $stat
        echo "$tid $name $((${12} + ${13})) $ns"
    done
}
before=$(mktemp)
snapshot > "$before"
sleep "$seconds"
snapshot | awk -v pid=$pid -v ticks="$(getconf CLK_TCK)" -v secs="$seconds" -v before="$before" '
    BEGIN {
        while ((getline line < before) > 0) { split(line, f, " "); t0[f[1]] = f[3]; n0[f[1]] = f[4] }
        printf "%-8s %-16s %9s %9s\n", "thread", "name", "stat %", "sched %"
    }
    {
        t = $3 - t0[$1]; n = $4 - n0[$1]
        label = ($1 == pid) ? "ui(main)" : $2
        engine = ($1 != pid && $2 !~ /^Q/)
        if (engine) { et += t; en += n }
        tt += t; tn += n
        printf "%-8s %-16s %9.3f %9.3f\n", $1, label, 100 * t / ticks / secs, 100 * n / 1e9 / secs
    }
    END {
        printf "%-8s %-16s %9.3f %9.3f\n", "", "engine threads", 100 * et / ticks / secs, 100 * en / 1e9 / secs
        printf "%-8s %-16s %9.3f %9.3f\n", pid, "whole process", 100 * tt / ticks / secs, 100 * tn / 1e9 / secs
    }'
rm -f "$before"
