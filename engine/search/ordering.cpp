#include "search/ordering.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "board/movegen.h"
#include "board/moveservices.h"
#include "board/tables.h"

namespace tavrix {

thread_local constinit OrderingState Ordering{};

namespace {

constexpr int32_t RATIO_SCALE = 256;
constexpr uint8_t RATIO_MAX = 255;
constexpr int32_t CHECK_DISTANCE_WEIGHT = 8;
constexpr int32_t CHECK_KIND_WEIGHT = 8;
// Shift of a promotion threat by how far the square ahead still is from promotion.
constexpr int PROMOTION_THREAT_SHIFT[8] = {2, 2, 2, 2, 2, 2, 1, 0};  // by rank from the pusher's side

// The capturers of both sides on one square, as the exchange tables read them.
struct ExchangeSides {
    int32_t own;    // attackWeight + x-ray byte of the side moving there
    int32_t enemy;
};

int32_t ExchangeFromSums(int32_t own, int32_t enemy) {
    auto cls = [](int32_t index) { return AttackClass[index < ATTACK_CLASS_SIZE ? index : ATTACK_CLASS_SIZE - 1]; };
    return EXCHANGE_UNIT * ExchangeTable[cls(own) | cls(enemy) << 7];
}

int Sign(int v) { return (v > 0) - (v < 0); }

bool MovesAlong(PieceType t, bool straight) {
    return t == QUEEN || t == (straight ? ROOK : BISHOP);
}

// Sliders of either colour behind the origin on the line through the destination: once
// the pawn has gone they reach the promotion square.
void AddSlidersBehind(const Position& pos, Colour side, int from, int to, ExchangeSides& sums) {
    const int df = Sign(FileOf(from) - FileOf(to)), dr = Sign(RankOf(from) - RankOf(to));
    const bool straight = df == 0 || dr == 0;
    for (int f = FileOf(from) + df, r = RankOf(from) + dr; f >= 0 && f < 8 && r >= 0 && r < 8; f += df, r += dr) {
        const int sq = MakeSquare(f, r);
        const PieceType t = pos.pieceType[sq];
        if (t == NO_PIECE) continue;
        if (!MovesAlong(t, straight)) break;
        (pos.pieceColour[sq] == side ? sums.own : sums.enemy) += AttackWeightOf[t];
    }
}

// Negative amount the mover is expected to lose on its destination, else 0.
int32_t ExchangePenalty(const Position& pos, Colour side, Move move, bool promotionXray) {
    const int from = MoveFrom(move), to = MoveTo(move);
    const PieceType mover = pos.pieceType[from];
    const int32_t moverValue = KindOf(move) == MoveKind::PROMOTE_QUEEN ? QUEEN_VALUE : PieceValue[mover];
    const AttackRecord& own = pos.attackMap[side].square[to];
    const AttackRecord& enemy = pos.attackMap[side ^ 1].square[to];
    const uint16_t moverWeight = (own.attackerSlots & pos.squareSlot[from]) ? AttackWeightOf[mover] : 0;
    ExchangeSides sums{uint16_t(own.attackWeight - moverWeight) + own.xrayWeight, enemy.attackWeight + enemy.xrayWeight};
    if (promotionXray) AddSlidersBehind(pos, side, from, to, sums);
    const int32_t back = ExchangeFromSums(sums.own, sums.enemy);
    return std::min(back - moverValue, 0);
}

int16_t ClampScore(int32_t s) { return int16_t(s > INT16_MAX ? INT16_MAX : (s < INT16_MIN ? INT16_MIN : s)); }

// Does a piece of kind `kind` and colour `colour` on `src` attack `dst` once the move
// from `vacated` to `arrived` is made, looking through `transparent` (the enemy king,
// which cannot hide behind itself)?
bool AttacksAfterMove(const Position& pos, PieceType kind, Colour colour, int src, int dst, int vacated, int arrived,
                      int transparent) {
    const int df = FileOf(dst) - FileOf(src), dr = RankOf(dst) - RankOf(src);
    const int adf = std::abs(df), adr = std::abs(dr);
    if (adf == 0 && adr == 0) return false;
    switch (kind) {
        case PAWN: return adf == 1 && dr == (colour == WHITE ? 1 : -1);
        case KNIGHT: return (adf == 1 && adr == 2) || (adf == 2 && adr == 1);
        case KING: return adf <= 1 && adr <= 1;
        default: break;
    }
    const bool straight = adf == 0 || adr == 0;
    if (!straight && adf != adr) return false;
    if (!MovesAlong(kind, straight)) return false;
    const int sf = Sign(df), sr = Sign(dr);
    for (int f = FileOf(src) + sf, r = RankOf(src) + sr; MakeSquare(f, r) != dst; f += sf, r += sr) {
        const int sq = MakeSquare(f, r);
        const bool occupied = sq == arrived || (sq != vacated && sq != transparent && pos.pieceType[sq] != NO_PIECE);
        if (occupied) return false;
    }
    return true;
}

// Square and kind of the piece giving check after the move; false when none is found.
bool FindChecker(const Position& pos, Colour side, Move move, int king, int& square, PieceType& kind) {
    const int from = MoveFrom(move), to = MoveTo(move);
    const PieceType arriving = IsPromotion(move) ? PromotedType(move) : pos.pieceType[from];
    if (AttacksAfterMove(pos, arriving, side, to, king, from, to, NO_SQUARE)) {
        square = to;
        kind = arriving;
        return true;
    }
    // Discovered: the slider behind the origin on the king's line.
    const int df = FileOf(from) - FileOf(king), dr = RankOf(from) - RankOf(king);
    if (!(df == 0 || dr == 0 || std::abs(df) == std::abs(dr))) return false;
    const int sf = Sign(df), sr = Sign(dr);
    for (int f = FileOf(king) + sf, r = RankOf(king) + sr; f >= 0 && f < 8 && r >= 0 && r < 8; f += sf, r += sr) {
        const int sq = MakeSquare(f, r);
        if (sq == from) continue;
        if (sq == to || pos.pieceType[sq] == NO_PIECE) {
            if (sq == to) return false;
            continue;
        }
        if (pos.pieceColour[sq] != side || !MovesAlong(pos.pieceType[sq], sf == 0 || sr == 0)) return false;
        square = sq;
        kind = pos.pieceType[sq];
        return true;
    }
    return false;
}

constexpr int KING_STEP_FILE[8] = {1, 0, -1, 0, -1, 1, -1, 1};  // directions 0..7
constexpr int KING_STEP_RANK[8] = {0, 1, 0, -1, 1, 1, -1, -1};

int FlightSquare(int king, int dir) {
    const int f = FileOf(king) + KING_STEP_FILE[dir], r = RankOf(king) + KING_STEP_RANK[dir];
    return f >= 0 && f < 8 && r >= 0 && r < 8 ? MakeSquare(f, r) : -1;
}

// Flight squares of the enemy king that the side does not cover and the king's own
// pieces do not block, one bit per direction.
uint8_t FreeFlights(const Position& pos, Colour side, int king) {
    uint8_t free = 0;
    for (int dir = 0; dir < 8; ++dir) {
        const int q = FlightSquare(king, dir);
        if (q < 0 || pos.pieceColour[q] == (side ^ 1) || pos.attackMap[side].square[q].attackWeight != 0) continue;
        free = uint8_t(free | (1 << dir));
    }
    return free;
}

// The free flight squares the checker takes away.
uint8_t CoveredFlights(const Position& pos, Colour side, Move move, int king, uint8_t free) {
    int checker = 0;
    PieceType kind = NO_PIECE;
    if (!FindChecker(pos, side, move, king, checker, kind)) return 0;
    uint8_t covered = 0;
    for (int dir = 0; dir < 8; ++dir) {
        if (!(free & (1 << dir))) continue;
        const int q = FlightSquare(king, dir);
        if (q == checker ||
            AttacksAfterMove(pos, kind, side, checker, q, MoveFrom(move), MoveTo(move), king))
            covered = uint8_t(covered | (1 << dir));
    }
    return covered;
}

void UpdateRatio(int code) {
    CutoffStats& s = Ordering.cutoff;
    const int32_t r = int32_t(s.succeeded[code]) * RATIO_SCALE / (s.tried[code] ? s.tried[code] : 1);
    // Every try a success would give 256, which a byte cannot hold.
    s.ratio[code] = uint8_t(r > RATIO_MAX ? RATIO_MAX : r);
}

void AddTried(int code, int32_t depth) {
    CutoffStats& s = Ordering.cutoff;
    s.tried[code] = uint16_t(s.tried[code] + depth);
    if (s.tried[code] >= TRIED_LIMIT) {
        s.tried[code] = uint16_t((s.tried[code] + 1) / 2);
        s.succeeded[code] = uint16_t((s.succeeded[code] + 1) / 2);
    }
}

int ClampPly(int32_t ply) { return ply < 0 ? 0 : (ply >= ORDERING_PLIES ? ORDERING_PLIES - 1 : ply); }

}  // namespace

int32_t ExchangeBack(uint16_t ownWeight, uint8_t ownXray, uint16_t enemyWeight, uint8_t enemyXray) {
    return ExchangeFromSums(ownWeight + ownXray, enemyWeight + enemyXray);
}

void ClearOrderingStats() {
    std::memset(Ordering.history, 0, sizeof Ordering.history);
    for (uint16_t& t : Ordering.cutoff.tried) t = 1;
    std::memset(Ordering.cutoff.succeeded, 0, sizeof Ordering.cutoff.succeeded);
    std::memset(Ordering.cutoff.ratio, 0, sizeof Ordering.cutoff.ratio);
}

void ClearKillers() { std::memset(Ordering.killers, 0, sizeof Ordering.killers); }

void ResetOrderingState() {
    Ordering = OrderingState{};
    ClearOrderingStats();
}

void AgeOrderingStats(bool retainHash) {
    if (retainHash) {
        for (uint16_t& h : Ordering.history) h = uint16_t(h >> 2);
        for (uint16_t& t : Ordering.cutoff.tried) t = uint16_t((t + 3) / 4);
        for (uint16_t& s : Ordering.cutoff.succeeded) s = uint16_t((s + 3) / 4);
    } else {
        std::memset(Ordering.history, 0, sizeof Ordering.history);
        for (uint16_t& t : Ordering.cutoff.tried) t = 1;
        std::memset(Ordering.cutoff.succeeded, 0, sizeof Ordering.cutoff.succeeded);
    }
    ClearKillers();
}

void HalveHistory() {
    for (uint16_t& h : Ordering.history) h = uint16_t((h + 1) / 2);
}

void AddHistory(int code, int32_t depth) {
    uint16_t& h = Ordering.history[code];
    h = uint16_t(h + depth * depth);
    if (h >= HISTORY_LIMIT) HalveHistory();
}

void RecordQuietCutoff(const Position& pos, Colour side, int32_t ply, int32_t depth, Move best, const Move* earlier,
                       int32_t earlierCount) {
    const int to = MoveTo(best);
    const PieceType kind = pos.pieceType[MoveFrom(best)];
    const int bare = PieceDestCode(kind, to);
    uint16_t* killers = Ordering.killers[ClampPly(ply)];
    if (bare != killers[0]) {
        killers[1] = killers[0];
        killers[0] = uint16_t(bare);
    }
    const int code = PieceDestCode(kind, to, side);
    AddHistory(code, depth);
    Ordering.cutoff.succeeded[code] = uint16_t(Ordering.cutoff.succeeded[code] + depth);
    AddTried(code, depth);
    UpdateRatio(code);
    for (int32_t i = 0; i < earlierCount; ++i) {
        const int c = PieceDestCode(pos.pieceType[MoveFrom(earlier[i])], MoveTo(earlier[i]), side);
        AddTried(c, depth);
        UpdateRatio(c);
    }
}

void ScoreMoves(int32_t ply, const Position& pos, Colour side, ScoredMove* begin, ScoredMove* end) {
    uint16_t* history = Ordering.history + (side == BLACK ? BLACK_CODE_OFFSET : 0);
    const uint16_t* killers = Ordering.killers[ClampPly(ply)];
    // Killers reach their band through a temporary history entry.
    const uint16_t saved0 = history[killers[0]], saved1 = history[killers[1]];
    history[killers[0]] = KILLER1_HISTORY;
    history[killers[1]] = KILLER2_HISTORY;
    const AttackMap& enemy = pos.attackMap[side ^ 1];
    for (ScoredMove* m = begin; m != end; ++m) {
        const Move move = m->move;
        const int to = MoveTo(move);
        int32_t f = m->score;
        const int32_t h = history[PieceDestCode(pos.pieceType[MoveFrom(move)], to)];
        const bool tactical = (move & (MoveKind::PROMOTION_BIT | MoveKind::CAPTURE)) != 0;
        if (enemy.square[to].attackWeight != 0 && (tactical || h == 0))
            f += ExchangePenalty(pos, side, move, KindOf(move) == MoveKind::PROMOTE_QUEEN);
        if (!tactical)
            f += h - ORDER_BAND;
        else
            f = f >= 0 ? f + GOOD_CAPTURE_SCORE : f - ORDER_BAND;
        m->score = ClampScore(f);
    }
    history[killers[1]] = saved1;
    history[killers[0]] = saved0;
}

void ScoreQuiescenceMoves(int32_t mode, const Position& pos, Colour side, ScoredMove* begin, ScoredMove* end) {
    const bool checks = (mode & 2) != 0;
    const int king = KingSquare(pos, side ^ 1);
    int32_t free = -1;  // the king's free flights, found at the first check that needs them
    CheckSquares checkSquares;
    if (checks && begin != end) FindCheckSquares(pos, side, checkSquares);
    const AttackMap& enemy = pos.attackMap[side ^ 1];
    for (ScoredMove* m = begin; m != end; ++m) {
        Move move = m->move;
        const int from = MoveFrom(move), to = MoveTo(move);
        int32_t s = m->score;
        bool lowered = false;
        if (enemy.square[to].attackWeight != 0) {
            const int32_t penalty = ExchangePenalty(pos, side, move, IsPromotion(move));
            s += penalty;
            lowered = penalty < 0;
        }
        if (checks) {
            int kind = NO_PIECE;
            if (move & CHECK_MARK) {
                // A marked move checks along the king-to-destination line itself, or else
                // uncovers the slider behind it: the checker is that slider, not the mover.
                int square = NO_SQUARE;
                PieceType checker = NO_PIECE;
                kind = FindChecker(pos, side, move, king, square, checker)
                           ? checker
                           : (IsPromotion(move) ? PromotedType(move) : pos.pieceType[from]);
            } else if (const int checker = CheckKind(pos, checkSquares, move, side); checker != 0) {
                kind = checker;
                move = Move(move | CHECK_MARK);
            }
            if (kind != NO_PIECE) {
                if (!lowered) {
                    if (free < 0) free = FreeFlights(pos, side, king);
                    if (kind >= KNIGHT) {
                        if ((free & ~CoveredFlights(pos, side, move, king, uint8_t(free))) == 0) s += MATING_NET_BONUS;
                    } else if (free == 0) {
                        s += MATING_NET_BONUS;
                    }
                }
                s += Ordering.checkBonusBase + CHECK_KIND_WEIGHT * kind -
                     CHECK_DISTANCE_WEIGHT * std::abs(FileOf(to) - FileOf(king)) -
                     CHECK_DISTANCE_WEIGHT * std::abs(RankOf(to) - RankOf(king));
            }
        }
        s += pos.hangingValue[from] >> HANGING_ORIGIN_SHIFT;
        m->move = move;
        m->score = ClampScore(s);
    }
}

namespace {

void ScoreList(int32_t ply, int32_t mode, const Position& pos, Colour side) {
    if (mode == GenMode::FULL)
        ScoreMoves(ply, pos, side, ListBegin(ply), ListEnd(ply));
    else
        ScoreQuiescenceMoves(mode, pos, side, ListBegin(ply), ListEnd(ply));
}

}  // namespace

int GenerateOrderedMoves(Position& pos, Colour side, int32_t ply, int32_t mode) {
    const int count = GenerateAllMoves(pos, side, ply, mode);
    ScoreList(ply, mode, pos, side);
    return count;
}

int GenerateOrderedCaptures(Position& pos, Colour side, int32_t ply, int32_t mode) {
    const int count = GenerateCaptures(pos, side, ply, mode);
    ScoreQuiescenceMoves(mode, pos, side, ListBegin(ply), ListEnd(ply));
    return count;
}

int GenerateOrderedEvasions(Position& pos, Colour side, int32_t ply, int32_t mode, uint32_t& outFlags) {
    const int count = GenerateEvasions(pos, side, ply, mode, outFlags);
    ScoreList(ply, mode, pos, side);
    return count;
}

int32_t PromotionThreat(const Position& pos, Colour side, int32_t depth, int32_t margin) {
    const Colour pusher = side ^ 1;
    const int step = pusher == WHITE ? 8 : -8;
    const int seventh = pusher == WHITE ? 6 : 1, sixth = pusher == WHITE ? 5 : 2;
    SlotMask candidates = pos.pawnRankSlots[pusher][seventh];
    const int last = pos.lastToSquare;
    if (depth > 0 && RankOf(last) == sixth && pos.pieceType[last] == PAWN && pos.pieceColour[last] == pusher)
        candidates |= pos.pawnRankSlots[pusher][sixth];
    for (SlotMask bits = candidates; bits != 0; bits &= bits - 1) {
        const int slot = __builtin_ctz(bits);
        const int x = pos.slotSquare[pusher][slot] + step;
        const int relativeRank = pusher == WHITE ? RankOf(x) : 7 - RankOf(x);
        const int shift = PROMOTION_THREAT_SHIFT[relativeRank];
        int32_t value;
        if (pos.pieceType[x] != NO_PIECE) {
            value = (pos.hangingValue[x] - PAWN_VALUE) >> shift;
        } else {
            value = (QUEEN_VALUE - PAWN_VALUE) >> shift;
            const AttackRecord& stopper = pos.attackMap[side].square[x];
            if (stopper.attackWeight != 0) {
                const AttackRecord& support = pos.attackMap[pusher].square[x];
                const int32_t contested = ExchangeBack(support.attackWeight, support.xrayWeight,
                                                       stopper.attackWeight, stopper.xrayWeight) -
                                          PAWN_VALUE;
                if (contested < value) value = contested;
            }
        }
        if (value > margin) return value;
    }
    return 0;
}

}  // namespace tavrix
