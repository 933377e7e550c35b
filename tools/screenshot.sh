#!/usr/bin/env bash
# Takes the README's screenshots (docs/screenshot.png in the light colour
# scheme, docs/screenshot-dark.png in the dark one): the real program under
# Xvfb, showing a prepared conversation restored from a store in a temporary
# data folder, with the stand-in Ollama server (hushwing-standin, built beside the
# program) on 127.0.0.1:11434.
#
#   tools/screenshot.sh [path/to/hushwing] [output.png] [light|dark]
#
# An empty output argument ("") keeps the default for the scheme.
#
# "dark" gives the program KDE's Breeze Dark colour scheme the way a Plasma
# desktop does (a kdeglobals file, XDG_CURRENT_DESKTOP=KDE, KDE_SESSION_VERSION=5).
#
# Needs: xvfb-run (xvfb, xauth), ImageMagick's `import`, python3.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
program=${1:-$root/build/src/hushwing}
scheme=${3:-light}
default_out=$root/docs/screenshot.png
[ "$scheme" = dark ] && default_out=$root/docs/screenshot-dark.png
out=${2:-$default_out}
settle=${SETTLE_SECONDS:-4}

for tool in xvfb-run import python3; do
    command -v "$tool" >/dev/null || { echo "screenshot.sh: $tool is missing" >&2; exit 1; }
done
[ -x "$program" ] || { echo "screenshot.sh: no program at $program (build first)" >&2; exit 1; }

work=$(mktemp -d)
server=
cleanup() {
    [ -n "$server" ] && kill "$server" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

export XDG_DATA_HOME=$work/data
export XDG_RUNTIME_DIR=$work/runtime
export QT_QUICK_BACKEND=software
mkdir -p "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

# The desktop settings of the machine taking the pictures play no part.
export XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_CONFIG_HOME"
unset QT_QPA_PLATFORMTHEME XDG_CURRENT_DESKTOP KDE_SESSION_VERSION
case $scheme in
light) ;;
dark)
    export XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5
    cat >"$XDG_CONFIG_HOME/kdeglobals" <<'KDE'
[Colors:Button]
BackgroundNormal=49,54,59
ForegroundNormal=252,252,252
[Colors:Selection]
BackgroundNormal=61,174,233
ForegroundNormal=252,252,252
[Colors:Tooltip]
BackgroundNormal=49,54,59
ForegroundNormal=252,252,252
[Colors:View]
BackgroundAlternate=35,38,41
BackgroundNormal=27,30,32
ForegroundLink=29,153,243
ForegroundNormal=252,252,252
ForegroundVisited=155,89,182
[Colors:Window]
BackgroundNormal=42,46,50
ForegroundNormal=252,252,252
KDE
    ;;
*) echo "screenshot.sh: the colour scheme is light or dark, not $scheme" >&2; exit 1 ;;
esac

# The program's server address is fixed, so the stand-in must take the real port.
standin=$(dirname "$(dirname "$program")")/tools/standin/hushwing-standin
[ -x "$standin" ] || { echo "screenshot.sh: no stand-in server at $standin (build first)" >&2; exit 1; }
"$standin" --port 11434 >/dev/null &
server=$!
sleep 0.5
kill -0 "$server" 2>/dev/null || { echo "screenshot.sh: port 11434 is taken" >&2; exit 1; }

xvfb_run() { xvfb-run -a -s "-screen 0 640x800x24" "$@"; }

# A first start creates the store (schema and the one conversation record).
xvfb_run timeout 3 "$program" || true
store=$XDG_DATA_HOME/Hushwing/Hushwing.sqlite
[ -f "$store" ] || { echo "screenshot.sh: the program made no store at $store" >&2; exit 1; }

# Fill the conversation record with the conversation to show.
python3 - "$store" <<'PY'
import json, sqlite3, sys, time
roles = ["user", "assistant", "user", "assistant"]
contents = [
    "Can you explain what a haiku is in one sentence?",
    "A **haiku** is a short Japanese poem of three lines with *five*, *seven* and *five* "
    "syllables, usually capturing a single moment in nature.",
    "Proofread: Their going to the market tomorrow.",
    "Here is the corrected sentence:\n\n**\u201cThey're going to the market tomorrow.\u201d**\n\n"
    "Changes made: *their* \u2192 *they're*, the contraction of `they are`.",
]
db = sqlite3.connect(sys.argv[1])
row = db.execute("SELECT id FROM ChatSession ORDER BY updatedAt DESC LIMIT 1").fetchone()
values = (time.time(), json.dumps(roles), json.dumps(contents))
if row:
    db.execute("UPDATE ChatSession SET updatedAt = ?, roles = ?, contents = ? WHERE id = ?", values + (row[0],))
else:
    db.execute("INSERT INTO ChatSession (updatedAt, roles, contents) VALUES (?, ?, ?)", values)
db.commit()
db.close()
PY

# The second start restores it; capture the screen once the window has settled.
mkdir -p "$(dirname "$out")"
xvfb_run bash -c '
    "$1" & pid=$!
    sleep "$3"
    import -window root "$2"
    kill "$pid"; wait "$pid" 2>/dev/null || true
' capture "$program" "$out" "$settle"
echo "screenshot.sh: wrote $out"
