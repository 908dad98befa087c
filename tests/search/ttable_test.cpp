#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "board/board_test_util.h"
#include "search/search_state.h"
#include "search/ttable.h"

namespace tavrix {
namespace {

// An almost empty board: kings on e1/e8, a white pawn on e2, a black knight on b8; the
// key words are the test's choice.
std::unique_ptr<Position> SparsePosition(uint32_t keyLow, uint32_t keyHigh) {
    auto pos = std::make_unique<Position>();
    EXPECT_TRUE(test::LoadFen(*pos, "1n2k3/8/8/8/8/8/4P3/4K3 w - -"));
    pos->hashKey[0] = keyLow;
    pos->hashKey[1] = keyHigh;
    return pos;
}

constexpr Move PAWN_PUSH = MakeMoveWord(12, 20);       // e2e3
constexpr Move FROM_EMPTY = MakeMoveWord(27, 35);      // d4d5 with d4 empty
constexpr Move KNIGHT_OUT = MakeMoveWord(57, 42);      // b8c6

class TableTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetTTState();
        ResetSearchState();
        ASSERT_EQ(ResizeHashTable(1024), 1024);
        BeginTableSearch(false);
        pos = SparsePosition(0x12345678, 0x9ABCDEF0);
    }
    void TearDown() override { ResetTTState(); }
    uint16_t Probe(int32_t ply, TTHit& hit, Colour side = WHITE) { return ProbeTable(side, *pos, ply, hit); }
    std::unique_ptr<Position> pos;
};

TEST(TableGeometry, SizesFollowTheRequest) {
    struct Case {
        int32_t kilobytes;
        int32_t evalCacheKb, tableKb;
        uint32_t entriesPerHalf, indexMask, foldValue;
    };
    const Case cases[] = {
        {1024, 512, 512, 16384, 16380, 8192},              // Hash 1
        {49152, 16384, 32768, 1048576, 1048572, 524288},   // Hash 48
        {16384, 8192, 8192, 262144, 262140, 131072},       // Hash 16 (default)
        {5120, 2048, 3072, 98304, 131068, 65536},          // Hash 5: table not a power of two
        {3072, 1024, 2048, 65536, 65532, 32768},           // Hash 3
        {1, 0, 1, 32, 60, 32},                             // smallest possible request
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kilobytes);
        const TTGeometry g = ComputeTTGeometry(c.kilobytes);
        EXPECT_EQ(g.evalCacheKb, c.evalCacheKb);
        EXPECT_EQ(g.tableKb, c.tableKb);
        EXPECT_EQ(g.entriesPerHalf, c.entriesPerHalf);
        EXPECT_EQ(g.indexMask, c.indexMask);
        EXPECT_EQ(g.foldValue, c.foldValue);
    }
}

TEST(TableGeometry, EveryBucketLiesInsideItsHalf) {
    // Every masked key word, folded when needed, must leave room for a whole bucket.
    auto check = [](int32_t kb) {
        const TTGeometry g = ComputeTTGeometry(kb);
        for (uint32_t i = 0; i <= g.indexMask; i += TT_BUCKET_SIZE) {
            uint32_t idx = i & g.indexMask;
            if (idx >= g.entriesPerHalf) idx -= g.foldValue;
            if (idx + TT_BUCKET_SIZE > g.entriesPerHalf) return false;
        }
        return true;
    };
    for (int32_t kb = 1; kb <= 600; ++kb) ASSERT_TRUE(check(kb)) << kb;
    for (int32_t kb : {5 * 1024, 7 * 1024, 17 * 1024, 48 * 1024, 100 * 1024}) EXPECT_TRUE(check(kb)) << kb;
}

TEST(TableGeometry, RetrySequenceShrinksToZero) {
    struct Case {
        int32_t start;
        int32_t expected[5];
    };
    const Case cases[] = {
        {16384, {12288, 14336, 10752, 12544, 9408}},  // power of two: quarter, halfway, ...
        {5120, {4096, 3072, 3584, 2688, 3136}},       // first down to a power of two
    };
    for (const Case& c : cases) {
        HashRetry r{c.start, c.start, 0};
        for (int32_t want : c.expected) {
            LowerHashRequest(r);
            EXPECT_EQ(r.request, want) << c.start;
        }
    }
    for (int32_t start : {1, 2, 3, 7, 1000, 2097152}) {
        HashRetry r{start, start, 0};
        int steps = 0;
        while (r.request > 0 && steps < 1000) {
            LowerHashRequest(r);
            ++steps;
        }
        EXPECT_EQ(r.request, 0) << start;
    }
}

