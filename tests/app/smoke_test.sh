#!/usr/bin/env bash
# The real window under Wine and Xvfb, against the device simulator on a COM port.
#   smoke_test.sh interactive|auto LOADER UPDATER PROBE SIMULATOR OUTDIR
# interactive: the dialog opens with its caption, banner and "Нажмите \"Старт\"" on the
#   simulator's port; "СТАРТ" runs the transfer; "Выход" mid-transfer ends with 127.
# auto: with -a the program updates by itself, ends with 0 and remembers the port.
# Screenshots go to OUTDIR/smoke-*.png. Everything started here is stopped by pid on exit.
set -u
mode=$1 loader=$2 updater=$3 probe=$4 simulator=$5 outdir=$6
here=$(cd "$(dirname "$0")" && pwd)
caption='Обновитель TQ734 (CPU2)'
caption_regex='^Обновитель TQ734 \(CPU2\)$'
key='HKCU\Software\Ostrel\TQ734 Updater'
# COM57 with COM5 absent and 5 remembered: the list's prefix rule must find it, and a
# successful update must then remember 57.
port=57
mkdir -p "$outdir"
log=$outdir/smoke-$mode.log
: >"$log"

xvfb_pid="" app_pid="" sim_pid="" own_rig=""
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    # Only our own children: a rig of our own has a display that rig_stop ends.
    for p in $app_pid $sim_pid $xvfb_pid; do wait "$p" 2>/dev/null; done
    [ -n "${WINEPREFIX:-}" ] && rm -f "$WINEPREFIX/dosdevices/com$port"
    [ -z "$own_rig" ] && [ -n "${WINEPREFIX:-}" ] && "$loader" reg delete "$key" /v COMport /f >/dev/null 2>&1
    [ -n "$own_rig" ] && rig_stop
}
fail() {
    echo "FAIL: $*" >>"$log"
    [ -n "$app_pid" ] && "$loader" "$probe" state >>"$log" 2>&1
    cat "$log" >&2
    exit 1
}
trap cleanup EXIT


