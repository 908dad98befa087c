// The root move list shared by the root search, the think controller, time management
// and the output.
#pragma once

#include <cstdint>

#include "board/movegen.h"
#include "board/position.h"

namespace tavrix {

constexpr int ROOT_LIST_SIZE = MAX_LIST_MOVES;
constexpr int PV_LINE_LENGTH = 64;     // element 1 the root move, 2..62 the line, 0 ends it

// One root move. The line lives in the list's line table and stays put while entries move,
// so an entry is four words and a swap or an insertion copies only those.
struct RootMove {
    uint32_t pv;        // index of the entry's line in RootMoveList::lines
    uint32_t nodes;     // spent on this move in the current iteration
    int16_t depth;      // iteration depth of the last search of this move
    int16_t score;      // from the root side's view
    uint16_t flags;
    uint16_t spare;
};
static_assert(sizeof(RootMove) == 16);

namespace RootFlag {
constexpr uint16_t EXACT = 0x20;       // strictly inside the window in this iteration
constexpr uint16_t DECIDED = 0x80;     // not searched
constexpr uint16_t KIND_MASK = 0x0F00;
constexpr uint16_t BOOK = 0x2000;
}  // namespace RootFlag

// Entry 0 is the best move; only entries 0..count-1 are searched.
struct RootMoveList {
    RootMove entries[ROOT_LIST_SIZE];
    int32_t count;
    Move lines[ROOT_LIST_SIZE][PV_LINE_LENGTH];
};

}  // namespace tavrix
