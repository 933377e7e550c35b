#!/usr/bin/env bash
# Runs one fuzz target for a bounded time from its seed corpus (fuzz/corpus/<name>).
# Inputs it discovers go to a scratch folder, so the seeds in the repository stay
# small; a crash, leak, sanitizer report or hang (10 s on one input) fails the run
# and leaves the input in <build>/fuzz/artifacts.
#   run-fuzzer.sh <fuzz_<name> binary> <seconds> [extra libFuzzer options...]
set -euo pipefail
binary="$1"
seconds="$2"
shift 2
name="$(basename "$binary")"
name="${name#fuzz_}"
here="$(cd "$(dirname "$0")" && pwd)"
seeds="$here/corpus/$name"
artifacts="$(dirname "$binary")/../artifacts"
mkdir -p "$artifacts"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
dict=()
[ -f "$here/dict/$name.dict" ] && dict=(-dict="$here/dict/$name.dict")
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:allocator_may_return_null=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
exec "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=16384 \
    -print_final_stats=1 -artifact_prefix="$artifacts/$name-" "${dict[@]}" "$@" "$scratch" "$seeds"
