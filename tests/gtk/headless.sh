#!/usr/bin/env bash
# A whole automatic update on Linux with no display at all: exit 0, the device's image
# identical, and the log complete, as a script on a headless rig sees it.
# With no_port: no port at all and no -p; nobody can pick one, so the run ends at once with 127.
#   headless.sh UPDATER SIMULATOR OUTDIR [no_port]
set -u
updater=$1 simulator=$2 outdir=$3/headless${4:+_$4}
rm -rf "$outdir"
mkdir -p "$outdir/dev"
if [ "${4:-}" = no_port ]; then
    start=$(date +%s%N)
    code=0
    env -u DISPLAY -u WAYLAND_DISPLAY ASAN_OPTIONS=detect_leaks=0 TQ734_DEVICE_DIR="$outdir/dev" \
        XDG_CONFIG_HOME="$outdir/config" timeout 20 "$updater" -a -t 3 >"$outdir/updater.log" 2>"$outdir/updater.err" ||
        code=$?
    ms=$((($(date +%s%N) - start) / 1000000))
    cat "$outdir/updater.log"
    echo "exit code $code after $ms ms"
    [ "$code" = 127 ] || { echo "FAIL: exit code $code" >&2; exit 1; }
    [ "$ms" -lt 2000 ] || { echo "FAIL: $ms ms" >&2; exit 1; }
    events=$(awk '{ print $2, $3, $4 }' "$outdir/updater.log" | tr '\n' ';')
    want="- start version=*;- status text=\"Порт;- give_up reason=port_unusable;"
    want+="- final_command not_sent;- exit code=127;"
    # shellcheck disable=SC2053
    [[ $events == $want ]] || { echo "FAIL: events: $events" >&2; exit 1; }
    exit 0
fi
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    return 0
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; cat "$outdir/updater.log" >&2; exit 1; }

"$simulator" --link "$outdir/dev/ttyUSB0" --report "$outdir/sim.report" --timeout-s 180 >"$outdir/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do grep -q READY "$outdir/sim.out" && break; sleep 0.05; done
grep -q READY "$outdir/sim.out" || fail "simulator not ready"

code=0
env -u DISPLAY -u WAYLAND_DISPLAY ASAN_OPTIONS=detect_leaks=0 TQ734_DEVICE_DIR="$outdir/dev" \
    XDG_CONFIG_HOME="$outdir/config" timeout 150 "$updater" -a -p ttyUSB0 >"$outdir/updater.log" 2>"$outdir/updater.err" ||
    code=$?
[ "$code" = 0 ] || fail "exit code $code"
kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; sim_pid=""
grep -q '^image: identical' "$outdir/sim.report" || fail "image not identical"
grep -q '^final command: yes' "$outdir/sim.report" || fail "no final command"
events=$(awk '{ print $3 }' "$outdir/updater.log" | grep -v -x -e status -e info -e silence | tr '\n' ' ')
[ "$events" = "start device progress progress progress progress progress progress progress progress progress progress result final_command exit " ] ||
    fail "events: $events"
tail -1 "$outdir/updater.log" | grep -q ' COM33 exit code=0 seconds=' || fail "exit 0 is not the last line"
grep -q '^COMport=33$' "$outdir/config/tq734-updater/settings" || fail "COM33 not remembered"
echo "headless: $(tail -1 "$outdir/updater.log")"
