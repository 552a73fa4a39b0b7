# Wine test rig: one throwaway prefix per test run with a persistent server, so that
# each test process under Wine starts in a fraction of a second. Source this file.
#   rig_start DIR   create the prefix in DIR, start the server, export WINEPREFIX
#   rig_stop        stop the server of that prefix (by its own prefix; nothing else is touched)
WINE_LOADER=${WINE_LOADER:-/usr/lib/wine/wine64}
WINE_SERVER=${WINE_SERVER:-/usr/lib/wine/wineserver64}

rig_start() {
    local dir=$1
    export WINEPREFIX=$dir WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
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
}

rig_stop() {
    [ -n "${WINEPREFIX:-}" ] || return 0
    "$WINE_SERVER" -k >/dev/null 2>&1 || true
    "$WINE_SERVER" -w >/dev/null 2>&1 || true
}
