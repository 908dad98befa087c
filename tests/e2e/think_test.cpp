// "go" in every form over pipes, as a GUI drives it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "control/elo.h"
#include "e2e/engine_process.h"

namespace tavrix::testing {
namespace {

using Clock = std::chrono::steady_clock;

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

int64_t MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Reads lines until one starts with `prefix`; that line is returned in `found`.
bool ReadUntilPrefix(EngineProcess& engine, const std::string& prefix, std::string& found,
                     std::vector<std::string>* before = nullptr, int timeoutMs = ANSWER_TIMEOUT_MS) {
    const auto start = Clock::now();
    std::string line;
    while (MsSince(start) < timeoutMs) {
        if (!ReadLineWithin(engine, static_cast<int>(timeoutMs - MsSince(start)), line)) return false;
        if (StartsWith(line, prefix)) {
            found = line;
            return true;
        }
        if (before != nullptr) before->push_back(line);
    }
    return false;
}

// The value behind `key` in an info line, or -1.
int64_t Field(const std::string& line, const std::string& key) {
    const std::regex pattern(" " + key + " (-?[0-9]+)");
    std::smatch m;
    if (!std::regex_search(line, m, pattern)) return -1;
    return std::atoll(m[1].str().c_str());
}

constexpr int32_t DEFAULT_ELO_FOR_TEST = 1925;  // "UCI_Elo" before the user sets it

const std::regex BESTMOVE_LINE("bestmove [a-h][1-8][a-h][1-8][qrbn]?( ponder [a-h][1-8][a-h][1-8][qrbn]?)?");

struct Engine {
    EngineSession session;
    EngineProcess& io() { return session.engine; }
    Engine() {
        EXPECT_TRUE(session.started);
        EXPECT_TRUE(SendText(session.engine, "uci\n"));
        EXPECT_TRUE(ReadUntil(session.engine, "uciok"));
        // These tests watch searches; the default book would answer the opening moves.
        EXPECT_TRUE(SendText(session.engine, "setoption name OwnBook value false\n"));
    }
    bool Send(const std::string& text) { return SendText(session.engine, text); }
    // Lines up to "bestmove ..." (returned), the info lines before it in `info`.
    std::string Bestmove(std::vector<std::string>* info = nullptr, int timeoutMs = ANSWER_TIMEOUT_MS) {
        std::string line;
        EXPECT_TRUE(ReadUntilPrefix(session.engine, "bestmove", line, info, timeoutMs));
        return line;
    }
    // True when nothing beginning with `prefix` arrives within `ms`.
    bool Silent(const std::string& prefix, int ms, std::vector<std::string>* seen = nullptr) {
        std::string line;
        return !ReadUntilPrefix(session.engine, prefix, line, seen, ms);
    }
};

std::string LastWith(const std::vector<std::string>& lines, const std::string& part) {
    for (auto it = lines.rbegin(); it != lines.rend(); ++it)
        if (it->find(part) != std::string::npos) return *it;
    return {};
}

TEST(ThinkEndToEnd, FixedAndTimedGoForms) {
    Engine e;
    struct Case {
        const char* go;
        int64_t minMs;
        int64_t maxMs;
    };
    const Case cases[] = {
        {"go depth 3", 0, 5000},
        {"go movetime 400", 350, 2000},
        {"go wtime 3000 btime 3000 winc 0 binc 0 movestogo 10", 0, 2000},
        {"go btime 4000 wtime 4000 binc 100 winc 100", 0, 2000},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(e.Send(std::string("position startpos moves e2e4\n") + c.go + "\n"));
        const auto start = Clock::now();
        std::vector<std::string> info;
        const std::string best = e.Bestmove(&info);
        const int64_t ms = MsSince(start);
        EXPECT_TRUE(std::regex_match(best, BESTMOVE_LINE)) << best;
        EXPECT_GE(ms, c.minMs) << c.go;
        EXPECT_LE(ms, c.maxMs) << c.go;
        const std::string pv = LastWith(info, " pv ");
        ASSERT_FALSE(pv.empty()) << c.go;
        EXPECT_GE(Field(pv, "depth"), 1) << pv;
        // The move of "bestmove" leads the last line printed.
        EXPECT_NE(pv.find(" pv " + best.substr(9, 5)), std::string::npos) << pv << " / " << best;
    }
    ASSERT_TRUE(e.Send("position startpos\ngo depth 3\n"));
    std::vector<std::string> info;
    e.Bestmove(&info);
    EXPECT_EQ(Field(LastWith(info, " pv "), "depth"), 3);
}

TEST(ThinkEndToEnd, InfiniteStopIsreadyAndNewGo) {
    Engine e;
    ASSERT_TRUE(e.Send("position startpos\ngo infinite\n"));
    EXPECT_TRUE(e.Silent("bestmove", 300));
    // Answered at once while the search goes on.
    ASSERT_TRUE(e.Send("isready\n"));
    std::vector<std::string> seen;
    ASSERT_TRUE(ReadUntil(e.io(), "readyok", &seen, 1000));
    for (const std::string& line : seen) EXPECT_FALSE(StartsWith(line, "bestmove")) << line;
    EXPECT_TRUE(e.Silent("bestmove", 300));

    // "stop" and "isready" in one write: the move first, then the answer.
    ASSERT_TRUE(e.Send("stop\nisready\n"));
    const std::string best = e.Bestmove(nullptr, 2000);
    EXPECT_TRUE(std::regex_match(best, BESTMOVE_LINE)) << best;
    ASSERT_TRUE(ReadUntil(e.io(), "readyok", nullptr, 2000));

    // "go" during a search ends it with its move, then the new search answers too.
    ASSERT_TRUE(e.Send("go infinite\n"));
    Pause(200);
    ASSERT_TRUE(e.Send("go depth 2\n"));
    std::vector<std::string> between;
    e.Bestmove(nullptr, 2000);
    e.Bestmove(&between, 5000);
    EXPECT_EQ(Field(LastWith(between, " pv "), "depth"), 2);

    // An infinite search that is over by itself (mate in one) still waits for "stop".
    ASSERT_TRUE(e.Send("position fen 6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - - 0 1\ngo infinite\nisready\n"));
    seen.clear();
    ASSERT_TRUE(ReadUntil(e.io(), "readyok", &seen, 2000));
    for (const std::string& line : seen) EXPECT_FALSE(StartsWith(line, "bestmove")) << line;
    EXPECT_TRUE(e.Silent("bestmove", 300));
    ASSERT_TRUE(e.Send("stop\n"));
    EXPECT_EQ(e.Bestmove(nullptr, 2000), "bestmove d1d8");

    // "quit" during a search: the move, then a clean exit.
    ASSERT_TRUE(e.Send("go infinite\n"));
    Pause(200);
    ASSERT_TRUE(e.Send("quit\n"));
    e.Bestmove(nullptr, 2000);
    int status = -2;
    ASSERT_TRUE(WaitForExit(e.io(), status));
    EXPECT_EQ(status, 0);
}

TEST(ThinkEndToEnd, PonderhitAndPonderStop) {
    Engine e;
    // Ponder, then the opponent plays the expected move.
    ASSERT_TRUE(e.Send("position startpos moves e2e4 e7e5\ngo ponder wtime 8000 btime 8000\n"));
    EXPECT_TRUE(e.Silent("bestmove", 400));
    ASSERT_TRUE(e.Send("isready\n"));
    ASSERT_TRUE(ReadUntil(e.io(), "readyok", nullptr, 1000));
    ASSERT_TRUE(e.Send("ponderhit\n"));
    const auto start = Clock::now();
    EXPECT_TRUE(std::regex_match(e.Bestmove(nullptr, 3000), BESTMOVE_LINE));
    EXPECT_LT(MsSince(start), 2500);

    // Ponder, then the opponent plays something else: "stop" gives a move at once.
    ASSERT_TRUE(e.Send("position startpos moves e2e4 e7e5\ngo ponder wtime 8000 btime 8000\n"));
    EXPECT_TRUE(e.Silent("bestmove", 300));
    ASSERT_TRUE(e.Send("stop\n"));
    EXPECT_TRUE(std::regex_match(e.Bestmove(nullptr, 1000), BESTMOVE_LINE));

    // A ponder search that is over by itself (mate in one) still waits for the interface.
    ASSERT_TRUE(e.Send("position fen 6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - - 0 1\ngo ponder wtime 8000 btime 8000\n"));
    EXPECT_TRUE(e.Silent("bestmove", 400));
    ASSERT_TRUE(e.Send("isready\n"));
    ASSERT_TRUE(ReadUntil(e.io(), "readyok", nullptr, 1000));
    EXPECT_TRUE(e.Silent("bestmove", 200));
    ASSERT_TRUE(e.Send("ponderhit\n"));
    EXPECT_EQ(e.Bestmove(nullptr, 2000), "bestmove d1d8");
}

TEST(ThinkEndToEnd, SearchmovesAndMultiPV) {
    Engine e;
    ASSERT_TRUE(e.Send("position startpos\ngo depth 3 searchmoves a2a3 h2h3\n"));
    const std::string best = e.Bestmove();
    EXPECT_TRUE(StartsWith(best + " ", "bestmove a2a3 ") || StartsWith(best + " ", "bestmove h2h3 ")) << best;

    struct Case {
        int multiPV;
        int depth;
        int expectedLines;   // min(MultiPV, legal moves)
    };
    const Case cases[] = {{1, 3, 1}, {3, 3, 3}, {127, 2, 20}};
    for (const Case& c : cases) {
        ASSERT_TRUE(e.Send("setoption name MultiPV value " + std::to_string(c.multiPV) + "\nposition startpos\ngo depth " +
                           std::to_string(c.depth) + "\n"));
        std::vector<std::string> info;
        e.Bestmove(&info);
        int highest = 0;
        for (const std::string& line : info) highest = std::max<int>(highest, static_cast<int>(Field(line, "multipv")));
        if (c.multiPV == 1) {
            EXPECT_EQ(highest, 0) << "no multipv field with MultiPV 1";
        } else {
            EXPECT_EQ(highest, c.expectedLines);
            // The last block holds every line at the full depth.
            for (int k = 1; k <= c.expectedLines; ++k) {
                const std::string line = LastWith(info, "multipv " + std::to_string(k) + " ");
                EXPECT_EQ(Field(line, "depth"), c.depth) << line;
            }
        }
    }
}

TEST(ThinkEndToEnd, MatesAndForcedMoves) {
    Engine e;
    struct Case {
        const char* fen;
        const char* go;
        const char* score;       // in the last PV line
        int64_t depth;           // of the last PV line, -1 = any
        const char* bestmove;    // exact line, "" = any legal-looking one
    };
    const Case cases[] = {
        // Mate in N stops at depth 2N - 1 with "mate N".
        {"6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - - 0 1", "go depth 12", "score mate 1 ", 1, "bestmove d1d8"},
        {"7k/8/5K2/8/8/8/8/Q7 w - - 0 1", "go depth 12", "score mate 2 ", 3, ""},
        // Mated next move whatever is played.
        {"k7/8/1K6/8/8/8/8/7R b - - 0 1", "go depth 4", "score mate -1 ", 4, "bestmove a8b8 ponder h1h8"},
        // Mated or stalemated already: the null move at once.
        {"k7/1Q6/1K6/8/8/8/8/8 b - - 0 1", "go wtime 60000 btime 60000", nullptr, -1, "bestmove 0000"},
        {"k7/8/1Q6/8/8/8/8/7K b - - 0 1", "go wtime 60000 btime 60000", nullptr, -1, "bestmove 0000"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(e.Send(std::string("position fen ") + c.fen + "\n" + c.go + "\n"));
        const auto start = Clock::now();
        std::vector<std::string> info;
        const std::string best = e.Bestmove(&info, 10000);
        if (c.bestmove[0] != '\0') EXPECT_EQ(best, c.bestmove) << c.fen;
        if (c.score == nullptr) {
            EXPECT_LT(MsSince(start), 1000) << c.fen;
            for (const std::string& line : info) EXPECT_EQ(line.find(" pv "), std::string::npos) << line;
            continue;
        }
        const std::string pv = LastWith(info, " pv ");
        EXPECT_NE(pv.find(c.score), std::string::npos) << c.fen << ": " << pv;
        if (c.depth >= 0) EXPECT_EQ(Field(pv, "depth"), c.depth) << pv;
    }

    // One legal move under a timed search: played after depth 3 once 250 ms have passed.
    ASSERT_TRUE(e.Send("position fen 6k1/5ppp/8/8/8/3N4/6PP/4r2K w - - 0 1\ngo wtime 60000 btime 60000\n"));
    const auto start = Clock::now();
    std::vector<std::string> info;
    EXPECT_TRUE(StartsWith(e.Bestmove(&info, 10000) + " ", "bestmove d3e1 "));
    const int64_t ms = MsSince(start);
    EXPECT_GE(ms, 240);
    EXPECT_LT(ms, 2000);   // far below the 2.7 s the clock would allow
    EXPECT_GE(Field(LastWith(info, " pv "), "depth"), 3);
}

TEST(ThinkEndToEnd, ShortSearchPrintsOnePvLine) {
    Engine e;
    ASSERT_TRUE(e.Send("position startpos\ngo depth 3\n"));
    std::vector<std::string> info;
    e.Bestmove(&info);
    int pvLines = 0;
    for (const std::string& line : info) {
        if (line.find(" pv ") == std::string::npos) continue;
        ++pvLines;
        EXPECT_EQ(line.find("bound"), std::string::npos) << line;
        EXPECT_TRUE(std::regex_search(line, std::regex("^info depth 3 seldepth [0-9]+ time [0-9]+ nodes [0-9]+ score cp -?[0-9]+ pv ")))
            << line;
    }
    EXPECT_EQ(pvLines, 1);
    EXPECT_TRUE(StartsWith(LastWith(info, "info nps"), "info nps ")) << "the summary line precedes bestmove";
}

TEST(ThinkEndToEnd, StrengthLimitKeepsTheNodeRateAndStaysResponsive) {
    Engine e;
    const int64_t limit = NodeRateFromElo(2000);
    ASSERT_TRUE(e.Send("setoption name UCI_LimitStrength value true\nsetoption name UCI_Elo value 2000\n"
                       "position startpos\ngo infinite\n"));
    Pause(600);
    auto asked = Clock::now();
    ASSERT_TRUE(e.Send("isready\n"));
    ASSERT_TRUE(ReadUntil(e.io(), "readyok", nullptr, 1000));
    EXPECT_LT(MsSince(asked), 300);
    Pause(1200);
    asked = Clock::now();
    ASSERT_TRUE(e.Send("stop\n"));
    std::vector<std::string> info;
    e.Bestmove(&info, 1000);
    EXPECT_LT(MsSince(asked), 300);
    const std::string summary = LastWith(info, "info nps ");
    const int64_t nps = Field(summary, "nps");
    const int64_t time = Field(summary, "time");
    ASSERT_GT(time, 1500) << summary;
    EXPECT_GT(nps, 0) << summary;
    EXPECT_LE(nps, limit) << summary;

    // Off again: full speed.
    ASSERT_TRUE(e.Send("setoption name UCI_LimitStrength value false\ngo movetime 300\n"));
    info.clear();
    e.Bestmove(&info, 3000);
    EXPECT_GT(Field(LastWith(info, "info nps "), "nps"), 20 * limit);
}

TEST(ThinkEndToEnd, BenchNodeCountIsRepeatable) {
    // Command line and UCI command give the same signature.
    EngineSession fromCommandLine({"bench", "4"});
    ASSERT_TRUE(fromCommandLine.started);
    std::string total;
    ASSERT_TRUE(ReadUntilPrefix(fromCommandLine.engine, "Nodes searched: ", total));
    int status = -2;
    ASSERT_TRUE(WaitForExit(fromCommandLine.engine, status));
    EXPECT_EQ(status, 0);
    EXPECT_GT(std::atoll(total.c_str() + 16), 1000) << total;

    // Piped in with nothing behind it, the bench runs to its end before the engine quits.
    EngineSession piped;
    ASSERT_TRUE(piped.started);
    ASSERT_TRUE(SendText(piped.engine, "uci\nbench 4\n"));
    CloseInput(piped.engine);
    std::string pipedTotal;
    ASSERT_TRUE(ReadUntilPrefix(piped.engine, "Nodes searched: ", pipedTotal));
    EXPECT_EQ(pipedTotal, total);
    ASSERT_TRUE(WaitForExit(piped.engine, status));
    EXPECT_EQ(status, 0);

    Engine e;
    for (int run = 0; run < 2; ++run) {
        ASSERT_TRUE(e.Send("go depth 2\n"));   // searches in between must not change the count
        e.Bestmove();
        ASSERT_TRUE(e.Send("bench 4\n"));
        std::string again;
        std::vector<std::string> lines;
        ASSERT_TRUE(ReadUntilPrefix(e.io(), "Nodes searched: ", again, &lines));
        EXPECT_EQ(again, total);
        ASSERT_FALSE(lines.empty());
        EXPECT_TRUE(std::regex_search(lines.back(), std::regex("nodes [0-9]+ time [0-9]+ nps [0-9]+"))) << lines.back();
    }

    // A depth below 1 is reported and searched as depth 1.
    std::string one, belowOne;
    std::vector<std::string> lines;
    ASSERT_TRUE(e.Send("bench 1\n"));
    ASSERT_TRUE(ReadUntilPrefix(e.io(), "Nodes searched: ", one));
    ASSERT_TRUE(e.Send("bench -1\n"));
    ASSERT_TRUE(ReadUntilPrefix(e.io(), "Nodes searched: ", belowOne, &lines));
    EXPECT_EQ(belowOne, one);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(StartsWith(lines.front(), "info string bench depth -1 ")) << lines.front();

    // The strength limit neither slows a benchmark nor is switched off by it.
    ASSERT_TRUE(e.Send("setoption name UCI_LimitStrength value true\nbench 4\n"));
    std::string limited;
    ASSERT_TRUE(ReadUntilPrefix(e.io(), "Nodes searched: ", limited, nullptr, 20000));
    EXPECT_EQ(limited, total);
    ASSERT_TRUE(e.Send("position startpos\ngo movetime 400\n"));
    std::vector<std::string> info;
    e.Bestmove(&info, 3000);
    EXPECT_LT(Field(LastWith(info, "info nps "), "nps"), 20 * NodeRateFromElo(DEFAULT_ELO_FOR_TEST));
}

TEST(ThinkEndToEnd, BenchKeepsReadingInput) {
    // At depth 40 the bench would run for hours: every answer comes from a running bench.
    constexpr int ANSWER_MS = 5000;  // a few polls even in a sanitized build
    const struct Case {
        const char* line;
        const char* answer;    // nullptr: the engine ends
        bool benchGoesOn;      // the bench still runs after the answer
    } cases[] = {
        {"isready", "readyok", true},
        {"stop", "Nodes searched: ", false},
        {"go depth 2", "bestmove ", false},  // waits for the bench, as for a search
        {"quit", nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        Engine e;
        ASSERT_TRUE(e.Send("bench 40\n"));
        Pause(300);
        const auto asked = Clock::now();
        ASSERT_TRUE(e.Send(std::string(c.line) + "\n"));
        if (c.answer == nullptr) {
            int status = -2;
            ASSERT_TRUE(WaitForExit(e.io(), status, ANSWER_MS));
            EXPECT_EQ(status, 0);
            continue;
        }
        std::string answer;
        std::vector<std::string> before;
        ASSERT_TRUE(ReadUntilPrefix(e.io(), c.answer, answer, &before, ANSWER_MS));
        EXPECT_LT(MsSince(asked), ANSWER_MS);
        const std::string stopped = LastWith(before, " stopped");
        EXPECT_EQ(stopped.empty(), c.benchGoesOn) << stopped;
        if (!c.benchGoesOn) continue;
        // Stopped later, the bench gives the count it reached.
        ASSERT_TRUE(e.Send("stop\n"));
        std::vector<std::string> lines;
        ASSERT_TRUE(ReadUntilPrefix(e.io(), "Nodes searched: ", answer, &lines, ANSWER_MS));
        ASSERT_FALSE(lines.empty());
        EXPECT_TRUE(std::regex_search(lines.front(), std::regex("^info string bench 1 nodes [0-9]+ stopped$"))) << lines.front();
        EXPECT_GT(std::atoll(answer.c_str() + 16), 0) << answer;
    }
}

}  // namespace
}  // namespace tavrix::testing
