#include <gtest/gtest.h>

#include "board_test_util.h"

namespace tavrix {
namespace {

int SlotOf(const Position& p, int sq) { return SlotIndex(p.squareSlot[sq]); }
int Sq(const char* name) { return test::ParseSquare(name); }

TEST(SetUp, StartPositionSlotsAndCounts) {
    Position p;
    ASSERT_TRUE(SetUpPosition(p, 2, 0x3600));
    EXPECT_EQ(p.sideToMove, WHITE);
    struct Row { const char* square; int slot; };
    const Row rows[] = {{"e1", 0}, {"d1", 1}, {"a1", 2}, {"h1", 3}, {"f1", 4}, {"c1", 5}, {"b1", 6}, {"g1", 7},
                        {"a2", 15}, {"h2", 8}, {"e8", 0}, {"d8", 1}, {"c8", 4}, {"f8", 5}, {"a7", 15}};
    for (const Row& r : rows) EXPECT_EQ(SlotOf(p, Sq(r.square)), r.slot) << r.square;
    EXPECT_EQ(p.material[WHITE], 8 * 128 + 2 * 416 + 2 * 416 + 2 * 640 + 1248);
    // Read as fields: 32 piece points, 7 pieces, 8 pawns, 2 knights, 2 bishops, 2 rooks, 1 queen.
    EXPECT_EQ(p.materialSignature[BLACK], 32u | 7u << 8 | 8u << 16 | 2u << 20 | 2u << 22 | 2u << 24 | 1u << 26);
    for (int sq = 0; sq < 64; ++sq) EXPECT_EQ(p.moveCount[sq], 0) << sq;
    EXPECT_EQ(p.hashKey[1], static_cast<uint32_t>(test::PieceAndEpKey(p) >> 32));
    EXPECT_EQ(p.hashKey[0], static_cast<uint32_t>(test::PieceAndEpKey(p)));  // all rights: no castling term
    EXPECT_EQ(p.ply, 1);
    EXPECT_EQ(p.lastIrreversiblePly, 1);
    EXPECT_EQ(p.undoStack[0].move, SENTINEL_MOVE);
    EXPECT_EQ(p.pawnFile[WHITE][0], 0);
    EXPECT_EQ(p.pawnFile[WHITE][5], 0x02);
    EXPECT_EQ(p.pawnFile[BLACK][9], 0);
    EXPECT_EQ(p.hangingTotal[WHITE] + p.hangingTotal[BLACK], 0);
}

TEST(SetUp, SurplusPiecesTakeSpareSlots) {
    struct Case { const char* fen; const char* square; int slot; };
    const Case cases[] = {
        // three queens: the extra ones fill the slots that missing pawns left, from 8 up
        {"4k3/8/8/8/8/8/PPPPP3/QQQ1K3 w - -", "a1", 1},
        {"4k3/8/8/8/8/8/PPPPP3/QQQ1K3 w - -", "b1", 8},
        {"4k3/8/8/8/8/8/PPPPP3/QQQ1K3 w - -", "c1", 9},
        {"4k3/8/8/8/8/8/PPPPP3/QQQ1K3 w - -", "a2", 15},
        {"4k3/8/8/8/8/8/PPPPP3/QQQ1K3 w - -", "e2", 11},
        // two bishops on dark squares: the second takes the lowest spare slot
        {"4k3/8/8/8/8/8/8/B1B1K3 w - -", "a1", 5},
        {"4k3/8/8/8/8/8/8/B1B1K3 w - -", "c1", 8},
        {"4k3/8/8/8/8/8/8/1B2K3 w - -", "b1", 4},
        // third knight and third rook
        {"4k3/8/8/8/8/8/8/NNN1K3 w - -", "c1", 8},
        {"4k3/8/8/8/8/8/8/RRR1K3 w - -", "c1", 8},
        {"4k3/8/8/8/8/8/pppppppp/K7 w - -", "h2", 8},
    };
    for (const Case& c : cases) {
        Position p;
        ASSERT_TRUE(test::LoadFen(p, c.fen)) << c.fen;
        EXPECT_EQ(SlotOf(p, Sq(c.square)), c.slot) << c.fen << " " << c.square;
    }
}

TEST(SetUp, RefusesUnplayablePositions) {
    struct Case { const char* fen; bool accepted; };
    const Case cases[] = {
        {"4k3/8/8/8/8/8/8/4K2R w - -", true},
        {"4k2R/8/8/8/8/8/8/4K3 b - -", true},            // Black to move in check: fine
        {"4k2R/8/8/8/8/8/8/4K3 w - -", false},           // Black, not to move, is in check
        {"4k3/8/8/8/8/8/8/8 w - -", false},              // no white king
        {"4k3/8/8/8/8/8/8/3KK3 w - -", false},           // two white kings
        {"P3k3/8/8/8/8/8/8/4K3 w - -", false},           // pawn on the last rank
        {"4k3/8/8/8/8/8/8/p3K3 w - -", false},           // pawn on the first rank
        {"QQQQQQQQ/QQQQQQQQ/QQ6/8/8/8/8/4K2k w - -", false},  // more pieces than slots
    };
    for (const Case& c : cases) {
        Position p;
        EXPECT_EQ(test::LoadFen(p, c.fen), c.accepted) << c.fen;
    }
}

TEST(SetUp, CastlingRightsAndKeys) {
    struct Case { const char* fen; int squareCount[4][2]; int absentCorners; };
    // squareCount: {square, expected moveCount}; absentCorners: bits of [wK, wQ, bK, bQ] keyed as lost
    const Case cases[] = {
        {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq -", {{4, 0}, {7, 0}, {0, 0}, {63, 0}}, 0},
        {"r3k2r/8/8/8/8/8/8/R3K2R w Kq -", {{4, 0}, {7, 0}, {0, 1}, {56, 0}}, 0b0110},
        {"r3k2r/8/8/8/8/8/8/R3K2R w - -", {{4, 0}, {7, 1}, {0, 1}, {63, 1}}, 0b1111},
        // a right whose rook is missing counts as absent
        {"r3k3/8/8/8/8/8/8/4K2R w KQkq -", {{4, 0}, {7, 0}, {60, 0}, {56, 0}}, 0b0110},
        // a right whose king has left its square counts as absent
        {"r3k2r/8/8/8/8/8/8/R2K3R w KQ -", {{3, 1}, {7, 1}, {0, 1}, {60, 0}}, 0b1111},
    };
    for (const Case& c : cases) {
        Position p;
        ASSERT_TRUE(test::LoadFen(p, c.fen)) << c.fen;
        for (auto& sc : c.squareCount) EXPECT_EQ(p.moveCount[sc[0]], sc[1]) << c.fen << " square " << sc[0];
        uint32_t term = 0;
        const int corners[4] = {CastleCorner[WHITE][KING_SIDE], CastleCorner[WHITE][QUEEN_SIDE],
                                CastleCorner[BLACK][KING_SIDE], CastleCorner[BLACK][QUEEN_SIDE]};
        for (int i = 0; i < 4; ++i)
            if (c.absentCorners & (1 << i)) term ^= SquareKeys[corners[i]];
        EXPECT_EQ(HashKey64(p), test::PieceAndEpKey(p) ^ term) << c.fen;
        EXPECT_EQ(p.chess960, 0);
    }
}

TEST(SetUp, RookFilesSwitchOnChess960) {
    Position p;
    // HAha with kings on e1/e8 gives the ordinary rights plus the rook files.
    ASSERT_TRUE(test::LoadFen(p, "r3k2r/8/8/8/8/8/8/R3K2R w HAha -"));
    EXPECT_EQ(p.chess960, 1);
    Position q;
    ASSERT_TRUE(test::LoadFen(q, "r3k2r/8/8/8/8/8/8/R3K2R w KQkq -"));
    EXPECT_EQ(HashKey64(p), HashKey64(q));

    // Rooks on b- and g-files: the rights' keys are those of the corners they stand for.
    ASSERT_TRUE(test::LoadFen(p, "1r2k1r1/8/8/8/8/8/8/1R2K1R1 w GB -"));
    EXPECT_EQ(p.castleRookSquare[WHITE][KING_SIDE], Sq("g1"));
    EXPECT_EQ(p.castleRookSquare[WHITE][QUEEN_SIDE], Sq("b1"));
    EXPECT_EQ(p.castleRookSquare[BLACK][KING_SIDE], 63);
    EXPECT_EQ(p.moveCount[Sq("g1")], 0);
    EXPECT_EQ(p.moveCount[Sq("b1")], 0);
    EXPECT_EQ(p.moveCount[Sq("g8")], 1);
    EXPECT_EQ(HashKey64(p), test::PieceAndEpKey(p) ^ SquareKeys[63] ^ SquareKeys[56]);
    EXPECT_EQ(CastleKey(p, WHITE, Sq("b1")), SquareKeys[0]);
    EXPECT_EQ(CastleKey(p, WHITE, Sq("g1")), SquareKeys[7]);
}

TEST(SetUp, EnPassantOnlyWhenCapturable) {
    struct Case { const char* fen; int ep; };
    const Case cases[] = {
        {"4k3/8/8/3pP3/8/8/8/4K3 w - d6", 43},
        {"4k3/8/8/3p4/8/8/8/4K3 w - d6", 0},       // no white pawn can take
        {"4k3/8/8/3pP3/8/8/8/4K3 b - d6", 0},      // wrong side to move
        {"4k3/8/8/4P3/8/8/8/4K3 w - d6", 0},       // no pawn passed
        {"4k3/8/8/8/3Pp3/8/8/4K3 b - d3", 19},
        {"4k3/8/8/8/2P1p3/8/8/4K3 b - d3", 0},     // the pawn on d4 is missing
    };
    for (const Case& c : cases) {
        Position p;
        ASSERT_TRUE(test::LoadFen(p, c.fen)) << c.fen;
        EXPECT_EQ(p.epSquare, c.ep) << c.fen;
        EXPECT_EQ(HashKey64(p), test::PieceAndEpKey(p) ^ test::CastleTermOfSetUp(p)) << c.fen;
    }
}

TEST(SetUp, CheckOfSideToMoveMarksTheSetUpEntry) {
    Position p;
    ASSERT_TRUE(test::LoadFen(p, "4k2R/8/8/8/8/8/8/4K3 b - -"));
    EXPECT_EQ(p.undoStack[0].checkFlag, IN_CHECK_FLAG);
    ASSERT_TRUE(test::LoadFen(p, "4k3/8/8/8/8/8/8/3K3R b - -"));  // the rook does not reach e8
    EXPECT_EQ(p.undoStack[0].checkFlag, 0);
}

}  // namespace
}  // namespace tavrix
