#include <gtest/gtest.h>

#include <cstdint>

#include "search/search_state.h"
#include "search/ttable.h"

namespace tavrix {
namespace {

class TableTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetTTState();
        ResetSearchState();
    }
    void TearDown() override { ResetTTState(); }
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
    EXPECT_EQ(ResizeHashTable(1024), 1024);
    EXPECT_EQ(TT.sizeKb, 512);
    EXPECT_EQ(TT.evalCacheKb, 512);
    EXPECT_EQ(TT.entriesPerHalf, 16384u);
    for (TTEntry* h : TT.half) {
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(h) % TT_ALIGNMENT, 0u);
        EXPECT_EQ(h[0].flags, 0);
        EXPECT_EQ(h[TT.entriesPerHalf + 3].flags, 0);
    }
    FreeHashTable();
    EXPECT_EQ(TT.sizeKb, 0);
    EXPECT_EQ(TT.half[WHITE], nullptr);
}

TEST_F(TableTest, ClearKeepsOnlyPermanentEntries) {
    ASSERT_EQ(ResizeHashTable(1024), 1024);
    TT.half[WHITE][0].flags = 0x0581;
    TT.half[WHITE][1].flags = TTFlag::PERMANENT | 0x0541;
    TT.half[BLACK][TT.entriesPerHalf].flags = 0x00C3;
    TT.half[BLACK][7].flags = TTFlag::PERMANENT;
    ClearHashTable();
    EXPECT_EQ(TT.half[WHITE][0].flags, 0);
    EXPECT_EQ(TT.half[WHITE][1].flags, TTFlag::PERMANENT | 0x0541);
    EXPECT_EQ(TT.half[BLACK][TT.entriesPerHalf].flags, 0);
    EXPECT_EQ(TT.half[BLACK][7].flags, TTFlag::PERMANENT);
    // A new size clears everything, learned entries included.
    ASSERT_EQ(ResizeHashTable(2048), 2048);
    for (TTEntry* h : TT.half)
        for (uint32_t i = 0; i < TT.entriesPerHalf + TT_BUCKET_SIZE; ++i) ASSERT_EQ(h[i].flags, 0);
}

}  // namespace
}  // namespace tavrix
