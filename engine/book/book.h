// The opening book file: a record count and sorted 8-byte records, searched on
// disk through a window of 40 records, and the book move choice.
#pragma once

#include <cstdint>
#include <cstdio>

#include "board/position.h"

namespace tavrix {

// ---------------------------------------------------------------- records
// One book record, little-endian on disk: key, move word, learning word.
struct BookRecord {
    uint32_t key;       // book key of the position before the move
    uint16_t move;      // bits 0-11 from/to as in Move, bits 12-14 the static weight 0..7
    uint16_t learning;  // bits 0-4 learned weight, 0x20 bad, 0x40 good, bits 8-15 check byte
};
static_assert(sizeof(BookRecord) == 8);

namespace BookBits {
constexpr uint16_t SQUARES = 0x0FFF;           // from- and to-square of the move word
constexpr int STATIC_WEIGHT_SHIFT = 12;
constexpr uint16_t STATIC_WEIGHT = 0x7000;
constexpr uint16_t LEARNED_WEIGHT = 0x001F;
constexpr uint16_t LEARNED_BAD = 0x0020;
constexpr uint16_t LEARNED_GOOD = 0x0040;
constexpr int CHECK_SHIFT = 8;
}  // namespace BookBits

constexpr int BOOK_WINDOW = 40;                // records read around a probe hit
constexpr int BOOK_HEADER_SIZE = 4;            // the record count
constexpr int BOOK_RECORD_SIZE = 8;

inline int StaticWeightOf(const BookRecord& r) { return (r.move & BookBits::STATIC_WEIGHT) >> BookBits::STATIC_WEIGHT_SHIFT; }
inline int LearnedWeightOf(const BookRecord& r) { return r.learning & BookBits::LEARNED_WEIGHT; }
inline uint8_t CheckByteOf(const BookRecord& r) { return static_cast<uint8_t>(r.learning >> BookBits::CHECK_SHIFT); }

// ---------------------------------------------------------------- keys
// Book key from a key low word and the side to move: bit 0 is 1 when White is to move.
constexpr uint32_t BookKeyFrom(uint32_t keyLow, Colour sideToMove) {
    return (keyLow & ~1u) | static_cast<uint32_t>(sideToMove ^ 1);
}
// Check byte from a key high word: its bits 8-15.
constexpr uint8_t BookCheckFrom(uint32_t keyHigh) { return static_cast<uint8_t>(keyHigh >> 8); }
inline uint32_t BookKey(const Position& p) { return BookKeyFrom(p.hashKey[0], p.sideToMove); }
inline uint8_t BookCheck(const Position& p) { return BookCheckFrom(p.hashKey[1]); }

// ---------------------------------------------------------------- state
struct BookState {
    FILE* file;                          // the open book, or nullptr
    bool writable;                       // opened "r+b"; false when only "rb" worked
    int32_t count;                       // N, the records the file holds (clamped to its size)
    BookRecord window[BOOK_WINDOW];      // records read by the last ReadBookRecords
    int32_t windowFirst;                 // book index of window[0]
    int32_t windowEnd;                   // end of the valid part of the window
    int32_t lastBookPly;                 // ply of the last book hit, -1 when none since set-up
    uint32_t random;                     // the shared random state of the styles

    // Closes an open file; no records, no window, no last book ply, random state 0.
    void Reset();
};
extern BookState Book;

struct BookFind {
    bool found;
    int32_t index;      // book index of the first record with the key (lo when not found)
    int32_t windowPos;  // its position in Book.window; -1 when not found
};

// ---------------------------------------------------------------- file
// Finds the file (see ResolveBookPath) and opens it "r+b", falling back to "rb". 1 on
// success (sets N, "OwnBook" and "Book Positions"), 0 on failure (clears them).
int OpenBook(const char* name);
// Reads up to `count` records from index `first` into the window; returns the number read.
int ReadBookRecords(int32_t first, int32_t count);
// Binary search for the first record with `key`, leaving the 40-record window around it.
BookFind FindBookKey(uint32_t key);
// Writes one record in place; a silent no-op when the book is read-only, closed or the
// index is outside the book.
void WriteBookRecord(int32_t index, const BookRecord& record);
// Closes the file; the last book ply and the random state stay.
void CloseBook();

// The path a "Book File" name opens: an absolute name as it stands; a relative name in the
// working directory, beside the executable, then in ../share/tavrix/ from the executable.
// Returns false when no place has the file.
bool ResolveBookPath(const char* name, char* path, int pathSize);

// ---------------------------------------------------------------- choice
// The chosen root move word (bit 15 set when it checks) or 0. `pos` is the root position;
// the list holds its generated moves.
Move ProbeBook(Position& pos, uint32_t optionFlags, ScoredMove* begin, ScoredMove* end);
// One draw of the shared generator: state = state * 328474821 + 1; the draw is the high
// 16 bits of the new state.
uint32_t BookRandom();
// Seeds the generator (a zero seed leaves it unchanged).
void SeedBookRandom(uint32_t seed);
// Position set-up resets the last book ply to -1.
void ResetBookPly();

}  // namespace tavrix
