#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <string>

#include "control/engine.h"
#include "control/options.h"
#include "control/setup.h"
#include "control/startup.h"
#include "control/uci.h"
#include "control/output_capture.h"
#include "platform/platform.h"

namespace tavrix {
namespace {

using tavrix::testing::OutputCapture;

void StartClean(uint8_t protocolState) {
    ResetControlState();
    ResetEngineSettings();
    LoadDefaults();
    Settings.hashSize = 16384;
    Control.protocolState = protocolState;
}

constexpr int IDLE = EngineStateValue::IDLE;
constexpr int THINKING = EngineStateValue::THINKING;
constexpr int PONDERING = EngineStateValue::PONDERING;

TEST(Dispatch, AnswersEachCommandAsTheProtocolStateAllows) {
    struct Case {
        uint8_t protocolState;
        int engineState;
        uint8_t stopReason;
        const char* line;
        int result;
        const char* output;
    };
    constexpr uint8_t NEW = ProtocolStateValue::BEFORE_UCI;
    constexpr uint8_t READY = ProtocolStateValue::READY;
    constexpr int DONE = DispatchResult::DONE;
    constexpr int WAIT = DispatchResult::WAIT;
    constexpr int UNKNOWN = DispatchResult::UNKNOWN;
    const Case cases[] = {
        // Before "uci" only "uci" and "quit" act; everything else is silent.
        {NEW, IDLE, 0, "isready", DONE, ""},
        {NEW, IDLE, 0, "gox", DONE, ""},
        {NEW, IDLE, 0, "", DONE, ""},
        {NEW, IDLE, 0, "ucix", DONE, ""},
        {NEW, IDLE, 0, "quit", DONE, ""},
        // After "uci".
        {READY, IDLE, 0, "isready", DONE, "readyok\n"},
        {READY, IDLE, 0, "  IsReady  ", DONE, "readyok\n"},
        {READY, IDLE, 0, "", UNKNOWN, "info string unknown UCI <> command\n"},
        {READY, IDLE, 0, "   ", UNKNOWN, "info string unknown UCI <> command\n"},
        {READY, IDLE, 0, "gox", UNKNOWN, "info string unknown UCI <gox> command\n"},
        {READY, IDLE, 0, "  hello world", UNKNOWN, "info string unknown UCI <hello world> command\n"},
        {READY, IDLE, 0, "stop ", UNKNOWN, "info string unknown UCI <stop > command\n"},
        {READY, IDLE, 0, "uci", UNKNOWN, "info string unknown UCI <uci> command\n"},
        {READY, IDLE, 0, "setoption", UNKNOWN, "info string unknown UCI <> command\n"},
        {READY, IDLE, 0, "setoption value 3", UNKNOWN, "info string unknown UCI <value 3> command\n"},
        {READY, IDLE, 0, "setoption name Hash value 32", DONE, ""},
        {READY, IDLE, 0, "setoption name Nonsense", DONE, ""},
        {READY, IDLE, 0, "ucinewgame", DONE, ""},
        {READY, IDLE, 0, "ponderhit", DONE, ""},
        {READY, IDLE, 0, "position startpos", DONE, ""},
        {READY, IDLE, 0, "go depth 3", DONE, ""},
        {READY, IDLE, 0, "go foo depth 3", DONE, "info string unknown UCI go <foo depth 3> command\n"},
        {READY, IDLE, 0, "quit", DONE, ""},
        // During a search: these wait for its end.
        {READY, THINKING, 0, "quit", WAIT, ""},
        {READY, THINKING, 0, "position startpos", WAIT, ""},
        {READY, THINKING, 0, "go", WAIT, ""},
        {READY, THINKING, 0, "setoption name Hash value 32", WAIT, ""},
        {READY, THINKING, 0, "ucinewgame", WAIT, ""},
        {READY, THINKING, 0, "eval", WAIT, ""},
        {READY, PONDERING, 0, "go infinite", WAIT, ""},
        {READY, THINKING, 0x40, "isready", WAIT, ""},
        // ... and these act at once.
        {READY, THINKING, 0, "isready", DONE, "readyok\n"},
        {READY, PONDERING, 0, "isready", DONE, "readyok\n"},
        {READY, THINKING, 0, "ponderhit", DONE, ""},
        {READY, THINKING, 0, "setoption Hash", UNKNOWN, "info string unknown UCI <Hash> command\n"},
        {READY, THINKING, 0, "foo", UNKNOWN, "info string unknown UCI <foo> command\n"},
        {READY, 3, 0, "go depth 1", DONE, ""},   // a finished search no longer counts as running
    };
    OutputCapture capture;
    for (const Case& c : cases) {
        StartClean(c.protocolState);
        Control.engineState = c.engineState;
        Control.stopReason = c.stopReason;
        EXPECT_EQ(Dispatch(c.line), c.result) << c.line;
        const std::string out = capture.Take();
        const std::string line = c.line;
        if (c.protocolState == READY && c.result == DONE && (line == "go" || line.rfind("go ", 0) == 0)) {
            // A search that ran ends with its move; the lines before it depend on the search.
            EXPECT_EQ(out.rfind(c.output, 0), 0u) << c.line << "\n" << out;
            EXPECT_NE(out.find("\nbestmove "), std::string::npos) << c.line << "\n" << out;
        } else {
            EXPECT_EQ(out, c.output) << c.line;
        }
    }
}

TEST(Dispatch, UciIdentifiesTheEngineAndOpensTheProtocol) {
    OutputCapture capture;
    StartClean(ProtocolStateValue::BEFORE_UCI);
    EXPECT_EQ(Dispatch("UCI"), DispatchResult::DONE);
    const std::string text = capture.Take();
    EXPECT_EQ(text.rfind("id name TAVRIX 11 UCI\nid author ", 0), 0u) << text;
    EXPECT_NE(text.find("\noption name Ponder type check default true\n"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 6), "uciok\n");
    EXPECT_EQ(Control.protocolState, ProtocolStateValue::READY);
}

TEST(Dispatch, CommandsChangeTheirState) {
    OutputCapture capture;
    StartClean(ProtocolStateValue::READY);
    Dispatch("quit");
    EXPECT_NE(Control.quitRequested, 0);

    StartClean(ProtocolStateValue::READY);
    Control.engineState = THINKING;
    Dispatch("quit");
    EXPECT_EQ(Control.quitRequested, 0);

    StartClean(ProtocolStateValue::READY);
    Dispatch("ucinewgame");
    EXPECT_TRUE(Control.newGameFlag);
    Dispatch("position  startpos moves e2e4");
    EXPECT_FALSE(Control.newGameFlag);
    EXPECT_STREQ(Control.lastPositionCommand, "startpos moves e2e4");

    StartClean(ProtocolStateValue::READY);
    Dispatch("setoption name MultiPV value 4");
    EXPECT_EQ(Settings.multiPV, 4);
    Dispatch("GO FOO DEPTH 5");
    EXPECT_EQ(Limits.depthLimit, 5);
    const std::string out = capture.Take();
    EXPECT_EQ(out.rfind("info string unknown UCI go <FOO DEPTH 5> command\n", 0), 0u) << out;
    EXPECT_NE(out.find("info multipv 4 depth 5 "), std::string::npos) << "the search ran with both settings";
    EXPECT_NE(out.find("\nbestmove "), std::string::npos);
}

TEST(Dispatch, EvalReportsTheGamePositionTermByTerm) {
    OutputCapture capture;
    StartClean(ProtocolStateValue::READY);
    Dispatch("position startpos moves e2e4");
    capture.Take();
    EXPECT_EQ(Dispatch("eval"), DispatchResult::DONE);
    const std::string out = capture.Take();
    ASSERT_GT(out.size(), 1u) << out;
    const size_t last = out.rfind('\n', out.size() - 2);
    const std::string total = out.substr(last == std::string::npos ? 0 : last + 1);
    EXPECT_EQ(total.rfind("eval total ", 0), 0u) << out;
    EXPECT_EQ(out.rfind("eval ", 0), 0u) << out;
    EXPECT_EQ(GameBoard.position.sideToMove, BLACK) << "the game position is left alone";
}

TEST(Dispatch, PositionSetsUpTheGameBoard) {
    struct Case {
        const char* line;
        int sideToMove;
        int square;          // a square whose piece tells the moves were made
        PieceType type;
    };
    const Case cases[] = {
        {"position startpos", WHITE, 12, PAWN},
        {"position startpos moves e2e4", BLACK, 28, PAWN},
        {"POSITION STARTPOS MOVES e2e4 e7e5 g1f3", BLACK, 21, KNIGHT},
        {"position startpos moves e2e5 e2e4", BLACK, 28, PAWN},           // an illegal token is skipped
        {"position fen 4k3/8/8/8/8/8/8/4K2R w K - 0 1", WHITE, 7, ROOK},
        {"position fen 4k3/8/8/8/8/8/8/4K2R w K - 0 1 moves e1g1", BLACK, 5, ROOK},
        {"position fen 4k3/8/8/8/8/8/8/4K2R b - - moves e8d8", WHITE, 59, KING},
        {"position fen nonsense moves e2e4", BLACK, 28, PAWN},            // refused FEN: board stays
    };
    OutputCapture capture;
    StartClean(ProtocolStateValue::READY);
    NewGame();
    for (const Case& c : cases) {
        if (std::strstr(c.line, "nonsense") != nullptr) Dispatch("position startpos");
        EXPECT_EQ(Dispatch(c.line), DispatchResult::DONE) << c.line;
        EXPECT_EQ(GameBoard.position.sideToMove, c.sideToMove) << c.line;
        EXPECT_EQ(GameBoard.position.pieceType[c.square], c.type) << c.line;
    }
    EXPECT_EQ(capture.Take(), "");
}

TEST(ParseGo, ReadsEveryParameter) {
    struct Case {
        const char* text;
        int32_t whiteTime, blackTime, whiteIncrement, blackIncrement, movesToGo;
        int32_t moveTime, depth;
        uint8_t searchType, thinkMode;
        bool clocksReset;
        const char* searchMoves;
        const char* output;
    };
    constexpr int32_t NONE = 2000000000;
    constexpr uint8_t FIXED = SearchType::FIXED;
    constexpr uint8_t TIMED = SearchType::TIMED;   // carried over from the previous "go"
    const Case cases[] = {
        {"", 0, 0, 0, 0, 0, NONE, 62, TIMED, 4, false, nullptr, ""},
        {"wtime 60000 btime 55000 winc 1000 binc 900 movestogo 20", 60000, 55000, 1000, 900, 20, NONE, 62, TIMED,
         4, false, nullptr, ""},
        {"wtime 0 btime -7", 1, 1, 0, 0, 0, NONE, 62, TIMED, 4, false, nullptr, ""},
        {"winc -5", 0, 0, -5, 0, 0, NONE, 62, TIMED, 4, false, nullptr, ""},
        {"depth 5", 0, 0, 0, 0, 0, NONE, 5, FIXED, 4, true, nullptr, ""},
        {"DEPTH 0", 0, 0, 0, 0, 0, NONE, 1, FIXED, 4, true, nullptr, ""},
        {"depth 100", 0, 0, 0, 0, 0, NONE, 100, FIXED, 4, true, nullptr, ""},
        {"movetime 5000", 0, 0, 0, 0, 0, 5000, 62, FIXED, 4, true, nullptr, ""},
        {"infinite", 0, 0, 0, 0, 0, NONE, 62, FIXED, 4, true, nullptr, ""},
        {"ponder wtime 100", 100, 0, 0, 0, 0, NONE, 62, TIMED, 6, false, nullptr, ""},
        {"nodes 5000 mate 3 depth 2", 0, 0, 0, 0, 0, NONE, 2, FIXED, 4, true, nullptr, ""},
        {"searchmoves e2e4 depth 3", 0, 0, 0, 0, 0, NONE, 62, TIMED, 4, false, "e2e4 depth 3", ""},
        {"depth 4 searchmoves", 0, 0, 0, 0, 0, NONE, 4, FIXED, 4, true, "", ""},
        {"foo depth 3", 0, 0, 0, 0, 0, NONE, 3, FIXED, 4, true, nullptr,
         "info string unknown UCI go <foo depth 3> command\n"},
        {"depth 3 bar baz", 0, 0, 0, 0, 0, NONE, 3, FIXED, 4, true, nullptr,
         "info string unknown UCI go <bar baz> command\ninfo string unknown UCI go <baz> command\n"},
        {"depthx 3", 0, 0, 0, 0, 0, NONE, 62, TIMED, 4, false, nullptr,
         "info string unknown UCI go <depthx 3> command\ninfo string unknown UCI go <3> command\n"},
        {"depth", 0, 0, 0, 0, 0, NONE, 62, TIMED, 4, false, nullptr, ""},
        {"depth x wtime 5", 5, 0, 0, 0, 0, NONE, 62, TIMED, 4, false, nullptr, ""},
        {"\tdepth\t7", 0, 0, 0, 0, 0, NONE, 7, FIXED, 4, true, nullptr, ""},
        {"movestogo -1", 0, 0, 0, 0, 0, NONE, 62, TIMED, 4, false, nullptr, ""},
        {"wtime 99999999999", 2147483647, 0, 0, 0, 0, NONE, 62, TIMED, 4, false, nullptr, ""},
    };
    OutputCapture capture;
    for (const Case& c : cases) {
        StartClean(ProtocolStateValue::READY);
        // Leftovers of an earlier "go" that must not survive into the next one.
        Limits.searchType = SearchType::TIMED;
        Limits.depthLimit = 9;
        Limits.moveTimeTarget = 7;
        Limits.thinkMode = EngineStateValue::PONDERING;
        Limits.searchMoveCount = 3;
        const GoCommand go = ParseGo(c.text);
        EXPECT_EQ(go.whiteTime, c.whiteTime) << c.text;
        EXPECT_EQ(go.blackTime, c.blackTime) << c.text;
        EXPECT_EQ(go.whiteIncrement, c.whiteIncrement) << c.text;
        EXPECT_EQ(go.blackIncrement, c.blackIncrement) << c.text;
        EXPECT_EQ(go.movesToGo, c.movesToGo) << c.text;
        EXPECT_EQ(go.limits.moveTimeTarget, c.moveTime) << c.text;
        EXPECT_EQ(go.limits.depthLimit, c.depth) << c.text;
        EXPECT_EQ(go.limits.secondDepthLimit, 62) << c.text;
        EXPECT_EQ(go.limits.searchType, c.searchType) << c.text;
        EXPECT_EQ(go.limits.thinkMode, c.thinkMode) << c.text;
        EXPECT_EQ(go.limits.searchMoveCount, 0) << c.text;
        EXPECT_EQ(go.clocksReset, c.clocksReset) << c.text;
        if (c.searchMoves == nullptr) EXPECT_EQ(go.searchMovesText, nullptr) << c.text;
        else EXPECT_STREQ(go.searchMovesText, c.searchMoves) << c.text;
        EXPECT_EQ(capture.Take(), c.output) << c.text;
    }
}

TEST(ParsePosition, FindsBaseAndMoves) {
    struct Case {
        const char* text;
        PositionBase base;
        const char* fen;
        const char* moves;
    };
    const Case cases[] = {
        {"startpos", PositionBase::START, nullptr, nullptr},
        {"STARTPOS MOVES e2e4 e7e5", PositionBase::START, nullptr, "e2e4 e7e5"},
        {"startpos moves", PositionBase::START, nullptr, ""},
        {"startpos e2e4", PositionBase::START, nullptr, nullptr},
        {"fen 8/8/8/8/8/8/8/K6k w - - 0 1", PositionBase::FEN, "8/8/8/8/8/8/8/K6k w - - 0 1", nullptr},
        {"fen   8/8/8/8/8/8/8/K6k b - - moves a1a2", PositionBase::FEN,
         "8/8/8/8/8/8/8/K6k b - - moves a1a2", "a1a2"},
        {"moves e2e4", PositionBase::CURRENT, nullptr, "e2e4"},
        {"", PositionBase::CURRENT, nullptr, nullptr},
        {"startposx", PositionBase::CURRENT, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        const PositionCommand command = ParsePosition(c.text);
        EXPECT_EQ(command.base, c.base) << c.text;
        if (c.fen == nullptr) EXPECT_EQ(command.fen, nullptr) << c.text;
        else EXPECT_STREQ(command.fen, c.fen) << c.text;
        if (c.moves == nullptr) EXPECT_EQ(command.moves, nullptr) << c.text;
        else EXPECT_STREQ(command.moves, c.moves) << c.text;
    }
}

TEST(StartsAnotherGame, ComparesTheCommonPrefix) {
    struct Case {
        const char* text;
        const char* last;
        bool another;
    };
    const Case cases[] = {
        {"startpos moves e2e4 e7e5", "startpos moves e2e4", false},
        {"startpos moves e2e4", "startpos moves e2e4", false},
        {"startpos", "startpos moves e2e4 e7e5", true},     // 8 * 3 / 2 = 12 < 24
        {"startpos moves d2d4", "startpos moves e2e4", false},  // 15 * 3 / 2 = 22 >= 19
        {"fen 8/8", "startpos moves e2e4", true},
        {"anything", "", false},
        {"", "", false},
        {"abcd", "abcdef", false},   // 4 * 3 / 2 = 6, not less than 6
        {"abc", "abcdefg", true},    // 3 * 3 / 2 = 4 < 7
    };
    for (const Case& c : cases) EXPECT_EQ(StartsAnotherGame(c.text, c.last), c.another) << c.text << " / " << c.last;
}

TEST(ReadSwitches, ReadsQuietAndNumbers) {
    struct Case {
        std::vector<const char*> arguments;
        uint8_t mode;
        int32_t number;
    };
    const Case cases[] = {
        {{"tavrix"}, 1, 0},
        {{"tavrix", "-q"}, 0x80, 0},
        {{"tavrix", "-Q"}, 1, 0},
        {{"tavrix", "-qq"}, 1, 0},
        {{"tavrix", "-x"}, 4, 0},
        {{"tavrix", "-x", "12"}, 4, 12},
        {{"tavrix", "-x", "-7"}, 4, -7},
        {{"tavrix", "-x", "12abc"}, 4, 12},
        {{"tavrix", "-x", "-q"}, 0x80, 0},        // not a number: examined as the next switch
        {{"tavrix", "-s", "5", "-x", "foo"}, 4, 0},
        {{"tavrix", "-s", "9"}, 1, 9},
        {{"tavrix", "-s", "-q"}, 1, 0},           // consumed whatever it holds
        {{"tavrix", "-s"}, 1, 0},
        {{"tavrix", "-x", "3", "-s", "oops"}, 4, 3},
        {{"tavrix", "-q", "-x", "8"}, 4, 8},
    };
    for (const Case& c : cases) {
        ResetControlState();
        ReadSwitches(static_cast<int>(c.arguments.size()), c.arguments.data());
        EXPECT_EQ(Control.startupMode, c.mode) << c.arguments.size() << " " << c.arguments.back();
        EXPECT_EQ(Control.startupNumber, c.number) << c.arguments.size() << " " << c.arguments.back();
    }
}

// Replaces standard input with a pipe holding the given text for the life of the object.
class StdinFromText {
public:
    explicit StdinFromText(const std::string& text, bool closeWriter) {
        saved_ = dup(0);
        int ends[2];
        EXPECT_EQ(pipe(ends), 0);
        EXPECT_EQ(write(ends[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
        dup2(ends[0], 0);
        close(ends[0]);
        writer_ = ends[1];
        if (closeWriter) CloseWriter();
        platform::ResetPlatformState();
    }
    ~StdinFromText() {
        CloseWriter();
        dup2(saved_, 0);
        close(saved_);
        platform::ResetPlatformState();
    }
    void CloseWriter() {
        if (writer_ >= 0) close(writer_);
        writer_ = -1;
    }

private:
    int saved_ = -1;
    int writer_ = -1;
};

TEST(ReadAndDispatch, KeepsGoingWhileInputWaits) {
    StdinFromText input("isready\nfoo\nisready\n", false);
    OutputCapture capture;
    StartClean(ProtocolStateValue::READY);
    ReadAndDispatch();
    EXPECT_EQ(capture.Take(), "readyok\ninfo string unknown UCI <foo> command\nreadyok\n");
}

TEST(ReadAndDispatch, StopEndsOnlyARunningSearch) {
    StdinFromText input("isready\nstop\nisready\n", false);
    OutputCapture capture;
    StartClean(ProtocolStateValue::READY);
    Control.engineState = THINKING;
    ReadAndDispatch();
    EXPECT_EQ(Control.stopReason, StopReasonValue::STOP_COMMAND);
    EXPECT_EQ(capture.Take(), "readyok\n");   // the second isready waits for the next call

    Control.engineState = IDLE;
    Control.stopReason = 0;
    ReadAndDispatch();
    EXPECT_EQ(capture.Take(), "readyok\n");
}

TEST(ReadAndDispatch, ExactStopWhileIdleIsSilent) {
    StdinFromText input("stop\nSTOP\n", false);
    OutputCapture capture;
    StartClean(ProtocolStateValue::READY);
    ReadAndDispatch();
    EXPECT_EQ(Control.stopReason, 0);
    EXPECT_EQ(capture.Take(), "info string unknown UCI <STOP> command\n");
}

TEST(ReadAndDispatch, CommandsThatMustWaitAreReplayedAfterTheSearch) {
    StdinFromText input("setoption name MultiPV value 5\nisready\n", false);
    OutputCapture capture;
    StartClean(ProtocolStateValue::READY);
    Control.engineState = THINKING;
    ReadAndDispatch();
    EXPECT_EQ(Control.stopReason, StopReasonValue::STOP_COMMAND);
    EXPECT_TRUE(Control.linePending);
    EXPECT_EQ(Settings.multiPV, 1);
    EXPECT_EQ(capture.Take(), "");

    // The search has ended: the kept line runs first, then the waiting input.
    Control.engineState = IDLE;
    Control.stopReason = 0;
    ReadAndDispatch();
    EXPECT_FALSE(Control.linePending);
    EXPECT_EQ(Settings.multiPV, 5);
    EXPECT_EQ(capture.Take(), "readyok\n");
}

TEST(ReadAndDispatch, EndOfInputQuits) {
    StdinFromText input("isready", true);
    OutputCapture capture;
    StartClean(ProtocolStateValue::READY);
    ReadAndDispatch();   // the last line needs no line end; the end of input follows at once
    EXPECT_EQ(capture.Take(), "readyok\n");
    EXPECT_NE(Control.quitRequested, 0);

    // During a search the end of input stops it and quits afterwards.
    StartClean(ProtocolStateValue::READY);
    Control.engineState = THINKING;
    ReadAndDispatch();
    EXPECT_EQ(Control.stopReason, StopReasonValue::STOP_COMMAND);
    EXPECT_TRUE(Control.linePending);
    Control.engineState = IDLE;
    Control.stopReason = 0;
    IdleLoop();
    EXPECT_NE(Control.quitRequested, 0);
}

TEST(ReadAndDispatch, NothingRunsAfterQuit) {
    StdinFromText input("quit\nisready\n", false);
    OutputCapture capture;
    StartClean(ProtocolStateValue::READY);
    IdleLoop();
    EXPECT_NE(Control.quitRequested, 0);
    EXPECT_EQ(capture.Take(), "");
}

}  // namespace
}  // namespace tavrix
