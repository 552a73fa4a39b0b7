#!/usr/bin/env bash
# The Linux package as the test command proves it: tools/build_deb.sh refuses a release
# package from the placeholder image; the test package is built twice (here, and from a copy
# of the source in another place with another umask and time zone) and the two .deb files
# must be byte-identical; lintian reports no error and no warning; then clean_root.sh
# installs it on a fresh Debian 12 root, runs an update and purges it. Given KEYS (the throwaway
# keys of tests/release/make_test_keys.sh) it makes a signed apt repository of the package with
# tools/apt_repo.sh (OUT/apt-repo), and the clean root installs it from there.
#   check_package.sh OUT [KEYS]   (trees OUT/deb-a, OUT/deb-b; the clean root in OUT/clean-root)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"
out=$1 keys=${2:-}
mkdir -p "$out"
out=$(cd "$out" && pwd)
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
unset TQ_TEST_RELEASE

if bash tools/build_deb.sh "$out/deb-a" >"$out/deb-refusal.log" 2>&1; then
    echo "FAIL: tools/build_deb.sh made a release package from the placeholder image" >&2
    exit 1
fi
grep -q 'TQ734_CPU2_PLACEHOLDER' "$out/deb-refusal.log" ||
    { cat "$out/deb-refusal.log" >&2; echo "FAIL: refused, but not for the placeholder" >&2; exit 1; }
echo "   a release package from the placeholder image: refused"
# Another type name in the header (same length, so the same size): a release, not marked.
real=$out/deb-real
mkdir -p "$real"
{ printf 'TypFirmware=TQ734_CPU2_CANDIDATE01'; tail -c +35 resources/firmware.bin; } >"$real/image.bin"
cmake -S . -B "$real" -DTQ_SANITIZE=OFF -DTQ_TESTS=OFF "-DTQ_FIRMWARE_IMAGE=$real/image.bin" >"$real/configure.log" 2>&1 ||
    { cat "$real/configure.log" >&2; exit 1; }
grep -q 'set(CPACK_PACKAGE_VERSION "1.0.0")' "$real/CPackConfig.cmake" && ! grep -q 'TEST' "$real/CPackConfig.cmake" ||
    { echo "FAIL: a package of another image is marked as a test" >&2; exit 1; }
echo "   a package of another image: version 1.0.0, not marked"
# Its guide names the release package and says nothing of a test release.
cmake --build "$real" --target make_guide -j2 >"$real/build.log" 2>&1 || { cat "$real/build.log" >&2; exit 1; }
"$real/tools/release/make_guide" guide docs/guide.html.in docs/pictures >"$real/guide.html" ||
    { echo "FAIL: no guide for another image" >&2; exit 1; }
grep -qF "tq734-updater_1.0.0_$(dpkg --print-architecture).deb" "$real/guide.html" &&
    ! grep -qF -e '~test' -e 'class="test-release"' -e 'В тестовом выпуске' "$real/guide.html" ||
    { echo "FAIL: the guide of another image is not a firmware release's" >&2; exit 1; }
echo "   its guide: names the release package, no test notice"

deb_a=$(bash tools/build_deb.sh --test "$out/deb-a")
copy=$out/deb-repro/another/place/tq734
rm -rf "$out/deb-repro" "$out/deb-b"
mkdir -p "$copy"
git ls-files -z | xargs -0 cp --parents -t "$copy"
deb_b=$(cd "$copy" && umask 077 && TZ=Asia/Vladivostok bash tools/build_deb.sh --test "$out/deb-b")
a=$(sha256sum <"$deb_a" | cut -c1-64)
b=$(sha256sum <"$deb_b" | cut -c1-64)
echo "   ${deb_a##*/}: $a (in $out/deb-a)"
echo "   ${deb_b##*/}: $b (from $copy, umask 077, TZ=Asia/Vladivostok)"
[ "$a" = "$b" ] || { echo "FAIL: the two packages differ" >&2; exit 1; }
case ${deb_a##*/} in *~test_*) ;; *) echo "FAIL: the placeholder's package is not marked ~test" >&2; exit 1 ;; esac
dpkg-deb -f "$deb_a" Description | grep -q 'do not write it into TQ734 devices' ||
    { echo "FAIL: the test package's description does not say so" >&2; exit 1; }
# The guide inside names the package file it came in (a test build's ~test name included).
# Read whole before searching: grep -q would stop reading a guide larger than the pipe, and
# tar's broken pipe would fail the pipeline.
packaged_guide=$(dpkg-deb --fsys-tarfile "$deb_a" | tar -xO ./usr/share/doc/tq734-updater/guide.html)
grep -qF "${deb_a##*/}" <<<"$packaged_guide" ||
    { echo "FAIL: the package's guide does not name ${deb_a##*/}" >&2; exit 1; }

# lintian says that it should not run as root; that line is not a finding.
rc=0
findings=$(lintian --fail-on error,warning --info "$deb_a" 2>&1) || rc=$?
grep -v 'running with root privileges' <<<"$findings" | sed 's/^/   lintian: /' || true
[ "$rc" = 0 ] || { echo "FAIL: lintian reports errors or warnings" >&2; exit 1; }
echo "   lintian: no error, no warning"

cmake --build "$out/deb-a" --target tq734_sim -j2 >"$out/deb-a/sim-build.log" 2>&1 ||
    { cat "$out/deb-a/sim-build.log" >&2; exit 1; }
repo=()
if [ -n "$keys" ]; then
    GNUPGHOME=$keys/gnupg bash tools/apt_repo.sh --key "$(cat "$keys/openpgp.fpr")" "$out/apt-repo" "$deb_a"
    repo=("$out/apt-repo")
fi
start=$SECONDS
bash tests/package/clean_root.sh "$deb_a" "$out/deb-a/tools/simulator/tq734_sim" "$out/clean-root" "${repo[@]}"
echo "   clean root: $((SECONDS - start)) s"
