// The recursive alpha-beta search below the root.
#pragma once

#include <cstdint>

#include "board/position.h"
#include "search/search_state.h"

namespace tavrix {

// Node kinds and marks carried in the flags argument of SearchNode and Quiesce.
namespace NodeFlag {
constexpr uint32_t ANSWER_WHITE = 0x0001;   // a threat against that colour is being answered
constexpr uint32_t ANSWER_BLACK = 0x0002;
constexpr uint32_t THREATS_HANDLED = 0x000C; // count of threats already handled below
constexpr uint32_t THREAT_STEP = 0x0004;
constexpr uint32_t PV_NODE = 0x0100;
constexpr uint32_t CUT_NODE = 0x0200;
constexpr uint32_t VERIFY_NODE = 0x0400;
constexpr uint32_t NULL_SUBTREE = 0x1000;
constexpr uint32_t SEARCH_ALL = 0x2000;      // quiescence: search every move
constexpr uint32_t CHILD_MASK = 0xD30F;      // carried to move-loop children
constexpr uint32_t NULL_CHILD_MASK = 0xC30F; // carried to the null-move child
}  // namespace NodeFlag
constexpr uint32_t AnswerMark(Colour c) { return static_cast<uint32_t>(c + 1); }

// Bits of a ply's checkFlag word that the search writes on the child record.
namespace PlyMark {
constexpr uint16_t HASH_MOVE = 0x2000;  // the node was reached by the hash move
constexpr uint16_t REDUCED = 0x4000;    // the node is searched with a reduction
}  // namespace PlyMark

constexpr int32_t MATED_BASE = 8193;          // mated at ply p scores p - MATED_BASE
constexpr int32_t NO_SCORE_YET = -8192;
constexpr int32_t FORCED_LOSS_BASE = -7700;   // stand-pat base of forced nodes
constexpr int32_t FUTILITY_MARGIN = 416;      // doubled per ply of depth
constexpr int32_t LAZY_MARGIN_PER_PLY = 64;
constexpr int32_t FULL_EXTENSION = 32;        // one ply in 1/32 ply
constexpr int32_t HALF_EXTENSION = 16;
constexpr int16_t HASH_MOVE_SCORE = 32767;

// Full-width search at `ply` with `depth` plies (plus `fraction` / 32) in the window
// (alpha, beta). Fail-soft. On return Search.pv[ply] holds the best line.
int32_t SearchNode(Position& pos, int32_t ply, int32_t depth, int32_t fraction, int32_t alpha, int32_t beta,
                   uint32_t flags);

// Node entry shared with Quiesce: clears the ply's line, starts the ply's move list where the
// parent's ends, and polls when the countdown runs out.
// Returns true when the search has been stopped.
bool EnterNode(int32_t ply);

// The poll made when the countdown runs out: the think controller's clock and input check
// while a search runs, otherwise only a refill of the countdown.
void PollSearch();

}  // namespace tavrix
