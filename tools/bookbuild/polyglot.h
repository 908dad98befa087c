// Polyglot .bin books: 16-byte big-endian entries (key, move, weight, learn) sorted by a
// 64-bit key of their own. Imported by walking the book from the start position.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bookbuild/builder.h"

namespace tavrix::bookbuild {

struct PolyglotEntry {
    uint64_t key;
    uint16_t move;    // to in bits 0-5, from in 6-11, promotion piece 1..4 (n, b, r, q) in 12-14
    uint16_t weight;
};

struct PolyglotImport {
    int positions = 0;      // book positions reached by the walk
    int moves = 0;          // entries turned into book moves
    int skipped = 0;        // entries whose move is not legal in their position
};

// The Polyglot key of a position.
uint64_t PolyglotKey(const Position& p);
// The engine's legal move for a Polyglot move word (castling is written king takes rook).
Move FromPolyglotMove(Position& p, uint16_t move);
// Reads the entries of a .bin file; a trailing partial entry is ignored.
bool ReadPolyglotFile(const std::string& path, std::vector<PolyglotEntry>& entries);
// Walks the entries (in any order) from the start position up to `maxPly` plies deep.
PolyglotImport ImportPolyglot(BookBuilder& b, const std::vector<PolyglotEntry>& entries, int maxPly);

}  // namespace tavrix::bookbuild
