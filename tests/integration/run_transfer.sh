#!/usr/bin/env bash
# One automatic update through the real Win32 channel against the simulator:
# the transfer must complete, the device must hold the embedded image byte for byte,
# and each block should take about one 50 ms poll.
#   run_transfer.sh WINE_LOADER ENGINE_EXE SIM WORKDIR PORT [SIM OPTIONS...]
set -euo pipefail
wine=$1 exe=$2 sim=$3 work=$4 port=$5
shift 5
: "${WINEPREFIX:?run inside the Wine test rig (WINEPREFIX)}"
mkdir -p "$work"
report=$work/sim-report.txt
link=$WINEPREFIX/dosdevices/com$port
sim_pid=
# Never fails: under set -e a simulator that has already ended would stop the clean-up early.
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -f "$link"
}
trap cleanup EXIT
"$sim" --link "$link" --report "$report" --timeout-s 280 "$@" >"$work/sim.out" &
sim_pid=$!
for _ in $(seq 100); do grep -q READY "$work/sim.out" 2>/dev/null && break; sleep 0.05; done
grep -q READY "$work/sim.out"

rc=0
out=$("$wine" "$exe" "$port" 250) || rc=$?
echo "$out"
kill "$sim_pid" && wait "$sim_pid" || true
sim_pid=
grep -E '^(summary|final command|finish length|image)' "$report"

[ "$rc" -eq 0 ] || { echo "engine exit code $rc"; exit 1; }
grep -q '^image: identical' "$report"
grep -q '^final command: yes' "$report"
grep -q '^finish length: 314912' "$report"
elapsed=$(sed -n 's/.*elapsed_ms=\([0-9]*\).*/\1/p' <<<"$out")
awk -v e="$elapsed" 'BEGIN { printf "transfer: %.1f s, %.3f x the 1231 x 50 ms design limit\n", e / 1000, e / 61550 }'
