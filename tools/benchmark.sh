#!/usr/bin/env bash
# Full-update benchmark against the simulated device: the wall time of the update against
# the design limit of 1,231 polls of 50 ms, with immediate replies and with 115,200-baud wire
# emulation, and the updater's CPU time; the Windows build under Wine and the Linux build
# natively, side by side; then eight programs at once, then the station on 16 ports (Linux,
# then Windows under Wine). Not a test: run it by hand on a quiet machine.
#   bash tools/benchmark.sh [single] [eight] [station] [station-wine]     (no word: all four)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
out=${TQ_BUILD_DIR:-$top/build/bench}
port=9
sections=" ${*:-single eight station station-wine} "
for word in $sections; do
    case $word in
    single | eight | station | station-wine) ;;
    *) echo "unknown section: $word (single, eight, station, station-wine)" >&2; exit 2 ;;
    esac
done
wants() { [[ $sections == *" $1 "* ]]; }
. tests/rig/packages.sh
ensure_packages
. tools/build_release.sh
if wants single || wants eight || wants station-wine; then
    build_release "$out"
    cmake --build "$out/x86_64" --target tq734_station -j2 >/dev/null
else
    cmake -S . -B "$out/native" -DCMAKE_BUILD_TYPE=Release -DTQ_SANITIZE=OFF -DTQ_TESTS=OFF >/dev/null
fi
# The Linux programs, released as the .deb has them (no sanitizers); the station's children
# run without a window, as tq734-updater-console.
cmake --build "$out/native" --target tq734_sim tq734_updater tq734_updater_console tq734_station -j2 >/dev/null
linux_dev=$out/linux-dev linux_config=$out/linux-config
rm -rf "$linux_dev" "$linux_config"
mkdir -p "$linux_dev" "$linux_config/tq734-updater"
echo "COMport=33" >"$linux_config/tq734-updater/settings"

. tests/rig/wine_rig.sh
. tools/bench_station.sh
sim_pid=""
stop_all() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
    # Only our own children: the rig's display is stopped by rig_stop.
    [ -n "$sim_pid" ] && wait "$sim_pid" 2>/dev/null
    station_stop
    rig_stop
}
trap stop_all EXIT
server_pid=""
if wants single || wants eight || wants station-wine; then
    rig_start "$out/wine-prefix"
    "$WINE_LOADER" reg add 'HKCU\Software\Ostrel\TQ734 Updater' /v COMport /t REG_DWORD /d $port /f >/dev/null 2>&1
    server_pid=$(pgrep -n -f wineserver64 || true)
fi
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0; }
hz=$(getconf CLK_TCK)
limit=61.55

