# End-to-end helpers: the real updater window under Wine and Xvfb, the simulator on COM
# ports, the window probe reading what the technician sees. Source from a scenario after
# setting LOADER UPDATER PROBE SIM OUTDIR and NAME. Everything started is stopped by pid.
set -u
. "$(dirname "${BASH_SOURCE[0]}")/../rig/wine_rig.sh"
WINE_LOADER=$LOADER
export LC_ALL=C.UTF-8   # Cyrillic arguments reach Wine programs intact
key='HKCU\Software\Ostrel\TQ734 Updater'
caption='Обновитель TQ734 (CPU2)'
mkdir -p "$OUTDIR"
log=$OUTDIR/$NAME.log
: >"$log"
xvfb_pid="" app_pid="" sim_pids=() links=() restore_links=()
# Every wait is this many times longer (an emulated machine runs the same steps far slower).
slow=${E2E_SLOW:-1}

e2e_cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
    for p in "${sim_pids[@]}"; do kill "$p" 2>/dev/null; done
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    for p in $app_pid "${sim_pids[@]}" $xvfb_pid; do wait "$p" 2>/dev/null; done
    for l in "${links[@]}"; do rm -rf "$l"; done
    for pair in "${restore_links[@]}"; do ln -sfn "${pair#*=}" "${pair%%=*}"; done
    "$LOADER" reg delete "$key" /f >/dev/null 2>&1
}
trap e2e_cleanup EXIT

fail() {
    echo "FAIL: $*" >>"$log"
    [ -n "$app_pid" ] && "$LOADER" "$PROBE" state >>"$log" 2>&1
    cat "$log" >&2
    exit 1
}

: "${WINEPREFIX:?run inside the Wine test rig}"
export WINEDEBUG=-all

# The rig's display when there is one (Wine's desktop is bound to it), else our own.
e2e_display() {
    local i n
    [ -n "${RIG_DISPLAY:-}" ] && return 0
    for i in 0 1 2 3 4 5 6 7 8 9; do
        n=$((80 + ($$ + i) % 10))
        if [ ! -e /tmp/.X$n-lock ] && [ ! -e /tmp/.X11-unix/X$n ]; then
            Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >>"$log" 2>&1 &
            xvfb_pid=$!
            for _ in $(seq 50); do [ -e /tmp/.X11-unix/X$n ] && break; sleep 0.1; done
            export DISPLAY=:$n
            return 0
        fi
    done
    fail "no free display"
}

# e2e_sim PORT [SIM OPTIONS]: a simulated device on COM<PORT>; its report is $OUTDIR/$NAME-com<PORT>.report
e2e_sim() {
    local port=$1
    shift
    local link=$WINEPREFIX/dosdevices/com$port out=$OUTDIR/$NAME-com$port.out
    links+=("$link")
    "$SIM" --link "$link" --report "$OUTDIR/$NAME-com$port.report" --timeout-s 280 "$@" >"$out" 2>>"$log" &
    sim_pids+=($!)
    for _ in $(seq $((100 * slow))); do grep -q READY "$out" && return 0; sleep 0.05; done
    fail "simulator on COM$port not ready"
}

# Ends a simulator (so that its report is complete) by its index in start order.
e2e_sim_stop() {
    local p=${sim_pids[$1]}
    kill "$p" 2>/dev/null && wait "$p" 2>/dev/null
    return 0
}

report_of() { cat "$OUTDIR/$NAME-com$1.report"; }


