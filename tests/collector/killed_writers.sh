#!/usr/bin/env bash
# Four writers append records to one file at once (as a station's updaters do) and are
# ended by a signal in the middle of their work, twice over: every line of the file is a
# whole record, and none is lost that its writer finished.
#   killed_writers.sh APPEND_RECORDS OUTDIR
set -u
append=$1 out=$2/killed_writers
rm -rf "$out"
mkdir -p "$out"
records=$out/records.jsonl
pids=()
cleanup() { local p; for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null; wait "$p" 2>/dev/null; done; return 0; }
trap cleanup EXIT
for round in 1 2; do
    pids=()
    for w in 1 2 3 4; do
        "$append" "$records" "w$w-r$round" 0 100000 & pids+=($!)
    done
    sleep 0.$((3 + round * 2))
    for p in "${pids[@]}"; do kill -TERM "$p"; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
    pids=()
done
python3 - "$records" <<'PY' || { echo "FAIL: a line is not a whole record" >&2; exit 1; }
import json, sys
data = open(sys.argv[1], "rb").read()
assert data.endswith(b"\n"), "the file does not end with a whole line"
seen = {}
for raw in data.split(b"\n")[:-1]:
    r = json.loads(raw.decode("utf-8"))
    writer, n = r["operator"].split(" ")[0].rsplit("-", 1)
    seen.setdefault(writer, []).append(int(n))
assert len(seen) == 8, sorted(seen)
for writer, numbers in seen.items():
    # Each writer's records in order, none missing, none twice.
    assert numbers == list(range(len(numbers))), (writer, numbers[:5])
print("killed writers:", sum(len(v) for v in seen.values()), "records, every line whole")
PY