TEST_F(TableTest, ResizeAllocatesAlignedHalves) {
    EXPECT_EQ(TT.sizeKb, 512);
    EXPECT_EQ(TT.evalCacheKb, 512);
    EXPECT_EQ(TT.entriesPerHalf, 16384u);
    for (Colour side = WHITE; side <= BLACK; ++side) {
        ASSERT_NE(TT.half[side], nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(TT.half[side]) % TT_ALIGNMENT, 0u);
        EXPECT_EQ(ReadSlot(side, 0).flags, 0);
        EXPECT_EQ(ReadSlot(side, TT.entriesPerHalf + 3).flags, 0);
    }
    FreeHashTable();
    EXPECT_EQ(TT.sizeKb, 0);
    EXPECT_EQ(TT.half[WHITE], nullptr);
}

void SetFlags(Colour side, uint32_t index, uint16_t flags) {
    TTEntry e = ReadSlot(side, index);
    e.flags = flags;
    WriteSlot(side, index, e);
}

TEST_F(TableTest, ClearKeepsOnlyPermanentEntries) {
    SetFlags(WHITE, 0, 0x0581);
    SetFlags(WHITE, 1, TTFlag::PERMANENT | 0x0541);
    SetFlags(BLACK, TT.entriesPerHalf, 0x00C3);
    SetFlags(BLACK, 7, TTFlag::PERMANENT);
    ClearHashTable();
    EXPECT_EQ(ReadSlot(WHITE, 0).flags, 0);
    EXPECT_EQ(ReadSlot(WHITE, 1).flags, TTFlag::PERMANENT | 0x0541);
    EXPECT_EQ(ReadSlot(BLACK, TT.entriesPerHalf).flags, 0);
    EXPECT_EQ(ReadSlot(BLACK, 7).flags, TTFlag::PERMANENT);
    // A new size clears everything, learned entries included.
    ASSERT_EQ(ResizeHashTable(2048), 2048);
    for (Colour side = WHITE; side <= BLACK; ++side)
        for (uint32_t i = 0; i < TT.entriesPerHalf + TT_BUCKET_SIZE; ++i) ASSERT_EQ(ReadSlot(side, i).flags, 0);
}

TEST_F(TableTest, MateDistanceSurvivesDifferentPlies) {
    struct Case {
        int32_t score, storePly, probePly;
        int16_t stored;
        int32_t probed;
        bool mateFlag;
    };
    const Case cases[] = {
        {8183, 5, 9, 8187, 8179, true},     // mate at ply 10 seen from ply 5, then from ply 9
        {-8183, 5, 9, -8187, -8179, true},  // mated at ply 10
        {8191, 1, 1, 8191, 8191, true},     // root-level score needs no change
        {7801, 2, 4, 7802, 7799, true},     // just past the threshold, back below it
        {7800, 5, 9, 7800, 7800, false},    // the threshold itself is no mate score
        {-350, 5, 9, -350, -350, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.score);
        ResetTTState();
        ASSERT_GT(ResizeHashTable(1024), 0);
        StoreTable(WHITE, *pos, c.storePly, 6, TTFlag::EXACT, c.score, NO_MOVE, 0);
        TTHit hit{};
        ASSERT_NE(Probe(c.probePly, hit), 0);
        EXPECT_EQ(hit.score, c.probed);
        EXPECT_EQ((hit.flags & TTFlag::MATE) != 0, c.mateFlag);
        bool found = false;
        for (Colour side = WHITE; side <= BLACK; ++side)
            for (uint32_t i = 0; i < TT.entriesPerHalf + TT_BUCKET_SIZE; ++i)
                if (ReadSlot(side, i).flags != 0) {
                    EXPECT_EQ(ReadSlot(side, i).score, c.stored);
                    found = true;
                }
        EXPECT_TRUE(found);
    }
}

