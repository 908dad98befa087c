// Playing from the default book over pipes, as a GUI sees it.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "book/book.h"
#include "board/makemove.h"
#include "bookbuild/builder.h"
#include "e2e/engine_process.h"

namespace tavrix::testing {
namespace {

constexpr int SELF_PLAY_GAMES = 20;
constexpr int OPENING_PLIES = 6;
constexpr int MAX_GAME_PLIES = 60;

bool HaveDefaultBook() {
    FILE* f = std::fopen(TAVRIX_DEFAULT_BOOK, "rb");
    if (f != nullptr) std::fclose(f);
    return f != nullptr;
}

struct Answer {
    std::string move;
    bool book = false;  // announced at depth 0 with score cp 1, nothing searched
};

Answer Go(EngineProcess& engine, const std::string& moves, const std::string& go) {
    Answer a;
    EXPECT_TRUE(SendText(engine, "position startpos" + (moves.empty() ? "" : " moves" + moves) + "\n" + go + "\n"));
    std::string line;
    while (ReadLineWithin(engine, ANSWER_TIMEOUT_MS, line)) {
        if (line.rfind("info depth 0 ", 0) == 0 && line.find(" nodes 0 score cp 1 pv ") != std::string::npos) a.book = true;
        if (line.rfind("bestmove ", 0) == 0) {
            a.move = line.substr(9, line.find(' ', 9) - 9);
            return a;
        }
    }
    ADD_FAILURE() << "no bestmove";
    return a;
}

void StartUci(EngineSession& s) {
    ASSERT_TRUE(s.started);
    ASSERT_TRUE(SendText(s.engine, "uci\n"));
    ASSERT_TRUE(ReadUntil(s.engine, "uciok"));
}

// From the start position a timed "go" answers a move of the book without searching.
TEST(BookPlay, StartPositionAnswersABookMove) {
    if (!HaveDefaultBook()) GTEST_SKIP() << "the build made no default book";
    EngineSession s;
    StartUci(s);
    const Answer a = Go(s.engine, "", "go wtime 60000 btime 60000");
    EXPECT_TRUE(a.book) << a.move;

    ASSERT_EQ(OpenBook(TAVRIX_DEFAULT_BOOK), 1);
    static Position p;
    ASSERT_TRUE(bookbuild::SetUpFen(p, bookbuild::START_FEN));
    const BookFind f = FindBookKey(BookKey(p));
    std::set<std::string> bookMoves;
    for (int32_t i = f.windowPos; f.found && i < Book.windowEnd && Book.window[i].key == BookKey(p); ++i)
        bookMoves.insert(bookbuild::MoveName(Book.window[i].move & BookBits::SQUARES));
    CloseBook();
    EXPECT_TRUE(bookMoves.count(a.move)) << a.move;

    // "Book File" reopens: a missing book means searching, the relative default name is
    // found beside the engine although the working directory is elsewhere.
    ASSERT_TRUE(SendText(s.engine, "setoption name Book File value no_such_book.tbk\n"));
    EXPECT_FALSE(Go(s.engine, "", "go wtime 300 btime 300").book);
    ASSERT_TRUE(SendText(s.engine, "setoption name Book File value T11Book.tbk\n"));
    EXPECT_TRUE(Go(s.engine, "", "go wtime 300 btime 300").book);
    ASSERT_TRUE(SendText(s.engine, "setoption name OwnBook value false\n"));
    EXPECT_FALSE(Go(s.engine, "", "go wtime 300 btime 300").book);
}

// Self-play under "Varied": the games stay in the book for a while and differ early.
TEST(BookPlay, VariedSelfPlayStaysInBookAndVaries) {
    if (!HaveDefaultBook()) GTEST_SKIP() << "the build made no default book";
    EngineSession s;
    StartUci(s);
    ASSERT_TRUE(SendText(s.engine, "setoption name Book Style value Varied\n"));
    int totalBookPlies = 0;
    std::set<std::string> openings;
    for (int game = 0; game < SELF_PLAY_GAMES; ++game) {
        ASSERT_TRUE(SendText(s.engine, "ucinewgame\n"));
        std::string moves, opening;
        int plies = 0;
        for (; plies < MAX_GAME_PLIES; ++plies) {
            const Answer a = Go(s.engine, moves, "go wtime 100 btime 100");  // a tiny clock once out of book
            if (!a.book) break;
            moves += " " + a.move;
            if (plies < OPENING_PLIES) opening += " " + a.move;
        }
        totalBookPlies += plies;
        openings.insert(opening);
    }
    const double average = double(totalBookPlies) / SELF_PLAY_GAMES;
    std::printf("[ book     ] %d Varied self-play games: %.1f plies in book on average, %zu different first %d plies\n",
                SELF_PLAY_GAMES, average, openings.size(), OPENING_PLIES);
    EXPECT_GE(average, 8.0);
    EXPECT_GE(openings.size(), 5u);
}

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What the README tells about book learning: the engine writes into the book it plays from,
// also with "Book Learning" off; a read-only book file stays as it was. The engine plays
// 1.f3 and 2.g4 from its book and the GUI mates it with 2...Qh4#.
TEST(BookPlay, ALostGameRewritesTheBookUnlessTheFileIsReadOnly) {
    const struct Case {
        const char* name;
        const char* options;
        bool readOnly;
        bool changes;
    } cases[] = {
        {"learning on", "", false, true},
        {"Book Learning off", "setoption name Book Learning value false\n", false, true},
        {"read-only file", "", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string directory = MakeTempDirectory();
        const std::string book = directory + "/fools.tbk";
        {
            bookbuild::BookBuilder builder;
            static Position p;
            ASSERT_TRUE(bookbuild::SetUpFen(p, bookbuild::START_FEN));
            for (const char* move : {"f2f3", "e7e5", "g2g4"}) {
                const Move m = bookbuild::FindLegalMove(p, MakeSquare(move[0] - 'a', move[1] - '1'),
                                                        MakeSquare(move[2] - 'a', move[3] - '1'), NO_PIECE);
                ASSERT_NE(m, NO_MOVE);
                if (p.sideToMove == WHITE) bookbuild::AddRecord(builder, p, m, 7);
                MakeMove(p, m);
            }
            ASSERT_TRUE(bookbuild::WriteBookFile(book, bookbuild::FinishBook(builder)));
        }
        EngineLaunch launch;
        launch.workingDirectory = directory;
        std::vector<std::string> arguments;
        if (c.readOnly) {
            ASSERT_EQ(chmod(book.c_str(), 0444), 0);
            // Root writes whatever the mode says: the engine runs as nobody to meet the mode.
            if (geteuid() == 0) {
                ASSERT_EQ(chmod(directory.c_str(), 0755), 0);
                launch.program = "/usr/bin/setpriv";
                arguments = {"--reuid=65534", "--regid=65534", "--clear-groups", TAVRIX_BINARY};
            }
        }
        const std::string before = FileBytes(book);
        ASSERT_FALSE(before.empty());
        EngineProcess engine;
        ASSERT_TRUE(StartEngine(engine, launch, arguments));
        ASSERT_TRUE(SendText(engine, "uci\nsetoption name Book File value " + book + "\n" + c.options));
        ASSERT_TRUE(ReadUntil(engine, "uciok"));
        const Answer first = Go(engine, "", "go wtime 60000 btime 60000");
        EXPECT_TRUE(first.book && first.move == "f2f3") << first.move;
        const Answer second = Go(engine, " f2f3 e7e5", "go wtime 60000 btime 60000");
        EXPECT_TRUE(second.book && second.move == "g2g4") << second.move;
        ASSERT_TRUE(SendText(engine, "position startpos moves f2f3 e7e5 g2g4 d8h4\nucinewgame\nisready\n"));
        EXPECT_TRUE(ReadUntil(engine, "readyok"));
        EXPECT_EQ(FileBytes(book) != before, c.changes);
        StopEngine(engine);
        RemoveDirectory(directory);
    }
}

}  // namespace
}  // namespace tavrix::testing
