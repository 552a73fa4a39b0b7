# Wine test rig: one throwaway prefix per test run with a persistent server, so that
# each test process under Wine starts in a fraction of a second. Source this file.
#   rig_start DIR   create the prefix in DIR, start the server, export WINEPREFIX
#   rig_stop        stop the server of that prefix (by its own prefix; nothing else is touched)
# When Xvfb is installed the rig also starts one display for the whole run, before the prefix
# exists, and exports DISPLAY: Wine's desktop process binds to the display it first sees, so
# every window of the run must use that one. RIG_DISPLAY names it for the tests.
WINE_LOADER=${WINE_LOADER:-/usr/lib/wine/wine64}
WINE_SERVER=${WINE_SERVER:-/usr/lib/wine/wineserver64}

# Sourced again (tests/e2e/lib.sh does so after a script's rig_start), the rig keeps the
# display it started, so that rig_stop still stops it.
RIG_XVFB_PID=${RIG_XVFB_PID:-}

# Starts Xvfb on the first free display among :70..:79 and exports DISPLAY.
rig_display() {
    # RIG_USE_DISPLAY=1 keeps a display the caller already has (the demo on a desktop).
    if [ "${RIG_USE_DISPLAY:-0}" = 1 ] && [ -n "${DISPLAY:-}" ]; then
        export RIG_DISPLAY=$DISPLAY
        return 0
    fi
    command -v Xvfb >/dev/null || return 0
    local n
    for n in 70 71 72 73 74 75 76 77 78 79; do
        [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ] && continue
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
        RIG_XVFB_PID=$!
        for _ in $(seq 100); do [ -e /tmp/.X11-unix/X$n ] && break; sleep 0.05; done
        export DISPLAY=:$n RIG_DISPLAY=:$n
        return 0
    done
    echo "rig: no free X display among :70..:79" >&2
    return 1
}

# A first window brings Wine's desktop up; in a fresh prefix that very window may be lost.
rig_gui_warmup() {
    [ -n "${RIG_DISPLAY:-}" ] || return 0
    "$WINE_LOADER" notepad >/dev/null 2>&1 &
    local pid=$!
    for _ in $(seq 150); do
        xdotool search --onlyvisible --class notepad >/dev/null 2>&1 && break
        sleep 0.1
    done
    # The caller may run under set -e; a killed process's status is not a failure here.
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    return 0
}

rig_start() {
    local dir=$1
    export WINEPREFIX=$dir WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    # Cyrillic arguments and output between Linux and Wine programs are UTF-8.
    export LC_ALL=C.UTF-8
    rig_display || return 1
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    # The server takes a pty it is handed as its controlling terminal and may be chatty on
    # hangup; its output goes to a file.
    "$WINE_LOADER" wineboot -i >"$WINEPREFIX/wineboot.log" 2>&1 || { cat "$WINEPREFIX/wineboot.log"; return 1; }
    "$WINE_SERVER" -w
    "$WINE_SERVER" -p >"$WINEPREFIX/wineserver.log" 2>&1
    # Windows under Xvfb without a window manager: Wine draws captions itself and closes fast.
    "$WINE_LOADER" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
    cp /usr/share/wine/fonts/tahoma.ttf /usr/share/wine/fonts/tahomabd.ttf /usr/share/wine/fonts/marlett.ttf \
        "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
    # Warm-up run so that the first test does not pay for loading the server's state.
    "$WINE_LOADER" cmd /c exit >/dev/null 2>&1 || true
    rig_gui_warmup
}

# wine64 reg, tried again when Wine now and then fails to start it ("ShellExecuteEx failed").
rig_reg() {
    local attempt
    for attempt in 1 2 3; do
        "$WINE_LOADER" reg "$@" && return 0
        sleep 0.5
    done
    return 1
}

rig_stop() {
    [ -n "${WINEPREFIX:-}" ] || return 0
    "$WINE_SERVER" -k >/dev/null 2>&1 || true
    "$WINE_SERVER" -w >/dev/null 2>&1 || true
    if [ -n "$RIG_XVFB_PID" ]; then
        kill "$RIG_XVFB_PID" 2>/dev/null || true
        wait "$RIG_XVFB_PID" 2>/dev/null || true
        RIG_XVFB_PID=""
    fi
    return 0
}
