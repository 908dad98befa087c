// Tablebases over pipes: generated tables along "NalimovPath" give exact mates and draws;
// with "Use Tablebases" off the same positions are searched without them.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "e2e/engine_process.h"
#include "tablebase/tb_fixture.h"

namespace tavrix::testing {
namespace {

struct SearchAnswer {
    std::vector<std::string> lines;
    std::string lastScore;
    bool tbhits = false;
};

SearchAnswer Search(EngineProcess& engine, const std::string& fen, int depth, bool useTablebases) {
    SearchAnswer a;
    SendText(engine, std::string("setoption name Use Tablebases value ") + (useTablebases ? "true" : "false") +
                         "\nposition fen " + fen + "\ngo depth " + std::to_string(depth) + "\n");
    std::string line;
    while (ReadLineWithin(engine, ANSWER_TIMEOUT_MS, line)) {
        a.lines.push_back(line);
        std::smatch m;
        if (std::regex_search(line, m, std::regex(" score (mate -?[0-9]+|cp -?[0-9]+)"))) a.lastScore = m[1];
        if (line.find(" tbhits ") != std::string::npos) a.tbhits = true;
        if (line.rfind("bestmove", 0) == 0) break;
    }
    return a;
}

// Mate distance of a position from the generated tables.
int TableMoves(const std::string& fen) {
    const TablebaseResult r = ProbeFen(fen);
    EXPECT_TRUE(r.found) << fen;
    return r.distance;
}

TEST(TablebaseSession, GeneratedTablesMateExactlyAndDraw) {
    const std::string tables = ThreeManDirectory();
    ASSERT_EQ(UseTables(tables), 3);
    const std::string krk = "8/8/8/4k3/8/8/8/R3K3 w - - 0 1";
    const std::string kqk = "8/8/8/8/3k4/8/Q7/4K3 w - - 0 1";
    const std::string kpk = "8/8/8/8/8/4k3/4P3/4K3 w - - 0 1";
    const int krkMoves = TableMoves(krk), kqkMoves = TableMoves(kqk);
    ASSERT_GT(krkMoves, 5);
    ASSERT_GT(kqkMoves, 3);
    EXPECT_EQ(TableMoves(kpk), 0);
    FreeTablebases();

    EngineSession session;
    ASSERT_TRUE(session.started);
    EngineProcess& engine = session.engine;
    SendText(engine, "uci\nsetoption name NalimovPath value " + tables + "\nisready\n");
    std::vector<std::string> before;
    ASSERT_TRUE(ReadUntil(engine, "readyok", &before));
    for (const std::string& line : before) EXPECT_EQ(line.find("***"), std::string::npos) << line;

    for (const auto& [fen, moves] : {std::pair{krk, krkMoves}, std::pair{kqk, kqkMoves}}) {
        const SearchAnswer a = Search(engine, fen, 4, true);
        EXPECT_EQ(a.lastScore, "mate " + std::to_string(moves)) << fen;
        EXPECT_TRUE(a.tbhits) << fen;
        // The first iteration already knows the distance.
        const auto first = std::find_if(a.lines.begin(), a.lines.end(),
                                        [](const std::string& l) { return l.find(" score ") != std::string::npos; });
        ASSERT_NE(first, a.lines.end());
        EXPECT_NE(first->find("score mate " + std::to_string(moves) + " "), std::string::npos) << *first;
    }
    EXPECT_EQ(Search(engine, kpk, 6, true).lastScore, "cp 0");

    // Without tablebases: no hits, and a short search cannot see the long mate.
    const SearchAnswer off = Search(engine, krk, 4, false);
    EXPECT_FALSE(off.tbhits);
    EXPECT_NE(off.lastScore, "mate " + std::to_string(krkMoves));
    EXPECT_NE(Search(engine, kpk, 6, false).lastScore, "");
    SendText(engine, "quit\n");
}

TEST(TablebaseSession, PathChangeMidGameKeepsTheEngineAlive) {
    const std::string broken = FreshDirectory();
    ASSERT_TRUE(WriteTables(broken, {"kqk"}));
    ASSERT_EQ(truncate((broken + "/kqk.nbw").c_str(), 7), 0);
    // An extent of a split class whose value width the catalogue does not know.
    std::fclose(std::fopen((broken + "/krbkbn.0.nbw").c_str(), "wb"));
    EngineSession session;
    ASSERT_TRUE(session.started);
    EngineProcess& engine = session.engine;
    SendText(engine, "uci\nposition startpos moves e2e4\nsetoption name NalimovPath value " + broken + "\nisready\n");
    std::vector<std::string> before;
    ASSERT_TRUE(ReadUntil(engine, "readyok", &before));
    bool reported = false;
    int width = 0;
    for (const std::string& line : before) {
        reported = reported || line.rfind("info string *** " + broken + "/kqk.nbw corrupted", 0) == 0;
        width += line == "info string *** " + broken + "/krbkbn.0.nbw: value width of class krbkbn not known, not used";
    }
    EXPECT_TRUE(reported);
    EXPECT_EQ(width, 1);
    SendText(engine, "go depth 3\n");
    std::string line;
    bool best = false;
    while (!best && ReadLineWithin(engine, ANSWER_TIMEOUT_MS, line)) best = line.rfind("bestmove", 0) == 0;
    EXPECT_TRUE(best);
    SendText(engine, "quit\n");
}

}  // namespace
}  // namespace tavrix::testing
