// Temporary until think-time lands; removed at merge.
#include <algorithm>

#include "control/engine.h"
#include "control/game_record.h"
#include "control/output.h"
#include "control/think.h"
#include "control/timeman.h"
#include "control/uci.h"
#include "platform/platform.h"
#include "search/root.h"
#include "search/search_state.h"

namespace tavrix {

TimeState Time;

namespace {
constexpr int32_t DropExtension[64] = {2,   5,   8,   11,  15,  20,  26,  32,  37,  42,  47,  52,  56,
                                       60,  64,  68,  72,  75,  78,  81,  84,  87,  90,  93,  96,  99,
                                       101, 103, 105, 107, 108, 109, 110, 111, 112, 113, 114, 115, 115,
                                       116, 116, 117, 117, 118, 118, 119, 119, 120, 120, 121, 121, 122,
                                       122, 123, 123, 124, 124, 125, 125, 126, 126, 127, 127, 128};
int32_t clockMovesToGo = 0;
int32_t clockTime = 0;
int32_t clockIncrement = 0;
bool clockSet = false;
}  // namespace

void ResetTimeState() {
    Time = TimeState{};
    Time.runningFactor = INITIAL_RUNNING_FACTOR;
    Time.deadline = NO_TIME_LIMIT;
    clockSet = false;
}

int32_t ElapsedTime() { return static_cast<int32_t>(platform::TickCount() - Time.clockBase); }
void ResetClockBase() { Time.clockBase = platform::TickCount(); }

void ResetClocks() {
    AllotClock(WHITE);
    AllotClock(BLACK);
    ResetClockBase();
}

void SetTimeControl(int32_t movesToGo, int32_t time, int32_t increment) {
    clockMovesToGo = movesToGo;
    clockTime = time;
    clockIncrement = increment;
    clockSet = true;
    Limits.searchType = SearchType::TIMED;
    ResetClockBase();
}

void AllotClock(Colour side) {
    if (Limits.searchType != SearchType::TIMED || !clockSet) return;
    Time.movesToGo[side] = clockMovesToGo > 0 ? clockMovesToGo : DEFAULT_MOVES_TO_GO;
    Time.timeAvailable[side] = clockTime;
    Time.increment[side] = clockIncrement;
}

void StartBudget(int32_t b, int32_t c, int32_t d) {
    Time.ponderCredit = 0;
    Time.extension = 0;
    Time.softLimit = NO_SOFT_LIMIT;
    Time.forwardPruning = Settings.forwardPruning;
    Time.runningFactor = INITIAL_RUNNING_FACTOR;
    Time.iterationNodes[0] = Time.iterationNodes[1] = 0;
    Time.bestMoveChanges = 0;
    if (Limits.searchType == SearchType::TIMED && Control.engineState != 5) {
        c -= c >> 4;
        int32_t a = c - 1500;
        if (d == 0 && (Settings.optionFlags & OptionFlag::GUI_TIME_LAG)) a = c - 8000;
        if (a <= 60) a = 60;
        d -= d >> 4;
        if (b < 1) b = DEFAULT_MOVES_TO_GO;
        const int32_t total = a + d * (b - 1);
        int32_t target = total / std::min(b, DEFAULT_MOVES_TO_GO);
        if (Settings.optionFlags & OptionFlag::PONDER) target += target / 4;
        target = std::min(target, a);
        Time.target = target;
        Time.softLimit = target * 6 / 10;
        Time.maximum = std::min(a, std::max(target, total / 2));
    } else {
        Time.target = UNLIMITED_TARGET;
        Time.maximum = UNLIMITED_MAXIMUM;
    }
    Search.pollCountdown = 0;
    ThinkControl.pollCount = 0;
    UpdateDeadline();
}

void UpdateDeadline() {
    if (Control.engineState == EngineStateValue::THINKING) {
        if (Search.iterationDepth > Limits.depthLimit) SetStopReason(StopCode::DEPTH_LIMIT);
        else
            Time.deadline = std::min({Time.target + Time.extension - Time.ponderCredit, Time.maximum,
                                      Limits.moveTimeTarget});
    } else if (Control.engineState == EngineStateValue::CALIBRATING) {
        Time.deadline = Limits.moveTimeTarget;
    } else {
        Time.deadline = PONDER_DEADLINE;
    }
    TimeCheck(true);
}

bool IterationGate() {
    const uint64_t ratio = Time.iterationNodes[0] * 100 / (Time.iterationNodes[1] + 1);
    int32_t& depth = Search.iterationDepth;
    ++depth;
    if (depth > Limits.depthLimit) {
        if (Control.engineState == EngineStateValue::THINKING || depth > MAX_DEPTH) {
            --depth;
            return false;
        }
    }
    if (depth == 1) {
        Time.scoreChange = 0;
        Time.lastScore = ThinkControl.bestScore;
        Time.bestMoveChanges = 0;
        return true;
    }
    const int32_t t = ElapsedTime() + Time.ponderCredit;
    Time.runningFactor = (Time.runningFactor + static_cast<int32_t>(std::max<uint64_t>(ratio, 16))) / 2;
    Time.scoreChange = ThinkControl.bestScore - Time.lastScore;
    Time.lastScore = ThinkControl.bestScore;
    if (Search.stopReason != 0) {
        --depth;
        SetStopReason(StopCode::GATE);
        return false;
    }
    if (Control.engineState == EngineStateValue::THINKING) {
        const int32_t limit = Time.target + Time.extension;
        bool stop = t > limit;
        if (!stop && t > Time.softLimit && Root.failLow == 0 && Time.bestMoveChanges == 0)
            stop = t + 2 * t * Time.runningFactor / 100 > limit;
        if (stop) {
            --depth;
            SetStopReason(StopCode::GATE);
            return false;
        }
    }
    UpdateDeadline();
    Time.bestMoveChanges = 0;
    return Search.stopReason == 0;
}

int32_t BestMoveChanged(int32_t index) {
    RootMove* entries = Root.list.entries;
    if (index != 0) {
        const int32_t limit = std::min<int32_t>(index, Root.multiPV - 1);
        int32_t to = limit;
        for (int32_t i = 0; i < limit; ++i)
            if (entries[i].score < entries[index].score) {
                to = i;
                break;
            }
        const RootMove moved = entries[index];
        for (int32_t i = index; i > to; --i) entries[i] = entries[i - 1];
        entries[to] = moved;
        index = to;
        ++Time.bestMoveChanges;
        ThinkControl.completedIterations = 0;
    }
    const int32_t s = entries[0].score;
    if (s <= -7800 && !(Root.mateStatus & MateStatus::BEING_MATED)) {
        Time.extension = Time.maximum;
    } else if (Search.boundKind == BoundKind::ITERATION) {
    } else if (Search.boundKind <= BoundKind::FAIL_LOW) {
        Time.extension = 8 * Time.target;
    } else {
        int32_t drop = s - Time.lastScore + std::min(Time.scoreChange, 0);
        if (Root.failLow) drop -= 32;
        if (drop <= -4) {
            const int32_t k = std::min((8 * Time.bestMoveChanges - drop) / 8, 63);
            Time.extension = DropExtension[k] * (Time.target / 16);
        } else if (Time.extension > 0 || Time.bestMoveChanges > 0) {
            Time.extension = 0;
        }
    }
    UpdateDeadline();
    if ((Search.searchFlags & OptionFlag::OUTPUT_LEVEL) != 0 && (Search.outputStatus & OutputBit::STARTED) &&
        OutputAllowed())
        PrintRootPv();
    return index;
}

void BookMove(int32_t score, int32_t depth, uint16_t flags) {
    GameEntry& e = GameRecord.entries[GameRecord.length];
    const int32_t before = GameRecord.length >= 3 ? GameRecord.entries[GameRecord.length - 2].clockTime : 0;
    e.clockTime = before + ElapsedTime();
    e.score = static_cast<int16_t>(score);
    e.depthWord = static_cast<uint16_t>(depth << 10);
    e.flags = flags;
    ResetClockBase();
}

void StrengthLimitWait(int32_t t) {
    const int32_t limit = Settings.strengthLimit;
    // The nodes of the next countdown are paid for before they are searched, so the rate never
    // runs ahead of the limit, not even for the moment before the next check.
    const uint64_t batch = static_cast<uint64_t>(std::max(1, limit / 8));
    const int64_t due = static_cast<int64_t>((Search.nodes + batch) * 1000 / static_cast<uint64_t>(limit));
    const int32_t wait = static_cast<int32_t>(due - Time.ponderCredit - t - 1);
    if (wait <= 0) return;
    const int32_t until = t + wait;
    const int32_t slice = std::max(1, wait / 8);
    for (;;) {
        const int32_t now = ElapsedTime();
        if (now >= until) return;
        if (now >= Time.deadline) {
            SetStopReason(StopCode::DEADLINE);
            return;
        }
        platform::SleepMs(std::min(slice, until - now));
        if (InputPollingActive() && PollInput()) {
            ReadAndDispatch();
            if (Control.stopReason != 0 && Search.stopReason == 0) Search.stopReason = Control.stopReason;
        }
        if (Search.stopReason != 0) return;
    }
}

}  // namespace tavrix