run() {   # run windows|linux NAME [SIM OPTIONS]
    local build=$1 name=$2
    shift 2
    local report=$out/$build-$name-report.txt link=$WINEPREFIX/dosdevices/com$port
    [ "$build" = linux ] && link=$linux_dev/ttyUSB0   # COM33
    "$out/native/tools/simulator/tq734_sim" --link "$link" --report "$report" \
        --timeout-s 300 "$@" >"$out/$name-sim.out" &
    sim_pid=$!
    for _ in $(seq 100); do grep -q READY "$out/$name-sim.out" && break; sleep 0.05; done
    local s0 rc=0
    s0=$(ticks "$server_pid")
    TIMEFORMAT='%R %U %S'
    local c0=0 c1=0
    if [ "$build" = linux ]; then
        # The process's own CPU is also sampled at block 0 and at the finish request.
        local t0 t1 app
        t0=$(date +%s.%N)
        TQ734_DEVICE_DIR=$linux_dev XDG_CONFIG_HOME=$linux_config "$out/native/app/tq734-updater" -a \
            >/dev/null 2>&1 &
        app=$!
        local total=0
        while kill -0 "$app" 2>/dev/null; do
            [ "$c0" = 0 ] && grep -q ' rx block 0$' "$report" && c0=$(ticks "$app")
            [ "$c1" = 0 ] && grep -q ' rx finish length' "$report" && c1=$(ticks "$app")
            total=$(ticks "$app")
            sleep 0.05
        done
        wait "$app" || rc=$?
        t1=$(date +%s.%N)
        awk -v a="$t0" -v b="$t1" -v c="$total" -v hz="$hz" 'BEGIN { printf "%s %s 0\n", b - a, c / hz }' \
            >"$out/$name-time.txt"
    else
        { time "$WINE_LOADER" "$out/x86_64/app/tq734-updater.exe" -a >/dev/null 2>&1 || rc=$?; } 2>"$out/$name-time.txt"
    fi
    local s1
    s1=$(ticks "$server_pid")
    kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null || true
    sim_pid=""
    read -r real user sys <"$out/$name-time.txt"
    # Transfer: from the first block's arrival to the finish request's, as the device saw it.
    local first last
    first=$(sed -n 's/^t=\([0-9.]*\) rx block 0$/\1/p' "$report" | head -1)
    last=$(sed -n 's/^t=\([0-9.]*\) rx finish length=.*/\1/p' "$report" | head -1)
    [ "$build" = linux ] && s1=$s0   # no Wine server involved
    awk -v n="$build $name" -v rc="$rc" -v tc="$((c1 - c0))" -v r="$real" -v u="$user" -v s="$sys" -v f="$first" -v l="$last" \
        -v lim="$limit" -v sv="$((s1 - s0))" -v hz="$hz" -v img="$(grep '^image:' "$report")" 'BEGIN {
        t = (l - f) / 1000
        printf "%-18s exit %s, %s\n", n, rc, img
        printf "                   process %.2f s = %.3f x limit; transfer %.2f s = %.3f x limit (%.1f ms per block)\n", r, r / lim, t, t / lim, t * 1000 / 1230
        printf "                   updater CPU %.2f s = %.2f %% of one core", u + s, 100 * (u + s) / r
        if (n ~ /^windows/) printf "; wineserver CPU %.2f s = %.2f %%", sv / hz, 100 * sv / hz / r
        else printf "; during the transfer %.2f s = %.2f %%", tc / hz, 100 * tc / hz / t
        printf "\n"
    }'
}

# A production line: eight programs at once with -p, eight devices at wire speed; each
# transfer as its device saw it, against the design limit.
eight_at_once() {   # eight_at_once windows|linux
    local build=$1 n pids=() sims=() reports=() rc
    for n in 0 1 2 3 4 5 6 7; do
        local link=$WINEPREFIX/dosdevices/com$((21 + n)) report=$out/$build-eight-$n-report.txt
        [ "$build" = linux ] && link=$linux_dev/ttyUSB$n
        "$out/native/tools/simulator/tq734_sim" --link "$link" --report "$report" --wire-time \
            --timeout-s 300 >"$out/eight-$n-sim.out" &
        sims+=($!)
        reports+=("$report")
    done
    for n in 0 1 2 3 4 5 6 7; do
        for _ in $(seq 100); do grep -q READY "$out/eight-$n-sim.out" && break; sleep 0.05; done
    done
    for n in 0 1 2 3 4 5 6 7; do
        if [ "$build" = linux ]; then
            TQ734_DEVICE_DIR=$linux_dev XDG_CONFIG_HOME=$linux_config "$out/native/app/tq734-updater" -a \
                -p "ttyUSB$n" >"$out/eight-$n.log" 2>&1 &
        else
            "$WINE_LOADER" "$out/x86_64/app/tq734-updater.exe" -a -p "COM$((21 + n))" >"$out/eight-$n.log" 2>&1 &
        fi
        pids+=($!)
    done
    for n in 0 1 2 3 4 5 6 7; do
        rc=0
        wait "${pids[$n]}" || rc=$?
        kill "${sims[$n]}" 2>/dev/null && wait "${sims[$n]}" 2>/dev/null || true
        awk -v n="$build eight #$((n + 1))" -v rc="$rc" -v lim="$limit" -v img="$(grep '^image:' "${reports[$n]}")" '
            / rx block 0$/ && f == "" { f = substr($1, 3) }
            / rx finish length=/ && l == "" { l = substr($1, 3) }
            END { t = (l - f) / 1000; printf "%-18s exit %s, %s, transfer %.2f s = %.3f x limit\n", n, rc, img, t, t / lim }' \
            "${reports[$n]}"
    done
}

echo "design limit: 1231 x 50 ms = $limit s"
if wants single; then
    run windows immediate
    run windows wire-time --wire-time
    run linux immediate
    run linux wire-time --wire-time
fi
if wants eight; then
    eight_at_once windows
    eight_at_once linux
fi
if wants station; then station_sixteen linux; fi
if wants station-wine; then station_sixteen windows; fi
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
