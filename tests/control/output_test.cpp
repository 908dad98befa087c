#include <gtest/gtest.h>

#include <string>

#include "control/engine.h"
#include "control/output.h"
#include "control/output_capture.h"
#include "control/think.h"
#include "control/timeman.h"
#include "search/root.h"
#include "search/search_state.h"

namespace tavrix {
namespace {

TEST(ScoreText, CentipawnsTowardZeroAndMateDistances) {
    struct Case {
        int32_t score;
        int32_t bound;
        const char* text;
    };
    const Case cases[] = {
        {128, 3, "cp 100"},         {-1, 3, "cp 0"},           {1, 4, "cp 0"},
        {127, 3, "cp 99"},          {-129, 3, "cp -100"},      {0, 5, "cp 0"},
        {12, 2, "cp 9 upperbound "}, {-300, 6, "cp -234 lowerbound "}, {64, 7, "cp 50 lowerbound "},
        {10, 0, "cp 7 upperbound "},                          // never runs into the number
        {7800, 3, "cp 6093"},       {-7800, 3, "cp -6093"},    // the threshold itself is no mate
        {8191, 3, "mate 1"},        {8189, 6, "mate 2"},       {8190, 2, "mate 1"},
        {-8190, 3, "mate -1"},      {-8188, 3, "mate -2"},     {-8189, 3, "mate -1"},
        {7801, 3, "mate 196"},
    };
    for (const Case& c : cases) {
        char text[SCORE_TEXT_SIZE];
        ScoreText(c.score, c.bound, text);
        EXPECT_STREQ(text, c.text) << c.score << " bound " << c.bound;
    }
}

TEST(MoveText, LowerCasePromotionsAndTrailingSpace) {
    struct Case {
        Move move;
        const char* text;
    };
    const Case cases[] = {
        {MakeMoveWord(12, 28), "e2e4 "},
        {MakeMoveWord(52, 60, MoveKind::PROMOTE_QUEEN), "e7e8q "},
        {MakeMoveWord(52, 61, MoveKind::PROMOTE_KNIGHT), "e7f8n "},
        {MakeMoveWord(9, 0, MoveKind::PROMOTE_ROOK), "b2a1r "},
        {MakeMoveWord(9, 1, MoveKind::PROMOTE_BISHOP), "b2b1b "},
        {MakeMoveWord(4, 6, MoveKind::CASTLING), "e1g1 "},
        {static_cast<Move>(MakeMoveWord(3, 59) | CHECK_MARK), "d1d8 "},
        {NO_MOVE, "0000 "},
    };
    for (const Case& c : cases) {
        char text[WIRE_MOVE_TEXT_SIZE];
        MoveText(c.move, text);
        EXPECT_STREQ(text, c.text);
    }
}

class OutputLines : public ::testing::Test {
protected:
    void SetUp() override {
        ResetControlState();
        ResetEngineSettings();
        ResetSearchState();
        ResetTimeState();
        ResetThinkState();
        ResetClockBase();
        Control.engineState = EngineStateValue::THINKING;
        Search.searchFlags = OptionFlag::DEFAULT_WORD;
        ThinkControl.position.nodes = 12345;
        Search.iterationDepth = 7;
        Search.selectiveDepth = 19;
    }
    void TearDown() override { ResetControlState(); }
    testing::OutputCapture capture;
};

TEST_F(OutputLines, BestmoveWithAndWithoutPonder) {
    PrintBestmoveLine(MakeMoveWord(12, 28), MakeMoveWord(52, 36));
    EXPECT_EQ(capture.Take(), "bestmove e2e4 ponder e7e5\n");
    PrintBestmoveLine(MakeMoveWord(52, 60, MoveKind::PROMOTE_QUEEN), NO_MOVE);
    EXPECT_EQ(capture.Take(), "bestmove e7e8q\n");
    PrintBestmove(MakeMoveWord(12, 28), NO_MOVE);
    const std::string both = capture.Take();
    EXPECT_EQ(both.rfind("info nps ", 0), 0u) << both;
    EXPECT_NE(both.find(" nodes 12345 hashfull "), std::string::npos) << both;
    EXPECT_NE(both.find("\nbestmove e2e4\n"), std::string::npos) << both;
}

TEST_F(OutputLines, NodeRateCoversThePonderTimeToo) {
    // After "ponderhit" the clock restarts while the node count goes on: one second of
    // pondering has passed, so 12345 nodes cannot be more than 12345 a second.
    Time.ponderCredit = 1000;
    ResetClockBase();
    PrintBestmove(MakeMoveWord(12, 28), NO_MOVE);
    const std::string out = capture.Take();
    const size_t at = out.find("info nps ");
    ASSERT_EQ(at, 0u) << out;
    EXPECT_LE(std::stoul(out.substr(9)), 12345u) << out;
    Time.ponderCredit = 0;
}

TEST_F(OutputLines, PvLineFieldsAndSilenceWhileCalibrating) {
    const Move line[] = {MakeMoveWord(12, 28), MakeMoveWord(52, 36), MakeMoveWord(6, 21), NO_MOVE};
    PrintPv(0, line, BoundKind::ITERATION, 30, 9, 21);
    const std::string plain = capture.Take();
    EXPECT_EQ(plain.rfind("info depth 9 seldepth 21 time ", 0), 0u) << plain;
    EXPECT_NE(plain.find(" nodes 12345 score cp 23 pv e2e4 e7e5 g1f3 \n"), std::string::npos) << plain;

    PrintPv(3, line, BoundKind::FAIL_HIGH, 30, 9, 21);
    const std::string multi = capture.Take();
    EXPECT_EQ(multi.rfind("info multipv 3 depth 9 ", 0), 0u) << multi;
    EXPECT_NE(multi.find("score cp 23 lowerbound  pv e2e4 "), std::string::npos) << multi;

    Control.engineState = EngineStateValue::CALIBRATING;
    PrintPv(0, line, BoundKind::ITERATION, 30, 9, 21);
    EXPECT_EQ(capture.Take(), "");
}

TEST_F(OutputLines, DepthCurrmoveAndNodesLines) {
    PrintDepth();
    EXPECT_EQ(capture.Take(), "info depth 7 seldepth 19\n");
    PrintCurrmove(4, MakeMoveWord(11, 27));
    const std::string cur = capture.Take();
    EXPECT_EQ(cur.rfind("info currmove d2d4  currmovenumber 4 depth 7 seldepth 19 nps ", 0), 0u) << cur;
    ThinkControl.nodeRate = 777;
    ThinkControl.pollCount = 39;
    PrintNodes();
    EXPECT_EQ(capture.Take().rfind("info nodes 12345 nps 777 hashfull ", 0), 0u);
    EXPECT_EQ(ThinkControl.pollCount, 0);
}

}  // namespace
}  // namespace tavrix
