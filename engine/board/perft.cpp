#include "board/perft.h"

#include "board/makemove.h"
#include "board/movegen.h"
#include "board/moveservices.h"

namespace tavrix {

namespace {

// Generates the pseudo-legal list of the side to move at `plyIndex`: evasions in check.
int GenerateFor(Position& p, int plyIndex) {
    const Colour side = p.sideToMove;
    if (InCheck(p)) {
        uint32_t flags = 0;
        return GenerateEvasions(p, side, plyIndex, GenMode::FULL, flags);
    }
    return GenerateAllMoves(p, side, plyIndex, GenMode::FULL);
}

inline bool MoverKingSafe(const Position& p, Colour mover) {
    return p.attackMap[mover ^ 1].square[KingSquare(p, mover)].attackWeight == 0;
}

uint64_t PerftAt(Position& p, int depth, int plyIndex) {
    const int count = GenerateFor(p, plyIndex);
    const ScoredMove* list = ListBegin(plyIndex);
    const Colour mover = p.sideToMove;
    uint64_t nodes = 0;
    for (int i = 0; i < count; ++i) {
        MakeMove(p, list[i].move);
        if (MoverKingSafe(p, mover)) nodes += depth == 1 ? 1 : PerftAt(p, depth - 1, plyIndex + 1);
        UnmakeMove(p);
    }
    return nodes;
}

bool DepthFits(const Position& p, int depth) {
    return depth >= 1 && depth <= MAX_PERFT_DEPTH && depth < MOVE_LIST_PLIES && p.undoTop + depth < UNDO_STACK_SIZE;
}

}  // namespace

uint64_t Perft(Position& p, int depth) {
    if (depth == 0) return 1;
    if (!DepthFits(p, depth)) return 0;
    return PerftAt(p, depth, 0);
}

void PerftDivide(Position& p, int depth, PerftDivision& out) {
    out.count = 0;
    out.total = 0;
    if (!DepthFits(p, depth)) return;
    const int count = GenerateFor(p, 0);
    const ScoredMove* list = ListBegin(0);
    const Colour mover = p.sideToMove;
    for (int i = 0; i < count && out.count < PERFT_ROOT_MOVES; ++i) {
        MakeMove(p, list[i].move);
        if (MoverKingSafe(p, mover)) {
            const uint64_t n = depth == 1 ? 1 : PerftAt(p, depth - 1, 1);
            out.moves[out.count] = list[i].move;
            out.nodes[out.count] = n;
            ++out.count;
            out.total += n;
        }
        UnmakeMove(p);
    }
}

}  // namespace tavrix
