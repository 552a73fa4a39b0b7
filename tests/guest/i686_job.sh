#!/bin/bash
# Runs inside the guest: every case of the i686 suite, one after another, each with its own
# time limit and output folder OUT/CASE (rc, seconds, the scenario's log and pictures).
# /job holds what the host packed: the unpacked release zip, the window probes of both
# builds, the simulator, the scenario scripts and the list of cases to run (/job/cases).
#   job.sh OUT
out=$1
cd /job || exit 1
export LC_ALL=C.UTF-8 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Waits under emulation: everything is some ten times slower than on the host.
export E2E_SLOW=${E2E_SLOW:-$(cat /job/slow 2>/dev/null || echo 4)}
SERVER=/usr/lib/wine/wineserver64
xvfb_pid=""
servers=()

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }

stop_all() {
    local p
    for p in "${servers[@]}"; do WINEPREFIX=$p "$SERVER" -k 2>/dev/null; done
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    return 0
}
trap stop_all EXIT

# One display for the whole boot: Wine's desktop binds to the display it first sees.
Xvfb :70 -screen 0 1024x768x24 -nolisten tcp >"$out/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 200); do [ -e /tmp/.X11-unix/X70 ] && break; sleep 0.05; done
export DISPLAY=:70 RIG_DISPLAY=:70

# A persistent server per prefix, started at its first use, and one window shown first (in a
# fresh session that first window may be lost).
use_prefix() {
    local prefix=/root/prefix-$1 p t0 native=wine
    export WINEPREFIX=$prefix
    # The prefix's own programs (cmd, notepad) are 64-bit in a WoW64 prefix.
    [ "$1" = win64 ] && native=/usr/lib/wine/wine64
    for p in "${servers[@]}"; do [ "$p" = "$prefix" ] && return 0; done
    servers+=("$prefix")
    t0=$(now)
    "$SERVER" -p >"$out/wineserver-$1.log" 2>&1
    "$native" cmd /c exit >/dev/null 2>&1
    echo "phase first-wine-start-$1 $(since "$t0")" | tee -a "$out/times"
    t0=$(now)
    "$native" notepad >/dev/null 2>&1 &
    p=$!
    for _ in $(seq 600); do
        xdotool search --onlyvisible --class notepad >/dev/null 2>&1 && break
        sleep 0.1
    done
    kill "$p" 2>/dev/null
    wait "$p" 2>/dev/null
    echo "phase first-window-$1 $(since "$t0")" | tee -a "$out/times"
}

# run_case NAME PREFIX BUILD LIMIT SCRIPT [SCENARIO]
run_case() {
    local name=$1 prefix=$2 build=$3 limit=$4 script=$5 scenario=${6:-} dir=$out/$1 exe loader t0 rc
    grep -qx "$name" /job/cases || return 0
    mkdir -p "$dir"
    use_prefix "$prefix"
    case $build in
    i686) exe=/job/release/tq734-updater.exe loader=wine ;;
    x86_64) exe=/job/release/x64/tq734-updater.exe loader=/usr/lib/wine/wine64 ;;
    esac
    echo "case $name: $build in $prefix"
    t0=$(now)
    if [ -n "$scenario" ]; then
        timeout -k 5 "$limit" bash "$script" "$scenario" "$loader" "$exe" "/job/probe-$build/window_probe.exe" \
            /job/sim/sim.sh "$dir" >"$dir/run.log" 2>&1
    else
        timeout -k 5 "$limit" bash "$script" "$loader" "$exe" "/job/probe-$build/window_probe.exe" \
            /job/sim/sim.sh "$dir" >"$dir/run.log" 2>&1
    fi
    rc=$?
    echo "$rc" >"$dir/rc"
    since "$t0" >"$dir/seconds"
    echo "case $name: exit $rc after $(cat "$dir/seconds") s"
    [ "$rc" = 0 ] || tail -15 "$dir/run.log"
}

guest=tests/guest/cases.sh e2e=tests/e2e/scenario.sh
run_case i686_short_update_win64 win64 i686 180 $guest short_update
run_case i686_short_update_win32 win32 i686 180 $guest short_update
run_case i686_poll win64 i686 180 $e2e poll_tq734
run_case i686_dpi_change win64 i686 300 tests/e2e/dpi_change.sh
run_case i686_adapter_replug win64 i686 240 $guest replug_once
run_case i686_whole_update win64 i686 420 $guest whole_update
run_case i686_station win64 i686 300 $guest station_short
run_case x86_64_mid_transfer win64 x86_64 240 $guest mid_transfer_shot
run_case x86_64_whole_update win64 x86_64 420 $guest whole_update
exit 0
