#!/usr/bin/env bash
# The test command's step for the shipped i686 build: configures the guest tests beside the
# trees in OUT (native, i686, x86_64), runs them and prints the time of each phase;
# TQ_RELEASE_ZIP names the release zip.
#   ci.sh OUT
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$1
cmake -S "$here" -B "$out/guest-tests" -DTQ_BUILD_DIR="$out" >/dev/null
rc=0
ctest --test-dir "$out/guest-tests" --output-on-failure || rc=$?
results=$out/guest-tests/results
echo "guest phases (seconds; the image and prefixes are built once per recipe and then cached):"
cat "$out"/guest/image-*/build-seconds 2>/dev/null | sed 's/^/  image built in: /'
cat "$out"/guest/prefixes-*.seconds 2>/dev/null | sed 's/^/  Wine prefixes made in: /'
[ -f "$results/boot-seconds" ] && echo "  test boot in all: $(cat "$results/boot-seconds")"
sed 's/^phase /  /' "$results/times" 2>/dev/null || true
for f in "$results"/*/seconds; do
    [ -f "$f" ] && echo "  $(basename "$(dirname "$f")"): $(cat "$f") (exit $(cat "$(dirname "$f")/rc"))"
done
exit "$rc"
