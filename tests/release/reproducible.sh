#!/usr/bin/env bash
# The release, built twice and compared byte for byte: once from the test command's own trees
# (OUT/native, OUT/i686, OUT/x86_64) and once by tools/release.sh from a copy of the source in
# another directory, later, with fresh builds. Prints the first zip's path on stdout. The source
# carries the placeholder image, so both are test releases (tq734-updater-<version>-TEST.zip).
#   reproducible.sh OUT
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"
out=$1
. tools/build_release.sh
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
export TQ_TEST_RELEASE=1

# A release that is not asked to be a test release refuses the placeholder image.
if TQ_TEST_RELEASE=0 package_release "$out" "$out/dist" >/dev/null 2>&1; then
    echo "a release without --test was made from the placeholder image" >&2
    exit 1
fi
zip_a=$(package_release "$out" "$out/dist")
case $zip_a in *-TEST.zip) ;; *) echo "the test release is named ${zip_a##*/}" >&2; exit 1 ;; esac
head -c 200 "$out/release-stage/FIRMWARE.txt" | grep -q 'ТЕСТОВЫЙ ВЫПУСК' ||
    { echo "FIRMWARE.txt does not begin with the test release's notice" >&2; exit 1; }
grep -A1 '^<h1>' "$out/release-stage/ИНСТРУКЦИЯ.html" | grep -q 'class="test-release"' ||
    { echo "the guide does not begin with the test release's notice" >&2; exit 1; }
# The guide names the zip it came in, and every file the zip holds.
grep -qF "<b>${zip_a##*/}</b>" "$out/release-stage/ИНСТРУКЦИЯ.html" ||
    { echo "the guide does not name its zip, ${zip_a##*/}" >&2; exit 1; }
for f in $(LC_ALL=C.UTF-8 unzip -Z1 "$zip_a"); do
    grep -qF "<td class=\"nowrap\">$f</td>" "$out/release-stage/ИНСТРУКЦИЯ.html" ||
        grep -qF "<tr><td>$f</td>" "$out/release-stage/ИНСТРУКЦИЯ.html" ||
        { echo "the guide's list of the zip's files lacks $f" >&2; exit 1; }
done
copy=$out/repro/another/place/tq734
rm -rf "$out/repro"
mkdir -p "$copy"
git ls-files -z | xargs -0 cp --parents -t "$copy"
(cd "$copy" && TQ_BUILD_DIR="$copy/build" TQ_DIST_DIR="$copy/dist" bash tools/release.sh >"$out/repro/release.log" 2>&1) ||
    { cat "$out/repro/release.log" >&2; exit 1; }
zip_b=$copy/dist/${zip_a##*/}

same=1
for f in tq734-updater.exe x64/tq734-updater.exe ИНСТРУКЦИЯ.html FIRMWARE.txt SHA256SUMS; do
    a=$(sha256sum <"$out/release-stage/$f" | cut -c1-64)
    b=$(sha256sum <"$copy/build/release-stage/$f" | cut -c1-64)
    [ "$a" = "$b" ] || { echo "differs: $f ($a / $b)" >&2; same=0; }
done
a=$(sha256sum <"$zip_a" | cut -c1-64)
b=$(sha256sum <"$zip_b" | cut -c1-64)
echo "${zip_a##*/}: $a (in $out)" >&2
echo "${zip_a##*/}: $b (in $copy, built $(date -u +%H:%M:%S))" >&2
[ "$a" = "$b" ] && [ "$same" = 1 ] || { echo "the two releases differ" >&2; exit 1; }
echo "$zip_a"
