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

# The opponents search with one thread, as the engine does: two games at a time on two cores
# leave no room for more (Glaurung's default of two threads lost hundreds of games on time).
opponentOptions() {
    case "$(basename "$1")" in
        glaurung) echo option.Threads=1 ;;
        toga2) echo "option.Number of Threads=1" ;;
    esac
}

# part name, opponent command, games, time control
play() {
    local name=$1 opponent=$2 games=$3 tc=$4
    local options=()
    mapfile -t options < <(opponentOptions "$opponent")
    mkdir -p "$work/$name/tavrix" "$work/$name/opponent"
    "$runner" -engine cmd="$engine" name=tavrix dir="$work/$name/tavrix" \
        -engine cmd="$opponent" name=opponent dir="$work/$name/opponent" "${options[@]}" \
        -each tc="$tc" option.Hash=16 -rounds $(((games + 1) / 2)) -games 2 -repeat -concurrency 2 -recover \
        -openings file="$openings" format=epd order=random \
        -pgnout file="$work/$name.pgn" >"$work/$name.log" 2>&1 || true
    summarise "$name" "$work/$name.pgn"
}

# Counts from the PGN: every game has a Termination tag, and the runner's closing comment
# names what ended it ("loses on time", "illegal move", "disconnect", a crash is "abandoned");
# only games the engine lost that way count against it.
summarise() {
    awk -v part="$1" '
        function tag(line) { split(line, f, "\""); return f[2] }
        /^\[White "/ { white = tag($0) }
        /^\[Black "/ { black = tag($0) }
        /^\[Result "/ { result = tag($0); games++ }
        /^\[Termination "/ { term = tolower(tag($0)); open = 1; body = ""; next }
        open && !/^\[/ { body = body " " tolower($0) }
        open && /(1-0|0-1|1\/2-1\/2|\*)[ ]*$/ && !/^\[/ {
            loser = result == "1-0" ? black : (result == "0-1" ? white : "")
            if (loser == "tavrix") {
                text = term " " body
                if (text ~ /illegal/) illegal++
                else if (text ~ /disconnect|stall/) disconnects++
                else if (text ~ /time forfeit|loses on time/) forfeits++
                else if (text ~ /abandon|crash/) crashes++
            }
            open = 0
        }
        END {
            printf "%s: finished %d, crashes %d, disconnects %d, time forfeits %d, illegal moves %d\n",
                part, games, crashes + 0, disconnects + 0, forfeits + 0, illegal + 0
        }' "$2"
    awk '/Player: tavrix/ { n = 2; next } n > 0 { printf " %s", $0; n-- } END { print "" }' "$work/$1.log" |
        tr -s ' ' | sed "s/^/  the runner's own count for tavrix:/"
}

cd "$work"   # the runner writes its config.json where it runs
play toga2 /usr/games/toga2 "$perOpponent" 1+0.01
play glaurung /usr/games/glaurung "$perOpponent" 1+0.01
play fast-toga2 /usr/games/toga2 $((fastGames / 2)) 0.2+0.002
play fast-glaurung /usr/games/glaurung $((fastGames - fastGames / 2)) 0.2+0.002
