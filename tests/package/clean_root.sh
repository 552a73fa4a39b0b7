#!/usr/bin/env bash
# The .deb on a fresh Debian 12, as a technician's machine gets it: a clean bookworm root
# (mmdebstrap, the archive as /etc/apt names it), the package installed there with
# `apt-get install ./….deb` (its Depends and Recommends from the archive), ldd without
# "not found", an -a update by the installed program against the simulator under a display,
# a screenshot of its window with the window's size, and `apt-get purge` leaving no file of
# the package behind. Needs root (chroot, mounts); run from tests/package/check_package.sh.
#   clean_root.sh DEB SIMULATOR DIR
# DIR keeps the pristine root as a tarball named by its recipe (made once; a changed recipe
# makes a new one) and the downloaded packages, so that a second run is fast. Every run
# unpacks the pristine root anew. The mounts live in a mount namespace of their own: they
# end with this script, whatever happens to it.
set -euo pipefail
if [ "${TQ_CLEAN_ROOT_NS:-}" != 1 ]; then
    [ "$(id -u)" = 0 ] || { echo "clean_root: needs root (chroot and mounts)" >&2; exit 1; }
    exec env TQ_CLEAN_ROOT_NS=1 unshare --mount --propagation private bash "$0" "$@"
fi
deb=$(realpath "$1") sim=$(realpath "$2") dir=$3
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
log=$dir/clean-root.log
: >"$log"
t0=$SECONDS
say() { echo "   [$((SECONDS - t0)) s] $*"; }
fail() { echo "FAIL: $*" >&2; tail -n 40 "$log" >&2; exit 1; }