TEST_F(TableTest, OlderEntriesNeedRetainHash) {
    struct Case {
        bool retain;
        int32_t score;
        uint16_t extraFlags;
        bool hit;
    };
    const Case cases[] = {
        {false, 100, 0, false},
        {true, 100, 0, true},
        {true, 8000, 0, false},                   // mate scores never outlive their search
        {false, 8000, TTFlag::PERMANENT, true},   // learned entries always count
        {false, -120, TTFlag::PERMANENT, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.retain << " " << c.score << " " << c.extraFlags);
        ClearHashTableFully();
        StoreTable(WHITE, *pos, 3, 4, uint16_t(TTFlag::LOWER | c.extraFlags), c.score, NO_MOVE, 0);
        TTHit hit{};
        ASSERT_NE(Probe(3, hit), 0);  // usable in its own search
        BeginTableSearch(c.retain);
        const uint8_t age = Search.tableAge;
        EXPECT_EQ(Probe(3, hit) != 0, c.hit);
        if (c.hit) {
            EXPECT_EQ(hit.flags & TTFlag::AGE_MASK, age);  // refreshed to the new age
            EXPECT_EQ(Search.hashfull, HASHFULL_BASE + 1);
            EXPECT_NE(Probe(3, hit), 0);
            EXPECT_EQ(Search.hashfull, HASHFULL_BASE + 1);  // counted once
        } else {
            EXPECT_EQ(Search.hashfull, HASHFULL_BASE);
        }
    }
}

TEST_F(TableTest, AgeWrapsFromSevenToOne) {
    ResetSearchState();
    uint8_t seen[16];
    for (uint8_t& a : seen) {
        BeginTableSearch(true);
        a = Search.tableAge;
    }
    for (int i = 0; i < 16; ++i) EXPECT_EQ(seen[i], uint8_t(1 + (i + 1) % 7)) << i;
}

TEST_F(TableTest, MateEntriesCountDeepUntilTheRootReportsAMate) {
    StoreTable(WHITE, *pos, 3, 5, TTFlag::LOWER, 8100, NO_MOVE, 0);
    TTHit hit{};
    ASSERT_NE(Probe(3, hit), 0);
    EXPECT_EQ(hit.depth, TT_MATE_ENTRY_DEPTH);
    TT.rootMateReported = true;
    ASSERT_NE(Probe(3, hit), 0);
    EXPECT_EQ(hit.depth, 5);
}

TEST_F(TableTest, ProbeMissesWhenTheStoredMoveIsNotPlayable) {
    struct Case {
        Move stored;
        bool hit;
    };
    const Case cases[] = {{PAWN_PUSH, true}, {FROM_EMPTY, false}, {NO_MOVE, true}};
    for (const Case& c : cases) {
        ClearHashTableFully();
        StoreTable(WHITE, *pos, 2, 3, TTFlag::EXACT, 40, c.stored, 0);
        TTHit hit{};
        EXPECT_EQ(Probe(2, hit) != 0, c.hit) << c.stored;
        if (c.hit) {
            EXPECT_EQ(hit.move & 0xFFF, c.stored);
            EXPECT_EQ(hit.score, 40);
            EXPECT_EQ(hit.depth, 3);
        }
    }
}

TEST_F(TableTest, HalvesKeepTheColoursApart) {
    StoreTable(WHITE, *pos, 2, 3, TTFlag::UPPER, -77, NO_MOVE, 0);
    TTHit hit{};
    EXPECT_EQ(Probe(2, hit, BLACK), 0);
    EXPECT_NE(Probe(2, hit, WHITE), 0);
    EXPECT_EQ(hit.flags & TTFlag::BOUND_MASK, TTFlag::UPPER);
    auto other = SparsePosition(0x12345679, 0x9ABCDEF0);  // same bucket, other key
    EXPECT_EQ(ProbeTable(WHITE, *other, 2, hit), 0);
}

// Positions that share one bucket: equal high words, different low words.
std::unique_ptr<Position> BucketMate(int i) { return SparsePosition(0x1000u + uint32_t(i), 0x00ABCDE0u); }

