#include "control/workers.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

#include "board/movegen.h"
#include "board/repetition.h"
#include "control/think.h"
#include "eval/eval_cache.h"
#include "eval/evaluate.h"
#include "platform/platform.h"
#include "search/ordering.h"
#include "search/root.h"
#include "search/search_state.h"
#include "search/ttable.h"
#include "settings/settings.h"

namespace tavrix {

namespace {

// A helper looks at the stop flag this often: well under a millisecond of its search.
constexpr int32_t HELPER_POLL_NODES = 256;
// With more threads than processors the main search, which alone reads "stop" and watches the
// clock, must not wait behind its helpers for a turn on a processor: the helpers then run this
// many nice levels lower. With a processor each, they keep the main search's priority.
constexpr int HELPER_NICE_STEPS = 5;
// A helper's evaluation cache: the main one's size up to this many kilobytes. The main cache
// takes half of "Hash"; a copy of that for every helper would multiply the memory the user set.
constexpr int32_t HELPER_EVAL_CACHE_KB = 16384;

enum class Command : uint8_t { NONE, SEARCH, PREPARE, EXIT };

// What a helper copies of the main search when it starts: written by the main thread only
// while every helper is idle, read by the helpers only while they search.
struct Job {
    Position position;
    SearchState search;
    RootState root;
    EvalState eval;
    OrderingState ordering;
    RepetitionState repetition;
    MoveListState moveLists;
};

struct Worker {
    std::thread thread;
    int id;                               // 1.. for helpers
    Position position;                    // the helper's own board
    std::atomic<uint64_t> nodes{0};       // published at every poll
    uint64_t generation = 0;              // last command taken up
    bool yielding = false;                // runs below the main search's priority
};

struct Pool {
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable done;
    uint64_t generation = 0;
    Command command = Command::NONE;
    int busy = 0;                         // helpers still carrying out the command
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> mainNodes{0};   // the main search's nodes at its last look
    Job* job = nullptr;
    Worker* helpers[MAX_THREADS] = {};
    int helperCount = 0;
};

// Never destroyed: a fatal exit may leave helpers waiting on its condition variables.
Pool& Workers = *new Pool;
// This thread's record when it is a helper.
thread_local Worker* Self = nullptr;

// The main thread waits for the helpers to carry out `command`.
void Order(Command command, bool wait) {
    std::unique_lock<std::mutex> lock(Workers.mutex);
    Workers.command = command;
    Workers.busy = Workers.helperCount;
    ++Workers.generation;
    Workers.wake.notify_all();
    if (wait) Workers.done.wait(lock, [] { return Workers.busy == 0; });
}

void HelperSearch(Worker& w) {
    const Job& job = *Workers.job;
    Search = job.search;
    Root = job.root;
    Eval = job.eval;
    // The pawn cache of this thread holds facts of the tables of an earlier search.
    RenewPawnCache();
    Ordering = job.ordering;
    Repetition = job.repetition;
    MoveLists = job.moveLists;
    Search.helper = true;
    Search.stopReason = StopReasonValue::NONE;
    Search.noPolling = false;
    Search.pollCountdown = HELPER_POLL_NODES;
    Position& pos = w.position;
    pos = job.position;
    pos.nodes = 0;

    // Half the helpers run one ply ahead of the others, so that the table is filled at two
    // depths at once instead of every thread repeating the main search.
    for (int32_t depth = 1 + (w.id & 1); depth <= MAX_DEPTH && Search.stopReason == 0; ++depth) {
        Search.iterationDepth = depth;
        Eval.iterationDepth = depth;
        Root.failLow = 0;
        Search.boundKind = BoundKind::ITERATION;
        const int32_t score = SearchRoot(pos, depth);
        if (Search.stopReason != 0) break;
        SortRootMoves(depth == 1 ? 0 : 1);
        SetRootWindow(score);
    }
    w.nodes.store(pos.nodes, std::memory_order_relaxed);
}

void HelperLoop(Worker* w) {
    Self = w;
    if (w->yielding) platform::LowerThreadPriority(HELPER_NICE_STEPS);
    for (;;) {
        Command command;
        {
            std::unique_lock<std::mutex> lock(Workers.mutex);
            Workers.wake.wait(lock, [w] { return Workers.generation != w->generation; });
            w->generation = Workers.generation;
            command = Workers.command;
        }
        if (command == Command::SEARCH) HelperSearch(*w);
        else if (command == Command::PREPARE) {
            AllocateEvalCache(std::min(TT.evalCacheKb, HELPER_EVAL_CACHE_KB));
            ClearEvalCache();
        }
        {
            std::lock_guard<std::mutex> lock(Workers.mutex);
            if (--Workers.busy == 0) Workers.done.notify_all();
        }
        if (command == Command::EXIT) break;
    }
    FreeEvalCache();
}

}  // namespace

int SearchThreads() { return Workers.helperCount + 1; }

int ResizeWorkers(int threads) {
    threads = std::clamp(threads, 1, MAX_THREADS);
    if (threads - 1 == Workers.helperCount) return SearchThreads();
    // Every helper starts afresh: whether it yields depends on how many there are.
    if (Workers.helperCount > 0) {
        Order(Command::EXIT, true);
        for (int i = 0; i < Workers.helperCount; ++i) {
            Workers.helpers[i]->thread.join();
            delete Workers.helpers[i];
            Workers.helpers[i] = nullptr;
        }
        Workers.helperCount = 0;
    }
    if (Workers.job == nullptr && threads > 1) Workers.job = new (std::nothrow) Job;
    if (Workers.job == nullptr) return SearchThreads();
    while (Workers.helperCount < threads - 1) {
        Worker* w = new (std::nothrow) Worker;
        if (w == nullptr) break;
        w->id = Workers.helperCount + 1;
        w->yielding = static_cast<unsigned>(threads) > std::thread::hardware_concurrency();
        {
            // A new helper has seen every command so far.
            std::lock_guard<std::mutex> lock(Workers.mutex);
            w->generation = Workers.generation;
        }
        w->thread = std::thread(HelperLoop, w);
        Workers.helpers[Workers.helperCount++] = w;
    }
    if (Workers.helperCount == 0) {
        delete Workers.job;
        Workers.job = nullptr;
    }
    PrepareHelpers();
    return SearchThreads();
}

void PrepareHelpers() {
    if (Workers.helperCount > 0) Order(Command::PREPARE, true);
}

void StartHelpers(const Position& pos) {
    if (Workers.helperCount == 0) return;
    Job& job = *Workers.job;
    job.position = pos;
    job.search = Search;
    job.root = Root;
    job.eval = Eval;
    job.ordering = Ordering;
    job.repetition = Repetition;
    job.moveLists = MoveLists;
    Workers.stop.store(false, std::memory_order_relaxed);
    Order(Command::SEARCH, false);
}

void AskHelpersToStop() { Workers.stop.store(true, std::memory_order_relaxed); }

void StopHelpers() {
    if (Workers.helperCount == 0) return;
    AskHelpersToStop();
    std::unique_lock<std::mutex> lock(Workers.mutex);
    Workers.done.wait(lock, [] { return Workers.busy == 0; });
}

uint64_t HelperNodes() {
    uint64_t sum = 0;
    for (int i = 0; i < Workers.helperCount; ++i) sum += Workers.helpers[i]->nodes.load(std::memory_order_relaxed);
    return sum;
}

void PublishMainNodes(uint64_t nodes) { Workers.mainNodes.store(nodes, std::memory_order_relaxed); }

void ResetHelperNodes() {
    Workers.mainNodes.store(0, std::memory_order_relaxed);
    for (int i = 0; i < Workers.helperCount; ++i) Workers.helpers[i]->nodes.store(0, std::memory_order_relaxed);
}

void HelperPoll() {
    Self->nodes.store(Self->position.nodes, std::memory_order_relaxed);
    if (Workers.stop.load(std::memory_order_relaxed)) Search.stopReason = StopCode::STOP_COMMAND;
    // A node limit binds the helpers too: the main search may wait for a processor meanwhile.
    if (Limits.nodeLimit != 0 && Workers.mainNodes.load(std::memory_order_relaxed) + HelperNodes() >= Limits.nodeLimit)
        Search.stopReason = StopCode::NODE_LIMIT;
    Search.pollCountdown = HELPER_POLL_NODES;
}

}  // namespace tavrix
