// Pawn structure.
#pragma once

#include <cstdint>
#include <cstring>

#include "board/position.h"

namespace tavrix {

// Pawn-structure score from White's view; the indicators give the side to move (1/0).
int32_t EvaluatePawns(Position& pos, int32_t whiteIndicator, int32_t blackIndicator);
struct PawnFacts;
// One side's pawn score before the White-minus-Black sum; themToMove is 1 when the other
// side is to move. Adds to pawnShadeWeight and the other side's threat lists. Reads the
// facts of the position's pawns given, or else those of the pawn cache, and keeps the king
// shield score in them.
int32_t PawnSide(Position& pos, Colour us, int32_t themToMove, PawnFacts* facts = nullptr);

// The weak-pawn terms of one pawn, shared by the pawn structure and the pawn endings.
struct WeakPawnTerms {
    int32_t penalty;     // unsupported, blockaded and backward, to subtract
    bool isolated;       // no own pawn on either adjacent file (its cost is the caller's)
    bool backward;
};
// `own` and `opp` are the pawn bytes of `us` and of the enemy seen from `us` (bit r = a pawn
// on `us`'s rank r), indexed file + 1 with empty guards; openToHeavy: the file is open ahead
// and the enemy has a rook or queen.
// The board's pawn bytes of `us` and of the enemy in that form.
void RelativePawnFiles(const Position& pos, Colour us, uint8_t own[10], uint8_t opp[10]);
WeakPawnTerms WeakPawn(const Position& pos, Colour us, int sq, const uint8_t own[10], const uint8_t opp[10],
                       bool openToHeavy);

// ---------------------------------------------------------------- pawn facts
// What the pawns alone decide of one side's pawn score, kept by the pawn cache. Square sets
// have bit = square.
struct PawnSideFacts {
    uint64_t freeFront;         // pawns without a pawn in front: a piece there counts
    uint64_t weak;              // neither supportable nor covered: a blockader in front costs
    uint64_t guardCompared;     // backward and not rammed: cheaper when not attacked more than defended
    uint64_t passed;
    int32_t base;               // every term that reads no piece, no king and no phase; chains
                                // counted without the king shield
    int16_t stormHalves;        // storm terms in halves of 1 << storm shift
    uint8_t isolated;           // counts of the costs that scale with the phase or the enemy's
    uint8_t openIsolated;       // rooks and queens
    uint8_t openBackward;
    uint8_t doubled;
    uint8_t candidates;
    uint8_t candidateRanks;     // the candidates' rank terms before the phase shift
    uint8_t shade[2];           // pawnShadeWeight with every front square free of pieces
    uint8_t candidateFiles[8];  // by the enemy king's file: the candidates' file distances to it

    bool operator==(const PawnSideFacts&) const = default;
};
static_assert(sizeof(PawnSideFacts) == 56);

// The facts of both sides for one pawn placement, with the king shield each side's score
// last found on it (the shield reads the king and the phase besides the pawns).
struct PawnFacts {
    uint64_t pawns[2];          // the placement by colour as pawn-file words: the cache key
    PawnSideFacts side[2];
    uint32_t shieldKey[2];      // phase and king shape of the shield score; 0 = none yet
    int32_t shield[2];
    uint32_t generation;        // the pawn cache generation the facts were found in
};

// The pawns of colour c as the board's pawn-file bytes in one word (bit 8 * file + rank):
// a key as exact as the square set, read without the transposition.
inline uint64_t PawnFileWord(const Position& pos, Colour c) {
    uint64_t x;
    std::memcpy(&x, pos.pawnFile[c] + 1, sizeof x);
    return x;
}
// The bit of a square in a pawn-file word.
constexpr int PawnFileBit(int sq) { return 8 * FileOf(sq) + RankOf(sq); }
// The pawns of colour c as a square set, from the board's pawn-file bytes.
uint64_t PawnSquares(const Position& pos, Colour c);
// The facts of the position's pawns, computed afresh (no shield score yet, generation 0).
void FindPawnFacts(const Position& pos, PawnFacts& facts);

}  // namespace tavrix
