#!/bin/bash
# Runs inside the guest once per recipe: makes the two Wine prefixes that the test boots use,
# /root/prefix-win64 (WoW64, as on a 64-bit Windows) and /root/prefix-win32 (as on a 32-bit
# one), set up as the host's Wine rig sets up its own.
#   job.sh OUT
out=$1
set -u
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
for arch in win64 win32; do
    export WINEPREFIX=/root/prefix-$arch WINEARCH=$arch
    rm -rf "$WINEPREFIX"
    t0=$(date +%s)
    loader=wine
    [ $arch = win64 ] && loader=/usr/lib/wine/wine64
    "$loader" wineboot -i >"$out/wineboot-$arch.log" 2>&1
    echo "wineboot $arch: exit $?" >>"$out/wineboot-$arch.log"
    wineserver -w
    [ -f "$WINEPREFIX/system.reg" ] && [ -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ] ||
        { echo "wineboot $arch made no prefix"; cat "$out/wineboot-$arch.log"; exit 1; }
    # Windows under Xvfb without a window manager: Wine draws the captions itself.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 ||
        { echo "reg add $arch failed"; exit 1; }
    cp /usr/share/wine/fonts/tahoma.ttf /usr/share/wine/fonts/tahomabd.ttf /usr/share/wine/fonts/marlett.ttf \
        "$WINEPREFIX/drive_c/windows/Fonts/"
    wineserver -w
    echo "prefix-$arch $(( $(date +%s) - t0 ))" | tee -a "$out/times"
done
sync
