#!/usr/bin/env bash
# The technician's guide as make_guide fills it for a test release: the names and values it takes
# from the build, the test release's own sentences, an advice for every result code, and the
# template mistakes that must stop a release instead of shipping a gap.
#   guide_texts.sh MAKE_GUIDE OUTDIR
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
make_guide=$1
out=$2
mkdir -p "$out"
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }
has() { grep -qF -- "$2" "$1" || fail "${3:-the guide lacks: $2}"; }
lacks() { ! grep -qF -- "$2" "$1" || fail "${3:-the guide has: $2}"; }

version=$("$make_guide" version)
arch=$(dpkg --print-architecture 2>/dev/null || echo amd64)
guide=$out/test-guide.html
"$make_guide" --test guide "$top/docs/guide.html.in" "$top/docs/pictures" >"$guide" ||
    { echo "FAIL: make_guide --test guide" >&2; exit 1; }

# Names and values from the build.
has "$guide" "tq734-updater_${version}~test_${arch}.deb"
lacks "$guide" "tq734-updater_${version}_${arch}.deb" "a test release's guide names the release package"
has "$guide" "tq734-updater-${version}-TEST.zip"
has "$guide" "создана 11&nbsp;февраля 2025&nbsp;г. в 17:30:32"
has "$guide" "«Прошивка(версия 2.385) была создана Feb 11 2025 в 17:30:32»"
has "$guide" "firmware-support@ostrel.ru"
has "$guide" "CN=Ostrel"
# What only a test release says.
has "$guide" 'class="test-release"'
has "$guide" "В тестовом выпуске эта версия ничего не значит"
has "$guide" "эта проверка ничего не значит"
has "$guide" "«~test» в имени пакета"
# Every place filled (pictures are base64, which has no @).
if grep -v 'base64' "$guide" | grep -E '@[A-Z_]+' | grep -v 'firmware-support@' | grep -q .; then
    fail "unfilled places: $(grep -v base64 "$guide" | grep -oE '@[A-Z_]+[^@]*@?' | head -3)"
fi
# The device's result codes: one row per text, each with what to do.
codes=$out/result-codes.html
sed -n '/^<table class="codes">/,/^<\/table>/p' "$guide" >"$codes"
rows=$(grep -c '^<tr><td class="code">' "$codes" || true)
advised=$(grep -cE '^<tr><td class="code">.*</td><td>.*</td><td>.+</td></tr>$' "$codes" || true)
[ "$rows" = 12 ] || fail "result code rows: $rows, expected 12"
[ "$advised" = "$rows" ] || fail "result code rows with advice: $advised of $rows"
grep -q '^<tr><td class="code">8, 13–255</td>.*Выключите и включите питание' "$codes" ||
    fail "codes 8, 13–255 without their advice"
grep -q '^<tr><td class="code">4</td>.*Повторите обновление' "$codes" || fail "code 4 is not a passing fault"

# A firmware release's guide is never made from the placeholder image.
if "$make_guide" guide "$top/docs/guide.html.in" "$top/docs/pictures" >/dev/null 2>&1; then
    fail "make_guide described the placeholder image as a firmware release"
fi

# Template mistakes stop make_guide: a result code without advice, a condition left open or
# closed twice, advice given twice, an unknown place.
# Refused means exit code 1 with a message, not a crash.
bad() {
    local rc=0
    printf '%s' "$2" >"$out/bad.html.in"
    "$make_guide" --test guide "$out/bad.html.in" "$top/docs/pictures" >/dev/null 2>"$out/bad.err" || rc=$?
    if [ "$rc" != 1 ] || ! grep -q '^template: ' "$out/bad.err"; then
        fail "a template with $1: exit code $rc, $(head -c 200 "$out/bad.err")"
    fi
}
bad "a code without advice" '@RESULT_ADVICE 1 2 3 4 5 6 7 9 10 11 12: x@<table>@RESULT_CODES@</table>'
bad "two advices for one code" '@RESULT_ADVICE 4: x@@RESULT_ADVICE 4: y@'
bad "advice for no code" '@RESULT_ADVICE x: y@'
bad "advice without its text" '@RESULT_ADVICE 4: @'
bad "advice without its colon" '@RESULT_ADVICE 4 y@'
bad "an open condition" '@IF_TEST@ text'
bad "a nested condition" '@IF_TEST@@IF_RELEASE@@END_IF@'
bad "an unpaired end" '@END_IF@'
bad "an unknown place" '@NO_SUCH_PLACE@'
# A condition drops its text in the other kind of release, and its places are still checked.
printf 'a@IF_TEST@b@END_IF@c@IF_RELEASE@d@END_IF@e' >"$out/cond.html.in"
[ "$("$make_guide" --test guide "$out/cond.html.in" "$top/docs/pictures")" = abce ] || fail "@IF_TEST@ in a test release"
bad "an unknown place inside a dropped condition" '@IF_RELEASE@@NO_SUCH_PLACE@@END_IF@'

[ "$failed" = 0 ] && echo "guide texts: ok"
exit "$failed"
