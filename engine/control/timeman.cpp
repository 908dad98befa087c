#include "control/timeman.h"

#include <algorithm>

#include "control/engine.h"
#include "control/game_record.h"
#include "control/output.h"
#include "control/setup.h"
#include "control/think.h"
#include "control/uci.h"
#include "eval/evaluate.h"
#include "platform/platform.h"
#include "search/search_state.h"

namespace tavrix {

TimeState Time;

namespace {

constexpr int32_t REGULAR_LAG = 1500;         // held back from the clock for the GUI's delays
constexpr int32_t NO_INCREMENT_LAG = 8000;    // with "GUI Time Lag" and no increment
constexpr int32_t MIN_BUDGET = 60;
constexpr int32_t MAX_BUDGET_MOVES = 30;
constexpr int32_t SHORT_SEARCH = 1500000;     // below this target pruning may be lowered
constexpr int32_t PRUNING_STEP = 16;          // one step of "Forward Pruning"
constexpr int32_t SLOW_RATE = 256;
constexpr int64_t SMALL_SEARCH = 192000;      // (rate / 256) x (target / 256)
constexpr int ANCHOR_BONUS_PLIES = 5;
constexpr int32_t EASY_MARGIN = 96;
constexpr int32_t EASY_RATIO_BASE = 68;
constexpr int32_t EASY_RISE = 64;
constexpr int32_t MIN_RATIO = 16;
constexpr int32_t MATED_SCORE = -7800;
constexpr int32_t FAIL_LOW_KIND = 2;
constexpr int32_t EXACT_KIND = 3;
constexpr int32_t FAIL_LOW_EXTENSION = 8;     // times the target
constexpr int32_t FAIL_LOW_PENALTY = 32;
constexpr int32_t REAL_DROP = -4;
constexpr int ANALYSIS_STATE = 5;
constexpr uint8_t SEARCH_TYPE_ONE = 1;
constexpr uint8_t SEARCH_TYPE_TWO = 2;
constexpr int DEPTH_SHIFT = 10;
constexpr int32_t DEPTH_FIELD_MAX = 63;

constexpr int32_t ClampToInt32(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

bool OptionOn(uint32_t flag) { return (Settings.optionFlags & flag) != 0; }

// Moves a side has played in the game record.
int32_t MovesPlayed(int side) { return (GameRecord.plyOffset + GameRecord.length - side) / 2; }


}  // namespace

void ResetTimeState() {
    Time = TimeState{};
    for (TimePeriod& p : Time.periods) p.count = PeriodCount::UNUSED;
    Time.target = UNLIMITED_TARGET;
    Time.maximum = UNLIMITED_MAXIMUM;
    Time.deadline = NO_DEADLINE;
    Time.softLimit = NO_SOFT_LIMIT;
    Time.runningFactor = INITIAL_RUNNING_FACTOR;
    Time.previousSearchScore = NO_PREVIOUS_SCORE;
    ResetClockBase();
}

// ---------------------------------------------------------------- clock

int32_t ElapsedMs() { return ElapsedBetween(Time.baseTicks, platform::TickCount()); }

void ResetClockBase() {
    Time.baseTicks = platform::TickCount();
    Time.baseProcessorMs = platform::ProcessorClockMs();
}

void ResetClocks() {
    AllotClock(WHITE);
    AllotClock(BLACK);
    ResetClockBase();
}

void ClearTimeControl() {
    for (TimePeriod& p : Time.periods) p = TimePeriod{0, 0, 0, PeriodCount::UNUSED};
}

// The latest entry a side made holds its cumulative time; entry 0 stands before the game.
int32_t SideClock(int side) {
    const int32_t last = GameRecord.length;
    if (last < 1) return 0;
    return GameRecord.entries[last].mover == side ? GameRecord.entries[last].clockTime
                                                  : GameRecord.entries[last - 1].clockTime;
}

// ---------------------------------------------------------------- time control

void SetTimeControl(int32_t movesToGo, int32_t time, int32_t increment) {
    // A negative count is as good as none.
    if (movesToGo < 0) movesToGo = 0;
    TimePeriod& rest = Time.periods[1];
    rest.time = time;
    rest.increment = increment;
    if (movesToGo == 0) {
        rest.moves = DEFAULT_MOVES_TO_GO;
        rest.count = PeriodCount::REST_OF_GAME;
    } else {
        rest.moves = static_cast<uint16_t>(std::min<int32_t>(movesToGo, UINT16_MAX));
        rest.count = PeriodCount::REPEATS;
    }

    // The game so far counts as one finished period; both clocks start it even.
    const int side = GameBoard.position.sideToMove;
    const int32_t last = GameRecord.length;
    const int32_t played = std::max(SideClock(WHITE), SideClock(BLACK));
    TimePeriod& past = Time.periods[0];
    past.moves = static_cast<uint16_t>(std::max(MovesPlayed(side), 0));
    past.time = played;
    past.increment = 0;
    past.count = 1;
    if (last >= 1) {
        GameRecord.entries[last].clockTime = played;
        GameRecord.entries[last - 1].clockTime = played;
    }

    Time.periods[2].count = PeriodCount::UNUSED;
    Limits.searchType = SearchType::TIMED;
    ResetClocks();
}

void AllotClock(int side) {
    if (Limits.searchType != SearchType::TIMED) return;
    int64_t m = std::max(MovesPlayed(side), 0);
    int64_t used = SideClock(side);
    for (int i = 0; i < TIME_PERIODS; ++i) {
        const TimePeriod& p = Time.periods[i];
        if (p.count == PeriodCount::UNUSED) continue;
        if (p.count > 0 && m >= int64_t{p.moves} * p.count) {
            m -= int64_t{p.moves} * p.count;
            used -= (int64_t{p.time} + int64_t{p.increment} * p.moves) * p.count;
            continue;
        }
        if (p.count == PeriodCount::REST_OF_GAME) {
            Time.timeAvailable[side] = ClampToInt32(p.time + int64_t{p.increment} * m - used);
            Time.movesToGo[side] = DEFAULT_MOVES_TO_GO;
            Time.increment = p.increment;
            Time.lookAheadMoves[side] = Time.movesToGo[side];
            Time.lookAheadTime[side] = Time.timeAvailable[side];
            return;
        }
        // A repeating period, or the counted period the side is in; the game so far is never
        // the current one (the side behind by a move lands there).
        const int current = (i == 0 && p.count > 0) ? 1 : i;
        const TimePeriod& c = Time.periods[current];
        if (c.moves == 0) return;  // nothing to divide the time over
        const int64_t q = m / c.moves;
        const int64_t r = m % c.moves;
        Time.movesToGo[side] = ClampToInt32(c.moves - r);
        Time.timeAvailable[side] = ClampToInt32((q + 1) * c.time + int64_t{c.increment} * m - used);
        Time.increment = c.increment;
        // Up to the end of the next period: another round of this one, or the period after it.
        const TimePeriod* next = &c;
        if (current < TIME_PERIODS - 1 && Time.periods[current + 1].count != PeriodCount::UNUSED &&
            m >= int64_t{c.moves} * (c.count - 1))
            next = &Time.periods[current + 1];
        Time.lookAheadMoves[side] = ClampToInt32(c.moves - r + next->moves);
        Time.lookAheadTime[side] = ClampToInt32(int64_t{Time.timeAvailable[side]} + next->time);
        return;
    }
}

// ---------------------------------------------------------------- budget

void StartBudget(int32_t movesToGo, int32_t timeAvailable, int32_t increment, int32_t depth) {
    Time.ponderCredit = 0;
    Time.extension = 0;
    Time.softLimit = NO_SOFT_LIMIT;
    Time.forwardPruning = Settings.forwardPruning;
    Time.runningFactor = INITIAL_RUNNING_FACTOR;
    Time.lastIterationNodes = 0;
    Time.previousIterationNodes = 0;
    Time.bestMoveChanges = 0;
    Time.failLow = false;

    if (Control.engineState == ANALYSIS_STATE || Limits.searchType == SearchType::FIXED) {
        Time.target = UNLIMITED_TARGET;
        Time.maximum = UNLIMITED_MAXIMUM;
    } else if (Limits.searchType == SearchType::TIMED) {
        const int32_t b = std::max(movesToGo, 1);
        const int64_t c = timeAvailable - (timeAvailable >> 4);
        int64_t a = c - REGULAR_LAG;
        if (increment == 0 && OptionOn(OptionFlag::GUI_TIME_LAG)) a = c - NO_INCREMENT_LAG;
        // The floor keeps a move from being played blind, but never spends more than half of
        // what is left: the increment only arrives after the move, and a clock of a few
        // hundred milliseconds cannot pay 60 of them move after move.
        if (a <= MIN_BUDGET) a = std::max<int64_t>(1, std::min<int64_t>(MIN_BUDGET, c / 2));
        const int64_t d = increment - increment / 16;
        const int64_t total = a + d * (b - 1);
        int64_t target = total / std::min(b, MAX_BUDGET_MOVES);
        // The first moves after the book (or of the game) get more time.
        const int32_t pastAnchor = GameRecord.length - ThinkControl.learningAnchor;
        if (pastAnchor >= 1 && pastAnchor <= ANCHOR_BONUS_PLIES)
            target += (ANCHOR_BONUS_PLIES + 1 - pastAnchor) * target / 16;
        if (OptionOn(OptionFlag::PONDER)) target += target / 4;
        target = std::min(target, a);
        Time.target = ClampToInt32(target);
        Time.softLimit = ClampToInt32(target * 6 / 10);
        Time.maximum = ClampToInt32(std::min(a, std::max(target, total / 2)));
    } else if (Limits.searchType == SEARCH_TYPE_TWO) {
        const int32_t c = timeAvailable - timeAvailable / 8;
        Time.target = c;
        Time.maximum = ClampToInt32(int64_t{8} * c);
    }

    // Short searches on slow machines prune a step more.
    if (!OptionOn(OptionFlag::STEADY_SEARCH) && Time.target < SHORT_SEARCH && Time.forwardPruning >= PRUNING_STEP) {
        const int32_t rate = ThinkControl.calibratedNodeRate;
        if (rate < SLOW_RATE || Time.target < SLOW_RATE ||
            int64_t{rate / SLOW_RATE} * (Time.target / SLOW_RATE) < SMALL_SEARCH)
            Time.forwardPruning -= PRUNING_STEP;
    }

    Search.pollCountdown = 0;
    ThinkControl.pollCount = 0;
    UpdateDeadline(depth);
}

void UpdateDeadline(int32_t depth) {
    if (Control.engineState == EngineStateValue::THINKING) {
        if (depth > Limits.depthLimit) {
            SetStopReason(StopCode::DEPTH_LIMIT);
        } else {
            const int64_t budget = int64_t{Time.target} + Time.extension - Time.ponderCredit;
            Time.deadline = ClampToInt32(std::min({budget, int64_t{Time.maximum}, int64_t{Limits.moveTimeTarget}}));
        }
    } else if (Control.engineState == EngineStateValue::CALIBRATING) {
        Time.deadline = Limits.moveTimeTarget;
    } else {
        Time.deadline = NO_DEADLINE;
    }
    TimeCheck(false);
}

void RecordIterationNodes(uint64_t nodes) {
    Time.previousIterationNodes = Time.lastIterationNodes;
    Time.lastIterationNodes = nodes;
}

namespace {

// The best move takes back, with a piece of equal value, what the opponent's last move took.
bool IsEvenRecapture(Move best, const Position& root) {
    const GameEntry& last = GameRecord.entries[GameRecord.length];
    if (GameRecord.length <= FIRST_ENTRY || last.mover == root.sideToMove) return false;
    const int to = MoveTo(last.move);
    if (MoveTo(best) != to || last.capturedType == NO_PIECE) return false;
    return PieceValue[root.pieceType[to]] == PieceValue[last.capturedType];
}

int32_t GamePhaseWeight(const Position& root) {
    UpdatePhase(root);
    return Eval.gamePhase;
}

int32_t SecondBestScore(const RootMoveList& list) {
    return list.count > 1 ? list.entries[1].score : -MATE;
}

}  // namespace

bool IterationGate(int32_t& depth, const RootMoveList& list, int32_t score, const Position& root) {
    const int64_t ratio64 = static_cast<int64_t>(Time.lastIterationNodes * 100 / (Time.previousIterationNodes + 1));
    int32_t ratio = ClampToInt32(ratio64);

    ++depth;
    if (depth > Limits.depthLimit) {
        const bool stop = Control.engineState == EngineStateValue::THINKING ||
                          Limits.searchType == SEARCH_TYPE_ONE || depth > MAX_DEPTH;
        if (stop) {
            --depth;
            return false;
        }
    }
    if (depth == 1) {
        Time.scoreChange = 0;
        Time.lastScore = score;
        Time.bestMoveChanges = 0;
        return true;
    }

    const int32_t best = list.entries[0].score;
    if (Time.completedIterations == depth - 1 && Time.easyMove && !Time.failLow &&
        best > SecondBestScore(list) + EASY_MARGIN) {
        Time.extension = -Time.target / 2;
        const Move bestMove = RootMoveOf(list.entries[0]);
        if (IsEvenRecapture(bestMove, root)) Time.extension -= Time.target / 4;
        if (ratio >= GamePhaseWeight(root) + EASY_RATIO_BASE) Time.extension -= Time.target / 4;
        if (Time.previousSearchScore != NO_PREVIOUS_SCORE && best > Time.previousSearchScore + EASY_RISE)
            Time.extension /= 2;
    }

    const int32_t t = ElapsedMs() + Time.ponderCredit;
    ratio = std::max(ratio, MIN_RATIO);
    Time.runningFactor = ClampToInt32((int64_t{Time.runningFactor} + ratio) / 2);
    Time.scoreChange = score - Time.lastScore;
    Time.lastScore = score;

    // A reason already set is kept: it tells the controller why the search ended.
    if (Control.stopReason != StopReasonValue::NONE) {
        --depth;
        return false;
    }
    if (Control.engineState == EngineStateValue::THINKING) {
        const int64_t budget = int64_t{Time.target} + Time.extension;
        bool stop = t > budget;
        if (!stop && t > Time.softLimit && !Time.failLow && Time.bestMoveChanges == 0)
            stop = t + int64_t{2} * t * Time.runningFactor / 100 > budget;
        if (stop) {
            SetStopReason(StopCode::GATE);
            --depth;
            return false;
        }
    }
    UpdateDeadline(depth);
    Time.bestMoveChanges = 0;
    return true;
}

int BestMoveChanged(RootMoveList& list, int index, int32_t depth, int32_t boundKind, bool beingMated) {
    if (index != 0) {
        index = RaiseRootMove(list, index);
        ++Time.bestMoveChanges;
        Time.completedIterations = 0;
    }

    const int32_t s = list.entries[0].score;
    if (s <= MATED_SCORE && !beingMated) {
        Time.extension = Time.maximum;
    } else if (boundKind == EXACT_KIND) {
        // an exact result at the start of an iteration moves nothing
    } else if (boundKind <= FAIL_LOW_KIND) {
        Time.extension = ClampToInt32(int64_t{FAIL_LOW_EXTENSION} * Time.target);
    } else {
        int32_t drop = s - Time.lastScore;
        if (Time.scoreChange < 0) drop += Time.scoreChange;
        if (Time.failLow) drop -= FAIL_LOW_PENALTY;
        if (drop <= REAL_DROP) {
            const int32_t k = std::min((8 * Time.bestMoveChanges - drop) / 8, DROP_EXTENSION_SIZE - 1);
            Time.extension = ClampToInt32(int64_t{DropExtension[k]} * (Time.target / 16));
        } else if (Time.extension > 0 || Time.bestMoveChanges != 0) {
            Time.extension = 0;
        }
    }

    UpdateDeadline(depth);
    if ((Search.searchFlags & OptionFlag::OUTPUT_LEVEL) != 0 && (Search.outputStatus & OutputBit::STARTED) &&
        OutputAllowed())
        PrintRootPv();
    (void)boundKind;
    return index;
}

// ---------------------------------------------------------------- game record clock

void BookMove(int32_t score, int32_t depth, uint16_t flags) {
    const int32_t elapsed = ElapsedMs();
    const int32_t n = GameRecord.length;
    GameEntry& entry = GameRecord.entries[n];
    const int32_t before = n >= 2 ? GameRecord.entries[n - 2].clockTime : 0;
    entry.clockTime = ClampToInt32(int64_t{before} + elapsed);
    entry.flags = flags;
    if (score == NO_SCORE) {
        entry.score = static_cast<int16_t>(n >= 1 ? -GameRecord.entries[n - 1].score : 0);
        depth = 1;
    } else {
        entry.score = static_cast<int16_t>(score);
    }
    entry.depthWord = static_cast<uint16_t>(std::clamp(depth, 0, DEPTH_FIELD_MAX) << DEPTH_SHIFT);
    AllotClock(entry.mover);
    Time.nodeTotal[entry.mover & 1] += SearchedNodes();
    ResetClockBase();
}

// ---------------------------------------------------------------- strength limit

int32_t StrengthWait(int32_t t) {
    const int32_t limit = Settings.strengthLimit;
    if (limit <= 0) return t;
    // The nodes of the next countdown are paid for before they are searched, so the measured
    // rate never runs ahead of the limit, not even just before the next check.
    const uint64_t batch = static_cast<uint64_t>(std::max(limit / 8, 1));
    const int64_t due = static_cast<int64_t>((SearchedNodes() + batch) * 1000 / static_cast<uint64_t>(limit));
    const int64_t wait = due - Time.ponderCredit - t - 1;
    if (wait > 0) {
        const int64_t until = t + wait;
        const int32_t slice = ClampToInt32(std::max<int64_t>(wait / 8, 1));
        for (;;) {
            const int32_t now = ElapsedMs();
            if (now >= Time.deadline) {
                SetStopReason(StopCode::DEADLINE);
                break;
            }
            if (Control.stopReason != StopReasonValue::NONE || now >= until) break;
            platform::SleepMs(ClampToInt32(std::min<int64_t>(slice, until - now)));
            if (InputPollingActive() && PollInput()) ReadAndDispatch();
        }
    }
    Search.pollCountdown = std::max(limit / 8, 1);
    return ElapsedMs();
}

}  // namespace tavrix
