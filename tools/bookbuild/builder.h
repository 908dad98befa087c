// Building book files: moves gathered per position from PGN games and Polyglot books, turned
// into sorted 8-byte records with the engine's own keys and written in one piece.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "board/position.h"
#include "book/book.h"

namespace tavrix::bookbuild {

constexpr int MAX_STATIC_WEIGHT = 7;
constexpr int LEARNED_PER_STATIC = 4;     // learned weight = 4 x static, so learning starts neutral
constexpr int MAX_WALK_PLIES = 60;        // the undo stack of a Position holds 64 records
constexpr int MAX_LEGAL_MOVES = 256;
constexpr const char START_FEN[] = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";

// What the inputs said about one move of one position.
struct MoveTally {
    uint32_t games = 0;          // games that played it
    uint32_t points = 0;         // 2 per win and 1 per draw of the mover
    uint32_t polyglotWeight = 0; // the Polyglot weight, when a Polyglot book has it
    int fixedWeight = -1;        // a static weight given directly (tests), -1 when none
    int fixedLearned = -1;       // a learned weight given directly, -1 for 4 x static
};

struct BookBuilder {
    // By book key, check byte and from/to squares: key << 32 | check << 16 | squares.
    std::map<uint64_t, MoveTally> moves;
    uint32_t minGames = 1;       // a PGN move needs this many games
};

// Sets p up from a FEN ("board side castling ep [clocks]"); false when refused.
bool SetUpFen(Position& p, const char* fen);
// The legal moves of the side to move; returns their number.
int LegalMoves(Position& p, Move* out);
// The legal move of p with these from/to squares (and promotion piece, when not NO_PIECE).
Move FindLegalMove(Position& p, int from, int to, PieceType promotion);

// A game move: `points` 2 for a win of the mover, 1 a draw, 0 a loss.
void AddGameMove(BookBuilder& b, uint32_t key, uint8_t check, Move move, uint32_t points);
inline void AddGameMove(BookBuilder& b, const Position& p, Move move, uint32_t points) {
    AddGameMove(b, BookKey(p), BookCheck(p), move, points);
}
void AddPolyglotMove(BookBuilder& b, const Position& p, Move move, uint32_t weight);
// A record as it stands: static weight (0..7), learned weight (-1: 4 x static), and the
// key and check byte given apart from any position (tests of colliding keys).
void AddRecord(BookBuilder& b, uint32_t key, uint8_t check, Move move, int staticWeight, int learned = -1);
inline void AddRecord(BookBuilder& b, const Position& p, Move move, int staticWeight, int learned = -1) {
    AddRecord(b, BookKey(p), BookCheck(p), move, staticWeight, learned);
}

// The records in file order: by key, then check byte, then static weight downwards.
// Moves whose static weight comes to 0 are left out unless they were given directly.
std::vector<BookRecord> FinishBook(const BookBuilder& b);
// Writes count and records to a temporary file beside `path` and renames it into place.
bool WriteBookFile(const std::string& path, const std::vector<BookRecord>& records);

// Coordinate text of a move ("e2e4", "e7e8q").
std::string MoveName(Move move);

}  // namespace tavrix::bookbuild
