#!/usr/bin/env bash
# Builds the three configurations from a clean tree and runs every test:
# natively under AddressSanitizer/UBSan, and the x86_64 build under Wine.
# As root it installs the Debian packages it lacks; otherwise it names them and stops.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
out=${TQ_BUILD_DIR:-$top/build/ci}
jobs=${TQ_JOBS:-2}

. "$top/tests/rig/packages.sh"
ensure_packages

echo "== configure and build (native, x86_64, i686)"
cmake -S . -B "$out/native" -DCMAKE_BUILD_TYPE=Debug >/dev/null
# The Wine tests run host tools (tq_pty, the simulator) from the native tree.
cmake -S . -B "$out/x86_64" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake \
    -DTQ_HOST_TOOLS_DIR="$out/native" >/dev/null
cmake -S . -B "$out/i686" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake -DTQ_TESTS=OFF >/dev/null
for b in native x86_64 i686; do
    cmake --build "$out/$b" -j"$jobs"
done

echo "== native tests (portable code, the Linux platform code, the GTK window through AT-SPI)"
ctest --test-dir "$out/native" --output-on-failure -j"$jobs"

echo "== fuzzing the frame receiver and classifier, then the engine (clang, libFuzzer, ${TQ_FUZZ_SECONDS:-30} s together)"
CC=clang CXX=clang++ cmake -S . -B "$out/fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTQ_FUZZ=ON \
    -DTQ_FUZZ_SECONDS="${TQ_FUZZ_SECONDS:-30}" >/dev/null
cmake --build "$out/fuzz" --target frame_fuzz engine_fuzz -j"$jobs"
ctest --test-dir "$out/fuzz" -R '^(frame|engine)_fuzz_short$' --output-on-failure

echo "== throwaway signing keys: a test CA with a code-signing certificate (also on a SoftHSM token), OpenPGP keys; removed after the signed release"
keys=$(mktemp -d)
trap 'bash tests/release/make_test_keys.sh --remove "$keys"' EXIT
bash tests/release/make_test_keys.sh "$keys"

echo "== release: built twice in two directories and compared"
unsigned_zip=$(bash tests/release/reproducible.sh "$out")

echo "== Linux package: built twice and compared, lintian; from a signed apt repository, installed, run and purged on a clean Debian 12 root"
bash tests/package/check_package.sh "$out/package" "$keys"

echo "== signed test release: refused bad keys, signatures verified and stripped to the unsigned build, gpgv and sqv, tampering caught; the Wine and guest tests run its programs"
export TQ_RELEASE_ZIP
TQ_RELEASE_ZIP=$(bash tests/release/signed.sh "$out" "$keys" "$unsigned_zip" "$(ls "$out"/package/deb-a/tq734-updater_*.deb)")
bash tests/release/make_test_keys.sh --remove "$keys"
trap - EXIT

echo "== Windows tests under Wine"
. "$top/tests/rig/wine_rig.sh"
trap rig_stop EXIT
rig_start "$out/wine-prefix"
# One at a time: the tests share the prefix's registry and its COM links.
ctest --test-dir "$out/x86_64" --output-on-failure -j1
rig_stop

echo "== the shipped i686 build under 32-bit Wine in an emulated Debian machine (cached in $out/guest)"
bash tests/guest/ci.sh "$out"