remember() { rig_reg add "$key" /v COMport /t REG_DWORD /d "$1" /f >>"$log" 2>&1 || fail "cannot preset COMport"; }
forget() { "$LOADER" reg delete "$key" /f >/dev/null 2>&1; return 0; }
remembered() { rig_reg query "$key" /v COMport 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_DWORD[[:space:]]*0x\([0-9a-fA-F]*\).*/\1/p'; }

# Starts the updater with the given options and waits for its window. Should Wine drop
# the window (the program then ends at once with 127), it is started again, twice at most.
e2e_start() {
    local attempt
    for attempt in 1 2 3; do
        # app_out, when set, takes the program's standard output (its log for scripts).
        "$LOADER" "$UPDATER" "$@" >>"${app_out:-$log}" 2>>"$log" &
        app_pid=$!
        "$LOADER" "$PROBE" wait caption "$caption" $((20000 * slow)) >>"$log" 2>&1 && return 0
        kill -0 "$app_pid" 2>/dev/null && fail "no window"
        wait "$app_pid"
        echo "attempt $attempt: the updater ended with $? before its window appeared" >>"$log"
        app_pid=""
    done
    fail "no window"
}

probe() { "$LOADER" "$PROBE" "$@" 2>>"$log" | tr -d '\r'; }
value() { probe state | sed -n "s/^$1=//p"; }
wait_for() { "$LOADER" "$PROBE" wait "$1" "$2" $((${3:-10000} * slow)) >>"$log" 2>&1 || fail "$1 never became '$2'"; }
expect() { local v; v=$(value "$1"); [ "$v" = "$2" ] || fail "$1 is '$v', expected '$2'"; }

# Waits up to MS for the updater to end; sets exit_code to its exit code, or "running".
# (Not in a subshell: only this shell can wait for its own child.)
e2e_wait_exit() {
    local ms=$((${1:-10000} * slow)) t=0
    while kill -0 "$app_pid" 2>/dev/null && [ "$t" -lt "$ms" ]; do sleep 0.05; t=$((t + 50)); done
    if kill -0 "$app_pid" 2>/dev/null; then exit_code=running; return; fi
    exit_code=0
    wait "$app_pid" || exit_code=$?
    app_pid=""
}

expect_exit() {
    e2e_wait_exit "${2:-10000}"
    [ "$exit_code" = "$1" ] || fail "exit code $exit_code, expected $1"
}

expect_running() {
    e2e_wait_exit "$1"
    [ "$exit_code" = running ] || fail "$2 (exit code $exit_code)"
}

# User plus system CPU time of a process so far, in clock ticks.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0; }

# ms_since T0: milliseconds from a `date +%s%N` reading until now.
ms_since() { echo $(( ($(date +%s%N) - $1) / 1000000 )); }

# check_update_log FILE: a whole automatic update's log, as a script reads it: the device's
# identity before any progress, ten progress lines, the result, the final command, exit 0 last.
check_update_log() {
    local f=$1
    awk '{ print $3 }' "$f" | grep -v -x -e status -e info -e silence | tr '\n' ' ' | sed 's/  */ /g' >"$f.events"
    grep -q -x 'start device progress progress progress progress progress progress progress progress progress progress result final_command exit ' "$f.events" ||
        fail "$f: events $(cat "$f.events")"
    grep -q ' result code=0 text="Обновление ПО произведено успешно."$' "$f" || fail "$f: no success result"
    tail -1 "$f" | grep -q ' exit code=0 seconds=' || fail "$f: exit 0 is not the last line"
    # Every line: local time with its offset, then the port.
    grep -v -E '^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}[+-][0-9]{2}:[0-9]{2} COM[0-9]+ [a-z_]+( |$)' "$f" |
        head -3 | grep . && fail "$f: a line out of form"
    return 0
}

shot() { import -window root "$OUTDIR/$NAME-$1.png" 2>>"$log" || fail "screenshot $1"; }

# Keys go to the dialog through XTEST, as a technician's would.
press() {
    local id
    id=$(timeout 10 xdotool search --sync --onlyvisible --name "^Обновитель TQ734 \(CPU2\)$" 2>/dev/null | head -1)
    [ -n "$id" ] || fail "no X window for keys"
    xdotool windowactivate --sync "$id" >/dev/null 2>&1 || xdotool windowfocus --sync "$id" >/dev/null 2>&1
    xdotool key --window "$id" "$1" 2>>"$log" || xdotool key "$1" 2>>"$log"
}

e2e_display
