// Syzygy speed: win/draw/loss probes per second once the tables are read, and the node rate
// of searches in five-man positions whose captures reach the (three- and four-man) tables,
// with and without them, taking turns round by round.
// Usage: syzygy_bench [folders] [rounds] [depth]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "board/position.h"
#include "platform/platform.h"
#include "tablebase/probe.h"
#include "tablebase/syzygy.h"
#include "support/engine_reset.h"

using namespace tavrix;

namespace {

constexpr int32_t DEFAULT_ROUNDS = 3;
constexpr int32_t DEFAULT_DEPTH = 12;
constexpr int32_t BENCH_HASH_KB = 16384;
constexpr int POSITION_POOL = 256;
constexpr int PROBES_PER_ROUND = 2000000;

// Classes of the test tables, the pieces beside the kings (upper case White).
constexpr const char* CLASSES[] = {"Qk", "Rk", "BNk", "Rkr", "Rkp", "Pkp", "Pk"};

// Five men: every capture leads into a three- or four-man table of the test data.
constexpr const char* FIVE_MEN[] = {
    "7r/8/3k4/3p4/8/8/3R4/K7 w - - 0 1",       // KRvKRP
    "8/8/4k3/2p5/3P4/6p1/4K3/8 w - - 0 1",     // KPvKPP
    "8/2k5/8/1r6/8/5P2/4K3/5R2 b - - 0 1",     // KRPvKR
    "8/8/1k6/8/2p5/8/1K3R2/6B1 w - - 0 1",     // KRBvKP
};

uint64_t NextRandom(uint64_t& s) {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return s;
}

// A legal position of the class with a random side to move, pawns on ranks 3 to 6.
void RandomPosition(Position& p, const char* pieces, uint64_t& random) {
    for (;;) {
        std::memset(&p, 0, sizeof p);
        for (int sq = 0; sq < 64; ++sq) p.pieceColour[sq] = EMPTY_COLOUR;
        const std::string all = std::string("K") + pieces;
        for (const char c : all) {
            const bool black = c >= 'a';
            const char upper = black ? static_cast<char>(c - 'a' + 'A') : c;
            const PieceType type = upper == 'K' ? KING : upper == 'Q' ? QUEEN : upper == 'R' ? ROOK
                                 : upper == 'B' ? BISHOP : upper == 'N' ? KNIGHT : PAWN;
            int sq;
            do {
                sq = static_cast<int>(NextRandom(random) & 63);
            } while (p.pieceType[sq] != NO_PIECE || (type == PAWN && (RankOf(sq) < 2 || RankOf(sq) > 5)));
            p.pieceType[sq] = type;
            p.pieceColour[sq] = black ? BLACK : WHITE;
        }
        if (SetUpPosition(p, static_cast<int>(NextRandom(random) & 1), 0)) return;
    }
}

double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct SearchFigures {
    uint64_t nodes = 0;
    double seconds = 0;
    uint64_t hits = 0;
};

void SearchAll(int32_t depth, SearchFigures& figures) {
    for (const char* fen : FIVE_MEN) {
        if (ReadFen(fen) != 1) continue;
        RootClearTableFully();
        ClearEvalCache();
        const auto start = std::chrono::steady_clock::now();
        figures.nodes += SearchFixedDepth(depth);
        figures.seconds += Seconds(start);
        figures.hits += TablebaseHits();
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string folders = argc > 1 ? argv[1] : std::string(TAVRIX_TEST_DATA) + "/syzygy";
    const int32_t rounds = argc > 2 ? std::atoi(argv[2]) : DEFAULT_ROUNDS;
    const int32_t depth = argc > 3 ? std::atoi(argv[3]) : DEFAULT_DEPTH;
    if (!testing_support::ResetEngine(BENCH_HASH_KB)) return 1;
    LoadSyzygyTables(folders.c_str());
    if (Syzygy.largest == 0) return 1;

    // Probes: a pool of positions of every class, each probed once before the clock runs.
    std::vector<std::unique_ptr<Position>> pool;
    uint64_t random = 0x9E3779B97F4A7C15ull;
    for (int i = 0; i < POSITION_POOL; ++i) {
        pool.push_back(std::make_unique<Position>());
        RandomPosition(*pool.back(), CLASSES[i % std::size(CLASSES)], random);
    }
    int32_t wdl = 0;
    int found = 0;
    for (const auto& p : pool) found += ProbeSyzygyWdl(*p, wdl);
    std::printf("probe pool: %d positions, %d in the tables\n", POSITION_POOL, found);

    SearchFigures with, without;
    for (int32_t round = 1; round <= rounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        int64_t sum = 0;
        for (int i = 0; i < PROBES_PER_ROUND; ++i) {
            ProbeSyzygyWdl(*pool[static_cast<size_t>(i) % pool.size()], wdl);
            sum += wdl;
        }
        const double probeSeconds = Seconds(start);

        LoadSyzygyTables(folders.c_str());
        SearchFigures a;
        SearchAll(depth, a);
        LoadSyzygyTables("");
        SearchFigures b;
        SearchAll(depth, b);
        with.nodes += a.nodes, with.seconds += a.seconds, with.hits += a.hits;
        without.nodes += b.nodes, without.seconds += b.seconds, without.hits += b.hits;
        std::printf("round %d: %.0f probes/s (results sum %lld) | with tables %llu nodes %.2f s %.0f nps %llu hits | without %llu "
                    "nodes %.2f s %.0f nps\n",
                    round, PROBES_PER_ROUND / probeSeconds, static_cast<long long>(sum),
                    static_cast<unsigned long long>(a.nodes), a.seconds, a.nodes / a.seconds,
                    static_cast<unsigned long long>(a.hits), static_cast<unsigned long long>(b.nodes), b.seconds,
                    b.nodes / b.seconds);
        LoadSyzygyTables(folders.c_str());
    }
    std::printf("depth %d, %d five-man positions: with tables %.0f nps (%llu nodes, %.2f s, %llu hits), without %.0f nps "
                "(%llu nodes, %.2f s)\n",
                depth, static_cast<int>(std::size(FIVE_MEN)), with.nodes / with.seconds,
                static_cast<unsigned long long>(with.nodes), with.seconds, static_cast<unsigned long long>(with.hits),
                without.nodes / without.seconds, static_cast<unsigned long long>(without.nodes), without.seconds);
    FreeHashTable();
    return 0;
}
