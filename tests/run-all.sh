#!/usr/bin/env bash
# Builds the three configurations from a clean tree and runs every test:
# natively under AddressSanitizer/UBSan, and the x86_64 build under Wine.
# As root it installs the Debian packages it lacks; otherwise it names them and stops.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
out=${TQ_BUILD_DIR:-$top/build/ci}
jobs=${TQ_JOBS:-2}

packages="g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  wine64 wine fonts-liberation fonts-wine xvfb xauth xdotool x11-utils imagemagick clang libclang-rt-14-dev
  googletest cmake g++ procps"
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing Debian packages:$missing" >&2
        echo "run this script as root to install them, or: sudo apt-get install$missing" >&2
        exit 1
    fi
    echo "== installing:$missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi

echo "== configure and build (native, x86_64, i686)"
cmake -S . -B "$out/native" -DCMAKE_BUILD_TYPE=Debug >/dev/null
# The Wine tests run host tools (tq_pty, the simulator) from the native tree.
cmake -S . -B "$out/x86_64" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake \
    -DTQ_HOST_TOOLS_DIR="$out/native" >/dev/null
cmake -S . -B "$out/i686" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake -DTQ_TESTS=OFF >/dev/null
for b in native x86_64 i686; do
    cmake --build "$out/$b" -j"$jobs"
done

echo "== native tests"
ctest --test-dir "$out/native" --output-on-failure -j"$jobs"

echo "== Windows tests under Wine"
. "$top/tests/rig/wine_rig.sh"
trap rig_stop EXIT
rig_start "$out/wine-prefix"
# One at a time: the tests share the prefix's registry and its COM links.
ctest --test-dir "$out/x86_64" --output-on-failure -j1
