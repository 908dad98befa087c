// Perft: leaf counts of legal move sequences, built with the engine's own generators.
#pragma once

#include <cstdint>

#include "board/position.h"

namespace tavrix {

constexpr int MAX_PERFT_DEPTH = 20;
constexpr int PERFT_ROOT_MOVES = 256;

// Leaf nodes at `depth` below the position (legal moves only); the position is unchanged.
// Depths beyond what the undo stack and the move buffer hold count as 0.
uint64_t Perft(Position& p, int depth);

struct PerftDivision {
    int32_t count;                    // legal root moves
    Move moves[PERFT_ROOT_MOVES];
    uint64_t nodes[PERFT_ROOT_MOVES];   // leaves below each root move
    uint64_t total;
};

// Perft split by root move, in generation order.
void PerftDivide(Position& p, int depth, PerftDivision& out);

}  // namespace tavrix
