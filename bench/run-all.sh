#!/usr/bin/env bash
# Runs every benchmark program of a build folder (default: build-bench).
set -euo pipefail
build="${1:-build-bench}"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
status=0
for program in "$build"/bench/bench_*; do
    [ -f "$program" ] && [ -x "$program" ] || continue
    echo "== $(basename "$program")"
    "$program" || status=1
done
exit $status
