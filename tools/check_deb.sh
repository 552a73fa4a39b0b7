#!/usr/bin/env bash
# Builds the .deb, installs it with apt (as root), and runs the installed program with -a
# through a whole update against the simulator, under a display of its own. Prints the
# outcome; exit status 0 when the update ended with 0 and a byte-identical image.
# --test (or TQ_TEST_RELEASE=1) as for tools/build_deb.sh: needed while the image is the placeholder.
#   bash tools/check_deb.sh [--test] [OUTDIR]      (default build/deb)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
test_option=()
if [ "${1:-}" = --test ]; then
    test_option=(--test)
    shift
fi
out=${1:-$top/build/deb}
. tests/rig/packages.sh
ensure_packages
deb=$(bash tools/build_deb.sh "${test_option[@]}" "$out")
cmake --build "$out" --target tq734_sim -j2 >/dev/null
apt-get install -y -qq "$deb" >/dev/null
echo "installed: $(dpkg-query -W -f='${Package} ${Version} ${Status}' tq734-updater)"

run=$out/check
rm -rf "$run"
mkdir -p "$run/dev" "$run/config/tq734-updater"
xvfb_pid="" sim_pid=""
# Under set -e a failed kill (the simulator has usually ended by itself) would end the
# clean-up early, leave the display running and turn the exit status into 1.
stop_all() {
    for p in $sim_pid $xvfb_pid; do kill "$p" 2>/dev/null || true; done
    for p in $sim_pid $xvfb_pid; do wait "$p" 2>/dev/null || true; done
}
trap stop_all EXIT
for n in 40 41 42 43 44 45 46 47 48 49; do
    [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ] || break
done
Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$run/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do [ -e /tmp/.X11-unix/X$n ] && break; sleep 0.1; done
"$out/tools/simulator/tq734_sim" --link "$run/dev/ttyUSB0" --report "$run/sim-report.txt" --timeout-s 200 \
    >"$run/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do grep -q READY "$run/sim.out" && break; sleep 0.05; done
echo "COMport=33" >"$run/config/tq734-updater/settings"
start=$(date +%s)
rc=0
DISPLAY=:$n TQ734_DEVICE_DIR=$run/dev XDG_CONFIG_HOME=$run/config timeout 150 /usr/bin/tq734-updater -a || rc=$?
# The simulator ends 500 ms after the final command and completes its report then.
for _ in $(seq 100); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.05; done
echo "exit code $rc after $(( $(date +%s) - start )) s; $(grep '^image:' "$run/sim-report.txt"); remembered: $(cat "$run/config/tq734-updater/settings")"
[ "$rc" -eq 0 ] && grep -q '^image: identical' "$run/sim-report.txt"
