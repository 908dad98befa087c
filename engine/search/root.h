// The root of the search: the root move list, search preparation and one iteration.
#pragma once

#include <cstdint>

#include "board/movegen.h"
#include "board/position.h"

namespace tavrix {

constexpr int MAX_ROOT_MOVES = MAX_LIST_MOVES;  // one entry per generated move
constexpr int ROOT_LINE_SIZE = 64;              // element 1 the root move, 2..62 its continuation
constexpr int ROOT_LINE_LAST = 62;

// Flags of a root entry.
namespace RootFlag {
constexpr uint16_t EXACT = 0x0020;              // strictly inside the window in this iteration
constexpr uint16_t DECIDED = 0x0080;            // never searched
constexpr uint16_t KIND_MASK = 0x0F00;
constexpr uint16_t MATE = 0x0500;
constexpr uint16_t REPETITION = 0x0A00;
constexpr uint16_t FIFTY_MOVES = 0x0B00;
constexpr uint16_t STALEMATE = 0x0C00;
constexpr uint16_t BOOK = 0x2000;
}  // namespace RootFlag

// Bound kind reported with a root score.
namespace BoundKind {
constexpr int32_t FAIL_LOW = 2;
constexpr int32_t ITERATION = 3;
constexpr int32_t NEW_BEST = 4;
constexpr int32_t FAIL_HIGH = 6;
}  // namespace BoundKind

// Marks of the think's mate status.
namespace MateStatus {
constexpr uint8_t MATE_FOUND = 0x01;            // an iteration returned a winning mate score
constexpr uint8_t MATE_REPORTED = 0x02;         // the table may trust mate entries at their depth
constexpr uint8_t BEING_MATED = 0x04;           // an iteration returned a losing mate score
}  // namespace MateStatus

constexpr int32_t ROOT_NO_SCORE = -8192;
constexpr int32_t MATE_IN_ONE = 8191;

struct RootMove {
    uint32_t line;     // row of RootState::lines holding this move's line
    uint32_t nodes;    // spent in the current iteration
    int16_t depth;     // iteration depth of the last search of this move
    int16_t score;     // from the root side's view
    uint16_t flags;    // RootFlag bits
};
static_assert(sizeof(RootMove) == 16, "swaps copy four words");

struct RootMoveList {
    RootMove entries[MAX_ROOT_MOVES];
    int32_t count;       // legal moves; only entries 0..count-1 are searched
    int32_t generated;   // entries filled by the generator
};

struct RootState {
    RootMoveList list;
    Move lines[MAX_ROOT_MOVES][ROOT_LINE_SIZE];
    int32_t alpha;              // root window, set before each iteration
    int32_t beta;
    uint8_t multiPV;            // 1..127
    int32_t bestDecidedScore;   // highest score of a decided root move
    uint8_t failLow;            // 1 the first move failed low, 2 a re-search contradicted the bound
    int32_t currentIndex;       // entry being searched
    int32_t rootEval;           // static evaluation of the root
    uint16_t gameEnd;           // RootFlag kind | DECIDED when the root has no legal move, else 0
    uint8_t mateStatus;         // MateStatus bits
    uint32_t random;            // generator behind the spread of search type 0
};

// Each search thread keeps its own root.
extern thread_local constinit RootState Root;

void ResetRootState();

inline Move* RootLine(const RootMove& entry) { return Root.lines[entry.line]; }
inline Move RootMoveOf(const RootMove& entry) { return Root.lines[entry.line][1]; }
inline bool IsDecided(const RootMove& entry) { return (entry.flags & RootFlag::DECIDED) != 0; }

// Prepares a new search of `pos` for the side to move: evaluation set-up, table age,
// ordering statistics, the root list (honouring the searchmoves of "go") and the counters.
// Returns nonzero when the book supplied the move.
int BeginSearch(Position& pos);
// Classifies every root move once, scores and sorts the list, sets the count.
void PrepareRootMoves(Position& pos);
// One iteration at `depth`; returns the best score, entry 0 holding the best move.
int32_t SearchRoot(Position& pos, int32_t depth);

// Selection sort by score from `first` on (the first highest entry wins each place);
// clears the exact flag of every sorted entry.
void SortRootMoves(int32_t first);

// Time management's reaction to a new best move or line at `index`, with this search's
// depth, bound kind and marks; returns the entry's new index. Defined by the think
// controller, whose time manager decides.
int RootBestMoveChanged(int index);

// Moves the entry at `index` up to its place among the first MultiPV entries by score, or to
// the front; returns its new index.
int RaiseRootMove(RootMoveList& list, int index);

// Whether every root entry after the first is decided.
bool OnlyFirstUndecided();

// Makes the root position the base of the undo stack (ply 1) with its check flag.
void PrepareRootRecord(Position& pos);

}  // namespace tavrix
