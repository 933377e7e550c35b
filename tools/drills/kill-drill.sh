#!/usr/bin/env bash
# Kill -9 the drill worker at random moments during replies, saves and new
# chats; after every kill the store must open and hold the conversation as of
# its last completed save (checked with the store's own code).
#   kill-drill.sh <hushwing_drill> [kills=100] [work dir]
set -euo pipefail
driver="$1"
kills="${2:-100}"
if [ -n "${3:-}" ]; then
    work="$3"
    mkdir -p "$work"
else
    work="$(mktemp -d)"
    trap 'rm -rf "$work"' EXIT
fi
store="$work/store"
rm -rf "$store"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"

phases=(reply reply save save newchat start)
declare -A aimed=()
failures=0
for ((i = 1; i <= kills; i++)); do
    phase="${phases[RANDOM % ${#phases[@]}]}"
    skip=$((RANDOM % 3))              # let this many markers of the phase pass first
    delay_us=$((RANDOM % 4000))       # then wait 0-4 ms
    fifo="$work/out.$i"
    mkfifo "$fifo"
    "$driver" run "$store" >"$fifo" 2>>"$work/stderr.log" &
    pid=$!
    exec 3<"$fifo"
    seen=0
    last=""
    if [ "$phase" = start ]; then
        delay_us=$((RANDOM % 80000))  # anywhere in the first 80 ms: opening the store, restoring
    else
        while IFS= read -r -t 10 line <&3; do
            last="$line"
            case "$line" in
                error*) echo "kill $i: worker said: $line"; failures=$((failures + 1)); break ;;
                "$phase "*) seen=$((seen + 1)); [ "$seen" -gt "$skip" ] && break ;;
            esac
        done
    fi
    sleep "$(printf '0.%06d' "$delay_us")"
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    exec 3<&-
    rm -f "$fifo"
    aimed[$phase]=$((${aimed[$phase]:-0} + 1))
    if result=$("$driver" check "$store"); then
        echo "kill $i ($phase +${delay_us}us, last said: ${last:-nothing}): $result"
    else
        echo "kill $i ($phase +${delay_us}us, last said: ${last:-nothing}): $result"
        failures=$((failures + 1))
    fi
done
summary=""
for p in "${!aimed[@]}"; do summary+=" $p=${aimed[$p]}"; done
echo "kills: $kills (aimed at:$summary), failures: $failures"
[ "$failures" -eq 0 ]