# The recipe, and so the cache's key: mmdebstrap's version, its options and the sources.
sources=()
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -s "$f" ] && sources+=("$f")
done
[ ${#sources[@]} -gt 0 ] || fail "no apt sources in /etc/apt"
mm_options=(--variant=apt --format=tar --skip=cleanup/apt/lists --dpkgopt=force-unsafe-io
    '--aptopt=Acquire::Languages "none"')
key=$( { mmdebstrap --version 2>&1; printf '%s\n' "${mm_options[@]}"; cat "${sources[@]}"; } | sha256sum | cut -c1-16)
cache=$dir/bookworm-$key.tar
if [ ! -s "$cache" ]; then
    say "making the clean bookworm root (once per recipe)"
    rm -f "$dir"/bookworm-*.tar "$dir"/bookworm-*.tar.part
    mmdebstrap "${mm_options[@]}" bookworm "$cache.part" "${sources[@]}" >>"$log" 2>&1 || fail "mmdebstrap"
    mv "$cache.part" "$cache"
fi

run=$dir/run root=$dir/run/root
# Never across a mount point, should one be left from a run that could not end its namespace.
rm -rf --one-file-system "$run"
mkdir -p "$root" "$dir/apt-archives/partial"
tar -xf "$cache" -C "$root"
say "root unpacked from ${cache##*/}"

mount --rbind /dev "$root/dev"
mount -t proc proc "$root/proc"
mkdir -p "$root/tmp/.X11-unix" /tmp/.X11-unix
mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"
mount --bind "$dir/apt-archives" "$root/var/cache/apt/archives"
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
in_root() {
    chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive "$@"
}

xvfb_pid="" sim_pid="" app_pid=""
stop_all() {
    for p in $app_pid $sim_pid $xvfb_pid; do kill "$p" 2>/dev/null || true; done
    for p in $app_pid $sim_pid $xvfb_pid; do wait "$p" 2>/dev/null || true; done
}
trap stop_all EXIT

apt_opts=(-o APT::Sandbox::User=root -o Dpkg::Use-Pty=0)
in_root apt-get "${apt_opts[@]}" update >>"$log" 2>&1 || fail "apt-get update in the root"
mkdir -p "$root/tmp/tq734-pkg"
cp "$deb" "$root/tmp/tq734-pkg/"
in_root apt-get "${apt_opts[@]}" install -y "./tmp/tq734-pkg/${deb##*/}" >>"$log" 2>&1 ||
    fail "apt-get install ./${deb##*/}"
say "installed: $(in_root dpkg-query -W -f='${Package} ${Version} ${Status}' tq734-updater)"
in_root ldd /usr/bin/tq734-updater >"$run/ldd.txt" 2>&1 || fail "ldd: $(cat "$run/ldd.txt")"
grep -q 'not found' "$run/ldd.txt" && fail "libraries not found: $(grep 'not found' "$run/ldd.txt")"
say "ldd: $(wc -l <"$run/ldd.txt") libraries, none missing"
in_root dpkg -L tq734-updater >"$run/files.txt"
# The station beside it: its libraries are there and it answers before any window.
in_root /usr/bin/tq734-station --version >"$run/station.txt" 2>&1 || fail "tq734-station --version: $(cat "$run/station.txt")"
say "station: $(head -1 "$run/station.txt")"

# A display for the program inside the root: the socket folder is shared with it.
for n in 60 61 62 63 64 65 66 67 68 69; do
    [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ] || break
done
Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$run/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -e /tmp/.X11-unix/X$n ] && break; sleep 0.05; done
[ -e /tmp/.X11-unix/X$n ] || fail "Xvfb :$n did not start"

mkdir -p "$root/tmp/tq734-dev" "$root/tmp/tq734-config/tq734-updater"
echo "COMport=33" >"$root/tmp/tq734-config/tq734-updater/settings"
blocks=${TQ_CLEAN_ROOT_BLOCKS:-20}
"$sim" --link "$root/tmp/tq734-dev/ttyUSB0" --finish-after-block "$blocks" --report "$run/sim-report.txt" \
    --timeout-s 120 >"$run/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do grep -q READY "$run/sim.out" 2>/dev/null && break; sleep 0.05; done
grep -q READY "$run/sim.out" || fail "simulator not ready: $(cat "$run/sim.out")"

in_root env DISPLAY=:$n TQ734_DEVICE_DIR=/tmp/tq734-dev XDG_CONFIG_HOME=/tmp/tq734-config NO_AT_BRIDGE=1 \
    timeout 60 /usr/bin/tq734-updater -a >"$run/app.out" 2>&1 &
app_pid=$!
wid=""
for _ in $(seq 200); do
    wid=$(DISPLAY=:$n xdotool search --onlyvisible --name 'TQ734' 2>/dev/null | head -n 1 || true)
    [ -n "$wid" ] && break
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.05
done
[ -n "$wid" ] || fail "no window appeared: $(cat "$run/app.out")"
sleep 0.3
geometry=$(DISPLAY=:$n xwininfo -id "$wid" | awk '/Absolute upper-left X:/ { x = $NF } /Absolute upper-left Y:/ { y = $NF }
    /Width:/ { w = $2 } /Height:/ { h = $2 } END { print w "x" h "+" x "+" y }' || true)
[[ $geometry =~ ^[0-9]+x[0-9]+\+-?[0-9]+\+-?[0-9]+$ ]] || fail "the window could not be measured ($geometry)"
size=${geometry%%+*}
# The whole screen, cut to the window: a capture of the window itself can hang when the window
# closes under it, and this one closes by itself.
rm -f "$dir/window.png"
timeout 20 import -display ":$n" -window root -crop "$geometry" +repage "$dir/window.png" 2>>"$log" ||
    say "no screenshot"
rc=0
wait "$app_pid" || rc=$?
app_pid=""
# The simulator ends 500 ms after the final command and completes its report then.
for _ in $(seq 100); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.05; done
say "window ${size} px (screenshot $dir/window.png); exit code $rc;" \
    "$(grep '^image:' "$run/sim-report.txt"); $(grep '^final command:' "$run/sim-report.txt")"
[ "$rc" = 0 ] || fail "the update ended with $rc: $(cat "$run/app.out")"
grep -q '^final command: yes' "$run/sim-report.txt" || fail "no final command"
# Ended early, the device has every block up to where it stopped, each one intact.
grep -Eq '^image: (identical|incomplete \(([0-9]+) of 1231 blocks, first missing \2\))' "$run/sim-report.txt" ||
    fail "the device received other bytes: $(grep '^image:' "$run/sim-report.txt")"
grep -qx 'COMport=33' "$root/tmp/tq734-config/tq734-updater/settings" || fail "the port was not remembered"
# Laid out in Liberation Sans (Arial's metrics), the client area is that of the Windows dialog
# at Arial 8 pt; another font (the package without fonts-liberation) makes it larger.
[ "$size" = 321x312 ] || fail "the window is $size px, not 321x312: laid out in another font?"

# Without any display the installed program hands an automatic update to the one without a
# window, in /usr/libexec: the same update, its log on standard output.
"$sim" --link "$root/tmp/tq734-dev/ttyUSB1" --finish-after-block "$blocks" --report "$run/sim-headless.txt" \
    --timeout-s 120 >"$run/sim-headless.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do grep -q READY "$run/sim-headless.out" 2>/dev/null && break; sleep 0.05; done
rc=0
in_root env -u DISPLAY TQ734_DEVICE_DIR=/tmp/tq734-dev XDG_CONFIG_HOME=/tmp/tq734-config \
    timeout 60 /usr/bin/tq734-updater -a -p ttyUSB1 -t 30 >"$run/headless.log" 2>&1 || rc=$?
for _ in $(seq 100); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.05; done
say "without a display: exit code $rc; $(tail -n 1 "$run/headless.log")"
[ "$rc" = 0 ] || fail "the update without a display ended with $rc: $(cat "$run/headless.log")"
grep -q ' COM34 result code=0 ' "$run/headless.log" || fail "no result in the log: $(cat "$run/headless.log")"
grep -q '^final command: yes' "$run/sim-headless.txt" || fail "no final command without a display"

in_root apt-get "${apt_opts[@]}" purge -y tq734-updater >>"$log" 2>&1 || fail "apt-get purge"
in_root dpkg-query -W tq734-updater >/dev/null 2>&1 && fail "dpkg still knows tq734-updater after the purge"
left=""
while read -r f; do
    [ "$f" = /. ] && continue
    if [ -d "$root$f" ] && [ ! -L "$root$f" ]; then
        # A folder may stay only while another package owns it.
        in_root dpkg-query -S "$f" >/dev/null 2>&1 || left="$left $f"
    elif [ -e "$root$f" ] || [ -L "$root$f" ]; then
        left="$left $f"
    fi
done <"$run/files.txt"
[ -z "$left" ] || fail "left behind after the purge:$left"
say "purged: no file of the package left ($(wc -l <"$run/files.txt") paths checked)"
