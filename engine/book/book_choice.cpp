// The choice of a book move: legal, non-repeating book moves weighted by their
// record and transformed by the "Book Style" with the shared random generator.
#include "book/book.h"

#include "board/makemove.h"
#include "settings/settings.h"
#include "board/repetition.h"

namespace tavrix {

namespace {

constexpr uint32_t RANDOM_MULTIPLIER = 328474821;
constexpr int RANDOM_SHIFT = 16;
constexpr int32_t BOOK_EXIT_PLIES = 8;       // plies without a hit before the book is left

namespace Style {
constexpr int WILD = 1;
constexpr int WIDE = 2;
constexpr int VARIED = 3;
constexpr int TOURNAMENT = 4;
}  // namespace Style

// Floors by style; a weight below the floor counts 0 and draws nothing.
constexpr uint32_t STYLE_FLOOR[5] = {0, 4, 8, 12, 12};

uint32_t TournamentWeight(uint32_t w, const BookRecord& record, bool learning) {
    const uint32_t u = 1u << (w >> 2);
    w = (((u * (w & 3)) & ~3u) + 4 * u) * 256;
    if (learning) {
        if (record.learning & BookBits::LEARNED_GOOD) w *= 2;
        if (record.learning & BookBits::LEARNED_BAD) w >>= 10;
    }
    return w * ((BookRandom() & 0x3F) + 1);
}

uint32_t StyleWeight(int style, uint32_t w, const BookRecord& record, bool learning) {
    if (w < STYLE_FLOOR[style]) return 0;
    switch (style) {
        case Style::WILD: {
            const uint32_t r1 = BookRandom();
            const uint32_t r2 = BookRandom();
            return (w + (r1 & 0xF)) * ((r2 & 0x7F) + 1);
        }
        case Style::WIDE: return w * ((BookRandom() & 0xFF) + 1);
        case Style::VARIED: return w * ((BookRandom() & 7) + 1);
        default: return TournamentWeight(w, record, learning);
    }
}

bool KingAttacked(const Position& pos, Colour king) {
    return pos.attackMap[king ^ 1].square[KingSquare(pos, king)].attackWeight != 0;
}

}  // namespace

uint32_t BookRandom() {
    Book.random = Book.random * RANDOM_MULTIPLIER + 1;
    // The styles mask the low bits of a draw, and the low bits of this generator repeat
    // within a few draws (bit k has period 2^(k+1)): hand out the long-period high half.
    return Book.random >> RANDOM_SHIFT;
}

void SeedBookRandom(uint32_t seed) {
    if (seed != 0) Book.random = seed;
}

void ResetBookPly() { Book.lastBookPly = -1; }

Move ProbeBook(Position& pos, uint32_t optionFlags, ScoredMove* begin, ScoredMove* end) {
    const int style = static_cast<int>((optionFlags & OptionFlag::BOOK_STYLE) >> OptionFlag::BOOK_STYLE_SHIFT);
    if (style == 0 || style > Style::TOURNAMENT || (optionFlags & OptionFlag::OWN_BOOK) == 0 || Book.file == nullptr)
        return NO_MOVE;
    if (Book.lastBookPly != -1 && Book.lastBookPly + BOOK_EXIT_PLIES < pos.ply) return NO_MOVE;

    const uint32_t key = BookKey(pos);
    const uint8_t check = BookCheck(pos);
    const BookFind find = FindBookKey(key);
    if (!find.found) return NO_MOVE;
    if (pos.ply > Book.lastBookPly) Book.lastBookPly = pos.ply;

    const bool learning = (optionFlags & OptionFlag::BOOK_LEARNING) != 0;
    const Colour side = pos.sideToMove;
    ScoredMove* best = nullptr;
    uint32_t top = 0;
    for (int32_t i = find.windowPos; i < Book.windowEnd && Book.window[i].key == key && begin != end; ++i) {
        const BookRecord record = Book.window[i];
        if (CheckByteOf(record) != check) continue;
        ScoredMove* entry = begin;
        while (entry != end && (entry->move & BookBits::SQUARES) != (record.move & BookBits::SQUARES)) ++entry;
        if (entry == end) continue;
        MakeMove(pos, static_cast<Move>(entry->move & ~CHECK_MARK));
        if (KingAttacked(pos, side) || RepetitionCount(pos) != 0) {
            UnmakeMove(pos);
            continue;
        }
        if (KingAttacked(pos, side ^ 1)) entry->move |= CHECK_MARK;
        const uint32_t w = learning ? static_cast<uint32_t>(LearnedWeightOf(record))
                                    : 4u * static_cast<uint32_t>(StaticWeightOf(record));
        const uint32_t weight = StyleWeight(style, w, record, learning);
        if (weight > top) {
            best = entry;
            top = weight;
        }
        UnmakeMove(pos);
    }
    return (best != nullptr && top > 0) ? best->move : NO_MOVE;
}

}  // namespace tavrix
