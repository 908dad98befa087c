// Move ordering: the two list scorers and the statistics behind quiet-move scores
// (history, cutoff statistics, killers), plus the promotion-threat estimate.
#pragma once

#include <cstdint>

#include "board/position.h"

namespace tavrix {

// Piece-destination codes: (piece kind x 64 + destination) - 64, + 384 for Black.
constexpr int PIECE_DEST_CODES = 768;
constexpr int BLACK_CODE_OFFSET = 384;
constexpr int ORDERING_PLIES = UNDO_STACK_SIZE;

constexpr uint16_t HISTORY_LIMIT = 60001;      // an entry reaching it halves the table
constexpr uint16_t KILLER1_HISTORY = 60002;    // stand-in history of the killers while scoring
constexpr uint16_t KILLER2_HISTORY = 60001;
constexpr uint16_t TRIED_LIMIT = 65470;        // a tried counter reaching it halves that code
constexpr int32_t ORDER_BAND = 30000;          // quiet moves sit below, good captures above
constexpr int32_t GOOD_CAPTURE_SCORE = 30003;
constexpr int32_t MATING_NET_BONUS = 2000;
constexpr int32_t HANGING_ORIGIN_SHIFT = 6;    // hanging value of the origin / 64

constexpr int PieceDestCode(PieceType kind, int to) { return kind * 64 + to - 64; }
constexpr int PieceDestCode(PieceType kind, int to, Colour side) {
    return PieceDestCode(kind, to) + (side == BLACK ? BLACK_CODE_OFFSET : 0);
}

struct CutoffStats {
    uint16_t tried[PIECE_DEST_CODES];      // depth-weighted tries of a quiet move before a cutoff
    uint16_t succeeded[PIECE_DEST_CODES];  // depth-weighted cutoffs
    uint8_t ratio[PIECE_DEST_CODES];       // succeeded x 256 / tried, at most 255
};

struct OrderingState {
    uint16_t history[PIECE_DEST_CODES];    // HistoryTable
    CutoffStats cutoff;
    uint16_t killers[ORDERING_PLIES][2];   // piece-destination codes without the colour offset
    int32_t checkBonusBase;                // set by the quiescence search for its current depth
};

// Each search thread keeps its own statistics.
extern thread_local constinit OrderingState Ordering;

// Everything back to the state of a fresh engine (statistics cleared, no killers).
void ResetOrderingState();
// What clearing the table does: history 0, tried 1, succeeded 0, ratio 0.
void ClearOrderingStats();
// Start of a search: with Retain Hash the statistics fade, otherwise they restart; the
// killers are forgotten either way.
void AgeOrderingStats(bool retainHash);
void ClearKillers();
// x <- (x + 1) / 2 over the whole history table.
void HalveHistory();

// Bookkeeping after a quiet move `best` caused a cutoff at `ply` with `depth`; `earlier`
// are the quiet moves searched before it at that node. Reads the movers from the board.
void RecordQuietCutoff(const Position& pos, Colour side, int32_t ply, int32_t depth, Move best, const Move* earlier,
                       int32_t earlierCount);
// History bonus of the root's best move.
void AddHistory(int code, int32_t depth);

// What the side moving a piece worth `moverValue` onto a square keeps when the enemy
// starts capturing there, from the two attack summaries (material units, multiple of 8).
int32_t ExchangeBack(uint16_t ownWeight, uint8_t ownXray, uint16_t enemyWeight, uint8_t enemyXray);

// Full-width lists: final ordering scores in place.
void ScoreMoves(int32_t ply, const Position& pos, Colour side, ScoredMove* begin, ScoredMove* end);
// Quiescence lists; mode bit 1 (value 2) means checks are considered.
void ScoreQuiescenceMoves(int32_t mode, const Position& pos, Colour side, ScoredMove* begin, ScoredMove* end);

// The board's generators followed by this layer's scoring, as every list the search walks
// must be: mode 0 lists go to ScoreMoves, quiescence lists (modes 1, 2, 6) to
// ScoreQuiescenceMoves. Each returns the number of moves written at `ply`.
int GenerateOrderedMoves(Position& pos, Colour side, int32_t ply, int32_t mode);
int GenerateOrderedCaptures(Position& pos, Colour side, int32_t ply, int32_t mode);
int GenerateOrderedEvasions(Position& pos, Colour side, int32_t ply, int32_t mode, uint32_t& outFlags);

// Value of the most dangerous push to promotion by `side`'s opponent, when above `margin`.
int32_t PromotionThreat(const Position& pos, Colour side, int32_t depth, int32_t margin);

}  // namespace tavrix
