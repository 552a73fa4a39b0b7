#!/usr/bin/env bash
# One end-to-end scenario through the real GTK window: its own Xvfb display,
# its own session bus with the accessibility bus in it, then scenarios.py, which starts the
# updater and the simulator and reads and drives the window through AT-SPI.
#   run.sh NAME UPDATER SIMULATOR OUTDIR
# (TQ_SCENARIOS names another scenario file, TQ_SCREEN another screen, e.g. the station's.)
# Everything started here is stopped by pid on exit, pass or fail.
set -u
name=$1 updater=$2 simulator=$3 outdir=$4
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$outdir"
log=$outdir/$name.log
: >"$log"
xvfb_pid=""
cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    return 0
}
trap cleanup EXIT

# Xvfb picks a free display itself and names it once it accepts clients: no race with
# other tests or engineers choosing numbers. Without -noreset the server resets when its
# first client (the accessibility bus launcher) leaves, refusing the updater for a moment.
fifo=$outdir/$name.displayfd
rm -f "$fifo"
mkfifo "$fifo"
Xvfb -displayfd 3 -noreset -screen 0 "${TQ_SCREEN:-1024x768x24}" -nolisten tcp 3>"$fifo" >>"$log" 2>&1 &
xvfb_pid=$!
display=$(timeout 10 head -1 "$fifo" || true)
rm -f "$fifo"
[ -n "$display" ] || { echo "Xvfb did not start" >&2; cat "$log" >&2; exit 1; }
export DISPLAY=:$display
# GTK's own allocations outlive the program; ASan still checks every access.
export ASAN_OPTIONS=detect_leaks=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}
export NO_AT_BRIDGE=0 GTK_THEME=Adwaita LC_ALL=C.UTF-8
# dbus-daemon's complaint about the fd limit is harmless.
dbus-run-session -- /usr/bin/python3 "$here/${TQ_SCENARIOS:-scenarios.py}" "$name" "$updater" "$simulator" "$outdir" \
    2> >(grep -v 'Failed to set fd limit' >>"$log")
rc=$?
[ "$rc" -eq 0 ] || cat "$log" >&2
exit "$rc"
