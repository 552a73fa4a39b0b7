#!/usr/bin/env bash
# Builds the Linux package: a hardened release build without the sanitizers (Debian's build
# flags), then CPack. Reproducible: every member carries the time of the last commit (or
# SOURCE_DATE_EPOCH), so the same source gives the same bytes. As root it installs the
# Debian packages it lacks; otherwise it names them.
# It refuses to make a release package from the placeholder image; a test package (version
# <version>~test, its description saying that the firmware must not be written into devices)
# is made with --test or TQ_TEST_RELEASE=1. Prints the .deb's path.
#   bash tools/build_deb.sh [--test] [OUTDIR]      (default build/deb; the .deb lands there)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
test_build=${TQ_TEST_RELEASE:-0}
if [ "${1:-}" = --test ]; then
    test_build=1
    shift
fi
out=${1:-$top/build/deb}
case $out in /*) ;; *) out=$top/$out ;; esac
[ "$test_build" = 1 ] && test_flag=ON || test_flag=OFF

. tests/rig/packages.sh
# What a package build needs, not the whole test rig (CPack finds the libraries with file
# and dpkg-shlibdeps).
TQ_PACKAGES="cmake make g++ pkg-config libgtk-3-dev dpkg-dev file git" ensure_packages >&2
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$top" log -1 --format=%ct 2>/dev/null) ||
        { echo "no git history here: set SOURCE_DATE_EPOCH" >&2; exit 1; }
fi
export SOURCE_DATE_EPOCH
# Files the build makes (the compressed pages, the guide) get Debian's modes whatever the
# caller's umask; CPack's folders too (CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS).
umask 022

# Debian's hardening (relro and bindnow, fortified functions with -O2, the strong stack
# protector). No -g: no debug package is made, and the program is stripped.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cppflags=$(dpkg-buildflags --get CPPFLAGS)
cxxflags=$(dpkg-buildflags --get CXXFLAGS | sed 's/\(^\| \)-g\( \|$\)/\1/')
cflags=$(dpkg-buildflags --get CFLAGS | sed 's/\(^\| \)-g\( \|$\)/\1/')
ldflags=$(dpkg-buildflags --get LDFLAGS)
# No build path in the program: the source and the build folder (the later one wins).
maps="-ffile-prefix-map=$top/= -ffile-prefix-map=$out/="

mkdir -p "$out"
log=$out/build-deb.log
image_option=()
[ -n "${TQ_FIRMWARE_IMAGE:-}" ] && image_option=("-DTQ_FIRMWARE_IMAGE=$TQ_FIRMWARE_IMAGE")
if ! cmake -S . -B "$out" -DCMAKE_BUILD_TYPE=Release -DTQ_SANITIZE=OFF -DTQ_TESTS=OFF \
        -DCMAKE_C_FLAGS_RELEASE=-DNDEBUG -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG \
        "-DCMAKE_C_FLAGS=$cppflags $cflags $maps" "-DCMAKE_CXX_FLAGS=$cppflags $cxxflags $maps" \
        "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" -DTQ_TEST_PACKAGE=$test_flag "${image_option[@]}" >"$log" 2>&1; then
    cat "$log" >&2
    echo "build_deb: the configuration failed (above)" >&2
    exit 1
fi
if [ ! -f "$out/CPackConfig.cmake" ]; then
    cat "$log" >&2
    echo "build_deb: this configuration cannot make the package (is libgtk-3-dev installed? see above)" >&2
    exit 1
fi
if grep -q '^TQ_FIRMWARE_PLACEHOLDER:INTERNAL=ON' "$out/CMakeCache.txt" && [ "$test_build" != 1 ]; then
    echo "build_deb: the firmware image is the placeholder (TypFirmware=TQ734_CPU2_PLACEHOLDER), a test image" >&2
    echo "that must not reach devices. Put the firmware release in resources/firmware.bin (or name it in" >&2
    echo "TQ_FIRMWARE_IMAGE), or make a test package: bash tools/build_deb.sh --test" >&2
    exit 1
fi
if ! cmake --build "$out" --target tq734_updater tq734_updater_console tq734_station tq734_deb_files -j2 >>"$log" 2>&1; then
    cat "$log" >&2
    echo "build_deb: the build failed (above)" >&2
    exit 1
fi
rm -f "$out"/tq734-updater_*.deb
if ! (cd "$out" && cpack -G DEB) >>"$log" 2>&1; then
    cat "$log" >&2
    echo "build_deb: CPack failed (above)" >&2
    exit 1
fi
ls "$out"/tq734-updater_*.deb
