#!/usr/bin/env bash
# How long the port list's scan takes (COM1 to COM256, at start-up and each time the list is
# opened): Linux natively and the Windows build under Wine, with every port absent and with
# eight simulated adapters present. Not a test: run it by hand on a quiet machine.
#   bash tools/scan_time.sh        (builds what it needs under $TQ_BUILD_DIR, default build/scan)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
out=${TQ_BUILD_DIR:-$top/build/scan}
. tests/rig/packages.sh
ensure_packages
# Without sanitizers, as the .deb has it; the simulator plays the adapters.
cmake -S . -B "$out/native-release" -DCMAKE_BUILD_TYPE=Release -DTQ_SANITIZE=OFF -DTQ_TESTS=OFF >/dev/null
cmake --build "$out/native-release" --target scan_time tq734_sim -j2 >/dev/null
cmake -S . -B "$out/x86_64" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake -DTQ_TESTS=OFF \
    >/dev/null
cmake --build "$out/x86_64" --target scan_time -j2 >/dev/null
sim=$out/native-release/tools/simulator/tq734_sim

. tests/rig/wine_rig.sh
sim_pids=()
unplug() {
    local p
    for p in "${sim_pids[@]}"; do kill "$p" 2>/dev/null || true; done
    for p in "${sim_pids[@]}"; do wait "$p" 2>/dev/null || true; done
    sim_pids=()
}
trap 'unplug; rig_stop' EXIT
# plug LINK...: a simulated adapter behind each link, ready when this returns.
plug() {
    local link
    for link; do
        "$sim" --link "$link" --report "$out/scan-$(basename "$link").report" --timeout-s 300 \
            >"$out/scan-$(basename "$link").out" 2>&1 &
        sim_pids+=($!)
    done
    for link; do
        for _ in $(seq 100); do grep -q READY "$out/scan-$(basename "$link").out" && break; sleep 0.05; done
    done
}

dev=$out/scan-dev
rm -rf "$dev"
mkdir -p "$dev"
echo "Linux, every port absent:   $(TQ734_DEVICE_DIR=$dev "$out/native-release/tools/scan_time/scan_time")"
plug "$dev"/ttyUSB{0..7}
echo "Linux, 8 adapters present:  $(TQ734_DEVICE_DIR=$dev "$out/native-release/tools/scan_time/scan_time")"
unplug

rig_start "$out/wine-prefix"
# Wine's own links for the machine's serial devices go; it may still keep a COM1 of its own.
rm -f "$WINEPREFIX"/dosdevices/com*
wine_scan() { "$WINE_LOADER" "$out/x86_64/tools/scan_time/scan_time.exe" | tr -d '\r'; }
echo "Wine, every port absent:    $(wine_scan)"
plug "$WINEPREFIX"/dosdevices/com{5..12}
echo "Wine, 8 adapters present:   $(wine_scan)"
