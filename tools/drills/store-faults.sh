#!/usr/bin/env bash
# A store the program cannot use must not stop it, and must stay exactly as it
# was: a damaged store file (three ways), a store folder without write
# permission (as an unprivileged user), and a full disk (a small tmpfs, or a
# file-size limit where mounting is not allowed, or when DRILL_NO_MOUNT is set). For each case the real
# program starts and is still running 3 s later, and the drill driver runs the
# real window on the same store through two replies and a new chat; then the
# store folder's listing and every file's bytes are compared with before.
#   store-faults.sh <hushwing_drill> <hushwing>
set -euo pipefail
driver="$(readlink -f "$1")"
program="$(readlink -f "$2")"
work="$(mktemp -d)"
mounted=""
cleanup() {
    [ -n "$mounted" ] && umount "$mounted" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work"
# Some cases run the programs as nobody, who may not be able to enter the build
# tree (a clone under root's home or in a private folder): both run from copies
# in the drill's own folder. They link only system libraries.
mkdir -m 755 "$work/bin"
install -m 755 "$driver" "$work/bin/hushwing_drill"
install -m 755 "$program" "$work/bin/hushwing"
driver="$work/bin/hushwing_drill"
program="$work/bin/hushwing"
export QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software
# No session bus: the program's copies here must not hand over to one running
# on the user's own bus; each takes the store's lock file instead.
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus"
runtime="$work/runtime"
mkdir -m 700 "$runtime"
nobody_runtime="$work/runtime-nobody"
mkdir -m 700 "$nobody_runtime"
chown nobody "$nobody_runtime"
failures=0

# Names, sizes, modes, owners, and every file's SHA-256.
fingerprint() {
    (cd "$1" && find . -printf '%p %s %m %u\n' | sort && find . -type f -exec sha256sum {} + | sort)
}

# <data home> <runtime dir> [command prefix...]
program_keeps_running() {
    local home="$1" rt="$2"
    shift 2
    "$@" env XDG_DATA_HOME="$home" XDG_RUNTIME_DIR="$rt" "$program" >"$work/program.log" 2>&1 &
    local pid=$!
    sleep 3
    if kill -0 "$pid" 2>/dev/null; then
        kill "$pid"
        wait "$pid" 2>/dev/null || true
        return 0
    fi
    wait "$pid" && status=0 || status=$?
    echo "  the program ended within 3 s (status $status):"
    sed 's/^/    /' "$work/program.log"
    return 1
}

# <case name> <data home> [command prefix...]
drill() {
    local name="$1" home="$2"
    shift 2
    local folder="$home/Hushwing" before after ok=1
    before="$(fingerprint "$folder")"
    program_keeps_running "$home" "$([ $# -gt 0 ] && echo "$nobody_runtime" || echo "$runtime")" "$@" || ok=0
    local said
    if said="$("$@" env XDG_RUNTIME_DIR="$([ $# -gt 0 ] && echo "$nobody_runtime" || echo "$runtime")" \
               "$driver" app "$folder/Hushwing.sqlite" 2>"$work/driver.log")"; then :; else ok=0; fi
    after="$(fingerprint "$folder")"
    if [ "$before" != "$after" ]; then
        echo "  the store folder changed:"
        diff <(echo "$before") <(echo "$after") | sed 's/^/    /' || true
        ok=0
    fi
    if [ "$ok" = 1 ]; then
        echo "ok   $name: the program ran; $(echo "$said" | tr '\n' ' '); store folder byte-for-byte unchanged"
    else
        echo "FAIL $name: $(echo "$said" | tr '\n' ' ')"
        sed 's/^/    /' "$work/driver.log" | tail -5
        failures=$((failures + 1))
    fi
}

seed() {  # <data home> <messages> <chars each>
    "$driver" seed "$1/Hushwing/Hushwing.sqlite" "$2" "$3"
}

# 1. Damaged store files.
seed "$work/header" 20 2000
printf 'this is not a b-tree page header, it is damage%.0s' 1 2 | dd of="$work/header/Hushwing/Hushwing.sqlite" bs=1 seek=100 conv=notrunc status=none
drill "damaged page header" "$work/header"

seed "$work/truncated" 20 2000
file="$work/truncated/Hushwing/Hushwing.sqlite"
truncate -s $(($(stat -c %s "$file") / 2)) "$file"
drill "truncated file" "$work/truncated"

mkdir -p "$work/random/Hushwing"
head -c 8192 /dev/urandom >"$work/random/Hushwing/Hushwing.sqlite"
drill "not an SQLite file" "$work/random"

# 2. A folder without write permission, for an unprivileged user.
as_nobody=(setpriv --reuid="$(id -u nobody)" --regid="$(id -g nobody)" --clear-groups)
"${as_nobody[@]}" test -x "$program" -a -x "$driver" || {
    echo "FAIL nobody cannot run the programs in $work: the temporary folder (TMPDIR) must be open to other users"
    exit 1
}
seed "$work/readonly" 20 2000
chown -R nobody "$work/readonly"
chmod 500 "$work/readonly/Hushwing"
drill "store folder without write permission" "$work/readonly" "${as_nobody[@]}"

mkdir -p "$work/readonly-empty/Hushwing"
chown -R nobody "$work/readonly-empty"
chmod 500 "$work/readonly-empty/Hushwing"
drill "store folder without write permission, no store yet" "$work/readonly-empty" "${as_nobody[@]}"

# 3. A full disk: a 1 MiB tmpfs filled to the last byte around the store.
full="$work/full"
mkdir -p "$full"
if [ -z "${DRILL_NO_MOUNT:-}" ] && mount -t tmpfs -o size=1m,mode=755 tmpfs "$full" 2>/dev/null; then
    mounted="$full"
    seed "$full" 40 4000
    dd if=/dev/zero of="$full/filler" bs=4k status=none 2>/dev/null || true
    sync
    echo "     (full disk: a 1 MiB tmpfs, $(df --output=avail -k "$full" | tail -1 | tr -d ' ') KiB left)"
    drill "full disk" "$full"
else
    seed "$full" 40 4000
    limit_kb=$(($(stat -c %s "$full/Hushwing/Hushwing.sqlite") / 1024))
    echo "     (full disk simulated: mounting a tmpfs is not allowed here, so files may not grow past ${limit_kb} KiB: ulimit -f)"
    drill "full disk (file-size limit)" "$full" bash -c "trap '' XFSZ; ulimit -f $limit_kb; exec \"\$@\"" limit
fi

[ "$failures" -eq 0 ] && echo "all store fault drills passed" || echo "$failures store fault drills failed"
[ "$failures" -eq 0 ]
