// Book learning: after a game, the learned weights and marks of the engine's own book moves
// are raised or lowered in the book file from the result and the scores that followed.
#pragma once

#include <cstdint>

#include "board/game_entry.h"
#include "board/position.h"

namespace tavrix {

constexpr int32_t LEARNED_WEIGHT_MIN = 12;
constexpr int32_t LEARNED_WEIGHT_MAX = 31;
constexpr int32_t LEARNING_DELTA_BIAS = 64;  // the delta travels as d + 64 in the low byte

// Marks carried in the high byte of a learning code.
namespace LearnMark {
constexpr int32_t NONE = 0;
constexpr int32_t BAD = 1;
constexpr int32_t GOOD = 2;
}  // namespace LearnMark

constexpr uint16_t LearningCode(int32_t mark, int32_t delta) {
    return static_cast<uint16_t>((mark << 8) | ((delta + LEARNING_DELTA_BIAS) & 0xFF));
}

// Learns from the game just ended, entries FIRST_ENTRY + 1 .. `last` (their learning codes are
// written back): `result` a GameResult code, `engineColour` the side
// the engine played. Changes nothing unless the play was at full strength from the
// "Tournament" book style with at least selectivity 2 and forward pruning 8, or when the book
// cannot be written.
void LearnFromGame(GameEntry* entries, int32_t last, int32_t result, Colour engineColour);
// Applies one learning code to the book record of `move` in the position of book key `key`
// and key high word `keyHigh`. Returns the delta to carry to the next earlier book move.
int32_t UpdateBookLearning(uint32_t key, uint32_t keyHigh, uint16_t code, Move move);

}  // namespace tavrix
