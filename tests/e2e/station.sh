#!/usr/bin/env bash
# The station under Wine with the real updater as its children: four ports, devices arriving
# at different times; each updated once, a device left connected not updated again, one that
# restarts seen as up to date, a wrong device and a device error red; the records checked.
#   station.sh LOADER STATION UPDATER PROBE SIM OUTDIR
NAME=station_four_ports LOADER=$1 STATION=$2 UPDATER=$3 PROBE=$4 SIM=$5 OUTDIR=$6
. "$(dirname "$0")/lib.sh"
records=$OUTDIR/$NAME-records.jsonl
rm -f "$records"
station_pid=""
trap '[ -n "$station_pid" ] && kill "$station_pid" 2>/dev/null && wait "$station_pid" 2>/dev/null; e2e_cleanup' EXIT
e2e_display
# Wine processes of this prefix only (other tests may run the same programs elsewhere).
ours() { grep -lsz "^WINEPREFIX=$WINEPREFIX\$" /proc/[0-9]*/environ | cut -d/ -f3 | while read -r p; do
    tr '\0' ' ' <"/proc/$p/cmdline" 2>/dev/null | grep -q "^[A-Za-z]:[^ ]*$1" && echo "$p"; done; }
# port result code, one line per record, sorted.
summary() { /usr/bin/python3 -c '
import json, sys
for line in open(sys.argv[1], "rb").read().decode().splitlines(keepends=True):
    assert line.endswith("\n"), "half a line"
    r = json.loads(line)
    print(r["port"], r["result"], r["code"], r["station"], r["operator"])' "$records" 2>>"$log" | sort; }

e2e_sim 61 --version 2.384 --arrive-after-ms 300 --finish-after-block 40 --keep-running --restart-silence-ms 8000
e2e_sim 62 --version 2.384 --arrive-after-ms 2500 --finish-after-block 40 --keep-running
e2e_sim 63 --tag XY --arrive-after-ms 1000 --keep-running
e2e_sim 64 --version 2.384 --arrive-after-ms 1500 --finish-after-block 30 --result 4 --keep-running
"$LOADER" "$STATION" COM61 COM62 COM63 COM64 -o "Смена 2" -r "Z:${records//\//\\}" >>"$log" 2>&1 &
station_pid=$!
want="COM61 ok 0 1.0.0 Смена 2
COM61 up_to_date None 1.0.0 Смена 2
COM62 ok 0 1.0.0 Смена 2
COM63 not_tq734 None 1.0.0 Смена 2
COM64 device_error 4 1.0.0 Смена 2"
for _ in $(seq $((900 * slow))); do
    [ "$(summary)" = "$want" ] && break
    kill -0 "$station_pid" 2>/dev/null || fail "the station ended"
    sleep 0.1
done
[ "$(summary)" = "$want" ] || fail "records: $(summary)"
shot all-done
# COM62 stays connected and answering: nothing more happens on any port.
sleep 3
[ "$(summary)" = "$want" ] || fail "records after a wait: $(summary)"
for p in 61 62 64; do
    [ "$(report_of $p | grep -c 'finish reply')" = 1 ] || fail "COM$p not updated exactly once"
done
report_of 63 | grep -q ' rx block' && fail "a block was written to the wrong device"
children=$(ours tq734-updater.exe)
[ -n "$children" ] || fail "no updater children while the station runs"
kill "$station_pid"
wait "$station_pid" 2>/dev/null
station_pid=""
for _ in $(seq 50); do [ -z "$(ours tq734-updater.exe)" ] && break; sleep 0.1; done
[ -z "$(ours tq734-updater.exe)" ] || fail "updaters left running: $(ours tq734-updater.exe)"

# Closing while a device is being updated: the question, then "Yes": interrupted, nothing left.
e2e_sim 65 --version 2.384 --keep-running
"$LOADER" "$STATION" COM65 -r "Z:${records//\//\\}" >>"$log" 2>&1 &
station_pid=$!
for _ in $(seq $((300 * slow))); do report_of 65 | grep -q ' rx block 30$' && break; sleep 0.1; done
report_of 65 | grep -q ' rx block 30$' || fail "COM65 is not being updated"
window=$(xdotool search --onlyvisible --name '^Станция обновления TQ734 \(CPU2\)$' 2>/dev/null | head -1)
[ -n "$window" ] || fail "no station window"
eval "$(xdotool getwindowgeometry --shell "$window")"
# Wine draws the caption itself (no window manager): its close box is at the top right.
xdotool mousemove $((X + WIDTH - 10)) $((Y + 10)) click 1
for _ in $(seq 50); do
    [ "$(xdotool search --onlyvisible --name '^Станция обновления TQ734 \(CPU2\)$' 2>/dev/null | wc -l)" -ge 2 ] && break
    sleep 0.1
done
[ "$(xdotool search --onlyvisible --name '^Станция обновления TQ734 \(CPU2\)$' 2>/dev/null | wc -l)" -ge 2 ] ||
    fail "no question on closing during an update"
shot close-question
xdotool key y
for _ in $(seq 100); do kill -0 "$station_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$station_pid" 2>/dev/null && fail "the station did not close after Yes"
station_pid=""
[ -z "$(ours tq734-updater.exe)" ] || fail "updaters left running after closing"
summary | grep -q '^COM65 interrupted None 1.0.0' || fail "no interrupted record: $(summary)"
echo PASS >>"$log"
