// The book builder: Polyglot keys and import, PGN import.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "board/makemove.h"
#include "book/book_support.h"
#include "bookbuild/pgn.h"
#include "bookbuild/polyglot.h"
#include "e2e/engine_process.h"

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

// Runs "tavrix-book build" with its standard error on a pipe or on a terminal (raw, so the
// bytes arrive as written); returns what it wrote there.
std::string BuildToolErrors(const std::string& book, const std::string& pgn, bool terminal, int& status) {
    int readEnd = -1, writeEnd = -1;
    if (terminal) {
        readEnd = posix_openpt(O_RDWR | O_NOCTTY);
        if (readEnd < 0 || grantpt(readEnd) != 0 || unlockpt(readEnd) != 0) return {};
        writeEnd = open(ptsname(readEnd), O_RDWR | O_NOCTTY);
        termios raw{};
        if (writeEnd < 0 || tcgetattr(writeEnd, &raw) != 0) return {};
        cfmakeraw(&raw);
        tcsetattr(writeEnd, TCSANOW, &raw);
    } else {
        int fds[2];
        if (pipe(fds) != 0) return {};
        readEnd = fds[0];
        writeEnd = fds[1];
    }
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(writeEnd, STDERR_FILENO);
        execl(TAVRIX_BOOK_TOOL, TAVRIX_BOOK_TOOL, "build", book.c_str(), pgn.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(writeEnd);
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = read(readEnd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(got));
    close(readEnd);  // a terminal ends with EIO once the tool is gone
    int wait = 0;
    waitpid(pid, &wait, 0);
    status = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
    return text;
}

TEST(BookToolEndToEnd, ReadingAPgnFileShowsTheGamesRead) {
    constexpr int GAMES = 2 * PROGRESS_GAMES + 500;
    const std::string directory = testing::MakeTempDirectory();
    const std::string pgn = directory + "/games.pgn";
    {
        FILE* out = std::fopen(pgn.c_str(), "w");
        ASSERT_NE(out, nullptr);
        for (int g = 0; g < GAMES; ++g) std::fprintf(out, "[Result \"1-0\"]\n\n1. e4 e5 2. Nf3 %s 1-0\n\n", g % 2 ? "Nc6" : "d6");
        std::fclose(out);
    }
    const std::string last = pgn + ": " + std::to_string(GAMES) + " games read (100%)";
    struct Case {
        bool terminal;
        int reports;          // before the last one
    };
    for (const Case c : {Case{false, GAMES / PROGRESS_GAMES}, Case{true, GAMES / PROGRESS_GAMES_IN_PLACE}}) {
        SCOPED_TRACE(c.terminal);
        int status = -2;
        const std::string errors = BuildToolErrors(directory + "/book.tbk", pgn, c.terminal, status);
        EXPECT_EQ(status, 0);
        // Lines, or one line rewritten after each carriage return and ended once.
        const char separator = c.terminal ? '\r' : '\n';
        std::vector<std::string> reports;
        size_t from = c.terminal ? 1 : 0;
        EXPECT_EQ(errors.find('\r') == 0, c.terminal);
        for (size_t at; (at = errors.find(separator, from)) != std::string::npos; from = at + 1)
            reports.push_back(errors.substr(from, at - from));
        reports.push_back(errors.substr(from));
        if (!c.terminal) reports.pop_back();  // behind the last line end
        ASSERT_EQ(reports.size(), static_cast<size_t>(c.reports + 1)) << errors;
        for (int r = 0; r < c.reports; ++r) {
            const int every = c.terminal ? PROGRESS_GAMES_IN_PLACE : PROGRESS_GAMES;
            EXPECT_NE(reports[r].find(": " + std::to_string((r + 1) * every) + " games read ("), std::string::npos) << reports[r];
            EXPECT_EQ(reports[r].find('\n'), std::string::npos) << reports[r];
        }
        EXPECT_EQ(reports.back(), "tavrix-book: " + last + (c.terminal ? "\n" : "")) << errors;
    }
    testing::RemoveDirectory(directory);
}

}  // namespace
}  // namespace tavrix
