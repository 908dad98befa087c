// Endgame knowledge: the stalemate recogniser and the evaluators of the special
// material balances (rook pawn against rook, queen against pawn, bishop and rook pawns,
// the lone king, king and pawn against king, pawn endings).
#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>

#include "board/attacks.h"
#include "board/tables.h"
#include "eval/evaluate.h"
#include "eval/material.h"
#include "eval/pieces.h"
#include "board/repetition.h"

namespace tavrix {
namespace {

constexpr int Abs(int v) { return v < 0 ? -v : v; }
using geometry::FileDistance;
using geometry::IsCorner;
using geometry::KingDistance;
using geometry::RankDistance;

bool Attacks(const Position& pos, Colour side, int sq) { return pos.attackMap[side].square[sq].attackWeight != 0; }

int FirstSquare(const Position& pos, Colour side, SlotMask mask) {
    return pos.slotSquare[side][std::countr_zero(mask)];
}

// Squares a king step away, ended by NO_SQUARE.
const Target* KingTargets(int sq) { return TargetList[KING][sq].data(); }

// Promotion square of a pawn of `c` on `sq`.
constexpr int PromotionSquare(Colour c, int sq) { return c == WHITE ? 56 + FileOf(sq) : FileOf(sq); }
constexpr int Forward(Colour c) { return c == WHITE ? 8 : -8; }

// ---------------------------------------------------------------- king and pawn against king
// Exact won/drawn table for the pawn side (White here) with the pawn on files a-d,
// computed once by retrograde analysis.
constexpr int KPK_PAWN_SQUARES = 24;  // files a-d, ranks 2-7
constexpr int KPK_SIZE = 2 * KPK_PAWN_SQUARES * 64 * 64;
enum KpkResult : uint8_t { KPK_INVALID = 0, KPK_UNKNOWN = 1, KPK_DRAW = 2, KPK_WIN = 4 };

constexpr int KpkPawnIndex(int pawn) { return (RankOf(pawn) - 1) * 4 + FileOf(pawn); }
constexpr int KpkIndex(int stm, int whiteKing, int blackKing, int pawn) {
    return ((stm * KPK_PAWN_SQUARES + KpkPawnIndex(pawn)) * 64 + whiteKing) * 64 + blackKing;
}
constexpr bool PawnAttacks(int pawn, int sq) {
    return RankOf(sq) == RankOf(pawn) + 1 && FileDistance(pawn, sq) == 1;
}

struct KpkTable {
    std::array<uint8_t, KPK_SIZE> result{};

    uint8_t Initial(int stm, int wk, int bk, int pawn) const {
        if (wk == bk || wk == pawn || bk == pawn || KingDistance(wk, bk) <= 1) return KPK_INVALID;
        if (stm == WHITE && PawnAttacks(pawn, bk)) return KPK_INVALID;
        const int stop = pawn + 8;
        if (stm == WHITE && RankOf(pawn) == 6 && wk != stop && bk != stop &&
            (KingDistance(bk, stop) > 1 || KingDistance(wk, stop) == 1)) {
            return KPK_WIN;
        }
        if (stm == BLACK) {
            if (KingDistance(bk, pawn) == 1 && KingDistance(wk, pawn) > 1) return KPK_DRAW;
            bool canMove = false;
            for (const Target* t = KingTargets(bk); t->square != NO_SQUARE; ++t) {
                const int to = t->square;
                if (KingDistance(to, wk) > 1 && !PawnAttacks(pawn, to) && to != pawn) canMove = true;
            }
            if (!canMove) return KPK_DRAW;  // stalemate
        }
        return KPK_UNKNOWN;
    }

