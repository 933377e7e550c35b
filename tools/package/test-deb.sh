#!/usr/bin/env bash
# Installs the Debian package as a user would, into a clean Debian 12 root, and
# checks it:
#   1. lintian finds no errors in it;
#   2. `apt-get install ./hushwing_<version>_amd64.deb` finds every dependency
#      in Debian's archive;
#   3. the on-device engine (/usr/lib/hushwing/hushwing-engine) finds its
#      libraries; /usr/bin/hushwing, started offscreen as an unprivileged user, is still
#      running 5 s later, has drawn its window (the scene graph's frame log),
#      printed no QML error, and created its store in the user's data folder;
#   4. `apt-get purge hushwing` and `apt-get autoremove --purge` leave the root
#      as it was before the install: same files, same modes and owners.
# The root is a `debootstrap --variant=minbase bookworm` chroot. Its packages
# come from the Debian archive this machine's apt uses (see apt_archive);
# DEB_TEST_MIRROR names another Debian mirror for bookworm and
# bookworm-updates. The fresh root is kept as a tarball beside the package
# (DEB_TEST_FRESH=1 builds it again). Needs root, apt, debootstrap, lintian.
#   tools/package/test-deb.sh [path/to/hushwing_<version>_amd64.deb]
set -euo pipefail
root_dir=$(cd "$(dirname "$0")/../.." && pwd)
deb=$(readlink -f "${1:-$(ls -t "$root_dir"/build/hushwing_*_amd64.deb 2>/dev/null | head -1)}")
[ -f "$deb" ] || { echo "test-deb.sh: no package (run make deb first)" >&2; exit 2; }
[ "$(id -u)" = 0 ] || { echo "test-deb.sh: needs root (chroot, mounts)" >&2; exit 2; }
for tool in apt-get debootstrap lintian unshare; do
    command -v "$tool" >/dev/null || { echo "test-deb.sh: $tool is missing" >&2; exit 2; }
done

# The archive address of the first `deb` entry of suite $1 with the main
# component, over http or https, in the order apt reads its sources
# (sources.list, then sources.list.d/*.list and *.sources, one-line and deb822
# alike; disabled entries skipped): apt itself reads them. Once `apt-get
# update` has fetched an entry's Release file, only an archive whose Origin is
# Debian counts. Prints nothing when apt has no such entry.
apt_archive() {
    local fields='$(TARGET_OF) $(RELEASE) $(COMPONENT) $(REPO_URI) $(ORIGIN)' found
    local pick='$1 == "deb" && $2 == suite && $3 == "main" && $4 ~ /^https?:\/\// && (!debian || $5 == "Debian") {
        sub(/\/$/, "", $4); print $4; exit }'
    found=$(apt-get indextargets --format "$fields" 'Identifier: Packages' 2>/dev/null \
            | awk -v suite="$1" -v debian=1 "$pick" || true)
    if [ -z "$found" ]; then  # apt's lists not fetched yet: no Origin to check
        found=$(apt-get indextargets --no-release-info --format "$fields" 'Identifier: Packages' 2>/dev/null \
                | awk -v suite="$1" -v debian=0 "$pick" || true)
    fi
    printf '%s' "$found"
}
mirror=${DEB_TEST_MIRROR:-$(apt_archive bookworm)}
updates=${DEB_TEST_MIRROR:-$(apt_archive bookworm-updates)}
security=$(apt_archive bookworm-security)
if [ -z "$mirror" ]; then
    echo "test-deb.sh: apt has no http(s) source for Debian bookworm main (in /etc/apt/sources.list" \
         "or /etc/apt/sources.list.d/); add one, or name a Debian mirror in DEB_TEST_MIRROR" >&2
    exit 2
fi

# The chroot's /proc is mounted in a mount namespace of its own, so nothing
# stays mounted however the script ends.
if [ -z "${HUSHWING_DEB_TEST_NS:-}" ]; then
    HUSHWING_DEB_TEST_NS=1 exec unshare --mount --propagation private "$0" "$deb"
fi

started=$SECONDS
phase() { echo "== $1 (at $((SECONDS - started)) s)"; }
work=$(mktemp -d)
trap 'umount "$work/root/proc" 2>/dev/null || true; rm -rf "$work"' EXIT
root=$work/root
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive "$@"; }

phase "lintian $(basename "$deb")"
lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 && lint=0 || lint=$?
grep -v 'running with root privileges' "$work/lintian.log" || true
[ "$lint" = 0 ] || { echo "FAIL lintian reports errors"; exit 1; }

base=$(dirname "$deb")/debian-bookworm-minbase.tar
if [ -n "${DEB_TEST_FRESH:-}" ] || [ ! -f "$base" ]; then
    phase "debootstrap --variant=minbase bookworm ($mirror)"
    debootstrap --variant=minbase bookworm "$work/fresh" "$mirror" >"$work/debootstrap.log" 2>&1 \
        || { tail -20 "$work/debootstrap.log"; echo "FAIL debootstrap"; exit 1; }
    tar -C "$work/fresh" -cf "$base.part" . && mv "$base.part" "$base"
    rm -rf "$work/fresh"
