#!/usr/bin/env bash
# The release as a technician gets it: unpacks the zip, checks SHA256SUMS (and that it covers
# every other file), and runs the unpacked x64/tq734-updater.exe -a against the simulator,
# which ends the update early with a finish reply 0: exit code 0 expected.
#   TQ_RELEASE_ZIP=ZIP unpacked_run.sh LOADER PROBE SIM OUTDIR    (exit code 77: no zip, skipped)
zip=${TQ_RELEASE_ZIP:-}
[ -f "$zip" ] || { echo "no release zip '$zip': tests/run-all.sh makes it and names it in TQ_RELEASE_ZIP"; exit 77; }
NAME=release_unpacked LOADER=$1 PROBE=$2 SIM=$3 OUTDIR=$4
dir=$OUTDIR/release-unpacked
UPDATER=$dir/x64/tq734-updater.exe
. "$(dirname "$0")/../e2e/lib.sh"

rm -rf "$dir"
unzip -q "$zip" -d "$dir" || fail "cannot unpack $zip"
(cd "$dir" && sha256sum --quiet -c SHA256SUMS) >>"$log" 2>&1 || fail "SHA256SUMS does not match"
listed=$(sed 's/^[0-9a-f]*  //' "$dir/SHA256SUMS" | sort)
present=$(cd "$dir" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | sort)
[ "$listed" = "$present" ] || fail "SHA256SUMS lists '$listed', the zip holds '$present'"
# Windows reads the guide's name as UTF-8 only when its local header carries flag bit 11.
at=$(zipinfo -v "$zip" | awk '$1 == "ИНСТРУКЦИЯ.html" { f = 1 } f && /offset of local header/ { print $NF; exit }')
[ -n "$at" ] || fail "no ИНСТРУКЦИЯ.html in the zip"
flags=$(od -An -tu2 -j $((at + 6)) -N2 "$zip" | tr -d ' ')
(( flags & 2048 )) || fail "the guide's name is not marked as UTF-8 (flags $flags)"

e2e_sim 61 --finish-after-block 20
remember 61
e2e_start -a
expect_exit 0 30000
e2e_sim_stop 0
report_of 61 | grep -q 'rx block 20$' || fail "block 20 never arrived"
report_of 61 | grep -q '^final command: yes' || fail "no final command"
exit 0
