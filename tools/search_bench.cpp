// Search speed: nodes per second of the iterative-deepening driver over a fixed set of
// positions at a fixed depth, each searched from a cleared table.
// Usage: search_bench [depth]
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "control/setup.h"
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

constexpr const char* POSITIONS[] = {
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
    "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
    "r2q1rk1/pP1p2pp/Q4n2/bbp1p3/Np6/1B3NBn/pPPP1PPP/R3K2R b KQ - 0 1",
    "rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ - 1 8",
    "r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - - 0 10",
    "r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP2BPPP/R2QKB1R w KQ - 0 8",
    "2r2rk1/1bqnbppp/p2ppn2/1p6/3NP3/1BN1BP2/PPPQ2PP/2KR3R w - - 0 13",
    "6k1/5ppp/8/8/8/8/q4PPP/1Q4K1 w - - 0 1",
    "8/8/1p1k4/1P1p4/3K4/8/8/8 w - - 0 1",
};

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
    for (const char* fen : POSITIONS) {
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