TEST_F(TableTest, ReplacementPrefersStaleThenShallowEntries) {
    struct Slot {
        int32_t depth;
        bool old;         // written in the previous search
        bool permanent;
    };
    struct Case {
        const char* name;
        Slot slots[4];
        int victim;       // which of the four positions is gone after a fifth is stored
    };
    const Case cases[] = {
        {"all current: shallowest goes", {{5, false, false}, {3, false, false}, {7, false, false}, {4, false, false}}, 1},
        {"equal depths: first smallest", {{4, false, false}, {4, false, false}, {4, false, false}, {4, false, false}}, 0},
        {"a stale entry goes even if deep", {{1, false, false}, {2, false, false}, {20, true, false}, {1, false, false}}, 2},
        {"shallowest of the stale ones", {{9, true, false}, {1, false, false}, {6, true, false}, {8, true, false}}, 2},
        {"old learned entries are kept", {{1, true, true}, {12, true, false}, {2, false, false}, {3, false, false}}, 1},
        {"only learned and current", {{1, true, true}, {12, false, false}, {2, false, false}, {3, false, false}}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetSearchState();
        ClearHashTableFully();
        BeginTableSearch(true);
        for (int pass = 0; pass < 2; ++pass) {
            for (int i = 0; i < 4; ++i) {
                if (c.slots[i].old != (pass == 0)) continue;
                const uint16_t perm = c.slots[i].permanent ? TTFlag::PERMANENT : 0;
                StoreTable(WHITE, *BucketMate(i), 2, c.slots[i].depth, uint16_t(TTFlag::LOWER | perm), 10 * i, NO_MOVE, 0);
            }
            if (pass == 0) BeginTableSearch(true);
        }
        StoreTable(WHITE, *BucketMate(4), 2, 30, TTFlag::EXACT, 99, NO_MOVE, 0);
        TTHit hit{};
        EXPECT_NE(ProbeTable(WHITE, *BucketMate(4), 2, hit), 0);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(ProbeTable(WHITE, *BucketMate(i), 2, hit) == 0, i == c.victim) << i;
    }
}

TEST_F(TableTest, StoringTheSamePositionAgain) {
    struct Case {
        const char* name;
        int32_t firstDepth;
        Move firstMove;
        uint16_t firstBound;
        int32_t secondDepth;
        Move secondMove;
        uint16_t secondBound;
        Move keptMove;
        int32_t keptScore;   // the first store scores 1, the second 2
    };
    const Case cases[] = {
        {"deeper result replaces all", 3, FROM_EMPTY, TTFlag::EXACT, 5, PAWN_PUSH, TTFlag::UPPER, PAWN_PUSH, 2},
        {"shallower keeps move and score", 5, PAWN_PUSH, TTFlag::EXACT, 3, FROM_EMPTY, TTFlag::LOWER, PAWN_PUSH, 1},
        {"equal depth, weaker bound keeps score", 4, PAWN_PUSH, TTFlag::EXACT, 4, NO_MOVE, TTFlag::UPPER, PAWN_PUSH, 1},
        {"equal depth, same bound takes score", 4, PAWN_PUSH, TTFlag::LOWER, 4, NO_MOVE, TTFlag::LOWER, PAWN_PUSH, 2},
        {"no move keeps the old move", 2, PAWN_PUSH, TTFlag::LOWER, 6, NO_MOVE, TTFlag::LOWER, PAWN_PUSH, 2},
        {"depth 0 never changes a move", 0, NO_MOVE, TTFlag::UPPER, 0, PAWN_PUSH, TTFlag::EXACT, NO_MOVE, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClearHashTableFully();
        StoreTable(WHITE, *pos, 2, c.firstDepth, c.firstBound, 1, c.firstMove, 0);
        StoreTable(WHITE, *pos, 2, c.secondDepth, c.secondBound, 2, c.secondMove, 0);
        int used = 0;
        TTEntry e{};
        for (uint32_t i = 0; i < TT.entriesPerHalf + TT_BUCKET_SIZE; ++i)
            if (ReadSlot(WHITE, i).flags != 0) {
                ++used;
                e = ReadSlot(WHITE, i);
            }
        ASSERT_EQ(used, 1);
        EXPECT_EQ(e.move, c.keptMove);
        EXPECT_EQ(e.score, c.keptScore);
    }
}

TEST_F(TableTest, LearnedEntriesCountTheirUseAndSurviveClearHash) {
    StoreEntry(WHITE, *pos, uint16_t(TTFlag::PERMANENT | TTFlag::EXACT), 250, 0xFFFD, 9, 1, PAWN_PUSH);
    auto ordinary = SparsePosition(0x55, 0x66);
    StoreTable(WHITE, *ordinary, 1, 9, TTFlag::EXACT, 250, NO_MOVE, 0);
    ClearHashTable();
    TTHit hit{};
    EXPECT_EQ(ProbeTable(WHITE, *ordinary, 1, hit), 0);
    const uint16_t wantCounts[] = {0xFFFE, 0xFFFF, 0xFFFF};
    for (uint16_t want : wantCounts) {
        ASSERT_NE(Probe(1, hit), 0);
        EXPECT_NE(hit.flags & TTFlag::PERMANENT, 0);
        EXPECT_EQ(hit.score, 250);
        EXPECT_EQ(hit.depth, 9);
        TTEntry e{};
        for (uint32_t i = 0; i < TT.entriesPerHalf + TT_BUCKET_SIZE; ++i)
            if (ReadSlot(WHITE, i).flags != 0) e = ReadSlot(WHITE, i);
        ASSERT_NE(e.flags, 0);
        EXPECT_EQ(e.moveDepth, want);
    }
    // The search may not change the move of a learned entry.
    StoreTable(WHITE, *pos, 1, 20, uint16_t(TTFlag::PERMANENT | TTFlag::EXACT), 300, FROM_EMPTY, 0);
    ASSERT_NE(Probe(1, hit), 0);
    EXPECT_EQ(hit.move & 0xFFF, PAWN_PUSH);
    EXPECT_EQ(hit.score, 300);
    // A new size forgets it.
    ASSERT_GT(ResizeHashTable(2048), 0);
    EXPECT_EQ(Probe(1, hit), 0);
}

TEST_F(TableTest, StoreEntryWritesTheCallersAge) {
    struct Case {
        uint16_t flags;
        bool hit;
    };
    const Case cases[] = {
        {0, false},                                        // no age: an empty-looking entry
        {TTFlag::LOWER, false},                            // age 0 is never current
        {uint16_t(TTFlag::LOWER | 1), false},              // age of another search
        {uint16_t(TTFlag::PERMANENT | TTFlag::UPPER), true},
    };
    for (const Case& c : cases) {
        ClearHashTableFully();
        Search.tableAge = 3;
        StoreEntry(BLACK, *pos, c.flags, 17, 0x4000, 2, 1, NO_MOVE);
        int32_t score = 0, depth = -1;
        Move move = 1;
        EXPECT_EQ(ProbeForPv(BLACK, *pos, score, depth, 1, move) != 0, c.hit) << c.flags;
        if (c.hit) {
            EXPECT_EQ(score, 17);
            EXPECT_EQ(depth, 2);
            EXPECT_EQ(move, NO_MOVE);
        }
    }
    // With the caller's current age the entry is an ordinary one.
    ClearHashTableFully();
    StoreEntry(BLACK, *pos, uint16_t(Search.tableAge), 5, 0, 7, 1, KNIGHT_OUT);
    int32_t score = 0, depth = 0;
    Move move = NO_MOVE;
    ASSERT_EQ(ProbeForPv(BLACK, *pos, score, depth, 1, move), Search.tableAge);
    EXPECT_EQ(depth, 7);
    EXPECT_EQ(move, KNIGHT_OUT);
    // A move of the other colour fails the validation.
    ClearHashTableFully();
    StoreEntry(BLACK, *pos, uint16_t(Search.tableAge), 5, 0, 7, 1, PAWN_PUSH);
    EXPECT_EQ(ProbeForPv(BLACK, *pos, score, depth, 1, move), 0);
}

TEST_F(TableTest, NoTableMeansNoHits) {
    FreeHashTable();
    StoreTable(WHITE, *pos, 2, 3, TTFlag::EXACT, 5, NO_MOVE, 0);
    TTHit hit{};
    EXPECT_EQ(Probe(2, hit), 0);
    EXPECT_EQ(HashfullPermille(), 0);
}

TEST_F(TableTest, HashfullCountsNewWritesInPermille) {
    // Hash 1: 512 KB, 32768 entries in both halves.
    EXPECT_EQ(HashfullPermille(), 31 * 1000 / 32768);
    for (uint32_t i = 0; i < 3000; ++i) {
        auto p = SparsePosition(i, i * 4);
        StoreTable(Colour(i & 1), *p, 2, 1, TTFlag::LOWER, 0, NO_MOVE, 0);
    }
    EXPECT_EQ(Search.hashfull, HASHFULL_BASE + 3000);
    EXPECT_EQ(HashfullPermille(), (31 + 3000) * 1000 / 32768);
}

TEST_F(TableTest, FoldedBucketsAreReachable) {
    // Hash 5: 3072 KB table, indices at or above E fold back by 65536.
    ASSERT_EQ(ResizeHashTable(5120), 5120);
    BeginTableSearch(false);
    struct Case {
        uint32_t keyHigh;
        uint32_t index;
    };
    const Case cases[] = {{0xFFFFFFFFu, 131068 - 65536}, {98304, 98304 - 65536}, {98300, 98300}, {7, 4}};
    for (const Case& c : cases) {
        auto p = SparsePosition(0xC0FFEE, c.keyHigh);
        StoreTable(BLACK, *p, 2, 4, TTFlag::EXACT, 12, NO_MOVE, 0);
        bool inBucket = false;
        for (int j = 0; j < TT_BUCKET_SIZE; ++j) inBucket |= ReadSlot(BLACK, c.index + j).keyHigh == c.keyHigh;
        EXPECT_TRUE(inBucket) << c.keyHigh;
        TTHit hit{};
        EXPECT_NE(ProbeTable(BLACK, *p, 2, hit), 0);
    }
}

}  // namespace
}  // namespace tavrix
