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

TEST(TablebaseIndex, KpkWithBlackToMoveWorkedByHand) {
    BuildEnumerations();
    // Mirrored so that the first king (the pawn's owner's) stands on files a-d, turned upside
    // down only when the colours were exchanged. With Black to move the pawn leads on the
    // kind-0 squares (ranks 2-7) around the first king, less the second king's square.
    // White king a1, black king h1, pawn e4: pair (a1, h1) is number 5, after c1, d1, e1, f1
    // and g1, each with all 48 pawn squares free: 5 * 48 = 240; e4 is pawn square 20: 260.
    // White king a1, black king c5, pawn e6: before pair (a1, c5) come c1-h1 (6 * 48) and
    // c2-b5 less b2 (24 * 47, the king takes a pawn square): 1416; e6 is pawn square 36, less
    // one for the king on c5 below it: 1451.
    const struct {
        int pawnOwnerKing, otherKing, pawn;  // squares
        int flip;                            // 1: Black owns the pawn (and White is to move)
        uint64_t index;
    } cases[] = {
        {0, 7, 28, 0, 260},    // Ka1, kh1, Pe4
        {7, 0, 27, 0, 260},    // Kh1, ka1, Pd4: mirrored by the first king
        {56, 63, 36, 1, 260},  // ka8, Kh8, pe5, White to move: the colours exchanged
        {0, 34, 44, 0, 1451},  // Ka1, kc5, Pe6
        {63, 29, 19, 1, 1451}, // kh8, Kf4, pd3, White to move
    };
    const int kpk = FindTablebaseClass("kpk");
    for (const auto& t : cases) {
        SquareRecord first{}, second{};
        first.place[RECORD_KING] = static_cast<uint8_t>(t.pawnOwnerKing);
        first.place[RecordPlace(PAWN)] = static_cast<uint8_t>(t.pawn);
        second.place[RECORD_KING] = static_cast<uint8_t>(t.otherKing);
        EXPECT_EQ(IndexFunction(kpk, 1, first, second, TB_NO_EP, t.flip), t.index) << t.pawn;
    }
}

}  // namespace
}  // namespace tavrix::testing
