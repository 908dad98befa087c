#include "board/makemove.h"

#include <cstddef>
#include <cstring>

#include "board/attacks.h"
#include "board/tables.h"

namespace tavrix {

namespace {

constexpr int32_t CASTLING_GAIN = 64;
constexpr int32_t EN_PASSANT_GAIN = 128;
constexpr int32_t QUEEN_PROMOTION_GAIN = 576;
constexpr int SWING_SHIFT = 6;
constexpr int GAIN_SHIFT = 5;
constexpr int DOUBLE_PUSH = 16;

inline void SetLineMasks(Position& p, Colour c, PieceType type, uint32_t bit) {
    if (type == BISHOP || type == QUEEN) p.diagonalSlots[c] |= bit;
    if (type == ROOK || type == QUEEN) p.straightSlots[c] |= bit;
    if (type >= BISHOP && type <= QUEEN) p.sliderSlots[c] |= bit;
}
inline void ClearLineMasks(Position& p, Colour c, uint32_t bit) {
    p.diagonalSlots[c] &= ~bit;
    p.straightSlots[c] &= ~bit;
    p.sliderSlots[c] &= ~bit;
}
inline void SetPawnSquare(Position& p, Colour c, int sq, uint32_t bit) {
    p.pawnRankSlots[c][RankOf(sq)] |= bit;
    p.pawnFile[c][FileOf(sq) + 1] |= static_cast<uint8_t>(1u << RankOf(sq));
}
inline void ClearPawnSquare(Position& p, Colour c, int sq, uint32_t bit) {
    p.pawnRankSlots[c][RankOf(sq)] &= ~bit;
    p.pawnFile[c][FileOf(sq) + 1] &= static_cast<uint8_t>(~(1u << RankOf(sq)));
}

inline void DropHanging(Position& p, Colour c, int sq) {
    p.hangingTotal[c] -= p.hangingValue[sq];
    p.hangingValue[sq] = 0;
    p.hangingSlots[c] &= ~p.squareSlot[sq];
}

// Ray updates in each map that a slider or x-ray reaches the square in.
inline void VacateWhereReached(Position& p, int sq, uint8_t lineBits) {
    for (Colour c = WHITE; c <= BLACK; ++c)
        if (SliderReaches(p.attackMap[c].square[sq])) VacateSquare(p, c, sq, lineBits);
}
inline void OccupyWhereReached(Position& p, int sq, uint8_t lineBits) {
    for (Colour c = WHITE; c <= BLACK; ++c)
        if (SliderReaches(p.attackMap[c].square[sq])) OccupySquare(p, c, sq, lineBits);
}
inline void ReplaceWhereReached(Position& p, int sq, uint8_t oldLineBits, uint8_t newLineBits) {
    for (Colour c = WHITE; c <= BLACK; ++c)
        if (SliderReaches(p.attackMap[c].square[sq])) ReplaceOccupant(p, c, sq, oldLineBits, newLineBits);
}

inline void LiftPiece(Position& p, int sq) {
    p.pieceType[sq] = NO_PIECE;
    p.pieceColour[sq] = EMPTY_COLOUR;
    p.squareSlot[sq] = 0;
}
inline void PlacePiece(Position& p, Colour c, PieceType type, int sq, uint32_t bit) {
    p.pieceType[sq] = type;
    p.pieceColour[sq] = static_cast<uint8_t>(c);
    p.squareSlot[sq] = bit;
    p.slotSquare[c][SlotIndex(bit)] = static_cast<uint8_t>(sq);
}

// The piece's threatened bit is of the square it left: dropped here, and found again by
// the hanging values when the new square is attacked.
inline void MarkIfAttacked(Position& p, Colour c, int sq, uint32_t bit) {
    p.attackedSlots[c] = WithBit(p.attackedSlots[c], bit, p.attackMap[c ^ 1].square[sq].attackWeight != 0);
    p.threatenedSlots[c] &= ~bit;
}

// Copies of this size are fastest through the C library's memcpy, which picks the widest
// moves the processor offers at run time. Left to itself the compiler expands a copy of a
// known size inline, with baseline 16-byte moves or "rep movs", both slower; an opaque size
// keeps the call.
template <size_t BYTES>
inline void CopyBlock(void* to, const void* from) {
    size_t bytes = BYTES;
    asm("" : "+r"(bytes));
    std::memcpy(to, from, bytes);
}

// Copies the attack maps and hanging values between a position and its snapshot, either way.
template <typename To, typename From>
inline void CopyAttackState(To& to, const From& from) {
    CopyBlock<sizeof to.attackMap>(to.attackMap, from.attackMap);
    CopyBlock<sizeof to.hangingValue>(to.hangingValue, from.hangingValue);
    to.hangingSlots[WHITE] = from.hangingSlots[WHITE];
    to.hangingSlots[BLACK] = from.hangingSlots[BLACK];
    to.hangingTotal[WHITE] = from.hangingTotal[WHITE];
    to.hangingTotal[BLACK] = from.hangingTotal[BLACK];
    to.threatenedSlots[WHITE] = from.threatenedSlots[WHITE];
    to.threatenedSlots[BLACK] = from.threatenedSlots[BLACK];
}

struct CastleSquares {
    int kingFrom, kingTo, rookFrom, rookTo;
};

CastleSquares CastlingSquares(const Position& p, Move move) {
    const int from = MoveFrom(move);
    const int to = MoveTo(move);
    if (!p.chess960) return to > from ? CastleSquares{from, to, from + 3, from + 1} : CastleSquares{from, to, from - 4, from - 1};
    // King to its own rook: the g- and f-files when the rook stands on the king's right.
    const int backRank = from & ~7;
    return to > from ? CastleSquares{from, backRank + 6, to, backRank + 5}
                     : CastleSquares{from, backRank + 2, to, backRank + 3};
}

// Moves king and rook together.
void Castle(Position& p, Colour c, Move move, PlyRecord& r) {
    const CastleSquares s = CastlingSquares(p, move);
    const uint32_t kingBit = p.squareSlot[s.kingFrom];
    const uint32_t rookBit = p.squareSlot[s.rookFrom];

    RemoveAttacks(p, KING, c, s.kingFrom);
    RemoveAttacks(p, ROOK, c, s.rookFrom);
    DropHanging(p, c, s.rookFrom);
    LiftPiece(p, s.kingFrom);
    VacateWhereReached(p, s.kingFrom, 0);
    LiftPiece(p, s.rookFrom);
    VacateWhereReached(p, s.rookFrom, ROOK_LINES);
    PlacePiece(p, c, KING, s.kingTo, kingBit);
    OccupyWhereReached(p, s.kingTo, 0);
    PlacePiece(p, c, ROOK, s.rookTo, rookBit);
    OccupyWhereReached(p, s.rookTo, ROOK_LINES);
    AddAttacks(p, KING, c, s.kingTo);
    AddAttacks(p, ROOK, c, s.rookTo);
    // The rook's hanging value was dropped; it needs a fresh one where it now stands.
    MarkIfAttacked(p, c, s.rookTo, rookBit);

    XorKey(p, PieceKey(KING, c, s.kingFrom) ^ PieceKey(KING, c, s.kingTo) ^ PieceKey(ROOK, c, s.rookFrom) ^
                  PieceKey(ROOK, c, s.rookTo));
    // The counts the two target squares held come back exactly on unmake.
    r.toSquareCount = p.moveCount[s.kingTo];
    r.capturedSlot = p.moveCount[s.rookTo];
    r.capturedType = NO_PIECE;
    p.moveCount[s.kingTo] = 1;
    p.moveCount[s.rookTo] = 1;
}

// Puts king and rook back on the board; the maps come back with the snapshot.
void UncastleBoard(Position& p, Colour c, Move move, const PlyRecord& r) {
    const CastleSquares s = CastlingSquares(p, move);
    const uint32_t kingBit = p.squareSlot[s.kingTo];
    const uint32_t rookBit = p.squareSlot[s.rookTo];
    LiftPiece(p, s.kingTo);
    LiftPiece(p, s.rookTo);
    PlacePiece(p, c, KING, s.kingFrom, kingBit);
    PlacePiece(p, c, ROOK, s.rookFrom, rookBit);
    p.moveCount[s.kingTo] = r.toSquareCount;
    p.moveCount[s.rookTo] = static_cast<uint8_t>(r.capturedSlot);
}

}  // namespace

void AddPieceMasks(Position& p, Colour c, PieceType type, int sq, uint32_t bit) {
    if (type == KING) return;
    TypeSlots(p, type)[c] |= bit;
    SetLineMasks(p, c, type, bit);
    if (type == PAWN) SetPawnSquare(p, c, sq, bit);
    p.material[c] += PieceValue[type];
    p.materialSignature[c] += SignatureOf[type];
}

void RemovePieceMasks(Position& p, Colour c, PieceType type, int sq, uint32_t bit) {
    TypeSlots(p, type)[c] &= ~bit;
    ClearLineMasks(p, c, bit);
    if (type == PAWN) ClearPawnSquare(p, c, sq, bit);
    p.material[c] -= PieceValue[type];
    p.materialSignature[c] -= SignatureOf[type];
}

void MakeMove(Position& p, Move move) {
    const Colour m = p.sideToMove;
    const Colour o = m ^ 1;
    const int from = MoveFrom(move);
    const int to = MoveTo(move);
    const uint16_t kind = KindOf(move);

    ++p.nodes;
    ++p.ply;
    PlyRecord& r = p.undoStack[++p.undoTop];
    r.gainByte = static_cast<uint8_t>(p.gainCoarse);
    r.swingByte = static_cast<uint8_t>(p.threatSwingCoarse);
    r.epSquare = p.epSquare;
    r.mover = static_cast<uint8_t>(m);
    r.toSquareCount = p.moveCount[to];
    r.irreversiblePly = static_cast<uint16_t>(p.lastIrreversiblePly);
    r.keyLow = p.hashKey[0];
    r.keyHigh = p.hashKey[1];
    r.capturedSlot = 0;
    p.lastToSquare = static_cast<uint8_t>(to);

    if (p.epSquare != 0) {
        p.hashKey[0] ^= SquareKeys[p.epSquare];
        p.epSquare = 0;
    }
    // A castling right's key term toggles once, when its king or rook first moves.
    if (p.moveCount[from] == 0) {
        if (p.pieceType[from] == KING) {
            for (int wing = KING_SIDE; wing <= QUEEN_SIDE; ++wing) {
                const int rook = p.castleRookSquare[m][wing];
                if (p.pieceType[rook] == ROOK && p.pieceColour[rook] == m && p.moveCount[rook] == 0)
                    p.hashKey[0] ^= SquareKeys[CastleCorner[m][wing]];
            }
        } else if (p.pieceType[from] == ROOK && p.moveCount[KingSquare(p, m)] == 0) {
            p.hashKey[0] ^= CastleKey(p, m, from);
        }
    }

    r.move = move;
    CopyAttackState(p.snapshot[p.undoTop], p);
    p.attackedSlots[WHITE] = p.attackedSlots[BLACK] = 0;
    p.prevHangingTotal[WHITE] = p.hangingTotal[WHITE];
    p.prevHangingTotal[BLACK] = p.hangingTotal[BLACK];

    if (kind == MoveKind::CASTLING) {
        Castle(p, m, move, r);
        p.moveGain = CASTLING_GAIN;
    } else {
        DropHanging(p, m, from);
        const PieceType moved = p.pieceType[from];
        const PieceType victim = p.pieceType[to];
        const PieceType placed = IsPromotion(move) ? PromotedType(move) : moved;
        RemoveAttacks(p, moved, m, from);
        r.capturedType = victim;

        if (victim != NO_PIECE) {
            DropHanging(p, o, to);
            RemoveAttacks(p, victim, o, to);
            // Only a change of line bits changes which x-rays run on beyond the square.
            if (LineBits[victim] != LineBits[placed]) ReplaceWhereReached(p, to, LineBits[victim], LineBits[placed]);
            const uint32_t victimBit = p.squareSlot[to];
            r.capturedSlot = static_cast<uint16_t>(victimBit);
            p.liveSlots[o] ^= victimBit;
            RemovePieceMasks(p, o, victim, to, victimBit);
            p.lastIrreversiblePly = p.ply;
            p.moveGain = PieceValue[victim];
            XorKey(p, PieceKey(victim, o, to));
        } else {
            p.moveGain = 0;
            OccupyWhereReached(p, to, LineBits[placed]);
        }
        p.pieceColour[to] = static_cast<uint8_t>(m);
        p.pieceType[to] = placed;

        if (kind == MoveKind::EN_PASSANT) {
            const int captured = to - PawnPush[m];
            const uint32_t pawnBit = p.squareSlot[captured];
            RemoveAttacks(p, PAWN, o, captured);
            DropHanging(p, o, captured);
            LiftPiece(p, captured);
            VacateWhereReached(p, captured, 0);
            p.liveSlots[o] ^= pawnBit;
            RemovePieceMasks(p, o, PAWN, captured, pawnBit);
            XorKey(p, PieceKey(PAWN, o, captured));
            r.capturedSlot = static_cast<uint16_t>(pawnBit);
            p.moveGain = EN_PASSANT_GAIN;
        }

        const uint32_t bit = p.squareSlot[from];
        p.squareSlot[to] = bit;
        p.slotSquare[m][SlotIndex(bit)] = static_cast<uint8_t>(to);
        LiftPiece(p, from);

        if (moved == PAWN) {
            p.lastIrreversiblePly = p.ply;
            ClearPawnSquare(p, m, from, bit);
            if (IsPromotion(move)) {
                p.material[m] += PromotionCredit[placed];
                p.materialSignature[m] += PromotionSignatureStep[placed];
                TypeSlots(p, placed)[m] |= bit;
                p.pawnSlots[m] ^= bit;
                SetLineMasks(p, m, placed, bit);
                if (placed == QUEEN) p.moveGain += QUEEN_PROMOTION_GAIN;
            } else {
                SetPawnSquare(p, m, to, bit);
                if (to - from == DOUBLE_PUSH || from - to == DOUBLE_PUSH) {
                    const int passed = (from + to) / 2;
                    if (p.attackMap[o].square[passed].attackWeight & AttackWeight::PAWN_MASK) {
                        p.epSquare = static_cast<uint8_t>(passed);
                        p.hashKey[0] ^= SquareKeys[passed];
                    }
                }
            }
        }

        XorKey(p, PieceKey(placed, m, to) ^ PieceKey(moved, m, from));
        VacateWhereReached(p, from, LineBits[moved]);
        AddAttacks(p, placed, m, to);
        MarkIfAttacked(p, m, to, bit);
        p.moveCount[to] = static_cast<uint8_t>(p.moveCount[from] + 1);
    }

    r.checkFlag = p.attackMap[m].square[KingSquare(p, o)].attackWeight != 0 ? IN_CHECK_FLAG : 0;
    if (p.attackedSlots[WHITE] | p.attackedSlots[BLACK]) RecomputeHanging(p);
    p.threatSwing = (p.hangingTotal[o] - p.prevHangingTotal[o]) - (p.hangingTotal[m] - p.prevHangingTotal[m]);
    p.threatSwingCoarse = p.threatSwing >> SWING_SHIFT;
    p.gainCoarse = p.moveGain >> GAIN_SHIFT;
    r.netGain = static_cast<int16_t>(p.moveGain - p.hangingValue[to]);
    p.sideToMove = o;
    p.ownSide ^= 1;
}

void UnmakeMove(Position& p) {
    PlyRecord& r = p.undoStack[p.undoTop];
    const Move move = r.move;
    const Colour o = p.sideToMove;
    const Colour m = o ^ 1;
    const int from = MoveFrom(move);
    const int to = MoveTo(move);
    const uint16_t kind = KindOf(move);

    p.ownSide ^= 1;
    CopyAttackState(p, p.snapshot[p.undoTop]);

    if (kind == MoveKind::CASTLING) {
        UncastleBoard(p, m, move, r);
    } else {
        p.moveCount[from] = static_cast<uint8_t>(p.moveCount[to] - 1);
        p.moveCount[to] = r.toSquareCount;
        const PieceType moved = p.pieceType[to];
        const PieceType earlier = IsPromotion(move) ? PAWN : moved;
        const uint32_t bit = p.squareSlot[to];
        PlacePiece(p, m, earlier, from, bit);

        if (kind == MoveKind::EN_PASSANT) {
            const int captured = to - PawnPush[m];
            const uint32_t pawnBit = r.capturedSlot;
            PlacePiece(p, o, PAWN, captured, pawnBit);
            p.liveSlots[o] |= pawnBit;
            AddPieceMasks(p, o, PAWN, captured, pawnBit);
        }

        if (earlier == PAWN) {
            SetPawnSquare(p, m, from, bit);
            if (IsPromotion(move)) {
                p.material[m] -= PromotionCredit[moved];
                p.materialSignature[m] -= PromotionSignatureStep[moved];
                TypeSlots(p, moved)[m] &= ~bit;
                p.pawnSlots[m] |= bit;
                ClearLineMasks(p, m, bit);
            } else {
                ClearPawnSquare(p, m, to, bit);
            }
        }

        const PieceType victim = r.capturedType;
        if (victim != NO_PIECE) {
            const uint32_t victimBit = r.capturedSlot;
            PlacePiece(p, o, victim, to, victimBit);
            p.liveSlots[o] |= victimBit;
            AddPieceMasks(p, o, victim, to, victimBit);
        } else {
            LiftPiece(p, to);
        }
    }

    --p.ply;
    p.epSquare = r.epSquare;
    p.lastIrreversiblePly = r.irreversiblePly;
    p.hashKey[0] = r.keyLow;
    p.hashKey[1] = r.keyHigh;
    p.threatSwingCoarse = static_cast<int8_t>(r.swingByte);
    p.gainCoarse = static_cast<int8_t>(r.gainByte);
    --p.undoTop;
    p.lastToSquare = LastToSquareOf(p);
    p.sideToMove = m;
}

uint32_t KeyHighAfter(const Position& p, Move move) {
    const Colour m = p.sideToMove;
    const Colour o = m ^ 1;
    uint64_t change;
    if (IsCastling(move)) {
        const CastleSquares s = CastlingSquares(p, move);
        change = PieceKey(KING, m, s.kingFrom) ^ PieceKey(KING, m, s.kingTo) ^ PieceKey(ROOK, m, s.rookFrom) ^
                 PieceKey(ROOK, m, s.rookTo);
    } else {
        const int from = MoveFrom(move);
        const int to = MoveTo(move);
        const PieceType moved = p.pieceType[from];
        const PieceType placed = IsPromotion(move) ? PromotedType(move) : moved;
        const PieceType victim = p.pieceType[to];
        change = PieceKey(moved, m, from) ^ PieceKey(placed, m, to);
        if (victim != NO_PIECE) change ^= PieceKey(victim, o, to);
        if (IsEnPassant(move)) change ^= PieceKey(PAWN, o, to - PawnPush[m]);
    }
    return p.hashKey[1] ^ static_cast<uint32_t>(change >> 32);
}

void MakeNullMove(Position& p) {
    ++p.nodes;
    PlyRecord& r = p.undoStack[++p.undoTop];
    ++p.ply;
    p.lastToSquare = 0;
    r.gainByte = static_cast<uint8_t>(p.gainCoarse);
    r.swingByte = static_cast<uint8_t>(p.threatSwingCoarse);
    r.move = NO_MOVE;
    r.capturedSlot = 0;
    r.capturedType = NO_PIECE;
    r.epSquare = p.epSquare;
    r.mover = static_cast<uint8_t>(p.sideToMove);
    r.irreversiblePly = static_cast<uint16_t>(p.lastIrreversiblePly);
    r.keyLow = p.hashKey[0];
    r.keyHigh = p.hashKey[1];
    r.checkFlag = 0;
    r.netGain = 0;
    if (p.epSquare != 0) {
        p.hashKey[0] ^= SquareKeys[p.epSquare];
        p.epSquare = 0;
    }
    p.threatSwingCoarse = 0;
    p.gainCoarse = 0;
    p.ownSide ^= 1;
    p.sideToMove ^= 1;
}

void UnmakeNullMove(Position& p) {
    const PlyRecord& r = p.undoStack[p.undoTop];
    --p.ply;
    p.epSquare = r.epSquare;
    p.lastIrreversiblePly = r.irreversiblePly;
    p.hashKey[0] = r.keyLow;
    p.hashKey[1] = r.keyHigh;
    p.threatSwingCoarse = static_cast<int8_t>(r.swingByte);
    p.gainCoarse = static_cast<int8_t>(r.gainByte);
    p.ownSide ^= 1;
    p.sideToMove ^= 1;
    --p.undoTop;
    p.lastToSquare = LastToSquareOf(p);
}

}  // namespace tavrix