fi
phase "a clean root from $(basename "$base"), packages from $mirror"
mkdir "$root"
tar -C "$root" -xf "$base"
mount -t proc proc "$root/proc"
cp /etc/resolv.conf "$root/etc/resolv.conf"
{
    echo "deb $mirror bookworm main"
    [ -z "$updates" ] || echo "deb $updates bookworm-updates main"
    [ -z "$security" ] || echo "deb $security bookworm-security main"
} >"$root/etc/apt/sources.list"
in_root apt-get update -qq

# Names, types, modes and owners of every file, apart from the kernel's
# folders and apt's own downloads and logs.
file_list() {
    (cd "$root" && find . \( -path ./proc -o -path ./sys -o -path ./dev -o -path ./var/cache/apt \
                            -o -path ./var/log -o -path ./var/lib/dpkg -o -path ./var/lib/apt \) -prune \
                          -o -printf '%y %m %u:%g %p\n' | sort)
}
file_list >"$work/before"

phase "apt-get install ./$(basename "$deb")"
cp "$deb" "$root/tmp/"
in_root apt-get install -y -qq --no-install-recommends "./tmp/$(basename "$deb")" >"$work/install.log" 2>&1 \
    || { tail -30 "$work/install.log"; echo "FAIL apt-get install"; exit 1; }
rm "$root/tmp/$(basename "$deb")"
echo "   $(grep -c '^Setting up' "$work/install.log") packages set up"
for f in /usr/bin/hushwing /usr/lib/hushwing/hushwing-engine /usr/lib/hushwing/libllama.v0.4.0.so \
         /usr/share/applications/example.hushwing.Hushwing.desktop \
         /usr/share/metainfo/example.hushwing.Hushwing.metainfo.xml \
         /usr/share/icons/hicolor/scalable/apps/example.hushwing.Hushwing.svg /usr/share/doc/hushwing/copyright; do
    [ -f "$root$f" ] || { echo "FAIL $f is not installed"; exit 1; }
done

# The engine's libraries resolve: it runs as far as refusing a missing model file.
engine=$(in_root /usr/lib/hushwing/hushwing-engine /no/such/model.gguf 2>&1 || true)
if [[ $engine == *'"fatal"'* ]]; then
    echo "ok   the on-device engine starts"
else
    echo "$engine"
    echo "FAIL the on-device engine does not start"
    exit 1
fi

phase "/usr/bin/hushwing, offscreen, as an unprivileged user"
home=/tmp/hushwing-user
mkdir -p "$root$home/runtime"
chmod 700 "$root$home/runtime"
chown -R 65534:65534 "$root$home"
chroot --userspec=65534:65534 "$root" env -i PATH=/usr/bin:/bin HOME=$home XDG_RUNTIME_DIR=$home/runtime \
    QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES=qt.scenegraph.time.renderloop=true \
    /usr/bin/hushwing >"$work/program.log" 2>&1 &
program=$!
sleep 5
failed=0
if kill -0 "$program" 2>/dev/null; then
    kill "$program"
    wait "$program" 2>/dev/null || true
    echo "ok   still running after 5 s"
else
    wait "$program" && status=0 || status=$?
    echo "FAIL the program ended within 5 s (status $status)"
    failed=1
fi
frames=$(grep -c 'Frame rendered' "$work/program.log" || true)
[ "$frames" -gt 0 ] && echo "ok   its window was drawn ($frames frames)" || { echo "FAIL no frame drawn"; failed=1; }
if grep -E 'qrc:|\.qml|module .* is not installed|QQmlApplicationEngine' "$work/program.log"; then
    echo "FAIL QML errors above"
    failed=1
fi
store=$home/.local/share/Hushwing/Hushwing.sqlite
[ -f "$root$store" ] && echo "ok   created $store" || { echo "FAIL no store at $store"; failed=1; }
if [ "$failed" = 1 ]; then
    grep -v 'Frame rendered' "$work/program.log" | tail -20
    exit 1
fi
rm -rf "${root:?}$home"  # the user's own files: not the package's to remove

phase "apt-get purge hushwing; apt-get autoremove --purge"
in_root apt-get purge -y -qq hushwing >"$work/purge.log" 2>&1 \
    && in_root apt-get autoremove -y -qq --purge >>"$work/purge.log" 2>&1 \
    || { tail -30 "$work/purge.log"; echo "FAIL apt-get purge"; exit 1; }
in_root dpkg-query -W hushwing >/dev/null 2>&1 && { echo "FAIL hushwing is still known to dpkg"; exit 1; }
file_list >"$work/after"
if ! diff "$work/before" "$work/after" >"$work/diff"; then
    echo "FAIL the root differs from before the install:"
    head -40 "$work/diff"
    exit 1
fi
echo "ok   no file left behind ($(wc -l <"$work/before") entries compared)"
echo "package test passed in $((SECONDS - started)) s"
