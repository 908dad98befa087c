// Search speed: nodes per second of the iterative-deepening driver over a fixed set of
// positions at a fixed depth, each searched from a cleared table.
// Usage: search_bench [depth]
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "control/setup.h"
#include "control/think.h"
#include "search/search.h"
#include "search/search_state.h"
#include "board/movegen.h"
#include "search/ordering.h"
#include "search/repetition.h"
#include "search/ttable.h"

using namespace tavrix;

namespace {

constexpr int32_t DEFAULT_DEPTH = 8;
constexpr int32_t BENCH_HASH_KB = 16384;


}  // namespace

namespace tavrix {
void ResetEvalState();
}

int main(int argc, char** argv) {
    const int32_t depth = argc > 1 ? std::atoi(argv[1]) : DEFAULT_DEPTH;
    ResetSearchState();
    ResetEvalState();
    ResetRepetitionState();
    ResetOrderingState();
    ResetMoveLists();
    ResetTTState();
    if (ResizeHashTable(BENCH_HASH_KB) == 0) {
        std::fprintf(stderr, "no table\n");
        return 1;
    }
    static Position board;
    uint64_t totalNodes = 0;
    double totalSeconds = 0;
    std::printf("%-4s %10s %9s %8s %6s  %s\n", "#", "nodes", "ms", "knps", "score", "fen");
    int index = 0;
    for (const char* fen : BENCH_POSITIONS) {
        ClearHashTable();
        if (ReadFen(fen) != 1) continue;
        board = GameBoard.position;
        const auto start = std::chrono::steady_clock::now();
        const DriverResult r = SearchToDepth(board, depth);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        totalNodes += r.nodes;
        totalSeconds += seconds;
        std::printf("%-4d %10llu %9.1f %8.0f %6d  %s\n", ++index, static_cast<unsigned long long>(r.nodes),
                    seconds * 1000, r.nodes / seconds / 1000, r.score, fen);
    }
    std::printf("depth %d: %llu nodes in %.2f s, %.0f nodes per second\n", depth,
                static_cast<unsigned long long>(totalNodes), totalSeconds, totalNodes / totalSeconds);
    FreeHashTable();
    return 0;
}
