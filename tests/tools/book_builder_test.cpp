// The book builder: Polyglot keys and import, PGN import.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "board/makemove.h"
#include "book/book_support.h"
#include "bookbuild/pgn.h"
#include "bookbuild/polyglot.h"

namespace tavrix {
namespace {

using namespace testing_support;
using namespace bookbuild;

// The check values published with the Polyglot keys.
constexpr uint64_t START_KEY = 0x463b96181691fc9cULL;
constexpr uint64_t AFTER_E4_KEY = 0x823c9b50fd114196ULL;
constexpr uint64_t AFTER_E4_D5_KEY = 0x0756b94461c50fb0ULL;

// Polyglot move word from squares.
constexpr uint16_t PgMove(int from, int to) { return static_cast<uint16_t>(to | (from << 6)); }

using BuilderTest = BookTest;

// The static weights of the records of p in the open book, by move squares.
std::vector<std::pair<int, int>> BookMoves(const Position& p) {
    std::vector<std::pair<int, int>> moves;
    const BookFind f = FindBookKey(BookKey(p));
    for (int32_t i = f.windowPos; f.found && i < Book.windowEnd && Book.window[i].key == BookKey(p); ++i)
        if (CheckByteOf(Book.window[i]) == BookCheck(p))
            moves.emplace_back(Book.window[i].move & BookBits::SQUARES, StaticWeightOf(Book.window[i]));
    return moves;
}

TEST_F(BuilderTest, PolyglotKeysMatchThePublishedCheckValues) {
    Position& p = FenPosition(START_FEN);
    EXPECT_EQ(PolyglotKey(p), START_KEY);
    MakeMove(p, Coord(p, "e2e4"));
    EXPECT_EQ(PolyglotKey(p), AFTER_E4_KEY);
    MakeMove(p, Coord(p, "d7d5"));
    EXPECT_EQ(PolyglotKey(p), AFTER_E4_D5_KEY);
}

TEST_F(BuilderTest, PolyglotImportWalksTheBookFromTheStart) {
    const std::vector<PolyglotEntry> entries = {
        {START_KEY, PgMove(12, 28), 100},      // e2e4
        {START_KEY, PgMove(11, 27), 50},       // d2d4
        {START_KEY, PgMove(12, 36), 90},       // e2e5: not a move
        {AFTER_E4_KEY, PgMove(51, 35), 20},    // d7d5
        {AFTER_E4_D5_KEY, PgMove(28, 35), 7},  // e4xd5
        {0x1234, PgMove(12, 28), 5},           // a position the walk never reaches
    };
    BookBuilder b;
    const PolyglotImport r = ImportPolyglot(b, entries, 24);
    EXPECT_EQ(r.positions, 3);
    EXPECT_EQ(r.moves, 4);
    EXPECT_EQ(r.skipped, 1);
    OpenBuiltBook(b, "polyglot.tbk");
    EXPECT_EQ(Book.count, 4);

    Position& p = FenPosition(START_FEN);
    using Moves = std::vector<std::pair<int, int>>;
    EXPECT_EQ(BookMoves(p), (Moves{{Coord(p, "e2e4"), 7}, {Coord(p, "d2d4"), 5}}));
    const BookFind f = FindBookKey(BookKey(p));
    EXPECT_EQ(LearnedWeightOf(Book.window[f.windowPos]), 28);
    MakeMove(p, Coord(p, "e2e4"));
    EXPECT_EQ(BookMoves(p), (Moves{{Coord(p, "d7d5"), 7}}));
    MakeMove(p, Coord(p, "d7d5"));
    EXPECT_EQ(BookMoves(p), (Moves{{Coord(p, "e4d5") & BookBits::SQUARES, 7}}));

    // Castling is written as king takes rook; promotions name their piece.
    Position& c = FenPosition("r3k2r/1P6/8/8/8/8/8/R3K2R w KQkq - 0 1");
    EXPECT_EQ(FromPolyglotMove(c, PgMove(4, 7)), MakeMoveWord(4, 6, MoveKind::CASTLING));
    EXPECT_EQ(FromPolyglotMove(c, PgMove(4, 0)), MakeMoveWord(4, 2, MoveKind::CASTLING));
    EXPECT_EQ(PromotedType(FromPolyglotMove(c, PgMove(49, 57) | (1 << 12))), KNIGHT);
    EXPECT_EQ(PromotedType(FromPolyglotMove(c, PgMove(49, 56) | (4 << 12))), QUEEN);
}

constexpr const char* PGN_TEXT = R"([Event "one"]
[White "a"]
[Black "b"]
[Result "1-0"]

1. e4 e5 2. Nf3 {a comment (with a paren} Nc6 3. Bc4 $1 Bc5
(3... Nf6 {nested} (3... d6 4. d3) 4. Ng5) 4. 0-0 ; rest of line d4
Nf6!? 5. d3 1-0

[Event "two"]
[Result "*"]
1. e4 e5 2. Ke3 Nf6 *

[Event "three"]
[SetUp "1"]
[FEN "4k3/P7/8/8/8/8/7p/4K3 w - - 0 1"]
[Result "1/2-1/2"]
1. a8=Q+ Kd7 2. Kf2 h1N+ 3. Kg1 1/2-1/2
)";

TEST_F(BuilderTest, PgnImportSkipsCommentsVariationsAndNags) {
    BookBuilder b;
    const std::string errorsPath = TempPath("pgn_errors.txt");
    FILE* errors = std::fopen(errorsPath.c_str(), "w");
    ASSERT_NE(errors, nullptr);
    const PgnImport r = ImportPgnText(b, PGN_TEXT, "games.pgn", PgnOptions{}, errors);
    std::fclose(errors);
    EXPECT_EQ(r.games, 2);
    EXPECT_EQ(r.rejected, 1);
    const std::vector<unsigned char> message = ReadBytes(errorsPath);
    EXPECT_EQ(std::string(message.begin(), message.end()).rfind("games.pgn: game 2: ", 0), 0u);
    OpenBuiltBook(b, "pgn.tbk");

    using Moves = std::vector<std::pair<int, int>>;
    Position& p = FenPosition(START_FEN);
    for (const char* m : {"e2e4", "e7e5", "g1f3", "b8c6", "f1c4", "f8c5"}) MakeMove(p, Coord(p, m));
    EXPECT_EQ(BookMoves(p), (Moves{{Coord(p, "e1g1") & BookBits::SQUARES, 7}}));  // not the variation's moves
    MakeMove(p, Coord(p, "e1g1"));
    EXPECT_TRUE(BookMoves(p).empty());  // the loser's move weighs nothing

    Position& q = FenPosition("4k3/P7/8/8/8/8/7p/4K3 w - - 0 1");
    EXPECT_EQ(BookMoves(q), (Moves{{Coord(q, "a7a8") & BookBits::SQUARES, 7}}));
    for (const char* m : {"a7a8", "e8d7", "e1f2"}) MakeMove(q, Coord(q, m));
    EXPECT_EQ(BookMoves(q), (Moves{{Coord(q, "h2h1") & BookBits::SQUARES, 7}}));
    EXPECT_EQ(PromotedType(ParseSan(q, "h1N+")), KNIGHT);
    EXPECT_EQ(PromotedType(ParseSan(q, "h1=N")), KNIGHT);
    EXPECT_EQ(PromotedType(ParseSan(q, "h1")), QUEEN);
    CloseBook();

    PgnOptions winners;
    winners.winnersOnly = true;
    BookBuilder w;
    EXPECT_EQ(ImportPgnText(w, PGN_TEXT, "games.pgn", winners, nullptr).games, 2);
    OpenBuiltBook(w, "winners.tbk");
    EXPECT_TRUE(BookMoves(FenPosition("4k3/P7/8/8/8/8/7p/4K3 w - - 0 1")).empty());  // a draw has no winner
    EXPECT_EQ(BookMoves(FenPosition(START_FEN)), (Moves{{MakeMoveWord(12, 28), 7}}));
}

}  // namespace
}  // namespace tavrix
