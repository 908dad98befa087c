#include "eval/pieces.h"

#include <algorithm>
#include <bit>
#include <cstdlib>

#include "eval/eval_cache.h"
#include "eval/evaluate.h"

namespace tavrix {

namespace {

// ---------------------------------------------------------------- base tables
struct Table64 {
    int8_t v[64];
};
// Ranks 1-4 given; ranks 5-8 mirror them.
constexpr Table64 MirroredRanks(const int8_t (&half)[32]) {
    Table64 t{};
    for (int sq = 0; sq < 32; ++sq) {
        t.v[sq] = half[sq];
        t.v[sq ^ 56] = half[sq];
    }
    return t;
}

constexpr int8_t KNIGHT_HALF[32] = {
    -19, -13, -8, -4, -4, -8, -13, -19,  //
    -13, -5,  3,  8,  8,  3,  -5,  -13,  //
    -8,  3,   15, 20, 20, 15, 3,   -8,   //
    -4,  8,   20, 27, 27, 20, 8,   -4,
};
constexpr int8_t BISHOP_HALF[32] = {
    -3, 2,  2, 2, 2, 2, 2,  -3,  //
    2,  11, 6, 6, 6, 6, 11, 2,   //
    3,  6,  9, 9, 9, 9, 6,  3,   //
    4,  6,  9, 9, 9, 9, 6,  4,
};
constexpr int8_t ROOK_HALF[32] = {
    -1, 0, 2, 3, 3, 2, 0, -1,  //
    -1, 0, 2, 3, 3, 2, 0, -1,  //
    -1, 0, 2, 3, 3, 2, 0, -1,  //
    -1, 0, 2, 3, 3, 2, 0, -1,
};
constexpr int8_t KING_MIDDLE_HALF[32] = {
    0,   2,   -9,  -12, -12, -9,  2,   0,    //
    -8,  -4,  -12, -17, -17, -12, -4,  -8,   //
    -21, -19, -25, -27, -27, -25, -19, -21,  //
    -26, -26, -30, -33, -33, -30, -26, -26,
};
constexpr int8_t KING_END_HALF[32] = {
    -2, 2,  6,  10, 10, 6,  2,  -2,  //
    2,  10, 14, 18, 18, 14, 10, 2,   //
    6,  14, 22, 26, 26, 22, 14, 6,   //
    10, 18, 26, 34, 34, 26, 18, 10,
};
constexpr Table64 KNIGHT_BASE = MirroredRanks(KNIGHT_HALF);
constexpr Table64 BISHOP_BASE = MirroredRanks(BISHOP_HALF);
constexpr Table64 ROOK_BASE = MirroredRanks(ROOK_HALF);
constexpr Table64 KING_MIDDLE = MirroredRanks(KING_MIDDLE_HALF);
constexpr Table64 KING_END = MirroredRanks(KING_END_HALF);
// White's queen; Black reads it mirrored.
constexpr int8_t QUEEN_BASE[64] = {
    -12, -8, -2, 0,  0,  -2, -8, -12,  //
    -10, 1,  8,  8,  8,  8,  1,  -10,  //
    -8,  2,  6,  8,  8,  6,  2,  -8,   //
    -2,  5,  8,  12, 12, 8,  5,  -2,   //
    0,   5,  8,  12, 12, 8,  5,  0,    //
    -2,  2,  6,  8,  8,  6,  2,  -2,   //
    -8,  2,  4,  6,  6,  4,  2,  -8,   //
    -12, -8, -2, 0,  0,  -2, -8, -12,
};

// ---------------------------------------------------------------- term tables
constexpr int32_t KnightPawns[9] = {0, 0, -12, -6, 0, 4, 7, 11, 12};
constexpr int32_t RookMobility[15] = {-5, -2, 0, 1, 5, 8, 11, 13, 15, 17, 18, 19, 20, 21, 22};
constexpr int32_t OwnPawnBlock[8] = {0, 3, 3, 2, 2, 3, 3, 0};
constexpr int32_t XrayBonus[8] = {0, 1, 5, 5, 7, 13, 16, 0};
constexpr int32_t NoForwardPenalty[8] = {2, 4, 10, 24, 48, 72, 164, 172};
constexpr int32_t OpenDirections[5] = {-12, -4, 0, 2, 4};
constexpr int32_t BishopMobility[14] = {-8, -4, -1, 2, 5, 8, 10, 12, 14, 16, 18, 20, 21, 22};

constexpr int32_t KNIGHT_DEVELOPMENT_B = 14;
constexpr int32_t KNIGHT_DEVELOPMENT_G = 17;
constexpr int32_t BISHOP_DEVELOPMENT = 8;
constexpr int MINORS_PER_SIDE = 4;
constexpr int32_t DEVELOPMENT_PLIES = 17;
constexpr int32_t KNIGHT_BONUS_START = 8;
constexpr int32_t BISHOP_BONUS_START = 16;
constexpr int32_t QUEEN_DEVELOPED_BONUS = 8;
constexpr int32_t KING_PAWN_PHASE = 9;
constexpr int32_t STORM_PHASE = 4;
constexpr int32_t STORM_OPPOSITE_WINGS = 2;
constexpr uint8_t QUEEN_WING = 0x0F;
constexpr uint8_t KING_WING = 0xF0;
constexpr uint8_t FILES_A_TO_C = 0x07;
constexpr uint8_t FILES_F_TO_H = 0xE0;
constexpr int32_t KNIGHT_ROOK_PENALTY = 4;
constexpr int32_t KNIGHT_QUEEN_BONUS = 12;
constexpr int32_t BISHOP_PAIR_BASE = 22;
constexpr int32_t ROOK_SUPPORTED = 7;
constexpr int32_t ROOK_OPEN_FILE = 22;
constexpr int32_t ROOK_HALF_OPEN_FILE = 12;
constexpr int32_t ROOK_SEVENTH = 12;
constexpr int32_t TRAPPED_ROOK = 38;
constexpr int32_t TRAPPED_ROOK_PHASE = 3;
constexpr int32_t XRAY_TARGET_BASE = 4;
// The board directions of the bishop's walks, in the order of its direction bits:
// north-west, north-east, south-west, south-east.
constexpr int BISHOP_WALK_DIRECTION = 4;

constexpr int HOME_KNIGHT_B = 1, HOME_KNIGHT_G = 6, HOME_BISHOP_C = 2, HOME_BISHOP_F = 5;

inline int Flip(Colour c, int sq) { return c == WHITE ? sq : sq ^ 56; }
using geometry::KingDistance;
inline int Forward(Colour c) { return c == WHITE ? 8 : -8; }
inline int PawnsOf(const Position& pos, Colour c) { return SlotCount(pos.pawnSlots[c]); }
inline bool HasPawnAttack(const Position& pos, Colour by, int sq) {
    return (pos.attackMap[by].square[sq].attackWeight & AttackWeight::PAWN_MASK) != 0;
}

int CountDevelopedMinors(const Position& pos, Colour c) {
    int home = 0;
    auto holds = [&](int sq, PieceType t) {
        const int s = Flip(c, sq);
        return pos.pieceType[s] == t && pos.pieceColour[s] == c;
    };
    home += holds(HOME_KNIGHT_B, KNIGHT) + holds(HOME_KNIGHT_G, KNIGHT);
    home += holds(HOME_BISHOP_C, BISHOP) + holds(HOME_BISHOP_F, BISHOP);
    return MINORS_PER_SIDE - home;
}

// Ranks ahead of `rank` for colour c, as a bit mask over ranks.
inline int RanksAhead(Colour c, int rank) {
    return c == WHITE ? (0xFF << (rank + 1)) & 0xFF : (1 << rank) - 1;
}

// Ranks 3 to 6, where relative rank 2..5 falls for either colour; the knight's posts leave
// out the edge files.
constexpr uint64_t MIDDLE_RANKS = 0x0000FFFFFFFF0000ull;
constexpr uint64_t KNIGHT_POST_SQUARES = MIDDLE_RANKS & 0x7E7E7E7E7E7E7E7Eull;

// No enemy pawn on an adjacent file on a rank ahead of the square.
bool SafeFromPawns(Colour c, int sq) {
    const int ahead = RanksAhead(c, RankOf(sq));
    const int f = FileOf(sq);
    return ((PawnFileBits(c ^ 1, f - 1) | PawnFileBits(c ^ 1, f + 1)) & ahead) == 0;
}

// Knight term for the piece of colour c on sq; `common` holds the terms every knight of c shares.
template <Colour c>
int32_t KnightTerm(const Position& pos, int sq, int32_t common) {
    int32_t v = Eval.pieceTables[KNIGHT][c][sq] + common;
    if ((KNIGHT_POST_SQUARES >> sq) & 1 && SafeFromPawns(c, sq)) {
        const int rr = RelativeRank(c, sq);
        int o = Centrality[sq];
        if (HasPawnAttack(pos, c, sq)) o += o / 2;
        v += (o + 4 * rr) >> Eval.endWeightEighth;
    }
    return v;
}

// One walk of the bishop's mobility term, d = 0..3: north-west, north-east, south-west,
// south-east. A direction known at compile time fixes the scan and the forward test.
template <Colour side, int d>
inline void BishopWalk(const Position& pos, int square, uint64_t occupied, int& m, unsigned& open, int32_t& v) {
    constexpr Colour enemy = side ^ 1;
    constexpr int direction = BISHOP_WALK_DIRECTION + d;
    constexpr bool forward = side == WHITE ? d < 2 : d >= 2;
    // The empty squares up to the first piece, or to the edge, found by a bit scan.
    const uint64_t pieces = geometry::LineRayTable[direction][square] & occupied;
    const int end = geometry::LineRayEnd[direction][square];
    const int s = geometry::NearestOnRay(direction, pieces | (uint64_t{1} << end));
    // North-east and south-east raise the file: the distance needs no sign test.
    constexpr bool east = d == 1 || d == 3;
    const int files = east ? FileOf(s) - FileOf(square) : FileOf(square) - FileOf(s);
    const int empty = files - (pieces != 0 ? 1 : 0);
    m += empty;
    if (empty > 0) open |= 1u << d;
    if (pieces == 0) return;
    const PieceType t = pos.pieceType[s];
    if (pos.pieceColour[s] == side) {
        if (t == PAWN) {
            const int rr = RelativeRank(side, s);
            if (forward && rr >= 1 && rr <= 3) {
                const int front = s + Forward(side);
                int32_t penalty = OwnPawnBlock[rr];
                if (pos.pieceType[front] == PAWN || pos.pieceColour[front] == enemy) penalty *= 4;
                v -= penalty;
            }
        } else if (t != KING) {
            // Look through our own piece at what stands behind it.
            const uint64_t beyond = geometry::LineRayTable[direction][s] & occupied;
            if (beyond != 0) {
                const int behind = geometry::NearestOnRay(direction, beyond);
                const PieceType bt = pos.pieceType[behind];
                if (pos.pieceColour[behind] == enemy &&
                    (bt >= ROOK || pos.attackMap[enemy].square[behind].attackWeight == 0)) {
                    v += XRAY_TARGET_BASE + XrayBonus[bt];
                }
            }
        }
        return;
    }
    // Enemy piece.
    if (t == PAWN) {
        if (!HasPawnAttack(pos, enemy, s)) {
            v += 1;
        } else {
            const int next = s + DirectionStep[direction];
            if (s != end && pos.pieceType[next] == PAWN && pos.pieceColour[next] == enemy) {
                v -= HasPawnAttack(pos, enemy, next) ? 9 : 4;
            } else {
                v -= 2;
            }
        }
    }
}

template <Colour side>
int32_t BishopMobilityTerm(const Position& pos, int square, uint64_t occupied) {
    int m = 0;
    unsigned open = 0;
    int32_t v = 0;
    BishopWalk<side, 0>(pos, square, occupied, m, open, v);
    BishopWalk<side, 1>(pos, square, occupied, m, open, v);
    BishopWalk<side, 2>(pos, square, occupied, m, open, v);
    BishopWalk<side, 3>(pos, square, occupied, m, open, v);
    const unsigned forwardDirections = side == WHITE ? 0x3u : 0xCu;
    const int rr = RelativeRank(side, square);
    if ((open & forwardDirections) == 0 || (rr == 7 && m < 2)) {
        int32_t penalty = NoForwardPenalty[rr];
        if (Eval.rootSide != side) penalty >>= 1;
        v -= penalty;
    }
    return OpenDirections[SlotCount(open)] + BishopMobility[std::min(m, 13)] + v;
}

}  // namespace

// The bishop's mobility term, with the occupied squares given.
int32_t EvaluateBishopMobility(const Position& pos, int square, Colour side, uint64_t occupied) {
    return side == WHITE ? BishopMobilityTerm<WHITE>(pos, square, occupied) : BishopMobilityTerm<BLACK>(pos, square, occupied);
}

namespace {

template <Colour c>
int32_t BishopTerm(const Position& pos, int sq, int32_t common, uint64_t occupied) {
    int32_t v = Eval.pieceTables[BISHOP][c][sq] - Eval.pawnShadeWeight[c][IsDarkSquare(sq) ? 1 : 0] + common;
    if ((MIDDLE_RANKS >> sq) & 1 && SafeFromPawns(c, sq)) v += Centrality[sq] / 2;
    return v + EvaluateBishopMobility(pos, sq, c, occupied);
}

template <Colour c>
int32_t RookTerm(const Position& pos, int sq, uint32_t slotBit, uint64_t stops) {
    constexpr Colour e = c ^ 1;
    int32_t v = Eval.pieceTables[ROOK][c][sq] + Eval.endWeightHalf;
    if (pos.attackMap[c].square[sq].attackWeight & AttackWeight::ROOK_LINE_MASK) v += ROOK_SUPPORTED;
    const int f = FileOf(sq);
    if (PawnFileBits(c, f) == 0) v += PawnFileBits(e, f) == 0 ? ROOK_OPEN_FILE : ROOK_HALF_OPEN_FILE;
    const int rr = RelativeRank(c, sq);
    const int enemyKing = KingSquare(pos, e);
    const int kingRank = RelativeRank(c, enemyKing);
    if (rr > 3 && kingRank == rr + 1 && pos.pawnRankSlots[e][RankOf(sq)] == 0) v += 4 * rr;
    if (rr == 6 && kingRank >= 6) v += ROOK_SEVENTH + Eval.endWeightHalf;

    // Mobility along the lines, seeing through rooks and queens: up to and with the first
    // other piece on each line.
    const int east = geometry::FirstStop(0, sq, stops), north = geometry::FirstStop(1, sq, stops);
    const int west = geometry::FirstStop(2, sq, stops), south = geometry::FirstStop(3, sq, stops);
    int count = (east - west) + ((north - south) >> 3);
    count = std::min(count, 14);
    v += RookMobility[count];
    const int ownKing = KingSquare(pos, c);
    if (count < 3 && Eval.gamePhase > TRAPPED_ROOK_PHASE && Centrality[sq] <= 1 && pos.moveCount[ownKing] != 0 &&
        (pos.attackMap[c].square[ownKing].attackerSlots & slotBit) != 0) {
        v -= TRAPPED_ROOK;
    }
    return v;
}

template <Colour c>
int32_t SideTerms(const Position& pos, int a, int rooks, uint64_t occupied, uint64_t stops) {
    int32_t v = 0;
    if (const uint32_t knights = pos.knightSlots[c]) {
        const int32_t common = KnightPawns[a] - Eval.endWeightHalf - KNIGHT_ROOK_PENALTY * rooks +
                               (pos.queenSlots[c] != 0 ? KNIGHT_QUEEN_BONUS : 0);
        for (uint32_t m = knights; m; m &= m - 1) v += KnightTerm<c>(pos, pos.slotSquare[c][std::countr_zero(m)], common);
    }
    if (const uint32_t bishops = pos.bishopSlots[c]) {
        // A pair: more than one bishop.
        const int32_t common = Eval.endWeightQuarter + Eval.phaseHalf + ((bishops & (bishops - 1)) != 0 ? BISHOP_PAIR_BASE - a : 0);
        for (uint32_t m = bishops; m; m &= m - 1) {
            v += BishopTerm<c>(pos, pos.slotSquare[c][std::countr_zero(m)], common, occupied);
        }
    }
    for (uint32_t m = pos.rookSlots[c]; m; m &= m - 1) {
        const int slot = std::countr_zero(m);
        v += RookTerm<c>(pos, pos.slotSquare[c][slot], 1u << slot, stops);
    }
    for (uint32_t m = pos.queenSlots[c]; m; m &= m - 1) {
        v += Eval.pieceTables[QUEEN][c][pos.slotSquare[c][std::countr_zero(m)]];
    }
    return v;
}

}  // namespace

// ---------------------------------------------------------------- tables at search start
void AdjustKingTablesForPawns(const Position& root, int sq) {
    const int32_t w = (Eval.endWeight - 8) / 2 + 1;
    int32_t sum = 0;
    for (Colour c = WHITE; c <= BLACK; ++c) {
        const Colour e = c ^ 1;
        const int step = Forward(c);
        for (uint32_t m = root.pawnSlots[c]; m; m &= m - 1) {
            const int p = root.slotSquare[c][std::countr_zero(m)];
            const int f = FileOf(p);
            if ((PawnFileBits(c, f - 1) | PawnFileBits(c, f + 1)) == 0) sum += FileRankDistance(sq, p);

            bool blocked = false, contested = false;
            for (int s = p + step; RelativeRank(c, s) < 7; s += step) {
                if (root.pieceType[s] == PAWN) {
                    blocked = true;
                    break;
                }
                if (HasPawnAttack(root, e, s)) contested = true;
            }
            int front = p + step;
            if (root.pieceType[front] != PAWN && RelativeRank(c, p) != 6 && PawnsOf(root, c) >= PawnsOf(root, e)) {
                front += step;
            }
            const int promotion = Flip(c, MakeSquare(f, 7));
            if (blocked) {
                sum += FileRankDistance(sq, front) + KingDistance(sq, front);
            } else if (contested) {
                sum += 2 * (FileRankDistance(sq, front) + KingDistance(sq, front));
            } else {
                sum += FileRankDistance(sq, promotion) + FileRankDistance(sq, front) + 2 * KingDistance(sq, front) +
                       KingDistance(sq, promotion);
            }
        }
    }
    const int pawns = PawnsOf(root, WHITE) + PawnsOf(root, BLACK);
    if (pawns == 0) return;
    const int32_t adjust = 6 * w - (sum * w) / pawns;
    Eval.pieceTables[KING][WHITE][sq] = static_cast<int16_t>(Eval.pieceTables[KING][WHITE][sq] + adjust);
    Eval.pieceTables[KING][BLACK][sq] = static_cast<int16_t>(Eval.pieceTables[KING][BLACK][sq] + adjust);
}

void BuildPieceTables(const Position& root) {
    UpdatePhase(root);
    RefreshPawnFiles(root);
    auto& T = Eval.pieceTables;
    for (Colour c = WHITE; c <= BLACK; ++c) {
        for (int sq = 0; sq < 64; ++sq) {
            T[KNIGHT][c][sq] = KNIGHT_BASE.v[sq];
            T[BISHOP][c][sq] = BISHOP_BASE.v[sq];
            T[ROOK][c][sq] = ROOK_BASE.v[sq];
            T[QUEEN][c][sq] = QUEEN_BASE[Flip(c, sq)];
            T[KING][c][sq] = static_cast<int16_t>(
                (KING_MIDDLE.v[sq] * Eval.gamePhase + KING_END.v[sq] * Eval.endWeight) >> 4);
            T[PAWN][c][sq] = 0;
        }
    }

    // Minor pieces still at home early in the game.
    for (Colour c = WHITE; c <= BLACK; ++c) {
        if (Eval.developedMinors[c] < MINORS_PER_SIDE || root.ply < DEVELOPMENT_PLIES) {
            T[KNIGHT][c][Flip(c, HOME_KNIGHT_B)] -= KNIGHT_DEVELOPMENT_B;
            T[KNIGHT][c][Flip(c, HOME_KNIGHT_G)] -= KNIGHT_DEVELOPMENT_G;
            T[BISHOP][c][Flip(c, HOME_BISHOP_C)] -= BISHOP_DEVELOPMENT;
            T[BISHOP][c][Flip(c, HOME_BISHOP_F)] -= BISHOP_DEVELOPMENT;
            Eval.developedMinors[c] = static_cast<uint8_t>(CountDevelopedMinors(root, c));
        }
    }

    // Minor-piece bonuses from the pawn structure.
    Eval.knightBonus = KNIGHT_BONUS_START;
    Eval.bishopBonus = BISHOP_BONUS_START;
    Eval.bishopWingBonus[WHITE] = Eval.bishopWingBonus[BLACK] = 0;
    uint8_t fileMask[2] = {0, 0};
    int blocked[2] = {0, 0}, free[2] = {0, 0};
    for (Colour c = WHITE; c <= BLACK; ++c) {
        for (uint32_t m = root.pawnSlots[c]; m; m &= m - 1) {
            const int p = root.slotSquare[c][std::countr_zero(m)];
            fileMask[c] = static_cast<uint8_t>(fileMask[c] | (1u << FileOf(p)));
            if (root.pieceType[p + Forward(c)] == PAWN) ++blocked[c];
            else ++free[c];
        }
    }
    const uint8_t allFiles = fileMask[WHITE] | fileMask[BLACK];
    const bool bothWings = (allFiles & QUEEN_WING) && (allFiles & KING_WING);
    const bool sameFiles = fileMask[WHITE] == fileMask[BLACK];
    if (allFiles != 0) {
        if (blocked[WHITE] > 2 * free[WHITE] && blocked[BLACK] > 2 * free[BLACK]) {
            Eval.knightBonus = (bothWings ? Eval.endWeightHalf : Eval.endWeight) + KNIGHT_BONUS_START;
        } else if (bothWings && sameFiles) {
            Eval.bishopBonus = Eval.endWeightQuarter + BISHOP_BONUS_START;
        } else if (bothWings) {
            Eval.bishopBonus = Eval.endWeightHalf + BISHOP_BONUS_START;
            for (const uint8_t wing : {QUEEN_WING, KING_WING}) {
                const int d = SlotCount(fileMask[WHITE] & wing) -
                              SlotCount(fileMask[BLACK] & wing);
                if (d >= 2) Eval.bishopWingBonus[WHITE] += Eval.endWeightHalf;
                else if (d == 1) Eval.bishopWingBonus[WHITE] += Eval.endWeightQuarter;
                else if (d == -1) Eval.bishopWingBonus[BLACK] += Eval.endWeightQuarter;
                else if (d <= -2) Eval.bishopWingBonus[BLACK] += Eval.endWeightHalf;
            }
        } else if (!sameFiles) {
            Eval.bishopBonus = Eval.endWeightQuarter + BISHOP_BONUS_START;
        }
    }

    const int whiteKing = KingSquare(root, WHITE);
    const int blackKing = KingSquare(root, BLACK);
    const bool kingsToPawns = Eval.gamePhase < KING_PAWN_PHASE && allFiles != 0;
    for (int sq = 0; sq < 64; ++sq) {
        for (Colour c = WHITE; c <= BLACK; ++c) {
            T[PAWN][c][sq] = static_cast<int16_t>(
                T[PAWN][c][sq] + (PawnBase[Flip(c, sq)] * (Eval.phaseHalf + 8)) / 16 - 8 + Eval.endWeightHalf);
            T[KNIGHT][c][sq] = static_cast<int16_t>(T[KNIGHT][c][sq] + Eval.knightBonus -
                                                    FileRankDistance(sq, whiteKing) -
                                                    FileRankDistance(sq, blackKing));
            T[BISHOP][c][sq] = static_cast<int16_t>(T[BISHOP][c][sq] + Eval.bishopBonus + Eval.bishopWingBonus[c]);
            const int enemyKing = c == WHITE ? blackKing : whiteKing;
            T[ROOK][c][sq] = static_cast<int16_t>(
                T[ROOK][c][sq] -
                std::min(std::abs(FileOf(sq) - FileOf(enemyKing)), std::abs(RankOf(sq) - RankOf(enemyKing))));
            if (Eval.developedMinors[c] == MINORS_PER_SIDE) {
                T[QUEEN][c][sq] = static_cast<int16_t>(T[QUEEN][c][sq] + QUEEN_DEVELOPED_BONUS -
                                                       FileRankDistance(sq, enemyKing));
            }
            // Pieces of c near sq make it a good square for the enemy knights.
            for (uint32_t m = root.liveSlots[c]; m; m &= m - 1) {
                const int s = root.slotSquare[c][std::countr_zero(m)];
                if (KingDistance(s, sq) <= 2 && FileRankDistance(s, sq) <= 3) {
                    T[KNIGHT][c ^ 1][sq] = static_cast<int16_t>(T[KNIGHT][c ^ 1][sq] + Eval.endWeightQuarter +
                                                                (root.pieceType[s] != PAWN ? 1 : 0));
                }
            }
        }
        if (kingsToPawns) AdjustKingTablesForPawns(root, sq);
    }

    // Pawn-storm zones against a king castled on the other wing.
    for (Colour c = WHITE; c <= BLACK; ++c) {
        Eval.stormZone[c] = 0;
        Eval.stormLevel[c] = STORM_NONE;
        if (Eval.gamePhase <= STORM_PHASE) continue;
        const int ownFile = FileOf(KingSquare(root, c));
        const int enemyFile = FileOf(KingSquare(root, c ^ 1));
        if (ownFile <= 2) {
            Eval.stormZone[c] = FILES_F_TO_H;
            Eval.stormLevel[c] = enemyFile >= 5 ? STORM_OPPOSITE_WINGS : 0;
        } else if (ownFile >= 5) {
            Eval.stormZone[c] = FILES_A_TO_C;
            Eval.stormLevel[c] = enemyFile <= 2 ? STORM_OPPOSITE_WINGS : 0;
        }
    }
    // The pawn facts read the pawn table and the storm settings.
    RenewPawnCache();
}

// ---------------------------------------------------------------- per-node terms
int32_t EvaluatePieces(const Position& pos) {
    const int a = (PawnsOf(pos, WHITE) + PawnsOf(pos, BLACK)) >> 1;
    const int rooks = SlotCount(pos.rookSlots[WHITE]) + SlotCount(pos.rookSlots[BLACK]);
    // The board sets of the mobility walks, only when a rook or bishop walks.
    const bool bishops = (pos.bishopSlots[WHITE] | pos.bishopSlots[BLACK]) != 0;
    const uint64_t occupied = bishops ? geometry::OccupiedSet(pos) : 0;
    const uint64_t stops = rooks != 0 ? geometry::RookStops(pos) : 0;
    return SideTerms<WHITE>(pos, a, rooks, occupied, stops) - SideTerms<BLACK>(pos, a, rooks, occupied, stops) +
           Eval.tradeBonus;
}

}  // namespace tavrix
