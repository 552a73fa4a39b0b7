#!/usr/bin/env bash
# The release a technician is handed: dist/tq734-updater-<version>.zip with both programs, the
# guide in Russian, FIRMWARE.txt and SHA256SUMS. Reproducible: every entry carries the time of
# the last commit (or SOURCE_DATE_EPOCH), so the same source gives the same bytes anywhere.
# It refuses the placeholder image unless asked for a test release (--test or TQ_TEST_RELEASE=1):
# dist/tq734-updater-<version>-TEST.zip, marked as such in its guide and FIRMWARE.txt.
# As root it installs the Debian packages it lacks.
#   bash tools/release.sh [--test]   (TQ_BUILD_DIR, default build/release; TQ_DIST_DIR, default dist)
set -euo pipefail
for arg in "$@"; do
    case $arg in
    --test) TQ_TEST_RELEASE=1 ;;
    *) echo "usage: bash tools/release.sh [--test]" >&2; exit 2 ;;
    esac
done
export TQ_TEST_RELEASE=${TQ_TEST_RELEASE:-0}
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
out=${TQ_BUILD_DIR:-$top/build/release}
dist=${TQ_DIST_DIR:-$top/dist}
. tests/rig/packages.sh
ensure_packages
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$top" log -1 --format=%ct 2>/dev/null) ||
        { echo "no git history here: set SOURCE_DATE_EPOCH" >&2; exit 1; }
fi
export SOURCE_DATE_EPOCH

echo "== building the release (i686, x86_64, release tools)"
. tools/build_release.sh
build_release_programs "$out"
zip=$(package_release "$out" "$dist")
echo "== $zip"
unzip -l "$zip" | sed 's/^/   /'
echo "   SHA-256: $(sha256sum "$zip" | cut -c1-64)"
