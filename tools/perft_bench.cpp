// Perft benchmark: runs every position of a perft suite to its deepest published depth (or a
// given cap), prints each difference from the published counts with its reason when it is an
// intended one, and reports leaf nodes per second.
//
//   perft_bench [suite.epd] [--max-depth N] [--speed-only]
#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "board/movegen.h"
#include "board/perft.h"
#include "control/setup.h"
#include "search/search_state.h"

using namespace tavrix;

namespace {

struct Entry {
    std::string fen;
    std::vector<uint64_t> counts;
};

std::vector<Entry> Load(const char* path) {
    std::vector<Entry> suite;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const size_t cut = line.find(';');
        if (cut == std::string::npos) continue;
        Entry e{line.substr(0, cut), {}};
        std::istringstream rest(line.substr(cut));
        std::string tag;
        uint64_t n;
        while (rest >> tag >> n) e.counts.push_back(n);
        suite.push_back(e);
    }
    return suite;
}

// Why a position may count fewer leaves: the promotion set offers no under-promotion to a kind
// the side already has three of, so a side that can reach a fourth one loses those moves.
std::string IntendedReason(const Position& p) {
    static const char* names[] = {"", "", "knight", "bishop", "rook"};
    std::string reason;
    for (int c = WHITE; c <= BLACK; ++c) {
        const int pawns = __builtin_popcount(p.pawnSlots[c]);
        if (pawns == 0) continue;
        const SlotMask kinds[] = {0, 0, p.knightSlots[c], p.bishopSlots[c], p.rookSlots[c]};
        for (int t = KNIGHT; t <= ROOK; ++t)
            if (__builtin_popcount(kinds[t]) + pawns >= 4)
                reason += std::string(reason.empty() ? "" : "; ") + (c == WHITE ? "White" : "Black") +
                          " can promote to a fourth " + names[t];
    }
    return reason;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void Speed(const Entry& e, int depth, const char* label) {
    ResetGameBoard();
    ResetMoveLists();
    if (ReadFen(e.fen.c_str()) != 1) return;
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpuStart = std::clock();
    const uint64_t n = Perft(GameBoard.position, depth);
    const double s = Seconds(start);
    const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    // Processor time as well: on a shared machine the wall clock undercounts the speed.
    std::printf("speed  %-16s depth %d: %llu leaves, %.2f s wall = %.0f leaves/s, %.2f s cpu = %.0f leaves/s%s\n",
                label, depth, static_cast<unsigned long long>(n), s, s > 0 ? n / s : 0.0, cpu, cpu > 0 ? n / cpu : 0.0,
                depth <= static_cast<int>(e.counts.size()) && n == e.counts[depth - 1] ? "" : "  (COUNT DIFFERS)");
}

}  // namespace

int main(int argc, char** argv) {
#ifdef TAVRIX_TEST_DATA
    const char* path = TAVRIX_TEST_DATA "/perftsuite.epd";
#else
    const char* path = "tests/data/perftsuite.epd";
#endif
    int maxDepth = 99;
    bool speedOnly = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--max-depth") == 0 && i + 1 < argc)
            maxDepth = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--speed-only") == 0)
            speedOnly = true;
        else
            path = argv[i];
    }
    ResetSearchState();
    const std::vector<Entry> suite = Load(path);
    if (suite.size() < 2) {
        std::printf("cannot read a suite from %s\n", path);
        return 1;
    }
    Speed(suite[0], 6, "start position");
    Speed(suite[1], 5, "position 2");
    if (speedOnly) return 0;

    int unexpected = 0, intended = 0;
    uint64_t leaves = 0;
    const auto start = std::chrono::steady_clock::now();
    for (size_t i = 0; i < suite.size(); ++i) {
        const Entry& e = suite[i];
        ResetGameBoard();
        ResetMoveLists();
        if (ReadFen(e.fen.c_str()) != 1) {
            std::printf("%3zu  refused FEN: %s\n", i + 1, e.fen.c_str());
            ++unexpected;
            continue;
        }
        const int depth = std::min(static_cast<int>(e.counts.size()), maxDepth);
        const uint64_t n = Perft(GameBoard.position, depth);
        leaves += n;
        if (n == e.counts[depth - 1]) continue;
        const std::string reason = IntendedReason(GameBoard.position);
        std::printf("%3zu  depth %d: %llu, published %llu  %s  [%s]\n", i + 1, depth, static_cast<unsigned long long>(n),
                    static_cast<unsigned long long>(e.counts[depth - 1]), e.fen.c_str(),
                    reason.empty() ? "UNEXPECTED" : reason.c_str());
        ++(reason.empty() ? unexpected : intended);
    }
    const double s = Seconds(start);
    std::printf("suite: %zu positions, %d intended differences, %d unexpected; %llu leaves in %.1f s = %.0f leaves/s\n",
                suite.size(), intended, unexpected, static_cast<unsigned long long>(leaves), s, s > 0 ? leaves / s : 0.0);
    return unexpected == 0 ? 0 : 1;
}
