// Probe speed: probes per second with the chunk cache warm (a few chunks reused) and cold
// (the cache emptied before every probe, so every probe reads its chunk from the file).
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "eval/evaluate.h"
#include "support/fen_position.h"
#include "tablebase/catalogue.h"
#include "tablebase/probe.h"
#include "tbgen/retrograde.h"

using namespace tavrix;

int main() {
    char name[] = "/tmp/tavrix_tbbench_XXXXXX";
    const char* directory = mkdtemp(name);
    if (directory == nullptr) return 1;
    RegisterTablebases(directory);
    const char* classes[] = {"kqk", "krk", "kpk", "kbkn"};
    for (const char* c : classes) tbgen::WriteTables(tbgen::GenerateClass(FindTablebaseClass(c)), directory);
    int32_t cache = TB_MINIMUM_CACHE;
    InitialiseTablebases(true, directory, cache);

    // Legal positions of kbkn from its table, both sides to move.
    std::vector<Position> positions;
    std::mt19937 random(11);
    const int c = FindTablebaseClass("kbkn");
    while (positions.size() < 20000) {
        const int side = static_cast<int>(random() & 1);
        const uint64_t index = random() % ClassLength(c, side);
        char fen[128];
        Position p;
        if (tbgen::GenerateClass(c).value[side][index] == tbgen::BROKEN) continue;
        if (!tbgen::SlotFen(c, side, index, fen, sizeof fen) || !testing_support::LoadFen(p, fen)) continue;
        positions.push_back(p);
    }
    using Clock = std::chrono::steady_clock;
    auto rate = [](size_t n, Clock::duration d) {
        return static_cast<double>(n) / std::chrono::duration<double>(d).count();
    };
    int found = 0;
    auto start = Clock::now();
    for (int round = 0; round < 400; ++round)
        for (int i = 0; i < 50; ++i) found += ProbeTablebase(positions[i], positions[i].sideToMove).found;
    const double warm = rate(400 * 50, Clock::now() - start);
    start = Clock::now();
    for (const Position& p : positions) {
        LayOutChunkCache();
        found += ProbeTablebase(p, p.sideToMove).found;
    }
    const double cold = rate(positions.size(), Clock::now() - start);
    std::printf("warm cache: %.0f probes/s\ncold cache: %.0f probes/s (%d found)\n", warm, cold, found);
    FreeTablebases();
    return 0;
}
