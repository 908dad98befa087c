#include "control/uci.h"

#include <cstring>

#include "board/perft.h"
#include "control/game_record.h"
#include "control/keywords.h"
#include "control/options.h"
#include "control/setup.h"
#include "control/think.h"
#include "control/timeman.h"
#include "control/workers.h"
#include "eval/evaluate.h"
#include "platform/platform.h"
#include "search/root.h"
#include "search/ttable.h"

namespace tavrix {

namespace {

using platform::Print;

bool Searching() { return IsSearching(Control.engineState); }

void ReportUnknownCommand(const char* text) { Print("info string unknown UCI <%s> command\n", text); }

// Reads the value token of a "go" parameter; a missing or unreadable value leaves it unset.
bool ReadGoValue(const char*& cursor, int32_t& value) {
    const char* text = cursor;
    const bool read = ReadNumber(text, value);
    cursor = SkipToken(cursor);
    return read;
}

}  // namespace

bool PollInput() { return platform::InputWaiting(); }

void ReadAndDispatch() {
    for (;;) {
        if (Control.linePending) {
            Control.linePending = false;
        } else if (platform::ReadLine(Control.commandLine, COMMAND_LINE_SIZE) < 0) {
            // A "bench" with nothing behind it in the pipe runs to its end; the idle loop then
            // meets the end of input again and quits.
            if (Control.benchRunning) return;
            // The GUI has gone: shut down as if it had said so.
            CopyText(Control.commandLine, "quit", COMMAND_LINE_SIZE);
        }
        if (std::strcmp(Control.commandLine, "stop") == 0) {
            if (Searching()) Control.stopReason = StopReasonValue::STOP_COMMAND;
        } else if (Dispatch(Control.commandLine) == DispatchResult::WAIT) {
            if (Searching()) Control.stopReason = StopReasonValue::STOP_COMMAND;
            Control.linePending = true;
        }
        // Nothing after "quit" is read: its lines would be carried out by an engine on its way out.
        if (Control.stopReason != StopReasonValue::NONE || Control.quitRequested != 0) return;
        if (!PollInput()) return;
    }
}

int Dispatch(const char* line) {
    const char* cursor = SkipSpaces(line);
    if (MatchKeyword(cursor, "quit")) return CommandQuit();
    if (Control.protocolState == ProtocolStateValue::BEFORE_UCI) {
        if (MatchKeyword(cursor, "uci")) CommandUci();
        return DispatchResult::DONE;
    }
    if (MatchKeyword(cursor, "position")) {
        if (Searching()) return DispatchResult::WAIT;
        CommandPosition(cursor);
        return DispatchResult::DONE;
    }
    if (MatchKeyword(cursor, "go")) {
        if (Searching()) return DispatchResult::WAIT;
        CommandGo(cursor);
        return DispatchResult::DONE;
    }
    if (MatchKeyword(cursor, "bench")) {
        if (Searching()) return DispatchResult::WAIT;
        CommandBench(cursor);
        return DispatchResult::DONE;
    }
    if (MatchKeyword(cursor, "eval")) {
        if (Searching()) return DispatchResult::WAIT;  // the evaluation's tables belong to the search
        CommandEval();
        return DispatchResult::DONE;
    }
    if (MatchKeyword(cursor, "ponderhit")) {
        CommandPonderhit();
        return DispatchResult::DONE;
    }
    if (MatchKeyword(cursor, "isready")) return CommandIsReady();
    if (MatchKeyword(cursor, "setoption")) {
        if (MatchKeyword(cursor, "name")) {
            if (Searching()) return DispatchResult::WAIT;
            SetOption(cursor);
            return DispatchResult::DONE;
        }
    } else if (MatchKeyword(cursor, "ucinewgame")) {
        if (Searching()) return DispatchResult::WAIT;
        CommandUciNewGame();
        return DispatchResult::DONE;
    }
    ReportUnknownCommand(cursor);
    return DispatchResult::UNKNOWN;
}

void CommandUci() {
    Print("id name %s\n", ENGINE_NAME);
    Print("id author %s\n", ENGINE_AUTHOR);
    PrintOptions();
    Print("uciok\n");
    Control.protocolState = ProtocolStateValue::READY;
}

int CommandQuit() {
    if (Searching()) return DispatchResult::WAIT;
    EndGame();
    Control.quitRequested = 1;
    return DispatchResult::DONE;
}

int CommandIsReady() {
    if (Searching() && Control.stopReason != StopReasonValue::NONE) return DispatchResult::WAIT;
    Print("readyok\n");
    return DispatchResult::DONE;
}

void CommandPonderhit() {
    // Only a running ponder search can be switched to normal thinking; without one it is ignored.
    if (Control.engineState != EngineStateValue::PONDERING) return;
    // The opponent played the expected move: its clock ran while we pondered.
    const int32_t pondered = ElapsedMs();
    BookMove(NO_SCORE, 0, 0);
    Ponderhit(pondered);
}

void CommandUciNewGame() {
    EndGame();
    Control.newGameFlag = true;
    ClearTimeControl();
    ClearHashTable();
    PrepareHelpers();
}

bool StartsAnotherGame(const char* text, const char* lastText) {
    int common = 0;
    while (text[common] != '\0' && text[common] == lastText[common]) ++common;
    const int lastLength = static_cast<int>(std::strlen(lastText));
    return (common * 3) / 2 < lastLength;
}

PositionCommand ParsePosition(const char* cursor) {
    PositionCommand command{PositionBase::CURRENT, nullptr, nullptr};
    if (MatchKeyword(cursor, "startpos")) {
        command.base = PositionBase::START;
    } else if (MatchKeyword(cursor, "fen")) {
        command.base = PositionBase::FEN;
        command.fen = SkipSpaces(cursor);
        const char* moves = FindText(command.fen, "moves");
        if (moves == nullptr) return command;  // a FEN without "moves" applies none
        cursor = moves;
    }
    if (MatchKeyword(cursor, "moves")) command.moves = cursor;
    return command;
}

void CommandPosition(const char* cursor) {
    if (!Control.newGameFlag && GameRecord.length - FIRST_ENTRY > 2 && StartsAnotherGame(cursor, Control.lastPositionCommand))
        EndGame();
    Control.newGameFlag = false;
    CopyText(Control.lastPositionCommand, cursor, COMMAND_LINE_SIZE);
    const PositionCommand command = ParsePosition(cursor);
    if (command.base == PositionBase::START) {
        ClearTimeControl();
        NewGame();
    } else if (command.base == PositionBase::FEN) {
        // The FEN ends where "moves" begins, so the move list is never read as FEN fields.
        static char fen[COMMAND_LINE_SIZE];
        CopyText(fen, command.fen, COMMAND_LINE_SIZE);
        if (char* moves = const_cast<char*>(FindText(fen, "moves"))) *moves = '\0';
        ReadFen(fen);
    }
    if (command.moves != nullptr) PlayMoveList(command.moves);
}

void CommandPerft(const char* cursor) {
    int32_t depth = 0;
    if (!ReadNumber(cursor, depth) || depth < 1) return;
    static PerftDivision division;
    PerftDivide(GameBoard.position, depth, division);
    char text[MOVE_TEXT_SIZE];
    for (int i = 0; i < division.count; ++i) {
        MoveToText(division.moves[i], text);
        Print("%s: %llu\n", text, static_cast<unsigned long long>(division.nodes[i]));
    }
    Print("\nNodes searched: %llu\n", static_cast<unsigned long long>(division.total));
}

GoCommand ParseGo(const char* cursor) {
    GoCommand go{};
    go.limits = Limits;
    go.limits.searchMoveCount = 0;
    go.limits.moveTimeTarget = NO_TIME_LIMIT;
    go.limits.depthLimit = MAX_DEPTH;
    go.limits.secondDepthLimit = MAX_DEPTH;
    go.limits.thinkMode = EngineStateValue::THINKING;
    go.limits.infinite = false;
    go.limits.nodeLimit = 0;
    go.movesToGo = -1;

    int32_t value = 0;
    for (cursor = SkipWhiteSpace(cursor); *cursor != '\0'; cursor = SkipWhiteSpace(cursor)) {
        if (MatchKeyword(cursor, "searchmoves")) {
            go.searchMovesText = cursor;  // the rest of the line is the move list
            break;
        }
        if (MatchKeyword(cursor, "ponder")) {
            go.limits.thinkMode = EngineStateValue::PONDERING;
        } else if (MatchKeyword(cursor, "wtime")) {
            if (ReadGoValue(cursor, value)) go.whiteTime = value < 1 ? 1 : value;
        } else if (MatchKeyword(cursor, "btime")) {
            if (ReadGoValue(cursor, value)) go.blackTime = value < 1 ? 1 : value;
        } else if (MatchKeyword(cursor, "winc")) {
            if (ReadGoValue(cursor, value)) go.whiteIncrement = value;
        } else if (MatchKeyword(cursor, "binc")) {
            if (ReadGoValue(cursor, value)) go.blackIncrement = value;
        } else if (MatchKeyword(cursor, "movestogo")) {
            if (ReadGoValue(cursor, value)) go.movesToGo = value;
        } else if (MatchKeyword(cursor, "depth")) {
            if (ReadGoValue(cursor, value)) {
                go.limits.depthLimit = value < 1 ? 1 : value;
                go.limits.searchType = SearchType::FIXED;
                go.clocksReset = true;
            }
        } else if (MatchKeyword(cursor, "nodes")) {
            if (ReadGoValue(cursor, value) && value > 0) {
                go.limits.nodeLimit = static_cast<uint64_t>(value);
                go.limits.searchType = SearchType::FIXED;
                go.clocksReset = true;
            }
        } else if (MatchKeyword(cursor, "mate")) {
            ReadGoValue(cursor, value);  // read and not used
        } else if (MatchKeyword(cursor, "movetime")) {
            if (ReadGoValue(cursor, value)) {
                go.limits.moveTimeTarget = value;
                go.limits.searchType = SearchType::FIXED;
                go.clocksReset = true;
            }
        } else if (MatchKeyword(cursor, "infinite")) {
            go.limits.infinite = true;
            go.limits.searchType = SearchType::FIXED;
            go.clocksReset = true;
        } else {
            Print("info string unknown UCI go <%s> command\n", cursor);
            cursor = SkipToken(cursor);
        }
    }
    if (go.movesToGo < 0) go.movesToGo = 0;
    return go;
}

void ApplyGoClocks(const GoCommand& go) {
    Limits = go.limits;
    if (go.clocksReset) ResetClocks();
    const bool white = GameBoard.position.sideToMove == WHITE;
    const int32_t remaining = white ? go.whiteTime : go.blackTime;
    // SetTimeControl makes the search timed and resets the clocks.
    if (remaining != 0) SetTimeControl(go.movesToGo, remaining, white ? go.whiteIncrement : go.blackIncrement);
}

void CommandGo(const char* cursor) {
    if (MatchKeyword(cursor, "perft")) {
        CommandPerft(cursor);
        return;
    }
    const GoCommand go = ParseGo(cursor);
    ApplyGoClocks(go);
    const Position& board = GameBoard.position;
    if (go.searchMovesText != nullptr) ReadSearchMoves(board, go.searchMovesText, Limits);
    Think(board.sideToMove, Limits.thinkMode);
}

void ReadSearchMoves(const Position& board, const char* text, GoLimits& limits) {
    limits.searchMoveCount = 0;
    for (const char* cursor = SkipWhiteSpace(text); *cursor != '\0'; cursor = SkipWhiteSpace(SkipToken(cursor))) {
        const Move move = ParseMoveText(board, cursor);
        if (move != NO_MOVE && limits.searchMoveCount < MAX_SEARCH_MOVES) limits.searchMoves[limits.searchMoveCount++] = move;
    }
}

void CommandEval() {
    static Position scratch;
    scratch = GameBoard.position;
    PrepareRootRecord(scratch);
    PrepareEvaluation(scratch, scratch.sideToMove,
                      EvalOptionsFromSettings(Settings.optionFlags, Eval.options.tablebaseMen));
    Print("%s", EvalReport(scratch).c_str());
}

void CommandBench(const char* cursor) {
    int32_t depth = DEFAULT_BENCH_DEPTH;
    // A depth below 1 is reported and raised by the bench itself.
    if (!ReadNumber(cursor, depth)) depth = DEFAULT_BENCH_DEPTH;
    Bench(depth);
}

}  // namespace tavrix
