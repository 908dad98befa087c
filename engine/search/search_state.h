// The process-wide variables of the running search.
#pragma once

#include <cstdint>

#include "board/position.h"

namespace tavrix {

// Per-ply arrays hold this many plies (the undo stack holds as many records).
constexpr int32_t MAX_PLY = UNDO_STACK_SIZE;
// A node at this ply or deeper is a leaf: it is evaluated and makes no move, so no
// chain of extensions can run past the undo stack, the per-ply arrays or the move lists.
constexpr int32_t SEARCH_PLY_LIMIT = MAX_PLY - 2;
static_assert(SEARCH_PLY_LIMIT + 1 < UNDO_STACK_SIZE, "a leaf's record must fit below the top");
static_assert((SEARCH_PLY_LIMIT - 1) / 2 < 32, "check masks hold one bit per move of a side");

// Bits of the option flag word the search reads from its copy (`searchFlags`).
namespace SearchOption {
constexpr uint32_t RETAIN_HASH = 0x00000400;
constexpr uint32_t SELECTIVITY_MASK = 0x00007000;
constexpr int SELECTIVITY_SHIFT = 12;
constexpr uint32_t SMART_SEARCH = 0x00008000;
constexpr uint32_t FUTILITY = 0x00040000;
constexpr uint32_t COMBINATIONS = 0x40000000;
constexpr uint32_t DEFAULT_FLAGS = 0x3A24FC83;
}  // namespace SearchOption

constexpr int32_t DEFAULT_PRUNING_THRESHOLD = 160;  // "Forward Pruning" 10, times 16
constexpr int32_t DEFAULT_THREAT_DEPTH = -3;         // "Threat Depth" 3, negated
// Nodes between two polls while no think controller refills the countdown.
constexpr int32_t DEFAULT_POLL_INTERVAL = 4096;

// Why a search ended.
namespace StopCode {
constexpr uint8_t ALL_DECIDED = 4;
constexpr uint8_t BOOK_MOVE = 5;
constexpr uint8_t NOTHING_TO_SEARCH = 6;
constexpr uint8_t ALREADY_DECIDED = 7;
constexpr uint8_t MATE_FOUND = 9;
constexpr uint8_t SINGLE_REPLY = 10;
constexpr uint8_t DEPTH_LIMIT = 11;
constexpr uint8_t DEADLINE = 13;
constexpr uint8_t GATE = 14;
constexpr uint8_t NODE_LIMIT = 15;    // "go nodes"
constexpr uint8_t STOP_COMMAND = 0x40;   // "stop", or a command that must wait for the search
}  // namespace StopCode

struct SearchState {
    uint8_t tableAge;        // transposition-table generation, 1..7
    uint32_t hashfull;       // entries of another age refreshed or overwritten this search

    // Stopping and polling.
    uint8_t stopReason;      // 0 while the search may go on; every routine unwinds otherwise
    int32_t pollCountdown;   // nodes until the next poll
    bool noPolling;          // set while a search must not poll (nested calibration etc.)
    // A helper of a parallel search: it polls only for the stop and leaves the clock, the
    // output and the time manager to the main search.
    bool helper;

    // Iteration.
    int32_t iterationDepth;
    int32_t selectiveDepth;  // deepest ply reached
    uint8_t outputStatus;
    int32_t boundKind;

    // Copies of the options taken at search start.
    uint32_t searchFlags;
    int32_t pruningThreshold;  // late-move reduction below this cutoff ratio
    int32_t threatDepth;       // 0 .. -7: how deep the quiescence gain test reaches

    // Per-colour values.
    int32_t scoreSlot[2];    // last root score per colour; a stopped node returns its side's
    uint32_t checkMask[2];   // bit (ply - 1) / 2: the colour was in check at that move

    // What the pruning did in this search (for tests and the benchmark).
    uint64_t nullMoves;       // null moves made
    uint64_t nullShortcuts;   // shallow nodes answered with the bare evaluation instead
    uint64_t reducedMoves;    // late moves searched with a reduction
    uint64_t futileNodes;     // frontier nodes found futile

    // Per-ply records.
    Move pv[MAX_PLY][MAX_PLY];  // best line from each ply, 0-terminated
};

// One per search thread: the main search and each helper write only their own.
extern thread_local constinit SearchState Search;

void ResetSearchState();

inline int32_t Selectivity(const SearchState& s) {
    return static_cast<int32_t>((s.searchFlags & SearchOption::SELECTIVITY_MASK) >> SearchOption::SELECTIVITY_SHIFT);
}

}  // namespace tavrix
