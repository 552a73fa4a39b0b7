#!/usr/bin/env bash
# The test command's step for the shipped i686 build: configures the guest tests beside the
# trees in OUT (native, i686, x86_64) and runs them; TQ_RELEASE_ZIP names the release zip.
#   ci.sh OUT
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$1
cmake -S "$here" -B "$out/guest-tests" -DTQ_BUILD_DIR="$out" >/dev/null
ctest --test-dir "$out/guest-tests" --output-on-failure
