#include "board/position.h"

#include "board/attacks.h"
#include "board/makemove.h"
#include "board/tables.h"

namespace tavrix {
namespace {

constexpr uint8_t START_TYPES[64] = {
    ROOK, KNIGHT, BISHOP, QUEEN, KING, BISHOP, KNIGHT, ROOK,
    PAWN, PAWN,   PAWN,   PAWN,  PAWN, PAWN,   PAWN,   PAWN,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    PAWN, PAWN,   PAWN,   PAWN,  PAWN, PAWN,   PAWN,   PAWN,
    ROOK, KNIGHT, BISHOP, QUEEN, KING, BISHOP, KNIGHT, ROOK,
};
constexpr uint8_t START_COLOURS[64] = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,
    2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
};

constexpr int FIRST_SPARE_SLOT = 8;
constexpr int LAST_SLOT = SLOTS_PER_SIDE - 1;
constexpr int NO_SLOT = -1;
constexpr int LIGHT_BISHOP_SLOT = 4;
constexpr int DARK_BISHOP_SLOT = 5;
// Preferred slots by piece type: first and second choice (NO_SLOT: none).
constexpr int PreferredSlot[8][2] = {
    {NO_SLOT, NO_SLOT}, {NO_SLOT, NO_SLOT}, {6, 7}, {NO_SLOT, NO_SLOT}, {2, 3}, {1, 1}, {0, 0}, {NO_SLOT, NO_SLOT}};

constexpr uint32_t EP_GIVEN = 0x800;
constexpr uint32_t EP_SQUARE_MASK = 0x3F;
constexpr uint32_t ROOK_FILE_FLAGS = 0xFFFF0000u;
// Rook-file fields of the set-up flag word: [colour][wing] valid bit and file shift.
constexpr uint32_t RookFileValid[2][2] = {{0x08000000u, 0x80000000u}, {0x00080000u, 0x00800000u}};
constexpr int RookFileShift[2][2] = {{24, 28}, {16, 20}};
constexpr uint32_t CastleRight[2][2] = {{CastleFlag::WHITE_KING_SIDE, CastleFlag::WHITE_QUEEN_SIDE},
                                       {CastleFlag::BLACK_KING_SIDE, CastleFlag::BLACK_QUEEN_SIDE}};

int ChooseSlot(const Position& p, Colour c, int sq) {
    const PieceType type = p.pieceType[sq];
    auto isFree = [&](int slot) { return p.slotSquare[c][slot] == NO_SQUARE; };
    if (type == PAWN) {
        for (int slot = LAST_SLOT; slot > KING_SLOT; --slot)
            if (isFree(slot)) return slot;
        return NO_SLOT;
    }
    int first = PreferredSlot[type][0];
    int second = PreferredSlot[type][1];
    if (type == BISHOP) first = second = ShadeTable[sq] ? DARK_BISHOP_SLOT : LIGHT_BISHOP_SLOT;
    if (first != NO_SLOT && isFree(first)) return first;
    if (second != NO_SLOT && isFree(second)) return second;
    for (int slot = FIRST_SPARE_SLOT; slot <= LAST_SLOT; ++slot)
        if (isFree(slot)) return slot;
    return NO_SLOT;
}

// The king and rook a castling right needs: the rook on its square beside the king on
// the back rank. A right without them counts as absent.
bool CastlingPiecesInPlace(const Position& p, Colour c, int wing) {
    const int rook = p.castleRookSquare[c][wing];
    const int king = KingSquare(p, c);
    const int backRank = c == WHITE ? 0 : 7;
    if (p.pieceType[rook] != ROOK || p.pieceColour[rook] != c || RankOf(king) != backRank) return false;
    if (!p.chess960 && king != MakeSquare(4, backRank)) return false;
    return wing == KING_SIDE ? rook > king : rook < king;
}

}  // namespace

uint32_t CastleKey(const Position& p, Colour c, int square) {
    for (int wing = KING_SIDE; wing <= QUEEN_SIDE; ++wing)
        if (p.castleRookSquare[c][wing] == square) return SquareKeys[CastleCorner[c][wing]];
    return 0;
}

