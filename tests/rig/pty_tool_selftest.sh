#!/usr/bin/env bash
# tq_pty cleans up after itself: links made and removed, an overrunning command stopped by
# its pid (status 124), an absent port really absent, the exit status passed through.
# Usage: pty_tool_selftest.sh TQ_PTY
set -u
tool=$1
export WINEPREFIX=$(mktemp -d)
trap 'rm -rf "$WINEPREFIX"' EXIT
mkdir "$WINEPREFIX/dosdevices"
ln -s /nowhere "$WINEPREFIX/dosdevices/com15"
fail() { echo "FAIL: $*"; exit 1; }

# While the command runs: data and control are ptys, refuse is a directory, absent is gone.
"$tool" --data 12 --control 13 --refuse 14 --absent 15 -- bash -c '
    d=$WINEPREFIX/dosdevices
    [ -c "$d/com12" ] && [ -c "$d/com13" ] && [ -d "$d/com14" ] && [ ! -e "$d/com15" ] && [ ! -L "$d/com15" ] || exit 3
    # One request over the control line: the line starts awkward, for the test to change.
    exec 3<>"$d/com13"
    echo termios >&3
    read -r -t 5 reply <&3
    [ "$reply" = "termios baud=9600 data=8 parity=none stop=2 rtscts=1 ixon=1 ixoff=1" ] || { echo "$reply"; exit 4; }
    exit 7'
status=$?
[ $status -eq 7 ] || fail "exit status $status, expected the command's 7"
ls "$WINEPREFIX/dosdevices" | grep -q . && fail "links left behind: $(ls "$WINEPREFIX/dosdevices")"

# An overrunning command is stopped at the deadline, and its links go.
start=$SECONDS
"$tool" --data 12 --timeout 1 -- bash -c 'echo $$ >"$WINEPREFIX/pid"; exec sleep 30' 2>/dev/null
status=$?
[ $status -eq 124 ] || fail "overrun status $status, expected 124"
[ $((SECONDS - start)) -le 5 ] || fail "overrun not stopped in time"
kill -0 "$(cat "$WINEPREFIX/pid")" 2>/dev/null && fail "command still running"
[ -e "$WINEPREFIX/dosdevices/com12" ] && fail "com12 left behind"

# Without a control line the command gets the data line's other end.
"$tool" --data 12 -- bash -c '[ -n "$TQ_PTY_DATA_FD" ] && [ -e /proc/self/fd/$TQ_PTY_DATA_FD ]' \
    || fail "no TQ_PTY_DATA_FD for the command"
echo "tq_pty self-test passed"
