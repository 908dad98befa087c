#!/usr/bin/env bash
# The soak: many games against Debian's toga2 and glaurung with the shared match runner,
# two at a time from ECO openings, then very fast games where time management is hardest.
# Prints, per part, the finished games and the engine's crashes, disconnects, time
# forfeits and illegal moves (from the runner's PGN terminations).
#   tools/soak.sh [games per opponent, default 500] [very fast games, default 200]
# Needs: apt-get install toga2 glaurung; a Release build in build/.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$here/.."
perOpponent=${1:-500}
fastGames=${2:-200}
runner=${FASTCHESS:-$root/../shared/tools/fastchess}
[ -x "$runner" ] || runner=/work/shared/tools/fastchess
openings=${OPENINGS:-$root/../shared/data/openings-eco.epd}
[ -f "$openings" ] || openings=/work/shared/data/openings-eco.epd
engine=$root/build/tavrix
work=$(mktemp -d /tmp/tavrix-soak-XXXXXX)
echo "working files and PGNs in $work"

# part name, opponent command, games, time control
play() {
    local name=$1 opponent=$2 games=$3 tc=$4
    mkdir -p "$work/$name/tavrix" "$work/$name/opponent"
    "$runner" -engine cmd="$engine" name=tavrix dir="$work/$name/tavrix" \
        -engine cmd="$opponent" name=opponent dir="$work/$name/opponent" \
        -each tc="$tc" option.Hash=16 -rounds $(((games + 1) / 2)) -games 2 -repeat -concurrency 2 -recover \
        -openings file="$openings" format=epd order=random \
        -pgnout file="$work/$name.pgn" >"$work/$name.log" 2>&1 || true
    summarise "$name" "$work/$name.pgn"
}

# Counts from the PGN: a game ends with a Termination tag; the loser of a forfeit, crash
# ("abandoned"), disconnect or illegal move is named in the runner's closing comment.
summarise() {
    awk -v part="$1" '
        /^\[White "/ { white = $2 }
        /^\[Black "/ { black = $2 }
        /^\[Result "/ { result = $2; games++ }
        /^\[Termination "/ { term = $0 }
        /^1\./ || /^\{/ || /^[0-9]/ { body = body " " $0 }
        /^$/ && term != "" {
            # the side that lost: 1-0 means Black
            loser = (result == "\"1-0\"") ? black : ((result == "\"0-1\"") ? white : "")
            own = (loser == "\"tavrix\"")
            t = tolower(term body)
            if (own && t ~ /time forfeit|timeout/) forfeits++
            else if (own && t ~ /illegal/) illegal++
            else if (own && t ~ /disconnect|stall/) disconnects++
            else if (own && t ~ /abandon|crash/) crashes++
            term = ""; body = ""
        }
        END {
            printf "%s: finished %d, crashes %d, disconnects %d, time forfeits %d, illegal moves %d\n",
                part, games, crashes, disconnects, forfeits, illegal
        }' "$2"
}

play toga2 /usr/games/toga2 "$perOpponent" 1+0.01
play glaurung /usr/games/glaurung "$perOpponent" 1+0.01
play fast-toga2 /usr/games/toga2 $((fastGames / 2)) 0.2+0.002
play fast-glaurung /usr/games/glaurung $((fastGames - fastGames / 2)) 0.2+0.002
