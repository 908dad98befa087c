// Move generation: pseudo-legal lists of ScoredMoves read from the attack maps, written into
// one move buffer shared by all ply indices, each list starting where the previous ply's ends.
#pragma once

#include <cstdint>

#include "board/position.h"

namespace tavrix {

// The bound on one list: fifteen pieces with at most 27 targets each (a queen in the centre;
// a pawn has at most 3 targets x 4 promotions = 12) plus a king with 8 steps and 2 castlings.
constexpr int MAX_LIST_MOVES = 15 * 27 + 8 + 2 + 1;
constexpr int MOVE_LIST_PLIES = 66;      // ply indices 0..65; the undo stack allows fewer
constexpr int MOVE_BUFFER_SIZE = MOVE_LIST_PLIES * MAX_LIST_MOVES;

// Generator modes (the capture generator's extras; the others take their mode as the
// short flag of the promotion set).
namespace GenMode {
constexpr int FULL = 0;
constexpr int CAPTURES = 1;
constexpr int CHECKS_BIT = 2;                 // append quiet checks
constexpr int NEAR_PROMOTIONS = 6;            // also pushes to the seventh rank
}  // namespace GenMode

namespace EvasionFlag {
constexpr uint32_t KING_MOVE_MASK = 0x1FFF;
constexpr uint32_t DOUBLE_CHECK = 0x2000;
constexpr uint32_t DISCOVERED = 0x4000;
}  // namespace EvasionFlag

// Base scores written by the generators.
namespace BaseScore {
constexpr int16_t RECAPTURE_BONUS = 100;
constexpr int16_t EN_PASSANT = 128;
constexpr int16_t QUEEN_PUSH = 1120;          // capture generator, queen only
constexpr int16_t NEAR_PROMOTION = 1056;
constexpr int16_t SET_QUEEN = 1056;
constexpr int16_t SET_KNIGHT = -480;
constexpr int16_t SET_ROOK = -608;
constexpr int16_t SET_BISHOP = -832;
}  // namespace BaseScore

struct MoveListState {
    ScoredMove moves[MOVE_BUFFER_SIZE];
    int32_t listBegin[MOVE_LIST_PLIES + 1];   // listBegin[i + 1] is the end of ply i's list
};

// Each search thread keeps its own.
extern thread_local constinit MoveListState MoveLists;

void ResetMoveLists();

inline ScoredMove* ListBegin(int plyIndex) { return MoveLists.moves + MoveLists.listBegin[plyIndex]; }
inline ScoredMove* ListEnd(int plyIndex) { return MoveLists.moves + MoveLists.listBegin[plyIndex + 1]; }

// All captures, en passant, quiet moves and castling of `side` (not used in check).
int GenerateAllMoves(Position& p, Colour side, int plyIndex, int mode);
// Promotion pushes, captures, en passant; mode 6 adds near-promotion pushes, mode bit 2 quiet checks.
int GenerateCaptures(Position& p, Colour side, int plyIndex, int mode);
// Moves out of check: king moves first, then captures of and interpositions against the checker.
int GenerateEvasions(Position& p, Colour side, int plyIndex, int mode, uint32_t& outFlags);
// Quiet moves giving check (direct or discovered) to the king on `enemyKing`; marked with CHECK_MARK.
ScoredMove* GenerateChecks(const Position& p, Colour side, int enemyKing, ScoredMove* list);
// The promotions of one pawn move: queen, then the under-promotions the side may still have.
ScoredMove* GeneratePromotions(ScoredMove* list, int from, int to, const Position& p, Colour side, int shortFlag);
// Quiet moves of the piece on `square` that do not themselves attack the enemy king.
ScoredMove* GeneratePieceQuiet(ScoredMove* list, const Position& p, Colour side, int square, int enemyKing);

// Whether `side` has no move at all (stalemate test of the root when not in check).
bool HasNoLegalMove(Position& p, Colour side);

// Whether castling of `side` on `wing` (KING_SIDE, QUEEN_SIDE) passes the tests of generation;
// the king's own square is not tested (the caller knows whether the side is in check).
bool CastlingAllowed(const Position& p, Colour side, int wing);

}  // namespace tavrix
