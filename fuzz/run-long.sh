#!/usr/bin/env bash
# The long fuzz runs, on demand: every target for <seconds> (default 600) each,
# from the fuzzers of a test build (default: build).
#   fuzz/run-long.sh [build dir] [seconds per target]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-build}"
seconds="${2:-600}"
status=0
for target in chatline tags markdown modelfile; do
    echo "== fuzz_$target for $seconds s"
    "$here/run-fuzzer.sh" "$build/fuzz/targets/fuzz_$target" "$seconds" || status=1
done
exit $status
