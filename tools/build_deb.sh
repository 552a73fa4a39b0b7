#!/usr/bin/env bash
# Builds the Linux package: a release build without the sanitizers, then CPack.
#   bash tools/build_deb.sh [OUTDIR]      (default build/deb; the .deb lands there)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
out=${1:-$top/build/deb}
cmake -S . -B "$out" -DCMAKE_BUILD_TYPE=Release -DTQ_SANITIZE=OFF -DTQ_TESTS=OFF >/dev/null
cmake --build "$out" --target tq734_updater -j2 >/dev/null
(cd "$out" && cpack -G DEB >/dev/null)
ls "$out"/tq734-updater_*.deb
