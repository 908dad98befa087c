#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "control/engine.h"
#include "control/game_record.h"
#include "control/setup.h"
#include "e2e/engine_process.h"
#include "support/suite.h"

namespace tavrix {
namespace {

constexpr const char* START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";
constexpr int DEPTH_SHIFT = 10;

class GameRecordTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing_support::ResetBoardState();
        ResetEngineSettings();
        directory = testing::MakeTempDirectory();
        path = directory + "/AutoSave.pgn";
    }
    void TearDown() override { testing::RemoveDirectory(directory); }

    void Play(const std::string& fen, const std::string& moves) {
        // No reset between games: the record keeps its counter and the engine's bookings.
        if (fen == START) NewGame();
        else ASSERT_EQ(ReadFen(fen.c_str()), 1);
        ASSERT_EQ(PlayMoveList(moves.c_str()), static_cast<int>(std::count(moves.begin(), moves.end(), ' ') + !moves.empty()));
    }
    // The engine's move as the think controller leaves it: made, booked, taken back out.
    void EngineMove(const char* text, int32_t score, uint16_t flags = EntryFlag::SCORE_USABLE) {
        static Position saved;
        saved = GameBoard.position;
        const int32_t length = GameRecord.length;
        ASSERT_EQ(PlayMoveText(text), 1);
        GameEntry& e = GameRecord.entries[GameRecord.length];
        e.score = static_cast<int16_t>(score);
        e.flags = flags;
        e.depthWord = static_cast<uint16_t>(9 << DEPTH_SHIFT);
        GameBoard.position = saved;
        GameRecord.length = length;
    }
    std::string Saved() const {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::string Formatted() {
        static char text[PGN_TEXT_SIZE];
        const int32_t length = FormatGame(text, PGN_TEXT_SIZE, WHITE, GameResult::OPEN);
        return std::string(text, static_cast<size_t>(length));
    }

    std::string directory;
    std::string path;
};

int CountOf(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

TEST_F(GameRecordTest, ResultFollowsTheEngineLastScore) {
    struct Case {
        const char* moves;    // the engine plays the next move, "g1f3" or "g8f6"
        const char* engine;
        int32_t score;        // the engine's view
        const char* result;
        const char* engineTag;
    };
    const Case cases[] = {
        {"e2e4 e7e5", "g1f3", 300, "1-0", "[White \"TAVRIX 11 UCI\"]"},
        {"e2e4 e7e5", "g1f3", 50, "1/2-1/2", "[White \"TAVRIX 11 UCI\"]"},
        {"e2e4 e7e5", "g1f3", 200, "*", "[White \"TAVRIX 11 UCI\"]"},
        {"e2e4 e7e5", "g1f3", 257, "1-0", "[White \"TAVRIX 11 UCI\"]"},
        {"e2e4 e7e5", "g1f3", 96, "*", "[White \"TAVRIX 11 UCI\"]"},
        {"e2e4 e7e5", "g1f3", -300, "0-1", "[White \"TAVRIX 11 UCI\"]"},
        {"e2e4 e7e5 g1f3", "g8f6", 300, "0-1", "[Black \"TAVRIX 11 UCI\"]"},
        {"e2e4 e7e5 g1f3", "g8f6", -95, "1/2-1/2", "[Black \"TAVRIX 11 UCI\"]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.moves) + " " + std::to_string(c.score));
        std::remove(path.c_str());
        Play(START, c.moves);
        EngineMove(c.engine, c.score);
        EndGame(path.c_str());
        const std::string pgn = Saved();
        EXPECT_NE(pgn.find(std::string("[Result \"") + c.result + "\"]"), std::string::npos) << pgn;
        EXPECT_NE(pgn.find(c.engineTag), std::string::npos);
        // The engine's last move closes the movetext, then the result.
        EXPECT_NE(pgn.find(std::string("} ") + c.result + "\n\n"), std::string::npos) << pgn;
    }
}

TEST_F(GameRecordTest, ShortGamesAreCountedButNotSavedAndAGameEndsOnce) {
    struct Case {
        const char* moves;
        const char* engine;   // nullptr: the engine made no move
        int gamesInFile;      // after this game end
        bool counted = true;
    };
    const Case cases[] = {
        {"", nullptr, 0, false},         // "ucinewgame" before the first game: no game
        {"e2e4 e7e5", nullptr, 0},       // two plies
        {"", nullptr, 0, false},
        {"e2e4", "e7e5", 0},             // two plies with the engine's move
        {"", "e2e4", 0},                 // one: the engine's move alone
        {"e2e4 e7e5", "g1f3", 1},        // three
        {"e2e4 e7e5 g1f3", nullptr, 2},
    };
    int32_t round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.moves);
        Play(START, c.moves);
        if (c.engine != nullptr) EngineMove(c.engine, 0);
        EndGame(path.c_str());
        EndGame(path.c_str());  // "ucinewgame" then "quit": the same game, not another
        round += c.counted;
        EXPECT_EQ(GameRecord.gameCounter, round);
        const std::string pgn = Saved();
        EXPECT_EQ(CountOf(pgn, "[Event \"AutoSave\"]"), c.gamesInFile);
        if (c.gamesInFile > 0) EXPECT_NE(pgn.find("[Round \"" + std::to_string(round) + "\"]"), std::string::npos);
    }
    // With "AutoSave PGN" off a game is still counted.
    Settings.autosaveFlags = 0;
    Play(START, "e2e4 e7e5 g1f3");
    EndGame(path.c_str());
    EXPECT_EQ(GameRecord.gameCounter, round + 1);
    EXPECT_EQ(CountOf(Saved(), "[Event \"AutoSave\"]"), 2);
}

TEST_F(GameRecordTest, ClockAndScoreComments) {
    struct Case {
        int32_t ms;           // the move took
        int32_t score;        // White's move, White's view
        bool usable;
        const char* text;     // behind "1.e4 "
    };
    const Case cases[] = {
        {59999, 0, false, "{59} "},
        {75000, 0, false, "{1:15} "},
        {3725000, 0, false, "{1:02:05} "},
        {-4000, 0, false, "{0} "},              // a clock that ran backwards
        {0, -10, true, "{0 -0.07/9} "},
        {0, 300, true, "{0 2.34/9} "},
        {0, -300, true, "{0 -2.34/9} "},
        {0, 8189, true, "{0 +M2/9} "},
        {0, -8186, true, "{0 -M3/9} "},
        {0, 7800, true, "{0 MATE N/9} "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Play(START, "e2e4 e7e5");
        GameEntry& e = GameRecord.entries[FIRST_ENTRY + 1];
        e.clockTime = c.ms;
        e.score = static_cast<int16_t>(c.score);
        e.depthWord = static_cast<uint16_t>(9 << DEPTH_SHIFT);
        e.flags = c.usable ? EntryFlag::SCORE_USABLE : 0;
        EXPECT_NE(Formatted().find(std::string("1.e4 ") + c.text), std::string::npos) << Formatted();
    }
}

TEST_F(GameRecordTest, MoveNumbersAndFenHeaders) {
    struct Case {
        const char* fen;
        const char* moves;
        const char* movetext;   // the start of the movetext
        bool fenHeader;
    };
    const Case cases[] = {
        {START, "e2e4 e7e5 g1f3", "1.e4 {0} e5 {0} 2.Nf3 {0} *", false},
        {"4k3/8/8/8/8/8/4P3/4K3 b - - 0 40", "e8d7 e2e4 d7d6", "40...Kd7 {0} 41.e4 {0} Kd6 {0} *", true},
        {"4k3/8/8/8/8/8/4P3/4K3 w - - 3 12", "e2e4 e8d7", "12.e4 {0} Kd7 {0} *", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fen);
        Play(c.fen, c.moves);
        const std::string pgn = Formatted();
        EXPECT_NE(pgn.find(std::string("}\n") + c.movetext), std::string::npos) << pgn;
        EXPECT_EQ(pgn.find("[SetUp \"1\"]\n[FEN \"") != std::string::npos, c.fenHeader);
    }
}

TEST_F(GameRecordTest, SanText) {
    struct Case {
        const char* fen;
        const char* move;
        const char* san;
        uint16_t gameEnd = 0;   // marks the think controller adds
    };
    const Case cases[] = {
        {START, "g1f3", "Nf3"},
        {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "e1g1", "O-O"},
        {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "e1c1", "O-O-O"},
        {"8/P6k/8/8/8/8/8/K7 w - - 0 1", "a7a8q", "a8Q"},
        {"1n5k/P7/8/8/8/8/8/K7 w - - 0 1", "a7b8n", "axb8N"},
        {"4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1", "e5d6", "exd6"},
        {"4k3/8/8/8/8/8/4K3/R6R w - - 0 1", "a1d1", "Rad1"},
        {"4k3/8/8/R7/8/8/8/R3K3 w - - 0 1", "a1a3", "R1a3"},
        {"4k3/8/8/8/8/8/8/R3K3 w - - 0 1", "a1a8", "Ra8+"},
        {"6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1", "a1a8", "Ra8#", EntryFlag::CHECKMATE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.move);
        Play(c.fen, c.move);
        GameEntry& e = GameRecord.entries[GameRecord.length];
        e.flags |= c.gameEnd;
        char san[SAN_TEXT_SIZE];
        SanText(e, san);
        if (c.gameEnd == 0) EXPECT_STREQ(san, c.san);
        EXPECT_NE(Formatted().find(std::string(c.san) + " {"), std::string::npos) << Formatted();
    }
}

TEST_F(GameRecordTest, OnlyAReplayedEngineMoveKeepsItsBooking) {
    Play(START, "e2e4");
    EngineMove("e7e5", 77, EntryFlag::SCORE_USABLE | EntryFlag::BOOK_MOVE);
    struct Case {
        const char* reply;
        bool keeps;
    };
    for (const Case c : {Case{"e7e5", true}, Case{"c7c5", false}, Case{"e7e5", false}}) {
        SCOPED_TRACE(c.reply);
        Play(START, std::string("e2e4 ") + c.reply);
        const GameEntry& e = GameRecord.entries[GameRecord.length];
        EXPECT_EQ(e.score == 77 && e.flags == (EntryFlag::SCORE_USABLE | EntryFlag::BOOK_MOVE), c.keeps);
    }
}

TEST_F(GameRecordTest, AMateOrStalemateOnTheBoardDecidesTheResult) {
    // White mates with Ra8 or stalemates with Qg6; the engine's score says a draw throughout.
    constexpr const char* MATE_FEN = "6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1";
    constexpr const char* STALEMATE_FEN = "6k1/8/5K2/8/8/8/8/Q7 w - - 0 1";
    struct Case {
        const char* name;
        const char* fen;
        const char* moves;        // played on the game board
        const char* engine;       // the engine's move, booked with score 0
        const char* replayed;     // sent back by the GUI, or "" (then the engine's move ends the game)
        int32_t result;
        int32_t engineColour;
        uint16_t gameEnd;
    };
    const Case cases[] = {
        {"the engine mates, sent back", MATE_FEN, "g1f1 g8h8", "a1a8", "a1a8", GameResult::WHITE_WON, WHITE, EntryFlag::CHECKMATE},
        {"the engine mates, not sent back", MATE_FEN, "g1f1 g8h8", "a1a8", "", GameResult::WHITE_WON, WHITE, EntryFlag::CHECKMATE},
        {"the engine is mated", MATE_FEN, "g1f1", "g8h8", "g8h8 a1a8", GameResult::WHITE_WON, BLACK, EntryFlag::CHECKMATE},
        {"the engine stalemates", STALEMATE_FEN, "a1g1 g8h8", "g1g6", "g1g6", GameResult::DRAW, WHITE, EntryFlag::STALEMATE},
        {"the game goes on", MATE_FEN, "g1f1 g8h8", "a1a7", "a1a7", GameResult::OPEN, WHITE, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(path.c_str());
        Play(c.fen, c.moves);
        EngineMove(c.engine, 0);
        const std::string moves = c.moves + std::string(" ") + c.replayed;
        if (*c.replayed != '\0') Play(c.fen, moves);
        const GameVerdict v = JudgeGame();
        EXPECT_EQ(v.result, c.result);
        EXPECT_EQ(v.engineColour, c.engineColour);  // book learning is told only when it is known
        EXPECT_EQ(v.gameEnd, c.gameEnd);
        EndGame(path.c_str());
        const std::string pgn = Saved();
        EXPECT_NE(pgn.find(std::string("[Result \"") + ResultText(c.result) + "\"]"), std::string::npos) << pgn;
        EXPECT_EQ(pgn.find("Ra8# {") != std::string::npos, c.gameEnd == EntryFlag::CHECKMATE) << pgn;
    }
}

}  // namespace
}  // namespace tavrix
