// Index functions: symmetric placements share one index, every used slot decodes to a
// placement that indexes back to it, and impossible king pairs have no index.
#include <gtest/gtest.h>

#include <random>

#include "tablebase/tb_fixture.h"

namespace tavrix::testing {
namespace {

int MapSquare(int s, int symmetry) {
    int f = s & 7, r = s >> 3;
    if (symmetry & 1) f = 7 - f;
    if (symmetry & 2) r = 7 - r;
    if (symmetry & 4) std::swap(f, r);
    return r * 8 + f;
}

SquareRecord Mapped(const SquareRecord& r, int symmetry) {
    SquareRecord m = r;
    for (uint8_t& s : m.place) s = static_cast<uint8_t>(MapSquare(s, symmetry));
    return m;
}

TEST(TablebaseIndex, SymmetricPlacementsShareAnIndex) {
    BuildEnumerations();
    std::mt19937 random(7);
    // Without pawns all eight board symmetries; with pawns the left-right mirror only.
    for (const char* name : {"kqk", "krkn", "kbbk", "kbnk", "kpk", "kpkp", "krpkr", "kqpkp", "krpknp"}) {
        const int c = FindTablebaseClass(name);
        const bool pawns = Enumerations.shape[c].pawns;
        for (int side = 0; side < 2; ++side) {
            const uint64_t capacity = Enumerations.layout[c][side].capacity;
            int checked = 0;
            for (int trial = 0; trial < 4000 && checked < 300; ++trial) {
                DecodedPosition d;
                // Every other draw from the en-passant block, where there is one.
                const uint64_t normal = Enumerations.layout[c][side].normalSize;
                const uint64_t i = (trial & 1) && normal < capacity ? normal + random() % (capacity - normal)
                                                                   : random() % capacity;
                if (!DecodeIndex(c, side, i, d) || !LegalPlacement(d, side)) continue;
                // Kings both on the long diagonal keep both reflections of the other pieces.
                const bool diagonalKings = !pawns && (d.king[0] & 7) == (d.king[0] >> 3) && (d.king[1] & 7) == (d.king[1] >> 3);
                if (diagonalKings) continue;
                SquareRecord first, second;
                RecordsOf(d, first, second);
                const uint64_t index = IndexFunction(c, side, first, second, d.epSquare, 0);
                ASSERT_EQ(index, i) << name;
                for (int symmetry = 1; symmetry < 8; ++symmetry) {
                    if (pawns && symmetry != 1) continue;
                    if (pawns && d.epSquare != TB_NO_EP) continue;
                    EXPECT_EQ(IndexFunction(c, side, Mapped(first, symmetry), Mapped(second, symmetry), TB_NO_EP, 0),
                              index)
                        << name << " symmetry " << symmetry;
                }
                ++checked;
            }
            EXPECT_GT(checked, 50) << name;
        }
    }
}

TEST(TablebaseIndex, KqkKingsSideBySideHaveNoIndex) {
    BuildEnumerations();
    SquareRecord white{}, black{};
    white.place[RECORD_KING] = 27;   // d4
    white.place[RecordPlace(QUEEN)] = 0;
    black.place[RECORD_KING] = 28;   // e4
    EXPECT_EQ(IndexFunction(5, 0, white, black, TB_NO_EP, 0), TB_NO_INDEX);
    EXPECT_EQ(Enumerations.pawnlessPair[27][28], TB_NO_PAIR);
    black.place[RECORD_KING] = 45;   // f6
    EXPECT_NE(IndexFunction(5, 0, white, black, TB_NO_EP, 0), TB_NO_INDEX);
}

}  // namespace
}  // namespace tavrix::testing
