#!/usr/bin/env bash
# The station's window under Wine with 1, 8 and 16 ports in every state, on a 1366 × 768
# screen, the updater stood in for (fake_updater_win32): screenshots OUTDIR/station-wine-N.png
# (16 also at 144 dpi) and the crashed child's record. Runs in its own prefix and display; stops all it started.
#   wine_screens.sh LOADER STATION FAKE OUTDIR
set -u
LOADER=$1 station=$2 fake=$3 out=$4/wine_screens
rm -rf "$out"
mkdir -p "$out"
log=$out/log.txt
xvfb_pid="" app_pid=""
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null
    type rig_stop >/dev/null 2>&1 && rig_stop >/dev/null 2>&1
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    return 0
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; cat "$log" >&2; exit 1; }

for n in 60 61 62 63 64 65 66 67 68 69; do
    [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ] && continue
    Xvfb ":$n" -screen 0 1366x768x24 -nolisten tcp >>"$log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do [ -e /tmp/.X11-unix/X$n ] && break; sleep 0.05; done
    export DISPLAY=:$n
    break
done
[ -n "$xvfb_pid" ] || fail "no free display"
export RIG_USE_DISPLAY=1
. "$(dirname "$0")/../rig/wine_rig.sh"
WINE_LOADER=$LOADER
rig_start "$out/prefix" >>"$log" 2>&1 || fail "no Wine prefix"
# Records on the prefix's C: drive, as a station keeps them (the path shows in the header).
records=$WINEPREFIX/drive_c/TQ734/records.jsonl
mkdir -p "${records%/*}"
# A Linux path as Wine's Z: drive names it (winepath in $(...) would wait for Wine's services,
# which keep the substitution's pipe open).
winpath() { local p=${1//\//\\}; echo "Z:$p"; }
plan="COM33=ok COM34=updating COM35=error COM36=wrong COM37=uptodate COM38=crash COM39=absent COM40=finishing"
plan="$plan COM41=ok COM42=updating COM43=error COM44=wait COM45=ok COM46=updating COM47=wait COM48=ok"
caption='^Станция обновления TQ734 \(CPU2\)$'
# shoot NAME PORTS...: the station serving the ports with the stand-in children, pictured
# once their tiles have settled, then ended.
shoot() {
    local name=$1
    shift
    TQ734_UPDATER=$(winpath "$fake") TQ734_FAKE_PLAN=$plan \
        "$LOADER" "$station" "$@" -r 'C:\TQ734\records.jsonl' >>"$log" 2>&1 &
    app_pid=$!
    timeout 30 xdotool search --sync --onlyvisible --name "$caption" >/dev/null 2>&1 || fail "no window ($name)"
    sleep 4
    import -window root "$out/station-wine-$name.png" || fail "no screenshot ($name)"
    kill "$app_pid" 2>/dev/null
    wait "$app_pid" 2>/dev/null
    app_pid=""
    # The station's end closes its job: every child goes with it.
    for _ in $(seq 50); do pgrep -f fake_updater_win32 >/dev/null || break; sleep 0.1; done
}
for count in 1 8 16; do
    ports=""
    for i in $(seq 0 $((count - 1))); do ports="$ports COM$((33 + i))"; done
    shoot "$count" $ports
done
grep -q '"port":"COM38".*"result":"crashed"' "$records" || fail "no crashed record of COM38"
# 16 ports again at 144 dpi (the prefix's LogPixels, read when a program starts).
"$LOADER" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >>"$log" 2>&1
shoot 16-144dpi $ports
"$LOADER" reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f >>"$log" 2>&1
# Without ports the set served last (above: the 16) comes back; with none remembered, the
# found ports to tick. Closing that list ends the station with nothing started.
"$LOADER" reg delete 'HKCU\Software\Ostrel\TQ734 Updater' /v StationPorts /f >>"$log" 2>&1
ln -sfn /dev/null "$WINEPREFIX/dosdevices/com45"
"$LOADER" "$station" >>"$log" 2>&1 &
app_pid=$!
timeout 30 xdotool search --sync --onlyvisible --name "$caption" >/dev/null 2>&1 || fail "no port list"
sleep 1
import -window root "$out/station-wine-chooser.png" || fail "no screenshot"
xdotool key Escape
for _ in $(seq 50); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app_pid" 2>/dev/null && fail "the port list did not close on Escape"
app_pid=""
echo "PASS: $out/station-wine-{1,8,16,16-144dpi}.png" >>"$log"
