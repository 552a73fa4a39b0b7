#!/usr/bin/env bash
# Takes the guide's pictures from the real window under Wine and Xvfb, against the simulated
# TQ734, and writes them cropped to the window (and its message box) as small PNGs into
# docs/pictures/. Run by hand when the window changes, then commit the pictures: the release
# only embeds them, so that it stays reproducible.
#   bash tools/release/take_pictures.sh
set -u
top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"
build=${TQ_BUILD_DIR:-$top/build/pictures}
dest=$top/docs/pictures
. tests/rig/packages.sh
ensure_packages || exit 1
. tools/build_release.sh
build_release "$build" || exit 1

. tests/rig/wine_rig.sh
rig_start "$build/wine-prefix" || exit 1
NAME=pictures LOADER=$WINE_LOADER OUTDIR=$build/shots
UPDATER=$build/x86_64/app/tq734-updater.exe PROBE=$build/x86_64/tools/probe/window_probe.exe
SIM=$build/native/tools/simulator/tq734_sim
. tests/e2e/lib.sh
trap 'e2e_cleanup; rig_stop' EXIT
mkdir -p "$dest"
port=3

# snap NAME: the window, and its message box when one is open, from a screenshot of the display.
snap() {
    local state w b x y r bottom
    sleep 0.7
    state=$(probe state)
    w=$(sed -n 's/^window=//p' <<<"$state")
    b=$(sed -n 's/^msgbox.window=//p' <<<"$state")
    IFS=, read -r x y r bottom <<<"$w"
    r=$((x + r)) bottom=$((y + bottom))
    if [ -n "$b" ]; then
        local bx by bw bh
        IFS=, read -r bx by bw bh <<<"$b"
        [ "$bx" -lt "$x" ] && x=$bx
        [ "$by" -lt "$y" ] && y=$by
        [ $((bx + bw)) -gt "$r" ] && r=$((bx + bw))
        [ $((by + bh)) -gt "$bottom" ] && bottom=$((by + bh))
    fi
    import -window root "$OUTDIR/screen.png" || fail "screenshot $1"
    convert "$OUTDIR/screen.png" -crop "$((r - x))x$((bottom - y))+$x+$y" +repage -strip +dither -colors 64 \
        -define png:exclude-chunks=date,time "PNG8:$dest/$1.png" || fail "crop $1"
    echo "$1.png: $(stat -c %s "$dest/$1.png") bytes"
}

# scene: a fresh device on the port and the updater started; ends with "Выход" or the box.
begin() {
    sim_pids=() links=()
    e2e_sim $port "$@"
    remember $port
}
finish() {
    [ -n "$app_pid" ] && { probe click 115; e2e_wait_exit 5000; }
    e2e_sim_stop 0
}

begin
e2e_start
wait_for status 'Нажмите "Старт"'
snap idle
probe click 111
wait_for info 'Версия : 2.385'
snap polled
finish

begin
e2e_start
wait_for status 'Нажмите "Старт"'
probe click 112
wait_for block_progress 400 40000
snap transfer
finish

begin --finish-after-block 1225
e2e_start
wait_for status 'Нажмите "Старт"'
probe click 112
wait_for msgbox 1 90000
snap success
probe dismiss
e2e_wait_exit 5000
finish

begin --finish-after-block 1225 --result 4
e2e_start
wait_for status 'Нажмите "Старт"'
probe click 112
wait_for msgbox 1 90000
snap error
probe dismiss
e2e_wait_exit 5000
finish

begin --silent-from-block 30
e2e_start
wait_for status 'Нажмите "Старт"'
probe click 112
wait_for info 'Нет ответа' 10000
snap no-reply
finish

begin --tag AB
e2e_start
wait_for status 'Нажмите "Старт"'
probe click 111
wait_for info 'Подключенное устройство не TQ734'
snap other-device
finish

# A port that is present but cannot be opened: a link to a directory.
mkdir -p "$OUTDIR/busy-dir"
links=("$WINEPREFIX/dosdevices/com$port")
ln -sfn "$OUTDIR/busy-dir" "$WINEPREFIX/dosdevices/com$port"
remember $port
e2e_start
wait_for status 'Порт занят или отсутствует'
snap busy
probe click 115
e2e_wait_exit 5000
rm -f "$WINEPREFIX/dosdevices/com$port"
echo "pictures in $dest"
