#!/usr/bin/env bash
# The main job, end to end: builds the updater and the simulated TQ734, starts the device on
# COM9 of a throwaway Wine prefix, runs the updater in auto mode against it (under Xvfb when
# there is no display), shows the transfer's progress, and ends with the outcome, the exit
# code, the time taken and a screenshot taken mid-transfer. As root it installs what it lacks.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
out=${TQ_BUILD_DIR:-$top/build/demo}
port=9
. tests/rig/packages.sh
ensure_packages

echo "== building (native simulator, x86_64 updater)"
. tools/build_release.sh
build_release "$out"
updater=$out/x86_64/app/tq734-updater.exe
probe=$out/x86_64/tools/probe/window_probe.exe

echo "== starting Wine (a fresh prefix takes a few seconds)"
export RIG_USE_DISPLAY=1
. tests/rig/wine_rig.sh
sim_pid="" app_pid=""
stop_all() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
    # Only our own children: the rig's display is stopped by rig_stop.
    for p in $app_pid $sim_pid; do wait "$p" 2>/dev/null; done
    rig_stop
}
trap stop_all EXIT
rig_start "$out/wine-prefix"
wine=$WINE_LOADER

"$out/native/tools/simulator/tq734_sim" --link "$WINEPREFIX/dosdevices/com$port" --progress \
    --report "$out/device-report.txt" --timeout-s 300 >"$out/device.out" 2>"$out/device.err" &
sim_pid=$!
for _ in $(seq 100); do grep -q READY "$out/device.out" && break; sleep 0.05; done
echo "== simulated TQ734 on COM$port ($(sed -n 's/^READY //p' "$out/device.out"))"
# The port of an earlier update, as a technician's machine would remember it.
"$wine" reg add 'HKCU\Software\Ostrel\TQ734 Updater' /v COMport /t REG_DWORD /d $port /f >/dev/null 2>&1

echo "== tq734-updater.exe -a"
start=$(date +%s.%N)
"$wine" "$updater" -a >/dev/null 2>&1 &
app_pid=$!
shot=""
shown=-1
last_block=0
while kill -0 "$app_pid" 2>/dev/null; do
    state=$("$wine" "$probe" state 2>/dev/null | tr -d '\r' || true)
    block=$(sed -n 's/^block_progress=//p' <<<"$state")
    status=$(sed -n 's/^status=//p' <<<"$state")
    info=$(sed -n 's/^info=//p' <<<"$state")
    # A window that closes while the probe reads it gives empty texts and block 0: not a sample.
    if [ -z "$block" ] || [ -z "$status" ] || [ "$block" -lt "$last_block" ] || ! kill -0 "$app_pid" 2>/dev/null; then
        sleep 0.5
        continue
    fi
    last_block=$block
    if [ $((block / 100)) -ne "$shown" ]; then
        shown=$((block / 100))
        printf '   block %4s of 1230   %-18s %s\n' "$block" "$status" "$info"
    fi
    if [ -z "$shot" ] && [ -n "$block" ] && [ "$block" -ge 600 ]; then
        shot=$out/mid-transfer.png
        import -window root "$shot" 2>/dev/null || shot=""
    fi
    sleep 0.5
done
rc=0
wait "$app_pid" || rc=$?
app_pid=""
end=$(date +%s.%N)
case $rc in
    0) outcome="update completed successfully" ;;
    126) outcome="the connected device is not a TQ734" ;;
    127) outcome="no update completed" ;;
    *) outcome="the device reported error $rc" ;;
esac
echo "   window closed: $outcome"
sleep 0.2
kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null || true
sim_pid=""

echo "== outcome"
grep -E '^(summary|finish length|final command|image)' "$out/device-report.txt" | sed 's/^/   device: /'
echo "   $outcome"
echo "   exit code: $rc"
awk -v s="$start" -v e="$end" 'BEGIN { printf "   time: %.1f s\n", e - s }'
[ -n "$shot" ] && echo "   screenshot mid-transfer: $shot"
exit "$rc"
