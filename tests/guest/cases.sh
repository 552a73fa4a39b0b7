#!/usr/bin/env bash
# Scenarios that the guest runs with the release's programs, beside the ones it borrows from
# tests/e2e (same helpers, same arguments):
#   cases.sh NAME LOADER UPDATER PROBE SIM OUTDIR
NAME=$1 LOADER=$2 UPDATER=$3 PROBE=$4 SIM=$5 OUTDIR=$6
. "$(dirname "$0")/../e2e/lib.sh"

# Every block the device hears for the first time follows the one before it.
blocks_in_order() {
    report_of 61 | awk '/ rx block [0-9]+$/ { if ($4 != next_block) { print "block " $4 " after " next_block - 1; bad = 1 }
                                             next_block = $4 + 1 } END { exit bad }' >>"$log"
}

case $NAME in
short_update)
    # A script's run, ended early by the device's finish reply 0.
    e2e_sim 61 --finish-after-block 20
    remember 61
    e2e_start -a
    expect_exit 0 30000
    e2e_sim_stop 0
    report_of 61 | grep -q 'rx block 20$' || fail "block 20 never arrived"
    report_of 61 | grep -q '^final command: yes' || fail "no final command"
    [ "$(remembered)" = 3d ] || fail "COMport not remembered as 61"
    ;;
whole_update)
    # All 1,231 blocks as a script runs them; a picture of the window halfway.
    e2e_sim 61
    remember 61
    start=$(date +%s)
    e2e_start -a
    wait_for block_progress 600 90000
    shot mid-transfer
    expect_exit 0 200000
    e2e_sim_stop 0
    echo "whole update: $(( $(date +%s) - start )) s from the start, $(report_of 61 | grep '^summary')" | tee -a "$log"
    report_of 61 | grep -q '^image: identical' || fail "image not identical"
    report_of 61 | grep -q '^final command: yes' || fail "no final command"
    blocks_in_order || fail "a block was skipped"
    [ "$(remembered)" = 3d ] || fail "COMport not remembered as 61"
    ;;
mid_transfer_shot)
    # The window halfway through a shorter update, to set beside another build's.
    e2e_sim 61 --finish-after-block 300
    remember 61
    e2e_start -a
    wait_for block_progress 150 60000
    shot mid-transfer
    expect_exit 0 60000
    ;;
replug_once)
    # The adapter pulled at block 50 and plugged back 3 s later under the same COM number:
    # the channel opens the port again and the update goes on from where it was.
    e2e_sim 61 --unplug-at-block 50 --unplug-seconds 3 --finish-after-block 120
    remember 61
    e2e_start -a
    expect_exit 0 90000
    e2e_sim_stop 0
    [ "$(report_of 61 | grep -c 'plugged back on')" = 1 ] || fail "the adapter was not pulled once"
    report_of 61 | grep -q 'rx block 120$' || fail "block 120 never arrived"
    report_of 61 | grep -q '^final command: yes' || fail "no final command"
    blocks_in_order || fail "a block was skipped"
    ;;
station_short)
    # The release's station beside its updater: a device arrives, is updated by a windowless
    # child, recorded, and left connected is not updated again; the station's end leaves no child.
    records=$OUTDIR/$NAME-records.jsonl
    e2e_display
    e2e_sim 61 --version 2.384 --arrive-after-ms 500 --finish-after-block 20 --keep-running
    "$LOADER" "${UPDATER%/*}/tq734-station.exe" COM61 -r "Z:${records//\//\\}" >>"$log" 2>&1 &
    app_pid=$!
    for _ in $(seq $((600 * slow))); do grep -q '"result":"ok"' "$records" 2>/dev/null && break; sleep 0.1; done
    grep -q '"port":"COM61".*"result":"ok"' "$records" || fail "no ok record of COM61: $(cat "$records" 2>&1)"
    shot station-done
    sleep $((3 * slow))
    [ "$(grep -c . "$records")" = 1 ] || fail "COM61 recorded more than once: $(cat "$records")"
    [ "$(report_of 61 | grep -c 'finish reply')" = 1 ] || fail "COM61 not updated exactly once"
    # Wine shows a program's command line from its Windows path (this script's own holds the
    # updater's Linux path). A child awaits the device's removal now.
    pgrep -f '^[A-Za-z]:[^ ]*tq734-updater[.]exe' >/dev/null || fail "no updater child while the device stays"
    kill "$app_pid"
    wait "$app_pid" 2>/dev/null
    app_pid=""
    for _ in $(seq $((50 * slow))); do pgrep -f '^[A-Za-z]:[^ ]*tq734-updater[.]exe' >/dev/null || break; sleep 0.1; done
    pgrep -f '^[A-Za-z]:[^ ]*tq734-updater[.]exe' >/dev/null && fail "an updater was left running"
    ;;
*)
    fail "unknown case $NAME"
    ;;
esac
exit 0
