// Syzygy tables over pipes: won endings played out to mate by the engine against itself, a
// win converted late in the fifty-move count, a drawn rook ending held, the probes counted
// in "tbhits", no table read without a path, and Nalimov answering where it has the class.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "board/board_test_util.h"
#include "board/moveservices.h"
#include "e2e/engine_process.h"
#include "platform/platform.h"
#include "tablebase/syzygy.h"
#include "tablebase/tb_fixture.h"

namespace tavrix::testing {
namespace {

std::string TestTables() { return std::string(TAVRIX_TEST_DATA) + "/syzygy"; }

// The test process reads the tables too, to judge the engine's moves.
void LoadTablesHere() {
    if (Syzygy.largest != 0) return;
    FILE* sink = std::fopen("/dev/null", "w");
    platform::RedirectOutput(sink);
    LoadSyzygyTables(TestTables().c_str());
    platform::RedirectOutput(nullptr);
    std::fclose(sink);
}

std::string FenOf(const Position& p) {
    std::string fen;
    for (int rank = 7; rank >= 0; --rank) {
        int empty = 0;
        for (int file = 0; file < 8; ++file) {
            const int sq = MakeSquare(file, rank);
            if (p.pieceType[sq] == NO_PIECE) {
                ++empty;
                continue;
            }
            if (empty) fen += static_cast<char>('0' + empty);
            empty = 0;
            fen += PIECE_LETTERS[p.pieceType[sq] + (p.pieceColour[sq] == BLACK ? 6 : 0)];
        }
        if (empty) fen += static_cast<char>('0' + empty);
        if (rank) fen += '/';
    }
    fen += p.sideToMove == WHITE ? " w - " : " b - ";
    if (p.epSquare != 0) fen += std::string{static_cast<char>('a' + FileOf(p.epSquare)), static_cast<char>('1' + RankOf(p.epSquare))};
    else fen += "-";
    return fen;
}

// The game as the test follows it: the board, the plies since the last capture or pawn move,
// and how often each position occurred.
struct Referee {
    std::unique_ptr<Position> pos = std::make_unique<Position>();
    int fifty = 0;
    bool lastZeroed = false;
    int mostRepeated = 1;
    std::map<std::string, int> seen;

