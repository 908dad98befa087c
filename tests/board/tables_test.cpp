#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "board/tables.h"

namespace tavrix {
namespace {

// Class of a capturer set, through the packed index the maps produce.
int ClassOfSet(int pawns, int knights, int bishops, int rooks, int queens, int king = 0, int xrays = 0) {
    const int index = pawns * AttackWeight::PAWN + knights * AttackWeight::KNIGHT + bishops * AttackWeight::BISHOP +
                      rooks * AttackWeight::ROOK + queens * AttackWeight::QUEEN + king * AttackWeight::KING + 2 * xrays;
    return AttackClass[index];
}

TEST(AttackClass, TellingRows) {
    struct Row { int pawns, knights, bishops, rooks, queens, king, xrays, cls; };
    const Row rows[] = {
        {0, 0, 0, 0, 0, 0, 0, 0},     {0, 0, 0, 0, 0, 1, 0, 1},     {0, 0, 0, 0, 1, 0, 0, 1},
        {0, 0, 0, 0, 1, 1, 0, 2},     {0, 0, 0, 1, 0, 0, 0, 4},     {0, 1, 0, 0, 0, 0, 0, 16},
        {0, 0, 1, 0, 0, 0, 0, 16},    {0, 1, 1, 2, 1, 0, 0, 16 * 2 + 8 + 1},
        {1, 0, 0, 0, 0, 0, 0, 64},    {1, 1, 0, 1, 0, 1, 0, 64 + 16 + 4 + 1},
        {0, 0, 0, 0, 5, 0, 0, 3},     // queen-class capturers saturate at three
        {0, 0, 0, 0, 1, 0, 1, 2},     // an x-ray counts like one more queen
        {0, 0, 0, 1, 0, 0, 2, 6},
        {0, 3, 3, 0, 0, 0, 0, 96},    // six minors read as a pawn and two minors
        {2, 0, 0, 0, 0, 0, 0, 96},    {2, 1, 0, 0, 0, 0, 0, 112},   {2, 0, 1, 0, 0, 0, 0, 112},
        {1, 1, 3, 0, 0, 0, 0, 104},   {1, 2, 2, 0, 0, 0, 0, 112},   {1, 3, 1, 0, 0, 0, 0, 120},
    };
    for (const Row& r : rows)
        EXPECT_EQ(ClassOfSet(r.pawns, r.knights, r.bishops, r.rooks, r.queens, r.king, r.xrays), r.cls)
            << r.pawns << "p " << r.knights << "n " << r.bishops << "b " << r.rooks << "r " << r.queens << "q "
            << r.king << "k " << r.xrays << "x";
}

TEST(AttackClass, TwoPawnsThreeMinorsThreeRooksNearlySaturate) {
    for (int knights = 0; knights <= 3; ++knights)
        EXPECT_GE(ClassOfSet(2, knights, 3 - knights, 3, 0), 126) << knights;
}

TEST(AttackClass, EveryEntryIsAClassAndGrowsWithRooksAndQueens) {
    for (int i = 0; i < ATTACK_CLASS_SIZE; ++i) {
        ASSERT_LT(AttackClass[i], 128) << i;
        if ((i & 0x30) != 0x30 && i + AttackWeight::ROOK < ATTACK_CLASS_SIZE) {
            EXPECT_GE(AttackClass[i + AttackWeight::ROOK], AttackClass[i]) << i;
        }
    }
}

TEST(ExchangeTable, TellingRows) {
    const int pawn = ClassOfSet(1, 0, 0, 0, 0), minor = ClassOfSet(0, 1, 0, 0, 0), rook = ClassOfSet(0, 0, 0, 1, 0);
    const int queen = ClassOfSet(0, 0, 0, 0, 1), king = ClassOfSet(0, 0, 0, 0, 0, 1);
    const int defenders[] = {pawn, minor, rook, queen, king, ClassOfSet(1, 2, 1, 2, 1)};
    struct Row { int defender, attacker, back; };
    std::vector<Row> rows;
    for (int d : defenders) {
        rows.push_back({d, pawn, 16});
        rows.push_back({d, minor, 52});
        rows.push_back({d, rook, 80});
        rows.push_back({d, queen, 156});
        rows.push_back({d, king, 156});
    }
    for (int a : {pawn, minor, rook, queen, ClassOfSet(2, 1, 1, 2, 1)}) rows.push_back({0, a, 0});
    rows.push_back({pawn, ClassOfSet(0, 2, 0, 0, 0), 36});
    rows.push_back({ClassOfSet(0, 0, 0, 2, 0), ClassOfSet(0, 1, 1, 0, 0), 24});
    rows.push_back({queen, ClassOfSet(2, 0, 0, 0, 0), 0});
    // A rook defends, two rooks attack: rook takes, rook retakes, rook takes again.
    rows.push_back({rook, ClassOfSet(0, 0, 0, 2, 0), 0});
    for (const Row& r : rows)
        EXPECT_EQ(ExchangeTable[r.defender | r.attacker << 7], r.back) << r.defender << " vs " << r.attacker;
}

TEST(Tables, RaysDirectionsAndTargets) {
    EXPECT_EQ(RayTable[0][7], NO_SQUARE);   // east of h1
    EXPECT_EQ(RayTable[1][0], 8);           // north of a1
    EXPECT_EQ(RayTable[4][9], 16);          // north-west of b2 is a3
    EXPECT_EQ(RayTable[8][17], 0);          // b3 - 17 = a1
    EXPECT_EQ(RayTable[12][56], NO_SQUARE); // a8 + 17 runs off the board
    EXPECT_EQ(DirectionTable[63][0], 5);    // a1 toward h8: north-east
    EXPECT_EQ(DirectionTable[0][63], 6);
    EXPECT_EQ(DirectionTable[7][0], 0);
    EXPECT_EQ(DirectionTable[21][4], 12);   // e1 to f3: the +17 knight jump
    EXPECT_EQ(DirectionTable[25][0], NO_DIRECTION);  // a1 and b4: neither line nor jump
    EXPECT_EQ(DirectionTable[0][0], NO_DIRECTION);
    EXPECT_EQ(ShadeTable[0], 1);
    EXPECT_EQ(ShadeTable[1], 0);
    EXPECT_EQ(HighestBit[1], 0);
    EXPECT_EQ(HighestBit[0x90], 7);
    EXPECT_EQ(SlotIndex(1u << 12), 12);
    EXPECT_EQ(SlotIndex(1u << 3), 3);

    struct Count { PieceType type; int square; int targets; };
    const Count counts[] = {{KNIGHT, 0, 2}, {KNIGHT, 27, 8}, {BISHOP, 0, 7}, {BISHOP, 27, 13}, {ROOK, 0, 14},
                            {ROOK, 27, 14}, {QUEEN, 27, 27}, {QUEEN, 0, 21}, {KING, 0, 3}, {KING, 27, 8}};
    for (const Count& c : counts) {
        int n = 0;
        while (TargetList[c.type][c.square][n].square != NO_SQUARE) ++n;
        EXPECT_EQ(n, c.targets) << int(c.type) << " on " << c.square;
    }
    // Skip counts: a rook on a1 sees seven squares east, the first followed by six.
    EXPECT_EQ(TargetList[ROOK][0][0].square, 1);
    EXPECT_EQ(TargetList[ROOK][0][0].skip, 6);
    EXPECT_EQ(TargetList[ROOK][0][6].square, 7);
    EXPECT_EQ(TargetList[ROOK][0][6].skip, 0);
    EXPECT_EQ(TargetList[ROOK][0][7].square, 8);
}

TEST(Tables, KeysAreDistinct) {
    std::vector<uint64_t> keys;
    for (auto& row : PieceKeys) keys.insert(keys.end(), row.begin(), row.end());
    for (uint32_t k : SquareKeys) keys.push_back(k);
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(std::adjacent_find(keys.begin(), keys.end()), keys.end());
    EXPECT_NE(SquareKeys[0], 0u);
}

}  // namespace
}  // namespace tavrix
