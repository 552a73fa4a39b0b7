#!/usr/bin/env bash
# The station's answers before any window: --help and --version on standard output (exit 0),
# a malformed command line refused with its reason on standard error (exit 2).
#   command_line.sh STATION
set -u
station=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
out=$(env -u DISPLAY "$station" --help) || fail "--help exit $?"
grep -q '^Использование: tq734-station' <<<"$out" || fail "--help: $out"
out=$(env -u DISPLAY "$station" --version) || fail "--version exit $?"
grep -q '^tq734-station [0-9]' <<<"$out" && grep -q 'CRC_FIRMWARE 0x' <<<"$out" || fail "--version: $out"
for words in "COM21 com21" "COM0" "ttyUSB0 COM33" "-t 0 COM1" "-x" "COM200"; do
    err=$(env -u DISPLAY "$station" $words 2>&1 >/dev/null)
    code=$?
    [ "$code" = 2 ] || fail "'$words': exit $code"
    grep -q '^tq734-station: ' <<<"$err" || fail "'$words': $err"
done
echo PASS