    bool Start(const std::string& fen) {
        fifty = 0;
        lastZeroed = false;
        mostRepeated = 1;
        seen.clear();
        if (!testing_support::LoadFen(*pos, fen)) return false;
        seen[FenOf(*pos)] = 1;
        return true;
    }
    std::vector<Move> Legal() {
        std::vector<Move> out;
        for (const Move m : test::PseudoLegalMoves(*pos))
            if (IsLegalAfterMake(*pos, m)) out.push_back(m);
        return out;
    }
    bool InCheck() const {
        return pos->attackMap[pos->sideToMove ^ 1].square[KingSquare(*pos, pos->sideToMove)].attackWeight != 0;
    }
    // Plays a move in coordinates; false when the position has no such legal move.
    bool Play(const std::string& text) {
        for (const Move m : Legal()) {
            std::string own{static_cast<char>('a' + FileOf(MoveFrom(m))), static_cast<char>('1' + RankOf(MoveFrom(m))),
                            static_cast<char>('a' + FileOf(MoveTo(m))), static_cast<char>('1' + RankOf(MoveTo(m)))};
            if (IsPromotion(m)) own += PIECE_LETTERS[PromotedType(m) + 6];
            if (own != text) continue;
            lastZeroed = pos->pieceType[MoveFrom(m)] == PAWN || pos->pieceType[MoveTo(m)] != NO_PIECE || IsEnPassant(m);
            MakeMove(*pos, m);
            const std::string fen = FenOf(*pos);
            testing_support::LoadFen(*pos, fen);  // a fresh undo stack for long games
            fifty = lastZeroed ? 0 : fifty + 1;
            mostRepeated = std::max(mostRepeated, ++seen[fen]);
            return true;
        }
        return false;
    }
};

struct Reply {
    std::string move;
    std::string score;   // of the last line with one
    bool tbhits = false;
};

Reply Think(EngineProcess& engine, const std::string& fen, const std::vector<std::string>& moves, const std::string& go) {
    std::string command = "position fen " + fen;
    if (!moves.empty()) {
        command += " moves";
        for (const std::string& m : moves) command += " " + m;
    }
    SendText(engine, command + "\n" + go + "\n");
    Reply r;
    std::string line;
    while (ReadLineWithin(engine, ANSWER_TIMEOUT_MS, line)) {
        std::smatch m;
        if (std::regex_search(line, m, std::regex(" score (mate -?[0-9]+|cp -?[0-9]+)"))) r.score = m[1];
        if (line.find(" tbhits ") != std::string::npos) r.tbhits = true;
        if (line.rfind("bestmove ", 0) == 0) {
            std::istringstream words(line);
            std::string word;
            words >> word >> r.move;
            break;
        }
    }
    return r;
}

bool StartWithTables(EngineSession& session) {
    if (!session.started) return false;
    SendText(session.engine, "uci\nsetoption name SyzygyPath value " + TestTables() + "\nisready\n");
    return ReadUntil(session.engine, "readyok");
}

constexpr const char* SEARCH = "go depth 6";

TEST(SyzygySession, WonEndingsArePlayedOutToMate) {
    struct Case {
        const char* fen;   // the defender to move, at the table's longest distance or near it
        int mostPlies;
    };
    const Case cases[] = {
        {"K7/1Q6/8/8/8/4k3/8/8 b - - 0 1", 40},       // KQvK, 20 plies to zero
        {"8/8/4K3/8/6r1/8/k7/8 w - - 0 1", 80},       // KvKR, Black wins
        {"N7/8/8/3k4/1B6/K7/8/8 b - - 0 1", 140},     // KBNvK, 65 plies to zero
    };
    EngineSession session;
    ASSERT_TRUE(StartWithTables(session));
    for (const Case& c : cases) {
        Referee ref;
        ASSERT_TRUE(ref.Start(c.fen)) << c.fen;
        const Colour defender = ref.pos->sideToMove;
        std::vector<std::string> moves;
        SendText(session.engine, "ucinewgame\n");
        while (!ref.Legal().empty() && static_cast<int>(moves.size()) < c.mostPlies) {
            const Reply r = Think(session.engine, c.fen, moves, SEARCH);
            ASSERT_TRUE(ref.Play(r.move)) << c.fen << " after " << moves.size() << " plies: " << r.move;
            moves.push_back(r.move);
            ASSERT_LT(ref.fifty, 100) << c.fen;
            ASSERT_LT(ref.mostRepeated, 3) << c.fen;
        }
        EXPECT_TRUE(ref.Legal().empty() && ref.InCheck() && ref.pos->sideToMove == defender)
            << c.fen << " not mated after " << moves.size() << " plies";
    }
    SendText(session.engine, "quit\n");
}

// KRvKP: 80 quiet plies lead to a position whose win must be converted in the 19 plies the
// shortest way takes; some winning moves would leave it to the fifty-move rule, and a search
// without the tables lets it go there.
TEST(SyzygySession, AWinAtFiftyMoveCountEightyIsStillConverted) {
    const std::string start = "8/3KR3/8/5p2/8/2k5/8/8 w - - 0 1";
    const std::string prefix =
        "e7e1 c3d4 d7e8 d4c3 e8f7 c3c2 f7e6 c2c3 e1e2 c3d3 e6d7 d3c3 d7d8 c3d3 e2f2 d3d4 f2g2 d4c3 g2g7 c3d4 "
        "g7b7 d4d3 b7b4 d3c3 b4b8 c3c4 b8a8 c4d4 d8d7 d4e4 a8a7 e4f4 d7e7 f4f3 e7d6 f3g3 a7f7 g3f3 d6c6 f3f4 "
        "f7g7 f4e5 g7b7 e5e4 c6b6 e4f3 b6a5 f3e2 b7a7 e2e3 a5a4 e3d4 a7a8 d4c3 a8a6 c3d2 a4a5 d2e1 a6f6 e1e2 "
        "a5b4 e2f3 f6c6 f3g3 c6e6 g3f2 b4a5 f2f3 e6e5 f3g4 e5e2 g4f4 e2g2 f4e3 a5a6 e3e4 a6a7 e4f4 g2h2 f4g5";
    LoadTablesHere();
    ASSERT_EQ(Syzygy.largest, 4);
    Referee ref;
    ASSERT_TRUE(ref.Start(start));
    std::vector<std::string> moves;
    std::istringstream words(prefix);
    for (std::string m; words >> m;) {
        ASSERT_TRUE(ref.Play(m)) << m;
        moves.push_back(m);
    }
    ASSERT_EQ(ref.fifty, 80);
    ASSERT_EQ(ref.mostRepeated, 1);
    // What makes the test: a win converted in time, and wins that would not be.
    const std::vector<Move> legal = ref.Legal();
    std::vector<SyzygyRootMove> ranked(legal.size());
    ASSERT_TRUE(ProbeSyzygyRoot(*ref.pos, 80, false, legal.data(), static_cast<int>(legal.size()), ranked.data()));
    EXPECT_EQ(std::count_if(ranked.begin(), ranked.end(), [](auto& r) { return r.best && r.wdl == SyzygyWdl::WIN; }),
              std::count_if(ranked.begin(), ranked.end(), [](auto& r) { return r.best; }));
    EXPECT_GE(std::count_if(ranked.begin(), ranked.end(), [](auto& r) { return r.wdl == SyzygyWdl::CURSED_WIN; }), 2);

    EngineSession session;
    ASSERT_TRUE(StartWithTables(session));
    while (!ref.lastZeroed && !ref.Legal().empty()) {
        const Reply r = Think(session.engine, start, moves, SEARCH);
        ASSERT_TRUE(ref.Play(r.move)) << r.move;
        moves.push_back(r.move);
        ASSERT_LT(ref.fifty, 100) << "the fifty-move rule ended the game";
    }
    // The pawn fell to White (or Black was mated), and the win stands.
    EXPECT_EQ(ref.pos->sideToMove, BLACK);
    int32_t wdl = 0;
    if (!ref.Legal().empty()) {
        ASSERT_TRUE(ProbeSyzygyWdl(*ref.pos, wdl));
        EXPECT_EQ(wdl, SyzygyWdl::LOSS);
    }
    SendText(session.engine, "quit\n");
}

TEST(SyzygySession, ADrawnRookEndingIsHeld) {
    // Nine of White's moves lose, and along the way more than a hundred lose.
    const std::string fen = "8/1R6/2k5/8/8/2r5/8/4K3 w - - 0 1";
    LoadTablesHere();
    Referee ref;
    ASSERT_TRUE(ref.Start(fen));
    EngineSession session;
    ASSERT_TRUE(StartWithTables(session));
    std::vector<std::string> moves;
    while (moves.size() < 40 && ref.mostRepeated < 3 && !ref.Legal().empty()) {
        const Reply r = Think(session.engine, fen, moves, SEARCH);
        ASSERT_TRUE(ref.Play(r.move)) << r.move;
        moves.push_back(r.move);
        if (MenOnBoard(*ref.pos) == 2) break;  // the rooks traded
        int32_t wdl = 99;
        ASSERT_TRUE(ProbeSyzygyWdl(*ref.pos, wdl));
        ASSERT_EQ(wdl, SyzygyWdl::DRAW) << "after " << r.move << " (ply " << moves.size() << ")";
    }
    SendText(session.engine, "quit\n");
}

bool TablesMapped(const EngineProcess& engine) {
    std::ifstream maps("/proc/" + std::to_string(engine.pid) + "/maps");
    std::stringstream text;
    text << maps.rdbuf();
    return text.str().find(".rtbw") != std::string::npos || text.str().find(".rtbz") != std::string::npos;
}

TEST(SyzygySession, TablesAreReadOnlyAlongThePathAndCountedInTbhits) {
    const std::string kqk = "8/8/8/3k4/8/8/1Q6/K7 w - - 0 1";
    const std::string fiveMen = "7r/8/3k4/3p4/8/8/3R4/K7 w - - 0 1";  // captures lead into the tables
    EngineSession session;
    ASSERT_TRUE(session.started);
    EngineProcess& engine = session.engine;
    // Tables in the working directory are no path.
    for (const auto& entry : std::filesystem::directory_iterator(TestTables()))
        std::filesystem::copy_file(entry.path(), engine.directory + "/" + entry.path().filename().string());
    SendText(engine, "uci\nisready\n");
    ASSERT_TRUE(ReadUntil(engine, "readyok"));
    EXPECT_FALSE(Think(engine, kqk, {}, SEARCH).tbhits);
    EXPECT_FALSE(Think(engine, fiveMen, {}, SEARCH).tbhits);
    EXPECT_FALSE(TablesMapped(engine));

    // A folder that cannot be read is told and skipped; the other one loads.
    // (The hash table forgets the searches above, whose results would stand in for the probes.)
    SendText(engine, "setoption name Clear Hash\nsetoption name SyzygyPath value /nonexistent-syzygy:" + TestTables() +
                         "\nisready\n");
    std::vector<std::string> told;
    ASSERT_TRUE(ReadUntil(engine, "readyok", &told));
    EXPECT_NE(std::find(told.begin(), told.end(), "info string cannot read Syzygy folder /nonexistent-syzygy"), told.end());
    EXPECT_NE(std::find(told.begin(), told.end(), "info string Syzygy tables of up to 4 men"), told.end());

    const Reply root = Think(engine, kqk, {}, SEARCH);
    EXPECT_TRUE(root.tbhits);
    EXPECT_TRUE(root.score.rfind("mate ", 0) == 0 || std::stoi(root.score.substr(3)) > 5000) << root.score;
    const Reply search = Think(engine, fiveMen, {}, SEARCH);
    EXPECT_TRUE(search.tbhits);
    EXPECT_TRUE(TablesMapped(engine));
    // Helper threads probe too, and all probes count.
    SendText(engine, "setoption name Clear Hash\nsetoption name Threads value 2\nisready\n");
    ASSERT_TRUE(ReadUntil(engine, "readyok"));
    const Reply helped = Think(engine, fiveMen, {}, SEARCH);
    EXPECT_TRUE(helped.tbhits);
    EXPECT_FALSE(helped.move.empty());

    // An empty path lets the tables go.
    SendText(engine, "setoption name SyzygyPath value\nisready\n");
    ASSERT_TRUE(ReadUntil(engine, "readyok"));
    EXPECT_FALSE(Think(engine, fiveMen, {}, SEARCH).tbhits);
    EXPECT_FALSE(TablesMapped(engine));
    SendText(engine, "quit\n");
}

TEST(SyzygySession, NalimovAnswersWhereItHasTheClass) {
    const std::string nalimov = FreshDirectory();
    RegisterTablebases(nalimov.c_str());  // builds the catalogue the generator numbers by
    ASSERT_TRUE(WriteTables(nalimov, {"kqk"}));
    ASSERT_EQ(UseTables(nalimov), 3);
    const std::string kqk = "8/8/8/8/3k4/8/Q7/4K3 w - - 0 1";
    const TablebaseResult exact = ProbeFen(kqk);
    ASSERT_TRUE(exact.found);
    FreeTablebases();
    EngineSession session;
    ASSERT_TRUE(StartWithTables(session));
    SendText(session.engine, "setoption name NalimovPath value " + nalimov + "\nisready\n");
    ASSERT_TRUE(ReadUntil(session.engine, "readyok"));
    // The mate distance comes from the Nalimov table; a table win would print as centipawns.
    EXPECT_EQ(Think(session.engine, kqk, {}, "go depth 4").score, "mate " + std::to_string(exact.distance));
    // A four-man class only the Syzygy tables hold: their verdict.
    EXPECT_EQ(Think(session.engine, "8/8/2K5/8/4R3/3k4/1r6/8 w - - 0 1", {}, "go depth 4").score, "cp 0");
    SendText(session.engine, "quit\n");
    RemoveDirectory(nalimov);
}

}  // namespace
}  // namespace tavrix::testing
