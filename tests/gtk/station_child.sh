#!/usr/bin/env bash
# The updater as a production station runs it, one port, without a window: a device that
# arrives late on a port that is not there yet is updated once (-a -n -w -r), its removal is
# awaited while it restarts (-n -g: silent), it comes back with the new firmware and is left
# as it is (up_to_date), and a device that stays is awaited until its port goes (removed).
#   station_child.sh UPDATER SIMULATOR OUTDIR
set -u
updater=$1 simulator=$2 outdir=$3/station_child
rm -rf "$outdir"
mkdir -p "$outdir/dev"
records=$outdir/records.jsonl
sim_pid="" child_pid="" xvfb_pid=""
cleanup() {
    [ -n "$child_pid" ] && kill "$child_pid" 2>/dev/null && wait "$child_pid" 2>/dev/null
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    return 0
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; for f in "$outdir"/*.log; do echo "== $f" >&2; cat "$f" >&2; done; exit 1; }
now_ms() { date +%s%3N; }

# A display of our own when Xvfb is there: with -n no window may appear even so.
unset DISPLAY WAYLAND_DISPLAY
if command -v Xvfb >/dev/null && command -v xdotool >/dev/null; then
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$outdir/display" 2>/dev/null &
    xvfb_pid=$!
    for _ in $(seq 50); do [ -s "$outdir/display" ] && break; sleep 0.1; done
    [ -s "$outdir/display" ] && export DISPLAY=:$(cat "$outdir/display")
fi
no_window() {
    [ -n "${DISPLAY:-}" ] || return 0
    ! xdotool search --name 'Обновитель TQ734' >/dev/null 2>&1
}

# Runs the updater in the background with a private device folder and settings.
child() {
    local log=$1; shift
    env ASAN_OPTIONS=detect_leaks=0 TQ734_DEVICE_DIR="$outdir/dev" \
        XDG_CONFIG_HOME="$outdir/config" timeout 60 "$updater" "$@" >"$outdir/$log" 2>"$outdir/$log.err" &
    child_pid=$!
}
# Waits for the child; its exit code in $code.
finish_child() { code=0; wait "$child_pid" || code=$?; child_pid=""; }

# 1. The port is absent when the child starts; the device is plugged in 1.5 s later and
#    answers 1 s after that. Its update ends early (the device's result after block 20).
child update.log -a -n -w -p ttyUSB0 -r "$records" -o "смена 1"
sleep 1.5
"$simulator" --link "$outdir/dev/ttyUSB0" --report "$outdir/sim.report" --timeout-s 50 --keep-running \
    --arrive-after-ms 1000 --version 2.384 --finish-after-block 20 --restart-silence-ms 8000 \
    >"$outdir/sim.out" 2>&1 &
sim_pid=$!
finish_child
[ "$code" = 0 ] || fail "update: exit code $code"
events=$(awk '{ print $3 }' "$outdir/update.log" | grep -v -x -e status -e info -e silence -e progress | tr '\n' ' ')
[ "$events" = "start port port device device result final_command record exit " ] || fail "update events: $events"
grep -q ' COM33 port state=unusable$' "$outdir/update.log" || fail "the absent port not logged"
grep -q ' COM33 device version=2.384$' "$outdir/update.log" || fail "no version 2.384"
[ "$(grep -c 'rx block 0$' "$outdir/sim.report")" = 1 ] || fail "block 0 not sent once"
grep -q 'rx while absent' "$outdir/sim.report" || fail "nothing asked before the arrival"

# 2. Its removal awaited: it restarts after the final command and stays silent, so it counts
#    as removed within about 2 s (it stays silent for 8 s: room for a slow start).
start=$(now_ms)
child gone1.log -n -g -p ttyUSB0
finish_child
took=$(( $(now_ms) - start ))
[ "$code" = 0 ] || fail "removal: exit code $code"
tail -2 "$outdir/gone1.log" | head -1 | grep -q ' COM33 gone reason=silent$' || fail "not gone as silent"
[ "$took" -lt 6000 ] || fail "removal took $took ms"

# 3. Back from its restart with the new version: left as it is, nothing more written.
blocks_before=$(grep -c 'rx block' "$outdir/sim.report")
child again.log -a -n -w -p ttyUSB0 -r "$records"
sleep 2
no_window || fail "a window with -n"
finish_child
[ "$code" = 0 ] || fail "up to date: exit code $code"
grep -q ' COM33 up_to_date version=2.385$' "$outdir/again.log" || fail "not up to date"
grep -q ' COM33 record written=yes$' "$outdir/again.log" || fail "no record for up_to_date"
grep -q ' final_command ' "$outdir/again.log" && fail "a final command after up_to_date"

# 4. The device stays: the removal child waits; when its port goes, it ends.
child gone2.log -n -g -p ttyUSB0
sleep 3
kill -0 "$child_pid" 2>/dev/null || fail "a device that stays counted as gone"
kill "$sim_pid"; wait "$sim_pid" 2>/dev/null; sim_pid=""
finish_child
[ "$code" = 0 ] || fail "removed: exit code $code"
grep -q ' COM33 gone reason=removed$' "$outdir/gone2.log" || fail "not gone as removed"
[ "$(grep -c 'rx block' "$outdir/sim.report")" = "$blocks_before" ] || fail "blocks written after the update"

# The records: one line per attempt, whole JSON, the fields a station reads.
python3 - "$records" <<'PY' || fail "records: $(cat "$records")"
import json, sys
lines = open(sys.argv[1], encoding="utf-8").read().split("\n")
assert lines[-1] == "" and len(lines) == 3, lines
first, second = (json.loads(l) for l in lines[:2])
assert first["port"] == "COM33" and first["result"] == "ok" and first["code"] == 0 and first["exit"] == 0, first
assert first["device"] == {"id": "TQ", "version_before": "2.384"}, first
assert first["blocks"] == 22 and first["final_command"] is True and first["operator"] == "смена 1", first
assert first["firmware"]["size"] == 314912 and len(first["firmware"]["sha256"]) == 64, first
assert second["result"] == "up_to_date" and second["code"] is None and second["exit"] == 0, second
assert second["device"]["version_before"] == "2.385" and second["blocks"] == 0, second
assert second["final_command"] is False and second["operator"] is None, second
for r in (first, second):
    assert r["start"] <= r["end"] and r["start"][-6] in "+-", r
PY
echo "station child: update, gone (silent), up to date, gone (removed); records:"
cat "$records"
