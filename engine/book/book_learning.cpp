#include "book/book_learning.h"

#include <algorithm>

#include "book/book.h"
#include "board/game_entry.h"
#include "settings/settings.h"

namespace tavrix {

namespace {

constexpr int32_t TOURNAMENT_STYLE = 4;
constexpr int32_t MIN_SELECTIVITY = 2;
constexpr int32_t MIN_FORWARD_PRUNING = 128;
constexpr int32_t WIN_DELTA = 2;
constexpr int32_t LOSS_DELTA = -4;
constexpr int32_t FOLLOW_UP_MOVES = 6;        // the same side's next six moves are judged
constexpr int32_t THRESHOLD_STEP = 16;        // both thresholds rise by this per move
constexpr int32_t WHITE_LOW = -64, WHITE_HIGH = 64;
constexpr int32_t BLACK_LOW = -128, BLACK_HIGH = 0;

bool LearningApplies() {
    const uint32_t flags = Settings.optionFlags;
    const int32_t style = static_cast<int32_t>((flags & OptionFlag::BOOK_STYLE) >> OptionFlag::BOOK_STYLE_SHIFT);
    const int32_t selectivity = static_cast<int32_t>((flags & OptionFlag::SELECTIVITY) >> OptionFlag::SELECTIVITY_SHIFT);
    const bool limited = (flags & OptionFlag::LIMIT_STRENGTH) != 0 && Settings.strengthLimit > 0;
    // A book that cannot be written learns nothing, silently.
    return !limited && style == TOURNAMENT_STYLE && selectivity >= MIN_SELECTIVITY &&
           Settings.forwardPruning >= MIN_FORWARD_PRUNING && Book.file != nullptr && Book.writable;
}

bool IsScoredBookMove(const GameEntry& e) {
    return (e.flags & EntryFlag::BOOK_MOVE) != 0 && (e.flags & EntryFlag::SCORE_USABLE) != 0;
}

// How the same side's next moves after the book move at `index` scored.
int32_t JudgeFollowUp(const GameEntry* entries, int32_t index, int32_t last, int32_t delta) {
    const bool white = entries[index].mover == WHITE;
    int32_t low = white ? WHITE_LOW : BLACK_LOW;
    int32_t high = white ? WHITE_HIGH : BLACK_HIGH;
    for (int32_t k = 1; k <= FOLLOW_UP_MOVES && index + 2 * k <= last; ++k, low += THRESHOLD_STEP, high += THRESHOLD_STEP) {
        const GameEntry& e = entries[index + 2 * k];
        if ((e.flags & EntryFlag::SCORE_USABLE) == 0) continue;
        if (e.score <= low) {
            delta -= 2;
        } else {
            if (delta < 0) ++delta;
            if (e.score > high) ++delta;
        }
    }
    return delta;
}

// Carries the delta and mark back over the same side's book moves from `index`.
void CarryBack(GameEntry* entries, int32_t index, int32_t delta, int32_t mark) {
    for (int32_t i = index; i > FIRST_ENTRY && (delta != 0 || mark != LearnMark::NONE); i -= 2) {
        GameEntry& e = entries[i];
        if (!IsScoredBookMove(e)) continue;
        const uint16_t code = LearningCode(mark, delta);
        e.learning = code;
        delta = UpdateBookLearning(BookKeyFrom(e.keyLow, e.mover), e.keyHigh, code, e.move);
    }
}

}  // namespace

void LearnFromGame(GameEntry* entries, int32_t last, int32_t result, Colour engineColour) {
    if (!LearningApplies()) return;
    int32_t delta = 0;
    int32_t mark = LearnMark::NONE;
    if (result >= GameResult::WHITE_WON) {
        const bool won = result == engineColour + GameResult::WHITE_WON;
        delta = won ? WIN_DELTA : LOSS_DELTA;
        mark = won ? LearnMark::GOOD : LearnMark::BAD;
    }
    bool seen[2] = {false, false};
    for (int32_t i = last; i > FIRST_ENTRY; --i) {
        GameEntry& e = entries[i];
        if (!IsScoredBookMove(e)) {
            e.learning = 0;
            continue;
        }
        seen[e.mover & 1] = true;
        delta = JudgeFollowUp(entries, i, last, delta);
        if (delta != 0) {
            CarryBack(entries, i, delta, mark);
            return;
        }
        const bool previousIsBook = i - 1 > FIRST_ENTRY && IsScoredBookMove(entries[i - 1]);
        if (e.mover == engineColour || (seen[WHITE] && seen[BLACK]) || !previousIsBook) {
            if (mark != LearnMark::NONE) CarryBack(entries, i, delta, mark);
            return;
        }
    }
    // No book move in the game: nothing to learn.
}

int32_t UpdateBookLearning(uint32_t key, uint32_t keyHigh, uint16_t code, Move move) {
    const BookFind find = FindBookKey(key);
    if (!find.found) return 0;
    const uint8_t check = BookCheckFrom(keyHigh);
    int32_t target = -1;
    int32_t others = 0;
    for (int32_t pos = find.windowPos; pos < Book.windowEnd && Book.window[pos].key == key; ++pos) {
        const BookRecord& r = Book.window[pos];
        if (CheckByteOf(r) != check) continue;
        if ((r.move & BookBits::SQUARES) == (move & BookBits::SQUARES)) target = pos;
        else others = std::max(others, LearnedWeightOf(r));
    }
    if (target < 0) return 0;
    BookRecord record = Book.window[target];
    const int32_t d = (code & 0xFF) - LEARNING_DELTA_BIAS;
    const int32_t mark = code >> 8;
    const int32_t f = std::clamp(LearnedWeightOf(record) + d, LEARNED_WEIGHT_MIN, LEARNED_WEIGHT_MAX);
    int32_t carried = d + 1;
    if (d >= -1 || others < LEARNED_WEIGHT_MIN || others < f) carried = d - 1 + ((d <= 1 || f < others) ? 1 : 0);
    if (f == LearnedWeightOf(record) && mark == LearnMark::NONE) return carried;
    record.learning = static_cast<uint16_t>((record.learning & ~BookBits::LEARNED_WEIGHT) | f);
    if (mark == LearnMark::BAD) record.learning |= BookBits::LEARNED_BAD;
    if (mark == LearnMark::GOOD) record.learning |= BookBits::LEARNED_GOOD;
    WriteBookRecord(Book.windowFirst + target, record);
    return carried;
}

}  // namespace tavrix