    uint8_t Classify(int stm, int wk, int bk, int pawn) const {
        uint8_t seen = 0;
        if (stm == WHITE) {
            for (const Target* t = KingTargets(wk); t->square != NO_SQUARE; ++t) {
                const int to = t->square;
                if (to == pawn || KingDistance(to, bk) <= 1) continue;
                seen |= result[KpkIndex(BLACK, to, bk, pawn)];
            }
            const int stop = pawn + 8;
            if (RankOf(pawn) < 6 && stop != wk && stop != bk) {
                seen |= result[KpkIndex(BLACK, wk, bk, stop)];
                if (RankOf(pawn) == 1 && stop + 8 != wk && stop + 8 != bk) {
                    seen |= result[KpkIndex(BLACK, wk, bk, stop + 8)];
                }
            }
            return (seen & KPK_WIN) ? KPK_WIN : (seen & KPK_UNKNOWN) ? KPK_UNKNOWN : KPK_DRAW;
        }
        for (const Target* t = KingTargets(bk); t->square != NO_SQUARE; ++t) {
            const int to = t->square;
            if (to == pawn || KingDistance(to, wk) <= 1 || PawnAttacks(pawn, to)) continue;
            seen |= result[KpkIndex(WHITE, wk, to, pawn)];
        }
        return (seen & KPK_DRAW) ? KPK_DRAW : (seen & KPK_UNKNOWN) ? KPK_UNKNOWN : KPK_WIN;
    }

    void Build() {
        for (int stm = 0; stm < 2; ++stm) {
            for (int p = 0; p < KPK_PAWN_SQUARES; ++p) {
                const int pawn = MakeSquare(p % 4, p / 4 + 1);
                for (int wk = 0; wk < 64; ++wk) {
                    for (int bk = 0; bk < 64; ++bk) result[KpkIndex(stm, wk, bk, pawn)] = Initial(stm, wk, bk, pawn);
                }
            }
        }
        for (bool changed = true; changed;) {
            changed = false;
            for (int stm = 0; stm < 2; ++stm) {
                for (int p = 0; p < KPK_PAWN_SQUARES; ++p) {
                    const int pawn = MakeSquare(p % 4, p / 4 + 1);
                    for (int wk = 0; wk < 64; ++wk) {
                        for (int bk = 0; bk < 64; ++bk) {
                            uint8_t& r = result[KpkIndex(stm, wk, bk, pawn)];
                            if (r != KPK_UNKNOWN) continue;
                            r = Classify(stm, wk, bk, pawn);
                            changed = changed || r != KPK_UNKNOWN;
                        }
                    }
                }
            }
        }
    }