# The rig's display when the run has one (Wine's desktop is bound to it); otherwise our
# own, chosen from our pid among :90..:99.
if [ -n "${RIG_DISPLAY:-}" ]; then
    display=${RIG_DISPLAY#:}
else
    display=""
    for i in 0 1 2 3 4 5 6 7 8 9; do
        n=$((90 + ($$ + i) % 10))
        if [ ! -e /tmp/.X$n-lock ] && [ ! -e /tmp/.X11-unix/X$n ]; then display=$n; break; fi
    done
    [ -n "$display" ] || fail "no free display among :90..:99"
    Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >>"$log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do [ -e /tmp/.X11-unix/X$display ] && break; sleep 0.1; done
    [ -e /tmp/.X11-unix/X$display ] || fail "Xvfb :$display did not start"
    export DISPLAY=:$display
fi

# A prefix of our own is made with the display already there: its desktop takes the
# display driver it finds at its first start.
. "$here/../rig/wine_rig.sh"
WINE_LOADER=$loader
export WINEDEBUG=-all
if [ -z "${WINEPREFIX:-}" ]; then
    own_rig=1
    rig_start "$outdir/smoke-prefix" || fail "cannot make a Wine prefix"
fi
for other in "$WINEPREFIX"/dosdevices/com5 "$WINEPREFIX"/dosdevices/com5[0-6]; do
    [ -e "$other" ] || [ -L "$other" ] && fail "$other exists; this test needs COM5 and COM50..56 absent"
done

# The simulator links its pty as COM57 and says READY.
sim_args=()
[ "$mode" = auto ] && sim_args=(--finish-after-block 3)
sim_out=$outdir/smoke-$mode-sim.out
"$simulator" --link "$WINEPREFIX/dosdevices/com$port" --timeout-s 120 "${sim_args[@]}" >"$sim_out" 2>>"$log" &
sim_pid=$!
for _ in $(seq 100); do grep -q READY "$sim_out" && break; sleep 0.1; done
grep -q READY "$sim_out" || fail "simulator not ready"

rig_reg add "$key" /v COMport /t REG_DWORD /d 5 /f >>"$log" 2>&1 || fail "cannot preset COMport"

find_window() {   # the X window with exactly our caption
    local id
    id=$(xdotool search --onlyvisible --name "$caption_regex" 2>/dev/null | head -1)
    [ -n "$id" ] && [ "$(xdotool getwindowname "$id" 2>/dev/null)" = "$caption" ]
}
# Starts the updater and waits up to 20 s for its window. In a fresh prefix the first
# window can find Wine's desktop not yet up; the program then ends at once with 127 and
# is started again (at most three times).
launch_updater() {
    local attempt i
    for attempt in 1 2 3; do
        "$loader" "$updater" "$@" >>"$log" 2>&1 &
        app_pid=$!
        for i in $(seq 100); do
            find_window && return 0
            kill -0 "$app_pid" 2>/dev/null || break
            sleep 0.2
        done
        kill -0 "$app_pid" 2>/dev/null && return 1
        wait "$app_pid"
        echo "attempt $attempt: ended with $? before its window appeared" >>"$log"
        app_pid=""
        sleep 1
    done
    return 1
}
probe_value() {   # the value of one line of the probe's state
    "$loader" "$probe" state 2>/dev/null | tr -d '\r' | sed -n "s/^$1=//p"
}
shot() {
    import -display ":$display" -window root "$outdir/smoke-$1.png" 2>>"$log" || fail "screenshot $1"
}

if [ "$mode" = auto ]; then
    # The dialog must appear; the update then ends the program by itself.
    launch_updater -a || fail "no window"
    "$loader" "$probe" wait block_progress 2 10000 >>"$log" 2>&1 && shot auto-transfer
    for _ in $(seq 300); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$app_pid" 2>/dev/null && fail "still running 30 s after the start"
    wait "$app_pid"
    rc=$?
    app_pid=""
    [ "$rc" -eq 0 ] || fail "exit code $rc, expected 0"
    remembered=$(rig_reg query "$key" /v COMport 2>>"$log" | tr -d '\r')
    echo "$remembered" >>"$log"
    echo "$remembered" | grep -Eq 'COMport[[:space:]]+REG_DWORD[[:space:]]+0x39\b' || fail "COMport is not 57: $remembered"
    exit 0
fi

launch_updater || fail "no window with caption $caption"
"$loader" "$probe" wait selected "COM$port" 10000 >>"$log" 2>&1 || fail "COM$port not selected"
[ "$(probe_value status)" = 'Нажмите "Старт"' ] || fail "status is not Нажмите \"Старт\""
[ "$(probe_value banner)" = 'Updater CPU2\r\n(Mar 24 2023)\r\nПрошивка(версия 2.385) была создана\r\n\tFeb 11 2025 в 17:30:32\r\n' ] ||
    fail "banner differs"
[ "$(probe_value focus)" = 115 ] || fail "focus is not on Выход"
sleep 0.5
shot idle
"$loader" "$probe" click 112 >>"$log" 2>&1 || fail "cannot press СТАРТ"
"$loader" "$probe" wait status 'Обмен информацией' 10000 >>"$log" 2>&1 || fail "transfer did not start"
"$loader" "$probe" wait c132.enabled 0 2000 >>"$log" 2>&1 || fail "port list still enabled"
for _ in $(seq 100); do [ "$(probe_value block_progress)" -ge 300 ] 2>/dev/null && break; sleep 0.2; done
shot transfer
[ "$(probe_value c121.visible)$(probe_value c111.visible)$(probe_value c112.visible)" = 100 ] ||
    fail "transfer view: bar, poll and start visibility wrong"
"$loader" "$probe" click 115 >>"$log" 2>&1 || fail "cannot press Выход"
for _ in $(seq 50); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app_pid" 2>/dev/null && fail "Выход did not end the program"
wait "$app_pid"
rc=$?
app_pid=""
[ "$rc" -eq 127 ] || fail "exit code $rc after Выход mid-transfer, expected 127"
exit 0
