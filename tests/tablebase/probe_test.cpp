// Probing through the chunk cache: colours exchanged, read failures and the missing-table
// bitmap.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "tablebase/index.h"
#include "tablebase/tb_fixture.h"

namespace tavrix::testing {
namespace {

bool MaybePresent(uint32_t v) { return (TablebaseProbe.missingBitmap[v / 8] >> (v % 8) & 1) != 0; }

TEST(TablebaseProbe, ColoursExchangedReadTheOtherSide) {
    ASSERT_EQ(UseTables(ThreeManDirectory()), 3);
    // The same position with the colours exchanged: Black owns the queen and moves.
    const TablebaseResult white = ProbeFen("8/8/8/8/8/k7/8/1QK5 w - -");
    const TablebaseResult black = ProbeFen("1qk5/8/K7/8/8/8/8/8 b - -");
    ASSERT_TRUE(white.found);
    ASSERT_TRUE(black.found);
    EXPECT_EQ(white.distance, black.distance);
    EXPECT_GT(white.distance, 0);
    // The side without the queen loses by one move less than the winner needs after its move.
    const TablebaseResult defender = ProbeFen("1qk5/8/K7/8/8/8/8/8 w - -");
    ASSERT_TRUE(defender.found);
    EXPECT_LT(defender.distance, 0);
    EXPECT_EQ(ProbeFen("8/8/8/8/4k3/8/8/4K3 w - -").found, false);  // bare kings: no class
    EXPECT_GT(TablebaseHits(), 0u);
    FreeTablebases();
}

TEST(TablebaseProbe, CompressedTablesReadAsThePlainOnes) {
    const char* classes[] = {"kqk", "krk", "kpk"};
    const std::string plain = ThreeManDirectory();
    const std::string packed = FreshDirectory();
    ASSERT_TRUE(WriteTables(packed, {"kqk", "krk", "kpk"}, true));
    std::vector<int32_t> expected;
    for (const std::string& d : {plain, packed}) {
        ASSERT_EQ(UseTables(d), 3);
        size_t at = 0;
        for (const char* name : classes) {
            const int c = FindTablebaseClass(name);
            for (int side = 0; side < 2; ++side) {
                const uint64_t length = TableLength(c, side);
                ASSERT_GT(length, 0u);
                for (uint64_t i = 0; i < length; ++i, ++at) {
                    const int32_t v = ReadTablebaseValue(c, side, i);
                    if (d == plain) expected.push_back(v);
                    else if (v != expected[at]) FAIL() << name << " side " << side << " index " << i;
                }
            }
        }
        EXPECT_EQ(at, expected.size());
        FreeTablebases();
    }
}

TEST(TablebaseProbe, ReadFailureMarksOneSignatureAndSide) {
    const std::string d = FreshDirectory();
    ASSERT_TRUE(WriteTables(d, {"krk"}));
    ASSERT_EQ(UseTables(d), 3);
    // The file disappears after registration: White to move fails, Black to move still reads.
    ASSERT_EQ(std::remove((d + "/krk.nbw").c_str()), 0);
    EXPECT_FALSE(ProbeFen("8/8/8/4k3/8/8/8/R3K3 w - -").found);
    EXPECT_FALSE(MaybePresent(2 * 10 + 3));      // White to move, white rook
    EXPECT_TRUE(MaybePresent(3 * 10 + 3));       // Black to move, white rook
    EXPECT_TRUE(ProbeFen("8/8/8/4k3/8/8/8/R3K3 b - -").found);
    FreeTablebases();
}

TEST(TablebaseProbe, SignatureNumberOfRookAndPawnAgainstRook) {
    // A sparse krpkr table registers; once it is gone, its first read clears bit 2038.
    RegisterTablebases(FreshDirectory().c_str());
    const int c = FindTablebaseClass("krpkr");
    const std::string d = FreshDirectory();
    const std::string file = d + "/krpkr.nbw";
    const int fd = open(file.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(ClassLength(c, 0))), 0);
    close(fd);
    ASSERT_EQ(UseTables(d), 5);
    EXPECT_TRUE(MaybePresent(2038));
    ASSERT_EQ(std::remove(file.c_str()), 0);
    EXPECT_FALSE(ProbeFen("3r4/8/8/4k3/8/8/4P3/R3K3 w - -").found);
    EXPECT_FALSE(MaybePresent(2038));
    EXPECT_TRUE(MaybePresent(3038));
    FreeTablebases();
}

TEST(TablebaseProbe, KppkpLossesInOneHundredAndTwentySevenMoves) {
    // The seven losses a byte cannot hold are answered without reading: a sparse (all draws)
    // table still gives them, mirrored and with colours exchanged alike.
    RegisterTablebases(FreshDirectory().c_str());
    const int c = FindTablebaseClass("kppkp");
    const std::string d = FreshDirectory();
    const int fd = open((d + "/kppkp.nbb").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(ClassLength(c, 1))), 0);
    close(fd);
    ASSERT_EQ(UseTables(d), 5);
    const struct {
        const char* fen;
        int distance;
    } cases[] = {
        {"8/6k1/K7/8/5P2/2p2P2/8/8 b - -", -127},
        {"8/1k6/7K/8/2P5/2P2p2/8/8 b - -", -127},
        {"8/8/2P2p2/5p2/8/k7/6K1/8 w - -", -127},
        {"1k6/8/1K6/8/5P2/4pP2/8/8 b - -", -127},
        {"8/6k1/K7/8/5P2/3p1P2/8/8 b - -", 0},
    };
    for (const auto& t : cases) {
        const TablebaseResult r = ProbeFen(t.fen);
        EXPECT_TRUE(r.found) << t.fen;
        EXPECT_EQ(r.distance, t.distance) << t.fen;
    }
    FreeTablebases();
}

}  // namespace
}  // namespace tavrix::testing
