// Helpers shared by SearchNode and Quiesce (not part of the search's public interface).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include <emmintrin.h>

#include "board/makemove.h"
#include "board/movegen.h"
#include "board/moveservices.h"
#include "board/position.h"
#include "eval/evaluate.h"
#include "eval/king.h"
#include "search/ordering.h"
#include "board/repetition.h"
#include "search/search.h"
#include "search/search_state.h"
#include "search/search_table.h"
#include "tablebase/probe.h"
#include "tablebase/syzygy.h"

namespace tavrix {

constexpr uint16_t MateMark(Colour c) { return MateThreatFlag(c); }
constexpr uint16_t DangerMark(Colour c) { return DangerFlag(c); }
constexpr uint16_t CheckThreatMark(Colour c) { return CheckThreatFlag(c); }
constexpr uint16_t EVAL_DECIDED_BITS = EvalFlag::KIND_MASK | EvalFlag::AT_HORIZON;

inline bool InCheck(const PlyRecord& r) { return (r.checkFlag & IN_CHECK_FLAG) != 0; }
inline PlyRecord& ParentRecord(Position& pos) { return pos.undoStack[pos.undoTop - 1]; }

// After a make: the mover's king is attacked in the map of the side now to move.
inline bool MoverLeftInCheck(const Position& pos, Colour mover) {
    return OwnAttacks(pos).square[KingSquare(pos, mover)].attackWeight != 0;
}

inline bool IsCaptureOrPromotion(Move m) { return (m & (MoveKind::PROMOTION_BIT | MoveKind::CAPTURE)) != 0; }
inline PieceType CapturedOn(const Position& pos, Move m) {
    return IsEnPassant(m) ? PAWN : pos.pieceType[MoveTo(m)];
}
// Rank of a square counted from `side`'s first rank (0..7). Not named RelativeRank: the
// evaluation has one with its arguments the other way round, and Colour is an int.
constexpr int SideRank(int sq, Colour side) { return side == WHITE ? RankOf(sq) : 7 - RankOf(sq); }
constexpr int ForwardStep(Colour side) { return side == WHITE ? 8 : -8; }

// Whether `pawnSide` has a pawn one step from promotion.
inline bool HasPromotionPawn(const Position& pos, Colour pawnSide) {
    return (pos.pawnRankSlots[pawnSide][pawnSide == WHITE ? 6 : 1] & pos.pawnSlots[pawnSide]) != 0;
}

// Whether PromotionThreat has a candidate of `pawnSide` to look at: a pawn one step from
// promotion, or, at depth > 0, the pawn the last move pushed to the rank before that.
inline bool HasPromotionCandidate(const Position& pos, Colour pawnSide, int32_t depth) {
    if (HasPromotionPawn(pos, pawnSide)) return true;
    const int last = pos.lastToSquare;
    return depth > 0 && pos.pieceType[last] == PAWN && pos.pieceColour[last] == pawnSide &&
           SideRank(last, pawnSide) == 5;
}

// Each 32-bit lane of the result holds the highest score of `v`'s four entries in its
// high half (the low halves hold a maximum of the move words, which is never read).
inline __m128i HighestScore(__m128i v) {
    v = _mm_max_epi16(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
    return _mm_max_epi16(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
}

// One bit per entry of `v` whose score equals `highest`'s (a score is the high half of its
// 32-bit entry, so the lane's sign bit after a 16-bit compare is the score's result).
inline uint32_t ScoresEqual(__m128i v, __m128i highest) {
    return uint32_t(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi16(v, highest))));
}

// Picks the highest-scored move of [at, end) (the first maximum wins) and swaps it to `at`.
// Without branches on the scores, which the search cannot predict: four entries at a time
// (SSE2, part of every x86-64) in blocks of sixteen, the last load of a list moved back to
// end at `end` (entries read twice change neither the maximum nor the first of it).
inline void PickBest(ScoredMove* at, ScoredMove* end) {
    static_assert(sizeof(ScoredMove) == 4 && offsetof(ScoredMove, score) == 2);
    constexpr ptrdiff_t BLOCK = 16;
    const ptrdiff_t n = end - at;
    if (n < 2) return;
    auto load = [at](ptrdiff_t i) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + i)); };
    ptrdiff_t first;
    if (n < 4) {
        // Two pairs, the second ending at `end`.
        const __m128i v = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(at)),
                                             _mm_loadl_epi64(reinterpret_cast<const __m128i*>(end - 2)));
        const uint32_t equal = ScoresEqual(v, HighestScore(v));
        first = __builtin_ctz((equal & 3) | (equal >> 2) << (n - 2));
    } else {
        const ptrdiff_t last = n - 4;
        __m128i high = _mm_set1_epi16(INT16_MIN);
        for (ptrdiff_t base = 0; base < n; base += BLOCK)
            for (ptrdiff_t k = 0; k < BLOCK; k += 4) high = _mm_max_epi16(high, load(std::min(base + k, last)));
        high = HighestScore(high);
        // Bit 4 + i stands for entry base + i; a load moved back below `base` only
        // repeats entries the previous block found lower.
        for (ptrdiff_t base = 0;; base += BLOCK) {
            uint32_t equal = 0;
            for (ptrdiff_t k = 0; k < BLOCK; k += 4) {
                const ptrdiff_t i = std::min(base + k, last);
                equal |= ScoresEqual(load(i), high) << (i - base + 4);
            }
            if (equal != 0) {
                first = base + __builtin_ctz(equal) - 4;
                break;
            }
        }
    }
    ScoredMove* const best = at + first;
    const ScoredMove t = *at;
    *at = *best;
    *best = t;
}

// Copies the child's line behind `move` into this ply's line.
inline void CopyLine(int32_t ply, Move move) {
    Move* dst = Search.pv[ply];
    const Move* src = Search.pv[ply + 1];
    dst[0] = move;
    int i = 0;
    while (i + 2 < MAX_PLY && src[i] != NO_MOVE) {
        dst[i + 1] = src[i];
        ++i;
    }
    dst[i + 1] = NO_MOVE;
}

inline void SetLine(int32_t ply, Move move) {
    Search.pv[ply][0] = move;
    Search.pv[ply][1] = NO_MOVE;
}

inline bool TablePresent() { return TableExists(); }

// The score a node returns once the search has been stopped.
// Mate-distance bounds: no line from here can mate sooner than the next ply or be mated
// sooner than this one. Narrows the window; true when that alone decides the node (`cut`).
inline bool MateDistanceCut(int32_t ply, int32_t& alpha, int32_t& beta, int32_t& cut) {
    const int32_t matedAtBest = ply - (MATED_BASE - 2);
    if (matedAtBest >= beta) { cut = matedAtBest; return true; }
    if (MATE - ply <= alpha) { cut = MATE - ply; return true; }
    alpha = std::max(alpha, matedAtBest);
    beta = std::min(beta, MATE - ply);
    return false;
}

inline int32_t StoppedScore(const Position& pos) { return Search.scoreSlot[pos.sideToMove]; }

// Whether the Syzygy tables answer for the position: no more than `men` men, no castling
// rights, and no Nalimov table of the class (that one answers, knowing the mate distance).
inline bool SyzygyAnswers(const Position& pos, int32_t men) {
    const int32_t onBoard = MenOnBoard(pos);
    if (onBoard > men || HasCastlingRights(pos)) return false;
    return !(Eval.options.useTablebases && onBoard <= Eval.options.tablebaseMen &&
             TablebaseCovers(pos, pos.sideToMove));
}

}  // namespace tavrix
