#!/usr/bin/env bash
# The rig sourced a second time after its display is up (as tests/e2e/lib.sh is sourced by
# tools/release/take_pictures.sh) still stops that display in rig_stop. No Wine is needed:
# the server commands are stood in for by true.
set -u
here=$(cd "$(dirname "$0")" && pwd)
WINEPREFIX=$(mktemp -d)
WINE_SERVER=true
trap 'rm -rf "$WINEPREFIX"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
command -v Xvfb >/dev/null || fail "Xvfb is not installed"

. "$here/wine_rig.sh"
rig_display || fail "rig_display"
pid=$RIG_XVFB_PID
[ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || fail "no display started"
. "$here/wine_rig.sh"
[ "$RIG_XVFB_PID" = "$pid" ] || { kill "$pid"; fail "sourcing again lost the display's pid"; }
rig_stop
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && { kill "$pid"; fail "rig_stop left Xvfb $pid running"; }
echo "rig sourced twice: its display stopped"
