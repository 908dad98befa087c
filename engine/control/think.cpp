#include "control/think.h"

#include <algorithm>
#include <cinttypes>

#include "book/learning.h"
#include "board/makemove.h"
#include "board/moveservices.h"
#include "control/elo.h"
#include "control/engine.h"
#include "control/game_record.h"
#include "control/output.h"
#include "control/setup.h"
#include "control/timeman.h"
#include "control/uci.h"
#include "control/workers.h"
#include "eval/evaluate.h"
#include "platform/platform.h"
#include "search/ordering.h"
#include "board/repetition.h"
#include "search/root.h"
#include "search/search.h"
#include "search/search_state.h"
#include "search/root_table.h"
#include "search/search_table.h"

namespace tavrix {

ThinkState ThinkControl;

namespace {

constexpr int32_t COUNTDOWN_SLOW_DIVISOR = 8;    // about eight checks a second
constexpr int32_t COUNTDOWN_FAST_DIVISOR = 32;   // near the deadline and while pondering briefly
constexpr int32_t SLOW_POLL_MARGIN_MS = 2000;    // time left that allows the slow rate
constexpr int32_t NODES_LINE_POLLS = 40;
constexpr int32_t NODES_LINE_POLLS_VERBOSE = 8;
constexpr int32_t DEADLINE_SAFETY_SHIFT = 6;     // stop when t + t / 64 reaches the deadline
// The node rate of the first checks rests on a few milliseconds; these bounds keep one
// countdown from running for seconds on a rate measured over almost no time.
constexpr int32_t MIN_COUNTDOWN = 256;
constexpr int32_t MAX_COUNTDOWN = 65536;
constexpr int32_t CALIBRATION_THREAT_DEPTH = -3;
constexpr int32_t CALIBRATION_FORWARD_PRUNING = 160;
constexpr uint32_t CALIBRATION_TABLEBASE_DEPTH = 2;
constexpr int32_t ELO_MINIMUM_RATE = 16;
constexpr int32_t ELO_DEFAULT_RATE = 128;
constexpr int32_t USABLE_SCORE_RATE_SHIFT = 4;   // a limit below 1/16 of the machine's rate
constexpr int STATE_AFTER_STOP = 1;
constexpr int STATE_AFTER_PONDER = 2;
constexpr int STATE_AFTER_THINK = 3;
constexpr int STATE_ANALYSIS = 5;
constexpr uint8_t STOP_KEEPS_STATE = 0x14;
constexpr uint8_t STOP_CANCELLED_BIT = 0x80;

Position& SearchPosition() { return ThinkControl.position; }

bool Verbose() { return (Search.searchFlags & OptionFlag::VERBOSE_UCI) != 0; }

// Search lines go out only where input is read, and never from "bench".
bool Printing() { return InputPollingActive() && !ThinkControl.silent; }

// The game positions before the current one, for repetitions reaching back into the game.
void LoadGameKeys() {
    const Position& game = GameBoard.position;
    for (int32_t k = FIRST_ENTRY + 1; k <= GameRecord.length; ++k) {
        const int32_t ply = k - 1;
        const int32_t slot = ply & (GAME_KEY_HISTORY - 1);
        Repetition.gameKeyLow[slot] = GameRecord.entries[k].keyLow;
        Repetition.gameKeyHigh[slot] = GameRecord.entries[k].keyHigh;
        Repetition.gameKeyPly[slot] = ply;
    }
    RecordGameKey(game);
}

bool NoLegalMove() { return Root.list.count == 0; }

// A search early in the game whose best score moved strongly teaches its root position.
// The start-up calibration is not play and teaches nothing.
void UpdatePositionLearning() {
    if (Control.engineState == EngineStateValue::CALIBRATING || NoLegalMove()) return;
    if (GameRecord.length - ThinkControl.learningAnchor >= LEARNING_PLY_WINDOW) return;
    const RootMove& best = Root.list.entries[0];
    if (!ScoreMovedEnough(best.score, ThinkControl.lowestBest, ThinkControl.highestBest)) return;
    StoreLearnedPosition(ThinkControl.side, SearchPosition(), best.score, RootMoveOf(best), Search.iterationDepth,
                         Search.boundKind);
}

void PrintNullBestmove() { PrintBestmoveLine(NO_MOVE, NO_MOVE); }



// Steps of a search up to its first iteration. Returns false when there is nothing to search.
void PrepareThink(Colour side, int mode) {
    if (ThinkControl.learningAnchor == NO_ANCHOR) {
        ThinkControl.learningAnchor = GameRecord.length - 2;
        ThinkControl.anchorKey[0] = GameBoard.position.hashKey[0];
        ThinkControl.anchorKey[1] = GameBoard.position.hashKey[1];
    }
    Search.searchFlags = Settings.optionFlags;
    Search.pruningThreshold = Settings.forwardPruning;
    Search.threatDepth = Settings.threatDepth;
    Search.noPolling = false;
    Search.helper = false;
    ThinkControl.inputLooks = 0;
    ResetHelperNodes();
    Control.engineState = mode;
    Root.multiPV = std::max<uint8_t>(1, Settings.multiPV);

    Position& pos = SearchPosition();
    pos = GameBoard.position;
    PrepareRootRecord(pos);
    LoadGameKeys();
    Search.outputStatus = 0;
    SetStopReason(StopReasonValue::NONE);
    ThinkControl.side = side;
    ResetClockBase();
}

// The score the iteration gate compares: the last iteration's, or entry 0's before the first.
int32_t GateScore() { return Search.iterationDepth == 0 ? Root.list.entries[0].score : ThinkControl.bestScore; }

void Iterate(Position& pos) {
    RootMoveList& list = Root.list;
    Time.completedIterations = 0;
    while (Search.stopReason == 0 && IterationGate(Search.iterationDepth, list, GateScore(), pos)) {
        const int32_t depth = Search.iterationDepth;
        Eval.iterationDepth = depth;
        const uint64_t before = pos.nodes;
        Root.failLow = 0;
        Search.boundKind = BoundKind::ITERATION;
        if (Printing() && (Search.outputStatus & OutputBit::STARTED)) PrintDepth();

        const int32_t score = SearchRoot(pos, depth);
        if (Search.stopReason == 0) {
            ThinkControl.bestScore = score;
            SortRootMoves(depth == 1 ? 0 : 1);
            ++Time.completedIterations;
            SetRootWindow(score);
            if (score > MATE_THRESHOLD && MATE - score <= depth) SetStopReason(StopCode::MATE_FOUND);
            SingleReplyCheck();
        }
        const int32_t best = list.entries[0].score;
        if (depth <= 2) {
            ThinkControl.lowestBest = ThinkControl.highestBest = best;
            if (depth == 1)
                Time.easyMove = list.count < 2 || best > list.entries[1].score + EASY_MOVE_MARGIN;
        } else {
            ThinkControl.lowestBest = std::min(ThinkControl.lowestBest, best);
            ThinkControl.highestBest = std::max(ThinkControl.highestBest, best);
        }
        Time.failLow = Root.failLow != 0;
        RecordIterationNodes(pos.nodes - before);
    }
}

// Carries out the lines a ponder or infinite search that has ended by itself must wait for
// (the protocol allows "bestmove" only after "ponderhit" or "stop"); only those, or a
// command that cannot run during a search, end the wait.
bool MustWaitForStop() {
    return Control.engineState == EngineStateValue::PONDERING ||
           (Control.engineState == EngineStateValue::THINKING && Limits.infinite);
}

void WaitWhilePondering() {
    while (MustWaitForStop() && Control.stopReason != StopCode::STOP_COMMAND) {
        // Nothing is left to stop, so "isready" is answered rather than cutting the ponder short.
        Control.stopReason = StopReasonValue::NONE;
        ReadAndDispatch();
        if (Control.quitRequested != 0) break;
    }
}

// "bestmove" and the move entered in the game record (and taken back out again: the
// interface sends the position before the next search).
void PlayBestMove(Colour side) {
    const RootMove& best = Root.list.entries[0];
    const Move move = static_cast<Move>(RootMoveOf(best) & ~CHECK_MARK);
    const Move ponder = RootLine(best)[2];
    PrintBestmove(move, ponder);

    static Position saved;
    saved = GameBoard.position;
    const int32_t length = GameRecord.length;
    if (RecordMove(GameBoard.position, move) != 0) {
        uint16_t flags = best.flags;
        const bool book = (best.flags & RootFlag::BOOK) != 0;
        const bool weakened = (Settings.optionFlags & OptionFlag::LIMIT_STRENGTH) != 0 && Settings.strengthLimit > 0 &&
                              Settings.strengthLimit < (ThinkControl.calibratedNodeRate >> USABLE_SCORE_RATE_SHIFT);
        if (!weakened || book) flags |= EntryFlag::SCORE_USABLE;
        BookMove(best.score, Search.iterationDepth, flags);
    }
    GameBoard.position = saved;
    GameRecord.length = length;
    (void)side;
}

uint8_t FinishThink(Colour side) {
    const int state = Control.engineState;
    const RootMove& best = Root.list.entries[0];
    // A book move is announced at depth 0: nothing was searched.
    const bool book = (best.flags & RootFlag::BOOK) != 0;
    if (!NoLegalMove() && Printing() && !(Search.outputStatus & OutputBit::STARTED) && OutputAllowed())
        PrintPv(0, RootLine(best) + 1, BoundKind::ITERATION, best.score, book ? 0 : Search.iterationDepth,
                book ? 0 : Search.selectiveDepth);

    if (Search.iterationDepth > 2 && TableExists() && (Search.searchFlags & OptionFlag::POSITION_LEARNING) != 0)
        UpdatePositionLearning();

    if (NoLegalMove() && state < EngineStateValue::PONDERING) {
        GameRecord.entries[GameRecord.length].flags |= Root.gameEnd;
        SetStopReason(StopReasonValue::NONE);
        // The protocol's null move, so that the interface is never left waiting.
        if (state != EngineStateValue::CALIBRATING) PrintNullBestmove();
    } else if (state != EngineStateValue::CALIBRATING) {
        WaitWhilePondering();
        if (NoLegalMove()) PrintNullBestmove();
        else PlayBestMove(side);
    }
    if (Control.engineState != EngineStateValue::PONDERING && !NoLegalMove()) ThinkControl.ponderMove = RootLine(best)[2];

    const uint8_t reason = Search.stopReason != 0 ? Search.stopReason : Control.stopReason;
    Search.iterationDepth = 0;
    if (Control.engineState == EngineStateValue::THINKING) {
        if (reason & STOP_CANCELLED_BIT) {
            Control.engineState = STATE_AFTER_STOP;
        } else {
            ThinkControl.savedScore = ThinkControl.bestScore;
            Time.previousSearchScore = ThinkControl.bestScore;
            ThinkControl.savedLength = GameRecord.length - 1;
            Control.engineState = STATE_AFTER_THINK;
        }
        return reason;
    }
    if (Control.engineState != EngineStateValue::CALIBRATING)
        Control.engineState = reason < STOP_KEEPS_STATE ? STATE_AFTER_PONDER : STATE_AFTER_STOP;
    return StopCode::STOP_COMMAND;
}

}  // namespace

void ResetThinkState() {
    ThinkControl = ThinkState{};
    ThinkControl.learningAnchor = NO_ANCHOR;
}

void SetStopReason(uint8_t reason) {
    Control.stopReason = reason;
    Search.stopReason = reason;
    // The helpers stop with the main search, not only once it has unwound.
    if (reason != StopReasonValue::NONE) AskHelpersToStop();
}

bool InputPollingActive() { return Control.inputMode != InputModeValue::UNKNOWN; }

uint64_t SearchedNodes() { return ThinkControl.position.nodes + HelperNodes(); }

void SetRootWindow(int32_t score) {
    if (score > MATE_THRESHOLD) {
        Root.mateStatus |= MateStatus::MATE_FOUND | MateStatus::MATE_REPORTED;
        MarkRootMate();
        Root.alpha = score - 1;
        Root.beta = MATE;
    } else if (score < -MATE_THRESHOLD) {
        Root.mateStatus |= MateStatus::BEING_MATED;
        Root.alpha = -MATE;
        Root.beta = score + 1;
    } else {
        Root.alpha = score - ASPIRATION;
        Root.beta = score + ASPIRATION;
    }
}


void Think(Colour side, int mode) {
    Time.ponderCredit = 0;
    ResetClockBase();
    AllotClock(side);  // the increment field belongs to the side last allotted
    RunSearch(side, mode, Time.movesToGo[side], Time.timeAvailable[side], Time.increment);
    Limits.thinkMode = EngineStateValue::THINKING;
    AllotClock(side);
}

uint8_t RunSearch(Colour side, int mode, int32_t movesToGo, int32_t timeAvailable, int32_t increment) {
    PrepareThink(side, mode);
    Position& pos = SearchPosition();
    Search.iterationDepth = 0;
    if (BeginSearch(pos) != 0) {
        SetStopReason(StopCode::BOOK_MOVE);
    } else {
        PrepareRootMoves(pos);
        Root.alpha = -MATE_THRESHOLD;
        Root.beta = MATE_THRESHOLD;
        if (NoLegalMove() || (Limits.searchType == 0 && Control.engineState != STATE_ANALYSIS))
            SetStopReason(StopCode::NOTHING_TO_SEARCH);
    }
    StartBudget(movesToGo, timeAvailable, increment, Search.iterationDepth);
    // The budget may have lowered the threshold for a short search on a slow machine.
    Search.pruningThreshold = Time.forwardPruning;
    if ((Limits.searchType != 0 || Control.engineState == STATE_ANALYSIS) && Root.multiPV > 1)
        Search.outputStatus |= OutputBit::STARTED;
    // Each thread searches about its share of a node limit before the first clock check.
    if (Limits.nodeLimit != 0)
        Search.pollCountdown = static_cast<int32_t>(std::clamp<uint64_t>(Limits.nodeLimit / SearchThreads(), 1, MAX_COUNTDOWN));
    // The strength limit's node rate is calibrated for one thread, and so is the calibration.
    const bool limited = (Search.searchFlags & OptionFlag::LIMIT_STRENGTH) != 0 && Settings.strengthLimit > 0;
    const bool parallel = Search.stopReason == 0 && mode != EngineStateValue::CALIBRATING && !limited;
    if (parallel) {
        StartHelpers(pos);
        SpaceInputLooks();
    }
    Iterate(pos);
    // The helpers wind down while "bestmove" goes out; none may run past this think.
    if (parallel) AskHelpersToStop();
    const uint8_t reason = FinishThink(side);
    if (parallel) StopHelpers();
    return reason;
}

int32_t TimeCheck(bool keepNodeRate) {
    const int32_t t = ElapsedMs();
    if (t >= Time.deadline) {
        SetStopReason(StopCode::DEADLINE);
        return t;
    }
    if (Search.pollCountdown > 0 && !(Search.outputStatus & OutputBit::STARTED)) return t;
    if (Limits.nodeLimit != 0 && SearchedNodes() >= Limits.nodeLimit) {
        SetStopReason(StopCode::NODE_LIMIT);
        return t;
    }

    const bool gateOpen = SearchedNodes() >= Control.inputGateNodes;
    if (InputPollingActive() && Search.stopReason == 0 && gateOpen && PollInput()) {
        ReadAndDispatch();
        if (Control.stopReason != 0 && Search.stopReason == 0) Search.stopReason = Control.stopReason;
        if (Search.stopReason != 0) return t;
    }

    const int32_t calibrated = ThinkControl.calibratedNodeRate;
    if (!keepNodeRate) {
        // The main search's own rate: it spaces this thread's checks.
        const int64_t rate = static_cast<int64_t>(SearchPosition().nodes * 1000 / (static_cast<uint64_t>(std::max(0, t + Time.ponderCredit)) + 1));
        ThinkControl.nodeRate = static_cast<int32_t>(std::min<int64_t>(rate, INT32_MAX));
        if (ThinkControl.nodeRate < calibrated / 8) ThinkControl.nodeRate = calibrated;
    } else if (calibrated > 0 && ThinkControl.nodeRate > calibrated) {
        ThinkControl.nodeRate = calibrated;
    }

    const bool limited = (Search.searchFlags & OptionFlag::LIMIT_STRENGTH) != 0 && Settings.strengthLimit > 0 &&
                         Control.engineState != EngineStateValue::CALIBRATING;
    if (limited) {
        StrengthWait(t);
        if (Control.stopReason != 0 && Search.stopReason == 0) Search.stopReason = Control.stopReason;
        Search.pollCountdown = std::max(1, Settings.strengthLimit / COUNTDOWN_SLOW_DIVISOR);
        return t;
    }

    const int32_t remaining = Time.deadline - t;
    const int32_t rate = ThinkControl.nodeRate;
    int32_t countdown;
    if (remaining >= SLOW_POLL_MARGIN_MS) {
        const bool briefPonder = Control.engineState == EngineStateValue::PONDERING && Time.target < SLOW_POLL_MARGIN_MS;
        countdown = rate / (briefPonder ? COUNTDOWN_FAST_DIVISOR : COUNTDOWN_SLOW_DIVISOR);
        ++ThinkControl.pollCount;
        if (Printing() && ThinkControl.pollCount >= (Verbose() ? NODES_LINE_POLLS_VERBOSE : NODES_LINE_POLLS))
            PrintNodes();
    } else {
        if (t + ((t + Time.ponderCredit) >> DEADLINE_SAFETY_SHIFT) >= Time.deadline) {
            SetStopReason(StopCode::DEADLINE);
            return t;
        }
        // A fixed share of a second can reach past a deadline only milliseconds away: the next
        // check comes at the latest halfway there at the measured rate.
        countdown = static_cast<int32_t>(std::min<int64_t>(rate / COUNTDOWN_FAST_DIVISOR,
                                                           int64_t{rate} * std::max(remaining, 0) / 2000));
    }
    if (Control.inputGateNodes != 0) countdown = std::min(countdown, static_cast<int32_t>(Control.inputGateNodes));
    Search.pollCountdown = std::clamp(countdown, MIN_COUNTDOWN, MAX_COUNTDOWN);
    if (Limits.nodeLimit != 0) {
        const uint64_t searched = SearchedNodes();
        const uint64_t left = searched < Limits.nodeLimit ? Limits.nodeLimit - searched : 1;
        Search.pollCountdown = static_cast<int32_t>(std::clamp<uint64_t>(left / SearchThreads(), 1, Search.pollCountdown));
    }
    return t;
}

void SearchPoll() {
    const int32_t t = TimeCheck(false);
    if (Search.stopReason != 0 || !Printing() || t <= FIRST_OUTPUT_MS) return;
    if (!(Search.outputStatus & OutputBit::STARTED)) {
        const RootMove& best = Root.list.entries[0];
        if (Root.list.count > 0 && OutputAllowed())
            PrintPv(0, RootLine(best) + 1, Search.boundKind, best.score, Search.iterationDepth, Search.selectiveDepth);
        Search.outputStatus |= OutputBit::STARTED;
    } else if (Search.outputStatus == (OutputBit::STARTED | OutputBit::CURRMOVE_ALLOWED) &&
               (t > CURRMOVE_AFTER_MS || Verbose())) {
        const int32_t index = Root.currentIndex;
        PrintCurrmove(index + 1, RootMoveOf(Root.list.entries[index]));
        Search.outputStatus = OutputBit::STARTED;
    }
}

void Ponderhit(int32_t ponderTime) {
    if (Control.engineState != EngineStateValue::PONDERING) return;  // only a ponder search switches
    Time.ponderCredit = ponderTime;
    Control.engineState = EngineStateValue::THINKING;
    SingleReplyCheck();
    ResetClockBase();
    if (Root.list.count > 0) RootBestMoveChanged(0);
}

void SingleReplyCheck() {
    if (Control.engineState != EngineStateValue::THINKING || Limits.searchType == SearchType::FIXED) return;
    const RootMoveList& list = Root.list;
    bool single = list.count >= 1;
    for (int32_t i = 1; i < list.count && single; ++i) single = list.entries[i].score <= -MATE_THRESHOLD;
    if (single && Search.iterationDepth >= SINGLE_REPLY_DEPTH && ElapsedMs() + Time.ponderCredit > SINGLE_REPLY_MS)
        SetStopReason(StopCode::SINGLE_REPLY);
}

void CalibrationSearch() {
    const GoLimits savedLimits = Limits;
    const EngineSettings saved = Settings;
    Settings.optionFlags = (Settings.optionFlags & OptionFlag::CALIBRATION_KEEP) | OptionFlag::DEFAULT_WORD;
    Settings.threatDepth = CALIBRATION_THREAT_DEPTH;
    Settings.forwardPruning = CALIBRATION_FORWARD_PRUNING;
    Settings.tablebaseDepth = CALIBRATION_TABLEBASE_DEPTH;
    Settings.drawValue = 0;
    Limits.searchType = SearchType::FIXED;
    Limits.depthLimit = MAX_DEPTH;
    Limits.secondDepthLimit = MAX_DEPTH;
    Limits.moveTimeTarget = CALIBRATION_MS;
    Limits.searchMoveCount = 0;

    ResetClockBase();
    RunSearch(WHITE, EngineStateValue::CALIBRATING, 1, CALIBRATION_MS, 0);

    Limits = savedLimits;
    Settings.optionFlags = saved.optionFlags;
    Settings.threatDepth = saved.threatDepth;
    Settings.forwardPruning = saved.forwardPruning;
    Settings.tablebaseDepth = saved.tablebaseDepth;
    Settings.drawValue = saved.drawValue;

    ThinkControl.calibratedNodeRate = ThinkControl.nodeRate;
    Settings.eloMaximum = EloFromNodeRate(ThinkControl.calibratedNodeRate);
    Settings.eloMinimum = EloFromNodeRate(ELO_MINIMUM_RATE);
    Settings.elo = std::clamp(EloFromNodeRate(ELO_DEFAULT_RATE), Settings.eloMinimum, Settings.eloMaximum);
    RootClearTable();
    SearchPosition().nodes = 0;
    Control.engineState = EngineStateValue::IDLE;
    SetStopReason(StopReasonValue::NONE);
}

// ---------------------------------------------------------------- bench

namespace {


}  // namespace

uint64_t SearchFixedDepth(int32_t depth) {
    const int savedState = Control.engineState;
    ThinkControl.silent = true;
    ResetGoLimits();
    Limits.searchType = SearchType::FIXED;
    Limits.depthLimit = std::clamp(depth, 1, MAX_DEPTH);
    ResetClocks();
    PrepareThink(GameBoard.position.sideToMove, EngineStateValue::THINKING);
    Position& pos = SearchPosition();
    Search.iterationDepth = 0;
    BeginSearch(pos);
    PrepareRootMoves(pos);
    Root.alpha = -MATE_THRESHOLD;
    Root.beta = MATE_THRESHOLD;
    if (!NoLegalMove()) {
        StartBudget(0, 0, 0, Search.iterationDepth);
        Search.pruningThreshold = Time.forwardPruning;
        Iterate(pos);
    }
    ThinkControl.silent = false;
    Control.engineState = savedState;
    return pos.nodes;
}

uint64_t Bench(int32_t depth) {
    if (depth < 1) {
        platform::Print("info string bench depth %d is below 1, searching depth 1\n", depth);
        depth = 1;
    } else if (depth > MAX_DEPTH) {
        platform::Print("info string bench depth %d is above %d, searching depth %d\n", depth, MAX_DEPTH, MAX_DEPTH);
        depth = MAX_DEPTH;
    }
    static GameBoardState savedBoard;
    static GameRecordState savedRecord;
    savedBoard = GameBoard;
    savedRecord = GameRecord;
    const GoLimits savedLimits = Limits;
    const uint32_t savedFlags = Settings.optionFlags;
    // A benchmark measures the machine: full speed, no book, whatever the user has set.
    Settings.optionFlags &= ~(OptionFlag::LIMIT_STRENGTH | OptionFlag::OWN_BOOK);

    uint64_t total = 0;
    const uint32_t start = platform::TickCount();
    int index = 0;
    Control.benchRunning = true;
    for (const char* fen : BENCH_POSITIONS) {
        ++index;
        if (ReadFen(fen) != 1) continue;
        RootClearTableFully();
        ClearEvalCache();
        const uint64_t nodes = SearchFixedDepth(depth);
        // "stop", or a command the bench must make way for (it runs once the bench is over).
        const bool stopped = Control.stopReason == StopReasonValue::STOP_COMMAND;
        if (!NoLegalMove()) {
            total += nodes;
            platform::Print("info string bench %d nodes %" PRIu64 "%s\n", index, nodes, stopped ? " stopped" : "");
        }
        if (stopped) break;
    }
    Control.benchRunning = false;
    const uint32_t elapsed = platform::TickCount() - start;
    platform::Print("info string bench depth %d nodes %" PRIu64 " time %u nps %" PRIu64 "\n", depth, total, elapsed,
                    total * 1000 / (static_cast<uint64_t>(elapsed) + 1));
    platform::Print("Nodes searched: %" PRIu64 "\n", total);

    Settings.optionFlags = savedFlags;
    GameBoard = savedBoard;
    GameRecord = savedRecord;
    Limits = savedLimits;
    Search.iterationDepth = 0;
    SetStopReason(StopReasonValue::NONE);
    RootClearTable();
    return total;
}

}  // namespace tavrix
