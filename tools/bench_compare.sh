#!/usr/bin/env bash
# Speed beside a peer: runs this engine's "bench" and, in the same run, a second UCI engine
# (default Debian's toga2) on the same positions at the same fixed depth, and prints both
# node rates and their ratio. Installs nothing (apt-get install toga2).
#
# Usage: tools/bench_compare.sh [depth] [peer command]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
engine="$here/../build/tavrix"
depth="${1:-7}"
peer="${2:-/usr/games/toga2}"

# The bench positions, read from the engine's own list so both engines see the same set.
mapfile -t fens < <(sed -n '/BENCH_POSITIONS\[\] = {/,/};/p' "$here/../engine/control/think.h" | grep -o '"[^"]*"' | tr -d '"')
[[ ${#fens[@]} -gt 0 ]] || { echo "bench_compare: no positions found" >&2; exit 1; }

ours=$("$engine" bench "$depth" 2>/dev/null | grep 'bench depth' | tail -1)
echo "tavrix: $ours"

total_nodes=0
total_ms=0
for fen in "${fens[@]}"; do
    # A fixed-depth search of the peer ends well within the pause before "quit".
    out=$( { printf 'uci\nucinewgame\nisready\nposition fen %s\ngo depth %s\n' "$fen" "$depth"; sleep "${PEER_SECONDS:-5}";
             echo quit; } | timeout 120 "$peer" 2>/dev/null | sed '/^bestmove/q' | grep '^info' | grep ' nodes ' | tail -1 ) || true
    nodes=$(grep -o ' nodes [0-9]*' <<<"$out" | awk '{print $2}')
    ms=$(grep -o ' time [0-9]*' <<<"$out" | awk '{print $2}')
    total_nodes=$((total_nodes + ${nodes:-0}))
    total_ms=$((total_ms + ${ms:-0}))
done
peer_nps=$((total_nodes * 1000 / (total_ms + 1)))
echo "peer ($peer): $total_nodes nodes in $total_ms ms, $peer_nps nodes per second"
our_nps=$(grep -o 'nps [0-9]*' <<<"$ours" | awk '{print $2}' | tail -1)
[[ -n "$our_nps" && "$peer_nps" -gt 0 ]] && awk -v a="$our_nps" -v b="$peer_nps" 'BEGIN { printf "ratio tavrix/peer: %.2f\n", a / b }'
