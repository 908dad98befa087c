#!/usr/bin/env bash
# Plays a match of the engine against another engine under a real GUI: XBoard without its
# window (-noGUI, inside a virtual X server), with PolyGlot adapting UCI engines, and prints
# the score from the engine's side. The games go to a PGN file.
#
# Installs nothing. Needs, from Debian:
#   apt-get install xboard polyglot xvfb xauth
# and an opponent, e.g.  apt-get install stockfish   (or fairymax, toga2, fruit, crafty ...)
#
# Usage: tools/match.sh [options]
#   -e CMD     engine command            (default: build/tavrix beside this script's checkout)
#   -o CMD     opponent command          (default: stockfish)
#   -x         the opponent speaks the xboard protocol instead of UCI (fairymax, crafty ...)
#   -n N       number of games, colours alternate (default 10)
#   -t MM:SS   base time per game        (default 0:10)
#   -i SEC     increment per move        (default 0.1)
#   -p FILE    PGN file to append to     (default match.pgn)
#   -l DIR     directory for the engines' working files and logs (default a new temporary one)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
engine="$here/../build/tavrix"
opponent="stockfish"
opponentUci=1
games=10
base="0:10"
increment="0.1"
pgn="match.pgn"
workdir=""

while getopts "e:o:xn:t:i:p:l:h" opt; do
    case "$opt" in
        e) engine="$OPTARG" ;;
        o) opponent="$OPTARG" ;;
        x) opponentUci=0 ;;
        n) games="$OPTARG" ;;
        t) base="$OPTARG" ;;
        i) increment="$OPTARG" ;;
        p) pgn="$OPTARG" ;;
        l) workdir="$OPTARG" ;;
        *) sed -n '2,20p' "$0"; exit 2 ;;
    esac
done

[[ "$games" =~ ^[1-9][0-9]*$ ]] || { echo "match: -n needs a positive number of games" >&2; exit 2; }

# XBoard looks for polyglot on PATH, and Debian puts the GUI tools and engines in /usr/games.
export PATH="$PATH:/usr/games"
for tool in xboard polyglot xvfb-run; do
    command -v "$tool" >/dev/null || { echo "match: $tool not found (see the apt-get line in $0)" >&2; exit 1; }
done

# Engines are started by the adapter in their own directory; give them absolute paths.
resolve() {
    local first="${1%% *}" rest=""
    [[ "$1" == *" "* ]] && rest=" ${1#* }"
    if [[ "$first" == */* ]]; then
        first="$(cd "$(dirname "$first")" && pwd)/$(basename "$first")"
        [[ -x "$first" ]] || { echo "match: $first is not executable" >&2; exit 1; }
    else
        command -v "$first" >/dev/null || { echo "match: $first not found" >&2; exit 1; }
    fi
    echo "$first$rest"
}
engine="$(resolve "$engine")"
opponent="$(resolve "$opponent")"

[[ -n "$workdir" ]] || workdir="$(mktemp -d "${TMPDIR:-/tmp}/match.XXXXXX")"
mkdir -p "$workdir"
pgn="$(cd "$(dirname "$pgn")" && pwd)/$(basename "$pgn")"

engineName="Engine"
opponentName="Opponent"
secondProtocol=(-sUCI)
[[ "$opponentUci" == 1 ]] || secondProtocol=()

echo "match: $games games, $base + $increment s, $engine against $opponent; games to $pgn"
before=0
[[ -f "$pgn" ]] && before=$(grep -c '^\[Result ' "$pgn" || true)

# -autoCallFlag: a flag fall ends the game as a loss on time, as a real GUI would call it.
# Pondering stays off so both engines get only their own clock, and -smpCores 1 holds an
# engine with threads (Glaurung defaults to two; PolyGlot sets "Threads" from it) to one.
xvfb-run -a xboard -noGUI \
    -settingsFile /dev/null -saveSettingsOnExit false -popupExitMessage false \
    -fcp "$engine" -fd "$workdir" -fUCI -fn "$engineName" \
    -scp "$opponent" -sd "$workdir" "${secondProtocol[@]}" -sn "$opponentName" \
    -tc "$base" -inc "$increment" -mg "$games" -sgf "$pgn" \
    -autoCallFlag true -xponder -testClaims true -smpCores 1 \
    >"$workdir/xboard.log" 2>&1 || echo "match: xboard ended with status $? (see $workdir/xboard.log)" >&2

# XBoard's own count (wins-losses-draws of the engine), then the recorded games.
grep -h "final score" "$workdir/xboard.log" | sed 's/^/match: /' || true
if [[ ! -f "$pgn" ]]; then
    echo "match: no game was recorded (a game without moves is not saved)" >&2
    exit 1
fi

# Score of the games this run added, from the engine's side, and how the engine's losses ended.
awk -v me="$engineName" -v skip="$before" '
    /^\[White /  { white = $0; sub(/^\[White "/, "", white); sub(/"\]$/, "", white) }
    /^\[Result / {
        result = $0; sub(/^\[Result "/, "", result); sub(/"\]$/, "", result)
        counted = ++seen > skip
        lost = 0
        if (!counted) next
        played++
        if (result == "1/2-1/2") { draws++; points += 0.5 }
        else if (result == "1-0" || result == "0-1") {
            if ((result == "1-0") == (white == me)) { wins++; points += 1 } else { losses++; lost = 1 }
        } else unfinished++
    }
    # The termination comment in front of the result.
    counted && lost && /on time/ { forfeits++; lost = 0 }
    counted && lost && /[Ii]llegal/ { illegal++; lost = 0 }
    END {
        printf "match: played %d, %s wins %d, losses %d, draws %d, unfinished %d; score %.1f/%d\n",
               played, me, wins, losses, draws, unfinished, points, played - unfinished
        printf "match: %s lost %d on time and %d by an illegal move\n", me, forfeits, illegal
    }' "$pgn"
