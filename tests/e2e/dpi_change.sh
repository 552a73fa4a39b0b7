#!/usr/bin/env bash
# The window moves to monitors of other DPIs (WM_DPICHANGED from the window probe): the bold
# fonts of "СТАРТ" and the two lines are made again for each DPI, the window takes the
# suggested rectangle, and the program goes on working.
#   dpi_change.sh LOADER UPDATER PROBE SIM OUTDIR
NAME=dpi_change LOADER=$1 UPDATER=$2 PROBE=$3 SIM=$4 OUTDIR=$5
. "$(dirname "$0")/lib.sh"

# expect_fonts START STATUS INFO [OLD]: the heights the controls' fonts were created with, and
# what became of the fonts they had at the previous look ("deleted", or "" at the first look).
expect_fonts() {
    local got old=${4:-}
    got=$(probe fonts | tr '\n' ' ')
    [ "$got" = "c112.font=$1 c112.old_font=$old c117.font=$2 c117.old_font=$old c118.font=$3 c118.old_font=$old " ] ||
        fail "fonts '$got', expected $1 $2 $3, old ones '$old'"
}

e2e_sim 61
remember 61
e2e_start
wait_for status 'Нажмите "Старт"'
expect_fonts -13 -13 -16
# dpi, suggested rectangle, then the heights: -13 and -16 scaled like Arial 8 pt at that dpi.
while read -r dpi rect fonts; do
    probe dpi "$dpi" ${rect//,/ } || fail "WM_DPICHANGED $dpi not delivered"
    expect window "$rect"
    expect_fonts $fonts deleted
done <<'ROWS'
144 40,30,491,506 -19 -19 -23
120 60,50,409,422 -15 -15 -19
96 80,70,327,337 -13 -13 -16
192 20,10,654,674 -25 -25 -31
ROWS
shot dpi-192
expect status 'Нажмите "Старт"'
probe click 111
wait_for info 'Версия : 2.385'
probe click 115
expect_exit 127
