#!/usr/bin/env bash
# The long reliability drills, on demand, from a test build (default: build):
# 100 kills, the store faults and the proxy trap.
#   tools/drills/run-long.sh [build dir] [kills]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-build}"
kills="${2:-100}"
driver="$build/tools/drills/hushwing_drill"
export QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
status=0
echo "== kill -9 drill, $kills kills"; "$here/kill-drill.sh" "$driver" "$kills" || status=1
echo "== store faults"; "$here/store-faults.sh" "$driver" "$build/src/hushwing" || status=1
echo "== proxy trap"; "$driver" proxy || status=1
exit $status
