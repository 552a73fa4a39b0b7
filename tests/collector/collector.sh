#!/usr/bin/env bash
# Two stations' records files read by rsyslog's imfile (one rsyslogd per station, as on two
# PCs) and shipped over TCP to a central rsyslogd on this machine, which writes every record
# it receives to one file. Records are appended while the shippers run, by two writers per
# file at once, before they start, and while one of them is stopped; each record must arrive
# exactly once, byte for byte. Every rsyslogd has its own configuration, work folder and an
# unprivileged port, and is stopped by its pid.
#   collector.sh RSYSLOGD APPEND_RECORDS OUTDIR
set -u
rsyslogd=$1 append=$2 out=$3/collector
rm -rf "$out"
mkdir -p "$out/central" "$out/station1" "$out/station2"
pids=()
cleanup() {
    local p
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
    return 0
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; for f in "$out"/*/rsyslogd.err; do echo "== $f" >&2; cat "$f" >&2; done; exit 1; }

# A free port above 20000 for the central collector.
port=""
for i in $(seq 0 50); do
    p=$((20000 + ($$ * 7 + i * 131) % 40000))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then port=$p; break; fi
done
[ -n "$port" ] || fail "no free port"

# The central collector: TCP in, the records' lines out, as they came.
cat >"$out/central/rsyslog.conf" <<CONF
global(workDirectory="$out/central" maxMessageSize="64k")
module(load="imtcp")
input(type="imtcp" port="$port" address="127.0.0.1" ruleset="records")
template(name="record_line" type="string" string="%msg%\n")
ruleset(name="records") {
    if \$programname == "tq734-records" then {
        action(type="omfile" file="$out/central/all-records.jsonl" template="record_line")
    }
    stop
}
CONF

# A station: its records file read as it grows, each line one message, shipped over TCP
# with a queue on disk so that nothing is lost while the central one is away.
for s in 1 2; do
    cat >"$out/station$s/rsyslog.conf" <<CONF
global(workDirectory="$out/station$s" maxMessageSize="64k")
module(load="imfile")
input(type="imfile" file="$out/station$s/records.jsonl" tag="tq734-records" ruleset="ship"
      freshStartTail="off")
ruleset(name="ship") {
    action(type="omfwd" target="127.0.0.1" port="$port" protocol="tcp"
           template="RSYSLOG_SyslogProtocol23Format"
           queue.type="LinkedList" queue.filename="ship" queue.saveOnShutdown="on"
           action.resumeRetryCount="-1" action.resumeInterval="1")
    stop
}
CONF
done

start() {  # start NAME: runs that rsyslogd in the foreground; its pid in ${pids[NAME index]}
    "$rsyslogd" -n -f "$out/$1/rsyslog.conf" -i "$out/$1/rsyslogd.pid" >"$out/$1/rsyslogd.out" 2>"$out/$1/rsyslogd.err" &
    pids+=($!)
}
start central
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done
(exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || fail "the central collector does not listen on $port"

"$append" "$out/station1/records.jsonl" s1 0 20 || fail "append"          # before the shipper
start station1
station1_pid=${pids[-1]}
start station2
# Two writers on each file at once, as several updaters of one station.
"$append" "$out/station1/records.jsonl" s1 100 30 & w1=$!
"$append" "$out/station1/records.jsonl" s1 200 30 & w2=$!
"$append" "$out/station2/records.jsonl" s2 100 30 & w3=$!
"$append" "$out/station2/records.jsonl" s2 200 30 & w4=$!
wait $w1 $w2 $w3 $w4 || fail "append"
sleep 2
# Station 1's shipper stops (a restart, an update of the PC); records come meanwhile.
kill "$station1_pid"; wait "$station1_pid" 2>/dev/null
"$append" "$out/station1/records.jsonl" s1 300 25 || fail "append"
start station1

cat "$out/station1/records.jsonl" "$out/station2/records.jsonl" | sort >"$out/sent.sorted"
want=$(wc -l <"$out/sent.sorted")
[ "$want" = 165 ] || fail "$want records written, expected 165"
for _ in $(seq 600); do
    [ "$(wc -l <"$out/central/all-records.jsonl" 2>/dev/null || echo 0)" -ge "$want" ] && break
    sleep 0.1
done
sleep 2   # a duplicate would arrive now
sort "$out/central/all-records.jsonl" >"$out/received.sorted"
got=$(wc -l <"$out/received.sorted")
dups=$(uniq -d "$out/received.sorted" | wc -l)
[ "$dups" = 0 ] || fail "$dups records arrived more than once"
cmp -s "$out/sent.sorted" "$out/received.sorted" || {
    diff "$out/sent.sorted" "$out/received.sorted" | head -5 >&2
    fail "$got records received, $want written"
}
python3 -c '
import json, sys
for line in open(sys.argv[1], encoding="utf-8"):
    r = json.loads(line)
    assert r["port"] == "COM21" and r["result"] == "device_error" and r["code"] == 8, r
' "$out/central/all-records.jsonl" || fail "a record is not the JSON that was written"
echo "collector: $got records from two stations, each once, byte for byte"
