#!/usr/bin/env bash
# Runs our Windows programs under 32- or 64-bit Wine inside an emulated Debian 12 amd64 machine
# (QEMU, no KVM needed), for the builds this host cannot run itself (the i686 one: this
# kernel refuses 32-bit code). CACHE keeps the guest's image and Wine prefixes between runs;
# they are made again when their recipe (image.sh, init.sh, prefixes_job.sh) changes.
#   run.sh image CACHE                      build the guest image unless cached
#   run.sh prefixes CACHE                   and the Wine prefixes layer
#   run.sh job CACHE JOBDIR OUT SECONDS     boot once and run JOBDIR/job.sh inside; OUT gets
#                                           what it wrote, the console log and the boot's time
#   run.sh exe CACHE OUT win64|win32 PROGRAM.exe [ARGS...]
#                                           run one program (with the files beside it) and
#                                           pass when it exits 0
# Needs root to build the image (mmdebstrap). QEMU is stopped by its pid, pass or fail.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/guest.sh"
trap guest_stop EXIT
trap 'guest_stop; exit 130' INT TERM

cmd=${1:-}
[ $# -ge 2 ] || { sed -n '2,15p' "$0" >&2; exit 2; }
cache=$2
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)

layer() { echo "$cache/prefixes-$(guest_prefixes_key).qcow2"; }

case $cmd in
image)
    guest_image "$cache"
    ;;
prefixes)
    guest_prefixes "$cache"
    ;;
job)
    [ $# -eq 5 ] || { echo "usage: run.sh job CACHE JOBDIR OUT SECONDS" >&2; exit 2; }
    guest_prefixes "$cache" || exit 1
    guest_boot "$(layer)" "$3" "$4" "$5"
    ;;
exe)
    [ $# -ge 5 ] || { echo "usage: run.sh exe CACHE OUT win64|win32 PROGRAM.exe [ARGS...]" >&2; exit 2; }
    out=$3 arch=$4 program=$5
    shift 5
    guest_prefixes "$cache" || exit 1
    # A 64-bit program goes to the 64-bit loader (the PE header's machine field).
    pe=$(od -An -tu4 -j 60 -N4 "$program" | tr -d ' ')
    loader=wine
    [ "$(od -An -tx2 -j $((pe + 4)) -N2 "$program" | tr -d ' ')" = 8664 ] && loader=/usr/lib/wine/wine64
    job=$(mktemp -d "$cache/exe-job.XXXXXX")
    cp -r "$(dirname "$program")" "$job/program"
    {
        echo '#!/bin/bash'
        echo "export WINEPREFIX=/root/prefix-$arch WINEDEBUG=-all LC_ALL=C.UTF-8"
        echo "cd /job/program && $loader $(printf '%q ' "./$(basename "$program")" "$@") >\"\$1/program.log\" 2>&1"
        echo 'rc=$?; /usr/lib/wine/wineserver64 -k; exit $rc'
    } >"$job/job.sh"
    guest_boot "$(layer)" "$job" "$out" 900
    rc=$?
    rm -rf "$job"
    cat "$out/program.log" 2>/dev/null
    if [ "$rc" = 0 ]; then echo "PASS: $(basename "$program") $* (in the guest, $arch prefix)"
    else echo "FAIL: $(basename "$program") $* exited $rc (in the guest, $arch prefix)"; fi
    exit "$rc"
    ;;
*)
    sed -n '2,15p' "$0" >&2
    exit 2
    ;;
esac