bool SetUpPosition(Position& p, int side, uint32_t flags) {
    if (side > BLACK) {
        for (int sq = 0; sq < 64; ++sq) {
            p.pieceType[sq] = START_TYPES[sq];
            p.pieceColour[sq] = START_COLOURS[sq];
        }
        side = WHITE;
    }
    // Keep the board, rebuild everything else from it.
    uint8_t types[64], colours[64];
    for (int sq = 0; sq < 64; ++sq) {
        types[sq] = p.pieceType[sq];
        colours[sq] = p.pieceColour[sq];
    }
    p = Position{};
    for (int sq = 0; sq < 64; ++sq) {
        p.pieceType[sq] = types[sq];
        p.pieceColour[sq] = types[sq] == NO_PIECE ? EMPTY_COLOUR : colours[sq];
    }
    for (auto& row : p.slotSquare)
        for (auto& s : row) s = NO_SQUARE;
    p.undoStack[0].move = SENTINEL_MOVE;

    // Castling rooks, moved to the given files when rights came as rook files.
    p.chess960 = flags > 0xFFFF ? 1 : 0;
    for (Colour c = WHITE; c <= BLACK; ++c) {
        for (int wing = KING_SIDE; wing <= QUEEN_SIDE; ++wing) {
            int sq = CastleCorner[c][wing];
            if ((flags & ROOK_FILE_FLAGS) && (flags & RookFileValid[c][wing]))
                sq = MakeSquare((flags >> RookFileShift[c][wing]) & 7, RankOf(sq));
            p.castleRookSquare[c][wing] = static_cast<uint8_t>(sq);
        }
    }

    int kings[2] = {0, 0};
    for (int sq = 0; sq < 64; ++sq) {
        const PieceType type = p.pieceType[sq];
        if (type == NO_PIECE) continue;
        const Colour c = p.pieceColour[sq];
        if (type > KING || c > BLACK) return false;
        // A pawn on the first or last rank could step off the board.
        if (type == PAWN && (RankOf(sq) == 0 || RankOf(sq) == 7)) return false;
        if (type == KING && ++kings[c] > 1) return false;
        p.moveCount[sq] = (type != START_TYPES[sq] || c != START_COLOURS[sq]) ? 1 : 0;
        const int slot = ChooseSlot(p, c, sq);
        if (slot == NO_SLOT) return false;
        const uint32_t bit = 1u << slot;
        p.squareSlot[sq] = bit;
        p.slotSquare[c][slot] = static_cast<uint8_t>(sq);
        p.liveSlots[c] |= bit;
        XorKey(p, PieceKey(type, c, sq));
        AddPieceMasks(p, c, type, sq, bit);
    }
    if (kings[WHITE] != 1 || kings[BLACK] != 1) return false;

    p.sideToMove = side;
    p.ownSide = side;
    BuildAttackMap(p, WHITE);
    BuildAttackMap(p, BLACK);
    p.attackedSlots[WHITE] = p.liveSlots[WHITE];
    p.attackedSlots[BLACK] = p.liveSlots[BLACK];
    RecomputeHanging(p);

    // Castling rights. An unmoved rook elsewhere would toggle a right it never had.
    for (int sq = 0; sq < 64; ++sq)
        if (p.pieceType[sq] == ROOK) p.moveCount[sq] = 1;
    for (Colour c = WHITE; c <= BLACK; ++c) {
        bool anyRight = false;
        for (int wing = KING_SIDE; wing <= QUEEN_SIDE; ++wing) {
            const int rook = p.castleRookSquare[c][wing];
            if ((flags & CastleRight[c][wing]) && CastlingPiecesInPlace(p, c, wing)) {
                p.moveCount[rook] = 0;
                anyRight = true;
            } else {
                if (p.pieceType[rook] == ROOK) p.moveCount[rook] = 1;
                p.hashKey[0] ^= SquareKeys[CastleCorner[c][wing]];
            }
        }
        if (anyRight) p.moveCount[KingSquare(p, c)] = 0;
    }

    // En passant only when a pawn of the side to move can take the pawn that just passed.
    if (flags & EP_GIVEN) {
        const int ep = flags & EP_SQUARE_MASK;
        const int pushed = ep - PawnPush[side];
        const int origin = ep + PawnPush[side];
        const bool passed = RankOf(ep) == (side == WHITE ? 5 : 2) && p.pieceType[ep] == NO_PIECE &&
                            p.pieceType[origin] == NO_PIECE && p.pieceType[pushed] == PAWN &&
                            p.pieceColour[pushed] == (side ^ 1);
        if (passed && (p.attackMap[side].square[ep].attackWeight & AttackWeight::PAWN_MASK)) {
            p.epSquare = static_cast<uint8_t>(ep);
            p.hashKey[0] ^= SquareKeys[ep];
        }
    }

    p.ply = 1;
    p.lastIrreversiblePly = 1;
    if (p.attackMap[side].square[KingSquare(p, side ^ 1)].attackWeight != 0) return false;
    if (p.attackMap[side ^ 1].square[KingSquare(p, side)].attackWeight != 0) p.undoStack[0].checkFlag = IN_CHECK_FLAG;
    return true;
}

}  // namespace tavrix