    bool Won(int wk, int bk, int pawn) const { return result[KpkIndex(WHITE, wk, bk, pawn)] == KPK_WIN; }
};

// Built once at start-up (a caller that skips start-up, such as a test, builds it on first use).
struct KingPawnTable {
    KpkTable table;
    bool built = false;
};
KingPawnTable KingPawn;

const KpkTable& Kpk() {
    if (!KingPawn.built) InitEndgameTables();
    return KingPawn.table;
}

constexpr int32_t KPK_WIN_BASE[8] = {0, 1120, 1160, 1200, 1240, 1280, 1320, 0};

// Normalised square: the pawn side plays up the board with its pawn on files a-d.
struct KpkSquares {
    int strongKing, weakKing, pawn;
};
KpkSquares Normalise(Colour pawnSide, int pawnKing, int otherKing, int pawn) {
    const auto flip = [pawnSide](int s) { return pawnSide == WHITE ? s : 63 - s; };
    KpkSquares n{flip(pawnKing), flip(otherKing), flip(pawn)};
    if (FileOf(n.pawn) >= 4) {
        n.strongKing ^= 7;
        n.weakKing ^= 7;
        n.pawn ^= 7;
    }
    return n;
}

// ---------------------------------------------------------------- lone king
constexpr int LONE_KING_MATING_MARGIN = ROOK_VALUE;
constexpr int MATING_POINTS = 5;
constexpr int BARE_KING_BASE = 1460;
constexpr int DEFENDED_KING_BASE = 256;
constexpr int HEAVY_PIECE_CREDIT = 220;
constexpr int RANKS_TO_GO[8] = {5, 5, 5, 4, 3, 2, 1, 0};  // by relative rank
constexpr int UNSTOPPABLE[8] = {1124, 996, 904, 828, 750, 696, 696, 636};
constexpr int PASSER[8] = {266, 196, 137, 90, 54, 30, 30, 18};
constexpr int MATING_SCORE_CAP = 1000;

// ---------------------------------------------------------------- pawn endings
constexpr int DOUBLED_ENDING[8] = {9, 9, 10, 11, 11, 10, 9, 9};
constexpr int ISOLATED_ENDING[8] = {8, 11, 14, 16, 16, 14, 11, 8};
constexpr int ISOLATED_BASE = 4;
constexpr int PASSED_ENDING[8] = {266, 196, 137, 90, 54, 30, 30, 18};
constexpr int PASSED_WEAK[8] = {136, 100, 70, 46, 28, 16, 16, 6};
constexpr int PASSER_SUPPORTED[8] = {0, 3, 3, 12, 33, 63, 99, 0};
constexpr int PASSER_FREE[8] = {0, 1, 1, 4, 11, 21, 33, 0};
constexpr int OPPOSITION[17] = {0, 54, -54, 33, -33, 24, -24, 15, -15, 12, -12, 9, -9, 6, -6, 0, 0};
constexpr int RACE_BONUS[9] = {0, 54, 33, 24, 15, 12, 9, 6, 0};
constexpr int BLOCKED_FRONT = 12;
constexpr int BARE_SIDE_LEAD = 64;
constexpr int BARE_SIDE_BONUS = 400;
constexpr int EG_KING[64] = {
    -2, 2,  6,  10, 10, 6,  2,  -2,  //
    2,  10, 14, 18, 18, 14, 10, 2,   //
    6,  14, 22, 26, 26, 22, 14, 6,   //
    10, 18, 26, 34, 34, 26, 18, 10,  //
    10, 18, 26, 34, 34, 26, 18, 10,  //
    6,  14, 22, 26, 26, 22, 14, 6,   //
    2,  10, 14, 18, 18, 14, 10, 2,   //
    -2, 2,  6,  10, 10, 6,  2,  -2,
};

bool PawnOf(const Position& pos, Colour c, int sq) {
    return sq >= 0 && sq < 64 && pos.pieceType[sq] == PAWN && pos.pieceColour[sq] == c;
}
// An own pawn of `c` defends `sq` (stands diagonally behind it).
bool PawnGuards(const Position& pos, Colour c, int sq) {
    return (pos.attackMap[c].square[sq].attackWeight & AttackWeight::PAWN_MASK) != 0;
}

struct PawnSideTally {
    int proximity = 0;       // file+rank distances of this side's king to the stop squares
    int spareTempi = 0;
    int fastest = 99;        // moves of the fastest unstoppable passer
    int unstoppable = 0;     // unstoppable passers
};

}  // namespace

void InitEndgameTables() {
    KingPawn.table.Build();
    KingPawn.built = true;
}

// ---------------------------------------------------------------- stalemate
bool IsPawnStalemate(const Position& pos, Colour side) {
    const Colour other = side ^ 1;
    for (const Target* t = KingTargets(KingSquare(pos, side)); t->square != NO_SQUARE; ++t) {
        if (!Attacks(pos, other, t->square)) return false;
    }
    SlotMask pawns = pos.pawnSlots[side];
    while (pawns != 0) {
        const int sq = pos.slotSquare[side][std::countr_zero(pawns)];
        pawns &= pawns - 1;
        if (pos.pieceType[sq + Forward(side)] == NO_PIECE) return false;
        for (int dir : PawnCaptureDirection[side]) {
            const int to = RayTable[dir][sq];
            if (to == NO_SQUARE) continue;
            if (pos.pieceColour[to] == other) return false;
            if (pos.epSquare != 0 && to == pos.epSquare) return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------- rook and pawn against rook
int32_t EvaluateRookPawnVsRook(const Position& pos, Colour stronger, int32_t& scale) {
    const Colour weaker = stronger ^ 1;
    int p = FirstSquare(pos, stronger, pos.pawnSlots[stronger]);
    int kS = KingSquare(pos, stronger), kW = KingSquare(pos, weaker);
    int rS = FirstSquare(pos, stronger, pos.rookSlots[stronger]);
    int rW = FirstSquare(pos, weaker, pos.rookSlots[weaker]);
    if (stronger == BLACK) {
        p = 63 - p, kS = 63 - kS, kW = 63 - kW, rS = 63 - rS, rW = 63 - rW;
    }
    if (FileOf(p) >= 4) {
        p ^= 7, kS ^= 7, kW ^= 7, rS ^= 7, rW ^= 7;
    }
    const int f = FileOf(p);
    const int promotion = MakeSquare(f, 7);
    const int pawnRank = RankOf(p);
    constexpr int SIXTH = 5, SEVENTH = 6, FIFTH = 4;

    if (kW == promotion ||
        (FileDistance(kW, p) <= 1 && RankOf(kW) > pawnRank && KingDistance(kW, promotion) < KingDistance(kS, promotion))) {
        if (f <= 1) scale >>= 1;
        if (pawnRank == SIXTH && RankOf(rW) == 0) scale >>= 2;
        if (pawnRank < SIXTH && RankOf(rW) == pawnRank + 1 && RankOf(kS) < RankOf(rW)) scale >>= 1;
    } else if (rS == promotion && pawnRank == SEVENTH && (kW == 54 || kW == 55) && FileOf(rW) == f) {
        if ((RankOf(rW) <= 2 && KingDistance(kS, p) > 1) || (RankOf(rW) > 2 && KingDistance(kS, p) > 2)) scale = 1;
    }

    int32_t bonus = 0;
    const int centrality = f;
    const int dW = Abs(f - FileOf(kW));
    constexpr int CUT_OFF_LIMIT[4] = {5, 4, 3, 3};
    if (dW > 2) {
        if (centrality == 0 || KingDistance(kS, p) > 2) {
            if (dW >= CUT_OFF_LIMIT[centrality]) bonus = 128;
        } else {
            bonus = 16 * dW;
            if (pawnRank >= FIFTH || dW >= 3 + (centrality == 1 ? 1 : 0)) {
                bonus = 16 * dW + 128;
                if (pawnRank == SEVENTH && RankOf(rS) == 3) bonus = 16 * dW + 384;
            }
        }
    }
    const int dR = Abs(f - FileOf(rW));
    if (dR > 2 && ((FileOf(rW) < f && FileOf(kS) < FileOf(kW)) || (FileOf(rW) > f && FileOf(kS) > FileOf(kW)))) {
        bonus -= 8 * dR;
    }
    if (centrality == 0) {
        bonus -= 32;
        if (pawnRank == SEVENTH) {
            if (rS == p + 8) scale >>= 2;
            if (kS == p + 8 && (FileOf(rS) != 1 || FileRankDistance(kS, kW) < 4)) scale >>= 2;
        }
    }
    if (scale == 0) scale = 1;
    return bonus;
}

// ---------------------------------------------------------------- queen against pawn
int32_t EvaluateQueenVsPawn(const Position& pos, Colour side, Colour stronger, int32_t& kind) {
    const Colour weaker = stronger ^ 1;
    const int p = FirstSquare(pos, weaker, pos.pawnSlots[weaker]);
    const int promotion = PromotionSquare(weaker, p);
    const int kS = KingSquare(pos, stronger), kW = KingSquare(pos, weaker);
    const int q = FirstSquare(pos, stronger, pos.queenSlots[stronger]);
    const bool strongToMove = side == stronger;
    const int file = FileOf(p);
    constexpr int SEVENTH = 6;

    const int32_t bonus = 2 * (FileRankDistance(kW, promotion) - FileRankDistance(kS, promotion));
    if (RelativeRank(weaker, p) != SEVENTH || pos.hangingTotal[stronger] != 0) return bonus;
    if (q == promotion) return bonus + 96;

    const bool weakOnPromotion = pos.pieceColour[promotion] == weaker;
    const bool bishopPawn = file == 2 || file == 5;
    const bool kingTwoAway = KingDistance(kW, promotion) == 2;
    if (!Attacks(pos, weaker, promotion) && !weakOnPromotion &&
        (Attacks(pos, stronger, p) || Attacks(pos, stronger, promotion) || !kingTwoAway) &&
        (!bishopPawn || !kingTwoAway ||
         (strongToMove && (!IsCorner(kW) || Attacks(pos, stronger, promotion))))) {
        return bonus + 32;
    }

    // Tempo credits of the weak side.
    int t = 0;
    bool skewered = false;
    if (strongToMove && (pos.attackMap[stronger].square[kS].attackerSlots & pos.queenSlots[stronger]) != 0 &&
        DirectionTable[kS][q] == DirectionTable[kW][q] && DirectionTable[kS][kW] < 8) {
        skewered = true;
        const int dir = DirectionTable[kS][kW];
        for (int sq = RayTable[dir][kW]; sq != kS; sq = RayTable[dir][sq]) {
            if (sq == NO_SQUARE || pos.pieceType[sq] != NO_PIECE) {
                skewered = false;
                break;
            }
        }
    }
    if (weakOnPromotion || IsPinned(pos, p, stronger) || skewered) t = 1;
    if (strongToMove || Attacks(pos, stronger, kW)) t += 1;

    if (file == 0 || file == 7) {
        if (weakOnPromotion) t += 1;
        if (KingDistance(kS, promotion) - t < 4 && RankDistance(kS, promotion) - 2 * t + FileDistance(kS, promotion) < 6) {
            return bonus;
        }
        kind = EvalKind::TABLEBASE_DRAW;
        return 0;
    }
    if (bishopPawn) {
        if (FileOf(kW) >= 2 && FileOf(kW) <= 5) {
            if (KingDistance(kS, promotion) - t <= 3) return bonus;
            kind = EvalKind::TABLEBASE_DRAW;
            return 0;
        }
        constexpr int NEXT_TO_CORNER = 1;
        constexpr int8_t EDGE_CENTRALITY[64] = {
            0, 1, 2, 3, 3, 2, 1, 0,  1, 3, 3, 3, 3, 3, 3, 1,  2, 3, 3, 3, 3, 3, 3, 2,  3, 3, 3, 3, 3, 3, 3, 3,
            3, 3, 3, 3, 3, 3, 3, 3,  2, 3, 3, 3, 3, 3, 3, 2,  1, 3, 3, 3, 3, 3, 3, 1,  0, 1, 2, 3, 3, 2, 1, 0,
        };
        if (EDGE_CENTRALITY[kW] == NEXT_TO_CORNER) {
            if (RankOf(kW) == 0 && KingDistance(q, p) > 1) {
                if (RankOf(q) == 1 && KingDistance(kS, kW + 16) <= 2) t += 1;
            } else if (RankOf(q) == 6 && kW >= 16 && KingDistance(kS, kW - 16) <= 2) {
                t += 1;
            }
        }
        if (KingDistance(kS, p) - t <= 1) return bonus;
        kind = EvalKind::TABLEBASE_DRAW;
        return 0;
    }
    return bonus;
}

// ---------------------------------------------------------------- bishop and rook pawns
int32_t EvaluateBishopRookPawn(const Position& pos, Colour side, Colour stronger, int32_t& scale, int32_t& kind) {
    const Colour weaker = stronger ^ 1;
    SlotMask pawns = pos.pawnSlots[stronger];
    bool allA = true, allH = true;
    for (SlotMask m = pawns; m != 0; m &= m - 1) {
        const int file = FileOf(pos.slotSquare[stronger][std::countr_zero(m)]);
        allA = allA && file == 0;
        allH = allH && file == 7;
    }
    // The pawn side can be the stronger one (four or more pawns against the bishop).
    if (pawns == 0 || (!allA && !allH) || pos.bishopSlots[stronger] == 0) return 0;
    const int corner = (stronger == WHITE ? 56 : 0) + (allA ? 0 : 7);
    const int bishop = FirstSquare(pos, stronger, pos.bishopSlots[stronger]);
    if (IsDarkSquare(bishop) == IsDarkSquare(corner)) return 0;

    const int kW = KingSquare(pos, weaker);
    if (KingDistance(kW, corner) <= 1) {
        scale = 1;
        if (pos.material[weaker] == 0) kind = EvalKind::TABLEBASE_DRAW;
        return 0;
    }
    int d = KingDistance(kW, corner) - (side == weaker ? 1 : 0);
    const int lead = pos.slotSquare[stronger][31 - std::countl_zero(pawns)];
    const int toGo = 7 - RelativeRank(stronger, lead);
    for (SlotMask m = pos.pawnSlots[weaker]; m != 0; m &= m - 1) {
        const int sq = pos.slotSquare[weaker][std::countr_zero(m)];
        if (FileOf(sq) == FileOf(lead)) {
            d += 1 - KingDistance(sq, corner);
            break;
        }
    }
    const int t = d - KingDistance(KingSquare(pos, stronger), corner);
    if (d <= toGo && t <= 0) scale = t < -3 ? 1 : 2 * t + 9;
    return 0;
}

// ---------------------------------------------------------------- lone king
int32_t EvaluateLoneKing(const Position& pos, Colour side, Colour stronger) {
    const Colour weaker = stronger ^ 1;
    const int kS = KingSquare(pos, stronger), kW = KingSquare(pos, weaker);
    const int16_t* strongKing = KingTable(stronger);
    const int points = pos.materialSignature[stronger] & 0xFF;
    const bool strongToMove = side == stronger;
    const bool strongInCheck = Attacks(pos, weaker, kS);
    const int32_t margin = pos.material[weaker] + LONE_KING_MATING_MARGIN;
    int32_t v;
    if (points < MATING_POINTS ||
        ((!strongToMove || strongInCheck || pos.material[stronger] < margin) &&
         pos.material[stronger] - pos.hangingTotal[stronger] < margin)) {
        v = strongKing[kS] - KingTable(weaker)[kW];
    } else {
        const int8_t* edge = Eval.kingEdgeTable;
        int32_t base, m;
        if (pos.material[weaker] == 0) {
            base = BARE_KING_BASE;
            m = -1;
            for (const Target* t = KingTargets(kW); t->square != NO_SQUARE; ++t) {
                if (!Attacks(pos, stronger, t->square)) m = std::max<int32_t>(m, edge[t->square]);
            }
            if (m < 0) m = edge[kW];
        } else {
            base = DEFENDED_KING_BASE;
            m = edge[kW];
        }
        base += (pos.straightSlots[stronger] | pos.queenSlots[stronger]) ? HEAVY_PIECE_CREDIT : strongKing[kS];
        v = base - (edge[kW] + 16 * RankDistance(kS, kW) + 16 * FileDistance(kS, kW) + m);
    }
    for (SlotMask m = pos.pawnSlots[stronger]; m != 0; m &= m - 1) {
        const int sq = pos.slotSquare[stronger][std::countr_zero(m)];
        const int k = RANKS_TO_GO[RelativeRank(stronger, sq)];
        if (v < MATING_SCORE_CAP && k < KingDistance(kW, PromotionSquare(stronger, sq)) - (strongToMove ? 0 : 1)) {
            v += UNSTOPPABLE[k];
        } else {
            v += PASSER[k];
        }
    }
    return strongToMove ? v : -v;
}

// ---------------------------------------------------------------- king and pawn against king
int32_t ClassifyKingPawnVsKing(Colour pawnSide, int pawnKing, int otherKing, int pawn, int32_t& kind) {
    const KpkSquares n = Normalise(pawnSide, pawnKing, otherKing, pawn);
    if (RankOf(n.pawn) < 1 || RankOf(n.pawn) > 6 || !Kpk().Won(n.strongKing, n.weakKing, n.pawn)) {
        kind = EvalKind::TABLEBASE_DRAW;
        return DrawScore(pawnSide);
    }
    kind = EvalKind::WIN;
    const int r = RankOf(n.pawn);
    const int target = r + 2 + (r == 6 ? 1 : 0);
    const int fp = FileOf(n.pawn), fs = FileOf(n.strongKing), fw = FileOf(n.weakKing);
    return KPK_WIN_BASE[r] + 2 * (Abs(7 - 2 * fs) + 8 * RankOf(n.strongKing)) - 8 * Abs(fp - fs) +
           (Abs(fw - fp) - Abs(fs - fp)) + (Abs(RankOf(n.weakKing) - target) - Abs(RankOf(n.strongKing) - target));
}

int32_t EvaluateKingPawnVsKing(const Position& pos, Colour side, Colour stronger, int32_t& kind,
                               const AttackMap& strongerAttacks) {
    const int kS = KingSquare(pos, stronger), kW = KingSquare(pos, stronger ^ 1);
    const int pawn = FirstSquare(pos, stronger, pos.pawnSlots[stronger]);
    int32_t value;
    int32_t found = EvalKind::TABLEBASE_DRAW;
    if (side != stronger) {
        constexpr int32_t NO_VALUE = -10000;
        value = NO_VALUE;
        for (const Target* t = KingTargets(kW); t->square != NO_SQUARE; ++t) {
            const int to = t->square;
            if (strongerAttacks.square[to].attackWeight != 0) continue;
            int32_t v, k;
            if (to == pawn) {
                v = DrawScore(side);
                k = EvalKind::TABLEBASE_DRAW;
            } else {
                int32_t reply = 0;
                v = -ClassifyKingPawnVsKing(stronger, kS, to, pawn, reply);
                k = reply == EvalKind::WIN ? EvalKind::LOSS : reply;
            }
            if (v > value) {
                value = v;
                found = k;
            }
        }
        if (value == NO_VALUE) {
            value = DrawScore(side);
            found = EvalKind::TABLEBASE_DRAW;
        }
    } else {
        value = ClassifyKingPawnVsKing(stronger, kS, kW, pawn, found);
    }
    kind |= found;
    constexpr int REPEAT_PLIES = 3;
    if (Eval.iterationDepth < 2 && pos.ply - pos.lastIrreversiblePly > REPEAT_PLIES && IsRepetition(pos)) value /= 2;
    return value;
}

// ---------------------------------------------------------------- pawn endings
int32_t EvaluatePawnEnding(const Position& pos, Colour side, int32_t base) {
    Eval.secondThreat[WHITE] = Eval.secondThreat[BLACK] = 0;
    PawnSideTally tally[2];
    int32_t pawnTerms[2] = {0, 0};
    const int kings[2] = {KingSquare(pos, WHITE), KingSquare(pos, BLACK)};
    const int pawnCount = SlotCount(pos.pawnSlots[WHITE]) + SlotCount(pos.pawnSlots[BLACK]);

    for (Colour c = WHITE; c <= BLACK; ++c) {
        const Colour them = c ^ 1;
        const bool themToMove = side == them;
        uint8_t own[10], opp[10];
        RelativePawnFiles(pos, c, own, opp);
        for (SlotMask m = pos.pawnSlots[c]; m != 0; m &= m - 1) {
            const int sq = pos.slotSquare[c][std::countr_zero(m)];
            const int file = FileOf(sq), rank = RelativeRank(c, sq);
            const int fwd = Forward(c);
            int32_t value = Eval.pieceTables[PAWN][c][sq];
            value -= WeakPawn(pos, c, sq, own, opp, false).penalty;

            // Doubled and isolated pawns.
            if (SlotCount(PawnFileBits(pos, c, file)) > 1) value -= DOUBLED_ENDING[file];
            if (PawnFileBits(pos, c, file - 1) == 0 && PawnFileBits(pos, c, file + 1) == 0) {
                value -= ISOLATED_BASE + ISOLATED_ENDING[file];
            }

            // King proximity to the stop square.
            const int stop = rank == 1 ? sq + 2 * fwd : sq + fwd;
            tally[c].proximity += FileRankDistance(kings[c], stop);
            tally[them].proximity += FileRankDistance(kings[them], stop);

            // Spare tempi: empty squares ahead, the promotion square included, that this
            // side controls at least as well.
            for (int s = sq + fwd; s >= 0 && s < 64; s += fwd) {
                if (pos.pieceType[s] != NO_PIECE) break;
                if (pos.attackMap[c].square[s].attackerCount < pos.attackMap[them].square[s].attackerCount) break;
                ++tally[c].spareTempi;
            }

            // Passed pawns: no enemy pawn ahead on this or the next files.
            bool passed = true;
            for (int s = sq + fwd; s >= 0 && s < 64 && passed; s += fwd) {
                for (int df = -1; df <= 1; ++df) {
                    const int f = file + df;
                    if (f >= 0 && f < 8 && PawnOf(pos, them, MakeSquare(f, RankOf(s)))) passed = false;
                }
            }
            if (passed) {
                if (pos.pieceColour[sq + fwd] == them) value -= BLOCKED_FRONT;
                const int promotion = PromotionSquare(c, sq);
                int k = 7 - rank - (rank == 1 ? 1 : 0);
                int enemyDistance = KingDistance(kings[them], promotion) - (themToMove ? 1 : 0);
                // The enemy king must also reach the pawn's path: a king already on the
                // path in front catches it.
                bool kingOnPath = FileOf(kings[them]) == file && RelativeRank(c, kings[them]) > rank;
                const bool unstoppable = k < enemyDistance && !kingOnPath;
                if (pos.hangingValue[sq] != 0) {
                    value += PASSED_WEAK[std::min(k, 7)];
                } else {
                    value += PASSED_ENDING[std::min(k, 7)];
                    const int front = sq + fwd;
                    if (PawnGuards(pos, c, sq) || PawnGuards(pos, c, front)) {
                        value += PASSER_SUPPORTED[rank];
                        tally[them].proximity += FileRankDistance(kings[them], stop);
                    } else if (pos.pieceType[front] == NO_PIECE && rank < 6 && PawnGuards(pos, c, front + fwd)) {
                        value += PASSER_FREE[rank];
                    } else if (!unstoppable &&
                               KingDistance(kings[them], sq) - (themToMove ? 1 : 0) + 2 <= KingDistance(kings[c], sq)) {
                        value += PASSED_WEAK[std::min(k, 7)] - PASSED_ENDING[std::min(k, 7)];
                        tally[them].proximity += FileRankDistance(kings[them], stop);
                    }
                }
                if (unstoppable) {
                    tally[c].fastest = std::min(tally[c].fastest, k);
                    ++tally[c].unstoppable;
                }
            }
            pawnTerms[c] += value;
        }
    }

    int32_t v = 4 * (tally[WHITE].spareTempi - tally[BLACK].spareTempi);
    if (pawnCount > 0) v += -8 * tally[WHITE].proximity / pawnCount + 8 * tally[BLACK].proximity / pawnCount;
    v += EG_KING[kings[WHITE]] - EG_KING[kings[BLACK]] + pawnTerms[WHITE] - pawnTerms[BLACK];

    // Race: a side's count reaches twice its pawns when the enemy's fastest unstoppable
    // passer queens before its own, and grows with the enemy's unstoppable passers; the
    // enemy then gains, the more the fewer pawns the losing side has to answer with.
    for (Colour c = WHITE; c <= BLACK; ++c) {
        const Colour e = c ^ 1;
        const int n = SlotCount(pos.pawnSlots[c]);
        const int count = tally[e].fastest < tally[c].fastest ? 2 * (n + tally[e].unstoppable) : 0;
        if (n > 0 && count >= 2 * n) {
            const int32_t race = RACE_BONUS[std::min(n, 8)] + 8 * (count / n);
            v += c == BLACK ? race : -race;
        }
    }

    // Opposition, judged for the side to move so that colour-flipped twins score alike.
    const int d = FileRankDistance(kings[WHITE], kings[BLACK]);
    const int tUs = tally[side].spareTempi, tThem = tally[side ^ 1].spareTempi;
    int i;
    if (tUs == tThem) i = std::min(d + 2 * tUs, 16);
    else if (tUs > tThem) i = std::min(d + (tThem - ((tThem ^ d) & 1)), 13);
    else i = std::min(d + (tUs - ((tUs ^ d) & 1)), 14);
    const int32_t opposition = OPPOSITION[std::max(i, 0)];
    v += side == WHITE ? opposition : -opposition;

    if (pos.pawnSlots[BLACK] == 0 && pos.material[BLACK] == 0 && v > BARE_SIDE_LEAD) v += BARE_SIDE_BONUS;
    if (pos.pawnSlots[WHITE] == 0 && pos.material[WHITE] == 0 && v < -BARE_SIDE_LEAD) v -= BARE_SIDE_BONUS;
    v += (pos.material[WHITE] - pos.material[BLACK]) >> 2;
    return side == WHITE ? base + v : base - v;
}

}  // namespace tavrix
