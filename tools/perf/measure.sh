#!/usr/bin/env bash
# Whole-program cost of vorta under Xvfb with a window manager: CPU (% of one core over 20 s
# while shown and 20 s while minimised), peak RSS, launch to first presented frame, and heap
# allocations per frame over 600 steady frames (all, and those asked for by vorta's own code; a
# program too slow to show 720 frames before the end of the run is counted over what it showed).
# Each thread's share of a core, shown and minimised, goes to stderr.
#
#   tools/perf/measure.sh VORTA_EXE [WIDTHxHEIGHT ...]   (default 1280x1024 1920x1080)
#   RUNS=3 (default) runs per size; the medians are printed last. Any VORTA_PRESENT in the
#   environment is passed on. Needs Xvfb, matchbox-window-manager, xdotool, xprop, gcc.
set -euo pipefail
exe=$(realpath "$1"); shift
sizes=("$@"); [ ${#sizes[@]} -gt 0 ] || sizes=(1280x1024 1920x1080)
runs=${RUNS:-3}
here=$(dirname "$(realpath "$0")")
tmp=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$tmp"; }
trap cleanup EXIT
gcc -shared -fPIC -O2 -o "$tmp/present_probe.so" "$here/present_probe.c" -ldl

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }  # user + system, in clock ticks
# threads PID: "tid name ns-on-cpu" for each of its threads (the scheduler's own account).
threads() {
    local t
    for t in /proc/"$1"/task/*; do
        printf '%s %s %s\n' "${t##*/}" "$(tr ' ' _ <"$t/comm")" "$(cut -d' ' -f1 "$t/schedstat")"
    done 2>/dev/null
}
# per_thread BEFORE AFTER SECONDS: each thread's share of one core between two `threads` lists.
per_thread() {
    awk -v s="$3" 'NR == FNR {b[$1] = $3; next}
        {printf " %s %.2f%%", $2, ($3 - b[$1]) / s / 1e7}' "$1" "$2"
}
hz=$(getconf CLK_TCK)

# run SIZE: one measurement; prints the columns of the header below.
run() {
    local size=$1
    Xvfb -displayfd 1 -screen 0 "${size}x24" -nolisten tcp >"$tmp/displayfd" 2>/dev/null &
    local xvfb=$!; pids+=("$xvfb")
    # A loaded machine may take seconds to start the server; a run without one measures nothing.
    for _ in $(seq 300); do [ -s "$tmp/displayfd" ] && break; sleep 0.1; done
    [ -s "$tmp/displayfd" ] || { echo "Xvfb did not start within 30 s" >&2; kill "$xvfb"; exit 1; }
    local display=":$(head -n1 "$tmp/displayfd")"
    DISPLAY=$display matchbox-window-manager -use_titlebar no >/dev/null 2>&1 &
    local wm=$!; pids+=("$wm")
    sleep 1  # the window manager owns the screen before vorta starts
    DISPLAY=$display SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null \
        LD_PRELOAD="$tmp/present_probe.so" VORTA_PROBE_OUT="$tmp/probe" \
        VORTA_PROBE_T0=$(date +%s%N) "$exe" 2>"$tmp/stderr" &
    local vorta=$!; pids+=("$vorta")
    sleep 3
    threads $vorta >"$tmp/shown0"
    local t0; t0=$(ticks $vorta); sleep 20; local t1; t1=$(ticks $vorta)
    threads $vorta >"$tmp/shown1"
    local rss; rss=$(awk '/VmHWM/ {print $2}' /proc/$vorta/status)
    local win; win=$(DISPLAY=$display xdotool search --name '^vorta$' | head -n1)
    DISPLAY=$display xdotool windowminimize "$win"
    sleep 2
    DISPLAY=$display xprop -id "$win" WM_STATE | grep -q Iconic || echo "not minimised" >&2
    threads $vorta >"$tmp/hidden0"
    local t2; t2=$(ticks $vorta); sleep 20; local t3; t3=$(ticks $vorta)
    threads $vorta >"$tmp/hidden1"
    # Per thread, on stderr: the columns below stay as they were.
    echo "$size threads shown:$(per_thread "$tmp/shown0" "$tmp/shown1" 20)" >&2
    echo "$size threads minimised:$(per_thread "$tmp/hidden0" "$tmp/hidden1" 20)" >&2
    kill $vorta $wm $xvfb; wait $vorta $wm $xvfb 2>/dev/null || true
    pids=()
    awk -v a=$((t1 - t0)) -v m=$((t3 - t2)) -v hz="$hz" -v rss="$rss" '
        /^first_present_ms/ {f = $2} /^allocs_per_frame_main_thread/ {am = $2}
        /^allocs_per_frame_other_threads/ {ao = $2} /^allocs_per_frame_ours/ {o = $2}
        /^frames/ {n = $2}
        END {printf "%.1f %.1f %s %.2f %s %s %s %s\n", 100*a/hz/20, rss/1024, f, 100*m/hz/20, am, ao, o, n}' \
        "$tmp/probe"
}

median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

echo "size run cpu%_shown peak_rss_MB first_frame_ms cpu%_minimised allocs/frame_main allocs/frame_other allocs/frame_ours frames_counted"
for size in "${sizes[@]}"; do
    : >"$tmp/results"
    for i in $(seq "$runs"); do
        line=$(run "$size")
        echo "$size $i $line"
        echo "$line" >>"$tmp/results"
    done
    printf '%s median' "$size"
    for col in 1 2 3 4 5 6 7 8; do printf ' %s' "$(awk -v c=$col '{print $c}' "$tmp/results" | median)"; done
    echo
done
