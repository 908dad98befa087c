// Several search threads, driven over pipes: every "go" gets exactly one legal "bestmove",
// whatever comes around it, and "stop" ends a many-thread search at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "e2e/engine_process.h"
#include "support/reference_board.h"

namespace tavrix::testing {
namespace {

using reference::RefBoard;
using reference::RefMove;

const char* const POSITIONS[] = {
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
    "r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP2BPPP/R2QKB1R b KQ - 0 8",
    "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
    "6k1/5ppp/8/8/8/8/q4PPP/1Q4K1 w - - 0 1",
    "4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1",
    "7k/6pp/8/8/8/8/6PP/R5K1 w - - 0 1",
    "8/8/1p1k4/1P1p4/3K4/8/8/8 b - - 0 1",
};

std::string Wire(const RefMove& m) {
    std::string text;
    for (int sq : {m.from, m.to}) {
        text += static_cast<char>('a' + sq % 8);
        text += static_cast<char>('1' + sq / 8);
    }
    if (m.promotion != 0) text += " nbrq"[m.promotion - 1];
    return text;
}

bool IsLegal(const std::string& fen, const std::string& move) {
    RefBoard board;
    if (!reference::ParseFen(fen, board)) return false;
    for (const RefMove& m : reference::LegalMoves(board))
        if (Wire(m) == move) return true;
    return false;
}

std::string BestmoveOf(const std::string& line) {
    const size_t end = line.find(' ', 9);
    return line.substr(9, end == std::string::npos ? std::string::npos : end - 9);
}

// What surrounds one "go": how it ends and what arrives while it runs.
const char* const GO_FORMS[] = {
    "go movetime 3\n",
    "go infinite\nstop\n",
    "go ponder wtime 300 btime 300\nponderhit\n",
    "go depth 3\nisready\n",
    "go wtime 200 btime 200 winc 5 binc 5\n",
};

// Starts the engine, sends "uci", the options and "isready", and waits for "readyok".
void Prepare(EngineSession& session, const std::string& options) {
    ASSERT_TRUE(session.started);
    ASSERT_TRUE(SendText(session.engine, "uci\n" + options + "isready\n"));
    ASSERT_TRUE(ReadUntil(session.engine, "readyok"));
}

std::string ThreadsOption(int threads) { return "setoption name Threads value " + std::to_string(threads) + "\n"; }

TEST(Threads, EveryGoOfAStressRunGetsExactlyOneLegalBestmove) {
    constexpr int CYCLES_PER_COUNT = 340;
    for (const int threads : {2, 4, 8}) {
        SCOPED_TRACE(threads);
        EngineSession session;
        ASSERT_NO_FATAL_FAILURE(Prepare(session, ThreadsOption(threads) + "setoption name Hash value 8\n"));
        std::mt19937 random(static_cast<unsigned>(threads));
        for (int cycle = 0; cycle < CYCLES_PER_COUNT; ++cycle) {
            const std::string fen = POSITIONS[random() % std::size(POSITIONS)];
            const std::string form = GO_FORMS[random() % std::size(GO_FORMS)];
            // After the "bestmove", "isready" is answered only once any second one would have come.
            ASSERT_TRUE(SendText(session.engine, "position fen " + fen + "\n" + form));
            std::vector<std::string> lines;
            std::string line;
            while (ReadLineWithin(session.engine, ANSWER_TIMEOUT_MS, line)) {
                lines.push_back(line);
                if (line.rfind("bestmove ", 0) == 0) break;
            }
            ASSERT_TRUE(SendText(session.engine, "isready\n"));
            ASSERT_TRUE(ReadUntil(session.engine, "readyok", &lines)) << "cycle " << cycle << ": " << form;
            int bestmoves = 0;
            for (const std::string& line : lines) {
                if (line.rfind("bestmove ", 0) != 0) continue;
                ++bestmoves;
                EXPECT_TRUE(IsLegal(fen, BestmoveOf(line))) << fen << ": " << line;
            }
            ASSERT_EQ(bestmoves, 1) << "cycle " << cycle << ": " << form;
        }
        ASSERT_TRUE(SendText(session.engine, "quit\n"));
        int status = -2;
        ASSERT_TRUE(WaitForExit(session.engine, status));
        EXPECT_EQ(status, 0);
    }
}

TEST(Threads, GoNodesLimitsTheNodesOfAllThreads) {
    constexpr uint64_t LIMIT = 40000;
    for (const int threads : {1, 2, 4}) {
        SCOPED_TRACE(threads);
        EngineSession session;
        ASSERT_NO_FATAL_FAILURE(Prepare(session, ThreadsOption(threads) + "setoption name OwnBook value false\n"));
        ASSERT_TRUE(SendText(session.engine, std::string("position fen ") + POSITIONS[2] + "\ngo nodes 40000\n"));
        uint64_t reported = 0;
        std::string line;
        while (ReadLineWithin(session.engine, ANSWER_TIMEOUT_MS, line) && line.rfind("bestmove ", 0) != 0) {
            const size_t at = line.find(" nodes ");
            if (line.rfind("info nps ", 0) == 0 && at != std::string::npos) reported = std::stoull(line.substr(at + 7));
        }
        ASSERT_EQ(line.rfind("bestmove ", 0), 0u) << line;
        // The clock check that stops the search comes every few hundred nodes of each thread.
        EXPECT_GE(reported, LIMIT);
        EXPECT_LE(reported, LIMIT + LIMIT / 8);
    }
}

TEST(Threads, StopEndsAManyThreadInfiniteSearchAtOnce) {
    // Sanitizers slow every thread several times over; the bound is for the real program. The
    // median of several stops is taken, so that one scheduling hiccup of a busy machine does
    // not decide.
    const auto limit = std::chrono::milliseconds(TAVRIX_SANITIZED ? 500 : 50);
    EngineSession session;
    ASSERT_NO_FATAL_FAILURE(Prepare(session, ThreadsOption(8)));
    std::vector<std::chrono::steady_clock::duration> took;
    for (int i = 0; i < 5; ++i) {
        const char* fen = POSITIONS[i % 2 == 0 ? 1 : 3];
        ASSERT_TRUE(SendText(session.engine, std::string("position fen ") + fen + "\ngo infinite\n"));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        // Whatever the search printed so far is not part of the answer to "stop".
        std::string line;
        while (ReadLineWithin(session.engine, 1, line)) ASSERT_NE(line.rfind("bestmove", 0), 0u) << line;
        const auto sent = std::chrono::steady_clock::now();
        ASSERT_TRUE(SendText(session.engine, "stop\n"));
        bool answered = false;
        while (!answered && ReadLineWithin(session.engine, ANSWER_TIMEOUT_MS, line))
            answered = line.rfind("bestmove ", 0) == 0;
        took.push_back(std::chrono::steady_clock::now() - sent);
        ASSERT_TRUE(answered);
        EXPECT_TRUE(IsLegal(fen, BestmoveOf(line))) << line;
    }
    std::sort(took.begin(), took.end());
    const auto median = took[took.size() / 2];
    EXPECT_LT(median, limit) << std::chrono::duration_cast<std::chrono::milliseconds>(median).count() << " ms";
}

}  // namespace
}  // namespace tavrix::testing
