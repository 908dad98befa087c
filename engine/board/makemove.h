// Make, unmake and the null move: every derived field of the Position stays exact.
#pragma once

#include "board/position.h"

namespace tavrix {

// Applies a pseudo-legal move; the caller rejects it afterwards when the mover's king is
// attacked (its square attacked in OwnAttacks, which then belongs to the side to move).
void MakeMove(Position& p, Move move);
// Takes back the move of the record at undoTop.
void UnmakeMove(Position& p);
void MakeNullMove(Position& p);
// The high word of the key after a pseudo-legal move: the word the tables are indexed by
// (castling rights and en passant change only the low word).
uint32_t KeyHighAfter(const Position& p, Move move);
void UnmakeNullMove(Position& p);

// Type masks, line masks, pawn ranks and files, material and signature of one piece
// (the king has only its slot); liveSlots is left to the caller.
void AddPieceMasks(Position& p, Colour c, PieceType type, int sq, uint32_t bit);
void RemovePieceMasks(Position& p, Colour c, PieceType type, int sq, uint32_t bit);

// lastToSquare as the record at undoTop leaves it: 0 after a null move and for the set-up
// entry, whose sentinel word would otherwise read as a move to b1.
inline uint8_t LastToSquareOf(const Position& p) {
    const Move m = p.undoStack[p.undoTop].move;
    const bool sentinel = (p.undoTop == 0) & (m == SENTINEL_MOVE);
    return static_cast<uint8_t>(MoveTo(m) & (sentinel ? 0 : 0xFF));
}

}  // namespace tavrix
