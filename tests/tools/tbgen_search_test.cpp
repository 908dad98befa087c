// Generated 4-man tables against the engine's own search, which probes no tablebases: a slot
// won in N moves must be a mate in exactly N at depth 2N - 1, a slot lost in N mated in N at
// depth 2N. A shorter mate means a wrong table; a longer one or none a wrong table or search.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "board/position.h"
#include "control/options.h"
#include "control/setup.h"
#include "control/think.h"
#include "search/root.h"
#include "search/search_support.h"
#include "tablebase/catalogue.h"
#include "tbgen/retrograde.h"

namespace tavrix::testing {
namespace {

struct SampleCase {
    const char* name;
    int exactLongest;    // distances 1..exactLongest moves for the full-width search
    int boundedLongest;  // 1..boundedLongest for the default search
    int perDistance;     // slots per distance, wins and losses each
};

// From ply 6 on the evaluation calls a rook against a lone king won and stops looking for
// the mate, so krkn, whose wins go through that ending, is held to exact distances of two
// moves (kbbk starts a rook ahead, where that rule does not apply).
constexpr SampleCase SAMPLES[] = {
    {"kbbk", 4, 5, 10},  // two pieces on one side, numbered as an unordered pair
    {"krkn", 2, 5, 10},  // piece against piece, captures both ways
};

struct Slot {
    int table;
    uint64_t index;
    int moves;  // > 0 the side to move mates in this many, < 0 it is mated
};

// Up to `perDistance` slots of every distance up to `longest`, drawn with a fixed seed.
std::vector<Slot> DrawSample(const tbgen::ClassTables& t, int longest, int perDistance) {
    std::vector<std::vector<Slot>> byMoves(2 * longest + 1);
    for (int table = 0; table < t.tableCount; ++table)
        for (uint64_t i = 0; i < t.value[table].size(); ++i) {
            bool found = false;
            const int moves = tbgen::MovesOf(t.value[table][i], found);
            if (found && moves != 0 && moves >= -longest && moves <= longest)
                byMoves[longest + moves].push_back(Slot{table, i, moves});
        }
    std::mt19937_64 draw(20261208);
    std::vector<Slot> sample;
    for (std::vector<Slot>& slots : byMoves)
        for (size_t k = 0; k < std::min<size_t>(slots.size(), perDistance); ++k) {
            std::swap(slots[k], slots[k + draw() % (slots.size() - k)]);  // partial Fisher-Yates
            sample.push_back(slots[k]);
        }
    return sample;
}

// Root score of a fixed-depth search from a fresh engine. The exact search is full width
// without a table, whose mate entries cut at any depth and so keep a longer mate found
// earlier. A lost root is searched with two lines: with one, a first move failing low to a
// mate is not searched again and a later move's fail-low bound is taken as the best score.
int32_t SearchSlot(int classIndex, const Slot& s, bool exact, std::string& fen) {
    char text[128];
    if (!tbgen::SlotFen(classIndex, s.table, s.index, text, sizeof text) || !ResetForSearchTest(1024)) {
        ADD_FAILURE() << "slot " << s.table << ":" << s.index << " not set up";
        return 0;
    }
    fen = std::string(text) + " 0 1";
    SetOption("Use Tablebases value false");
    if (exact) {
        SetOption("Selectivity value 0");
        SetOption("Forward Pruning value 0");
        SetOption("Futility value false");
        if (s.moves < 0) SetOption("MultiPV value 2");
        FreeTableForTest();
    }
    if (ReadFen(fen.c_str()) != 1) {
        ADD_FAILURE() << fen << " refused";
        return 0;
    }
    // The root is ply 1: the loser is mated at ply 2N, or 2N + 1 when it moves first.
    SearchFixedDepth(s.moves > 0 ? 2 * s.moves - 1 : -2 * s.moves);
    return Root.list.entries[0].score;
}

TEST(TablebaseGenerator, FourManMatesAgreeWithTheSearch) {
    // The generation takes minutes under the sanitizers; the search has its own tests there.
    if (TAVRIX_SANITIZED) GTEST_SKIP() << "Release run only";
    RegisterTablebases("");  // the catalogue only
    for (const SampleCase& c : SAMPLES) {
        const int classIndex = FindTablebaseClass(c.name);
        ASSERT_NE(classIndex, 0) << c.name;
        const tbgen::ClassTables& t = tbgen::GenerateClass(classIndex);
        for (const bool exact : {true, false}) {
            const int longest = exact ? c.exactLongest : c.boundedLongest;
            const std::vector<Slot> sample = DrawSample(t, longest, c.perDistance);
            EXPECT_EQ(sample.size(), size_t(2 * longest * c.perDistance)) << c.name;
            int longer = 0;
            for (const Slot& s : sample) {
                const int32_t matedPly = s.moves > 0 ? 2 * s.moves : 1 - 2 * s.moves;
                const int32_t distance = s.moves > 0 ? MATE + 1 - matedPly : matedPly - MATE - 1;
                std::string fen;
                const int32_t score = SearchSlot(classIndex, s, exact, fen);
                SCOPED_TRACE(::testing::Message() << c.name << " " << fen << " moves " << s.moves);
                if (exact) EXPECT_EQ(score, distance);
                // Pruning may miss the quickest mate but never finds one the loser escapes.
                else if (s.moves > 0) EXPECT_LE(score, distance);
                else EXPECT_GE(score, distance);
                longer += score != distance;
            }
            if (!exact) ::testing::Test::RecordProperty(std::string(c.name) + "_pruned_longer", longer);
        }
    }
    FreeTableForTest();
}

}  // namespace
}  // namespace tavrix::testing
