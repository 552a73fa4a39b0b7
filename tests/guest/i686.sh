#!/usr/bin/env bash
# The release's programs in the guest: one boot runs every case (tests/guest/i686_job.sh) and
# records each one's result; the ctest tests i686_* then read those results.
#   i686.sh boot CACHE RESULTS SIM I686_PROBE_DIR X86_64_PROBE_DIR
#                   TQ_RELEASE_ZIP names the zip (exit 77 without it: skipped); TQ_GUEST_CASES
#                   names the cases to run (default: the CI set)
#   i686.sh prepare image|prefixes CACHE
#                   the guest's image or Wine prefixes (skipped, 77, without TQ_RELEASE_ZIP:
#                   nothing would use them)
#   i686.sh check RESULTS CASE      the recorded result of one case, its log when it failed
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)

# The x86_64 cases (x86_64_mid_transfer, x86_64_whole_update: the other build in the same guest,
# for pictures and times side by side) are run by hand only: the host's Wine tests cover it.
ci_cases="i686_short_update_win64 i686_short_update_win32 i686_poll i686_dpi_change i686_adapter_replug
  i686_whole_update i686_station"

boot() {
    local cache=$1 results=$2 sim=$3 probe32=$4 probe64=$5 zip=${TQ_RELEASE_ZIP:-} job rc f
    rm -rf "$results"
    mkdir -p "$results"
    if [ ! -f "$zip" ]; then
        echo "no release zip '$zip': tests/run-all.sh makes it and names it in TQ_RELEASE_ZIP" | tee "$results/skipped"
        exit 77
    fi
    for f in "$sim" "$probe32/window_probe.exe" "$probe32/window_probe_hook.dll" \
             "$probe64/window_probe.exe" "$probe64/window_probe_hook.dll"; do
        [ -f "$f" ] || { echo "missing $f" >&2; exit 1; }
    done
    mkdir -p "$cache"
    job=$(mktemp -d "$cache/i686-job.XXXXXX")
    cp "$here/i686_job.sh" "$job/job.sh"
    mkdir -p "$job/tests/e2e" "$job/tests/rig" "$job/tests/guest" "$job/sim" "$job/probe-i686" "$job/probe-x86_64"
    cp "$top"/tests/e2e/{lib.sh,scenario.sh,dpi_change.sh} "$job/tests/e2e/"
    cp "$top/tests/rig/wine_rig.sh" "$job/tests/rig/"
    cp "$here/cases.sh" "$job/tests/guest/"
    unzip -q "$zip" -d "$job/release" || { rm -rf "$job"; exit 1; }
    cp "$probe32"/window_probe.exe "$probe32"/window_probe_hook.dll "$job/probe-i686/"
    cp "$probe64"/window_probe.exe "$probe64"/window_probe_hook.dll "$job/probe-x86_64/"
    # The host's simulator runs in the guest as it is (same Debian release, same libraries).
    cp "$sim" "$job/sim/tq734_sim"
    cp "$top/resources/firmware.bin" "$job/sim/"
    printf '#!/bin/sh\nexec /job/sim/tq734_sim --image /job/sim/firmware.bin "$@"\n' >"$job/sim/sim.sh"
    chmod +x "$job/sim/sim.sh"
    echo ${TQ_GUEST_CASES:-$ci_cases} | tr ' ' '\n' >"$job/cases"
    echo 2400 >"$job/time-limit"
    bash "$here/run.sh" job "$cache" "$job" "$results" 2600
    rc=$?
    rm -rf "$job"
    echo "boot: $(cat "$results/boot-seconds" 2>/dev/null) s in all"
    cat "$results/times" 2>/dev/null
    for f in "$results"/*/seconds; do
        [ -f "$f" ] && echo "$(basename "$(dirname "$f")"): exit $(cat "$(dirname "$f")/rc"), $(cat "$f") s"
    done
    return "$rc"
}

check() {
    local results=$1 case=$2 dir=$1/$2
    [ -f "$results/skipped" ] && { cat "$results/skipped"; exit 77; }
    [ -f "$dir/rc" ] || { echo "$case did not run in the guest (see $results/job.log)"; exit 1; }
    rc=$(cat "$dir/rc")
    echo "$case: exit $rc after $(cat "$dir/seconds") s in the guest"
    ls "$dir"/*.png 2>/dev/null
    [ "$rc" = 0 ] && exit 0
    tail -n 40 "$dir"/*.log 2>/dev/null
    exit 1
}

prepare() {
    [ -f "${TQ_RELEASE_ZIP:-}" ] || { echo "no release zip '${TQ_RELEASE_ZIP:-}': nothing to run in the guest"; exit 77; }
    exec bash "$here/run.sh" "$1" "$2"
}

case ${1:-} in
prepare) shift; [ $# -eq 2 ] || { sed -n '2,11p' "$0" >&2; exit 2; }; prepare "$@" ;;
boot) shift; [ $# -eq 5 ] || { sed -n '2,11p' "$0" >&2; exit 2; }; boot "$@" ;;
check) shift; [ $# -eq 2 ] || { sed -n '2,11p' "$0" >&2; exit 2; }; check "$@" ;;
*) sed -n '2,11p' "$0" >&2; exit 2 ;;
esac
