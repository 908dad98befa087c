#include <gtest/gtest.h>

#include "board_test_util.h"
#include "search/search_state.h"

namespace tavrix {
namespace {

int Sq(const char* name) { return test::ParseSquare(name); }
const AttackRecord& At(const Position& p, Colour c, const char* sq) { return p.attackMap[c].square[Sq(sq)]; }
Move M(const char* from, const char* to, uint16_t kind = MoveKind::QUIET) { return MakeMoveWord(Sq(from), Sq(to), kind); }

TEST(AttackMaps, XraysThroughPiecesOfTheSameLine) {
    struct Row { const char* fen; Colour side; const char* square; uint16_t weight; uint8_t xray; uint8_t count; };
    const Row rows[] = {
        // rook behind rook on the a-file: beyond the front rook the rear one x-rays
        {"4k3/8/8/8/8/8/R7/R3K3 w - -", WHITE, "a3", 16, 2, 2},
        {"4k3/8/8/8/8/8/R7/R3K3 w - -", WHITE, "a2", 16, 0, 1},
        {"4k3/8/8/8/8/8/R7/R3K3 w - -", WHITE, "a8", 16, 2, 2},
        // an enemy rook lets the ray through as well
        {"4k3/8/8/8/8/8/r7/R3K3 w - -", WHITE, "a5", 0, 2, 1},
        // queen behind bishop on a diagonal x-rays through it...
        {"4k3/8/8/8/8/8/1B6/Q3K3 w - -", WHITE, "c3", 64, 2, 2},
        // ...but a bishop on a file stops the queen
        {"4k3/8/8/8/8/8/B7/Q3K3 w - -", WHITE, "a3", 0, 0, 0},
        {"4k3/8/8/8/8/8/B7/Q3K3 w - -", WHITE, "a2", 2, 0, 1},
        // the x-ray ends after the first piece that does not move along the line
        {"4k3/8/8/8/N7/8/R7/R3K3 w - -", WHITE, "a4", 16, 2, 2},
        {"4k3/8/8/8/N7/8/R7/R3K3 w - -", WHITE, "a5", 0, 0, 0},
        // pawns and knights
        {"4k3/8/8/8/8/8/3P4/1N2K3 w - -", WHITE, "c3", 1024 + 256, 0, 2},
        {"4k3/8/8/8/8/8/3P4/1N2K3 w - -", WHITE, "d2", 256 + 1, 0, 2},
        {"4k3/3p4/8/8/8/8/8/4K3 w - -", BLACK, "e6", 1024, 0, 1},
    };
    for (const Row& r : rows) {
        Position p;
        ASSERT_TRUE(test::LoadFen(p, r.fen)) << r.fen;
        const AttackRecord& a = At(p, r.side, r.square);
        EXPECT_EQ(a.attackWeight, r.weight) << r.fen << " " << r.square;
        EXPECT_EQ(a.xrayWeight, r.xray) << r.fen << " " << r.square;
        EXPECT_EQ(a.attackerCount, r.count) << r.fen << " " << r.square;
    }
}

TEST(AttackMaps, FrontRookLeavingTurnsXraysIntoDirectAttacks) {
    Position p;
    ASSERT_TRUE(test::LoadFen(p, "4k3/8/8/8/8/8/R7/R3K3 w - -"));
    const uint16_t rearSlot = static_cast<uint16_t>(p.squareSlot[Sq("a1")]);
    EXPECT_EQ(At(p, WHITE, "a5").xraySlots, rearSlot);
    MakeMove(p, M("a2", "h2"));
    EXPECT_EQ(At(p, WHITE, "a5").attackWeight, 16);
    EXPECT_EQ(At(p, WHITE, "a5").xrayWeight, 0);
    EXPECT_EQ(At(p, WHITE, "a5").attackerSlots, rearSlot);
    EXPECT_EQ(At(p, WHITE, "a5").attackerCount, 1);
    UnmakeMove(p);
    EXPECT_EQ(At(p, WHITE, "a5").xrayWeight, 2);
}

TEST(HangingValues, ByAttackersAndDefenders) {
    struct Row { const char* fen; const char* square; int32_t value; };
    const Row rows[] = {
        {"4k3/8/8/2p5/1N6/P7/8/4K3 w - -", "b4", 288},   // knight hit by a pawn, defended
        {"4k3/8/8/2p5/1N6/8/8/4K3 w - -", "b4", 416},    // undefended: the full value
        {"4k3/8/8/8/1N6/8/8/4K3 w - -", "b4", 0},        // not attacked
        {"4k3/8/8/8/8/8/8/r3K3 w - -", "e1", 0},         // the king never hangs
        {"4k3/8/8/3r4/8/8/3R4/7K w - -", "d2", 640},    // rook for nothing
        {"4k3/8/8/3r4/8/8/3R4/3R3K w - -", "d2", 0},     // defended by the rook behind: an even trade
        {"4k3/8/8/3r4/8/8/3R4/4K3 w - -", "d2", 0},      // defended by the king
        // defended by a queen, attacked by a bishop: the defender gets the bishop for the rook
        {"4k3/8/8/4b3/8/8/1R6/1Q2K3 w - -", "b2", 224},
    };
    for (const Row& r : rows) {
        Position p;
        ASSERT_TRUE(test::LoadFen(p, r.fen)) << r.fen;
        EXPECT_EQ(p.hangingValue[Sq(r.square)], r.value) << r.fen;
        EXPECT_EQ(p.hangingValue[Sq(r.square)], test::HangingValueOf(p, Sq(r.square))) << r.fen;
    }
}

TEST(HangingValues, XrayCountsAsAnExtraQueen) {
    Position p;
    // a2 is attacked by the black rook on a7 and, through it, by the rook on a8
    ASSERT_TRUE(test::LoadFen(p, "r3k3/r7/8/8/8/8/R7/4K3 w - -"));
    const AttackRecord& enemy = At(p, BLACK, "a2");
    EXPECT_EQ(enemy.attackWeight, 16);
    EXPECT_EQ(enemy.xrayWeight, 2);
    EXPECT_EQ(AttackClass[ClassIndex(enemy)], 4 + 1);  // one rook and one queen-class capturer
}

TEST(PinTest, SliderLinesToTheKing) {
    struct Row { const char* fen; const char* square; Colour attacker; bool pinned; };
    const Row rows[] = {
        {"4k3/4r3/8/8/8/8/4N3/4K3 w - -", "e2", BLACK, true},
        {"4k3/4r3/8/8/4p3/8/4N3/4K3 w - -", "e2", BLACK, false},  // the rook does not reach e2
        {"4k3/4b3/8/8/8/8/4N3/4K3 w - -", "e2", BLACK, false},    // bishop does not move on files
        {"4k3/8/8/b7/8/8/3N4/4K3 w - -", "d2", BLACK, true},
        {"4k3/8/8/q7/8/8/3N4/4K3 w - -", "d2", BLACK, true},
        {"4k3/8/8/q7/8/8/3N4/5K2 w - -", "d2", BLACK, false},     // king off the line
        {"4k3/8/8/q7/8/2N5/3N4/4K3 w - -", "c3", BLACK, false},   // another piece between
        {"4k3/4n3/8/8/8/8/8/3R1K2 w - -", "e7", WHITE, false},     // the rook is on another file
        {"4k3/4n3/8/8/8/8/8/4R1K1 w - -", "e7", WHITE, true},
    };
    for (const Row& r : rows) {
        Position p;
        ASSERT_TRUE(test::LoadFen(p, r.fen)) << r.fen;
        EXPECT_EQ(IsPinned(p, Sq(r.square), r.attacker), r.pinned) << r.fen;
    }
}

TEST(MakeMove, DoublePushSetsEnPassantOnlyWhenCapturable) {
    struct Row { const char* fen; const char* from; const char* to; int ep; };
    const Row rows[] = {
        {"4k3/8/8/8/3p4/8/4P3/4K3 w - -", "e2", "e4", 20},
        {"4k3/8/8/8/8/8/4P3/4K3 w - -", "e2", "e4", 0},
        {"4k3/8/8/8/5p2/8/4P3/4K3 w - -", "e2", "e4", 20},
        {"4k3/8/8/8/6p1/8/4P3/4K3 w - -", "e2", "e4", 0},
        {"4k3/3p4/8/4P3/8/8/8/4K3 b - -", "d7", "d5", 43},
    };
    for (const Row& r : rows) {
        Position p;
        ASSERT_TRUE(test::LoadFen(p, r.fen));
        const uint64_t before = HashKey64(p);
        MakeMove(p, M(r.from, r.to));
        EXPECT_EQ(p.epSquare, r.ep) << r.fen;
        const uint64_t pieces = PieceKey(PAWN, 1 - p.sideToMove, Sq(r.from)) ^ PieceKey(PAWN, 1 - p.sideToMove, Sq(r.to));
        EXPECT_EQ(HashKey64(p) ^ before ^ pieces, r.ep ? SquareKeys[r.ep] : 0u) << r.fen;
    }
}

TEST(MakeMove, FirstKingMoveGivesUpBothRightsOnce) {
    Position p;
    ASSERT_TRUE(test::LoadFen(p, "r3k2r/8/8/8/8/8/8/R3K2R w KQkq -"));
    const uint32_t low = p.hashKey[0];
    MakeMove(p, M("e1", "e2"));
    const uint32_t kingKeys = static_cast<uint32_t>(PieceKey(KING, WHITE, 4) ^ PieceKey(KING, WHITE, 12));
    EXPECT_EQ(p.hashKey[0] ^ low ^ kingKeys, SquareKeys[0] ^ SquareKeys[7]);
    MakeMove(p, M("e8", "d8"));
    const uint32_t afterKing = p.hashKey[0];
    MakeMove(p, M("h1", "h5"));  // the right is gone already: only the rook's own keys change
    EXPECT_EQ(p.hashKey[0] ^ afterKing, static_cast<uint32_t>(PieceKey(ROOK, WHITE, 7) ^ PieceKey(ROOK, WHITE, 39)));
}

TEST(MakeMove, GainsMaterialAndIrreversiblePly) {
    struct Row {
        const char* fen; Move move; int32_t gain; int32_t moverMaterialChange; int32_t otherMaterialChange;
        bool irreversible; bool check;
    };
    const Row rows[] = {
        {"3r3k/4P3/8/8/8/8/8/4K3 w - -", M("e7", "d8", MoveKind::PROMOTE_QUEEN), 640 + 576, 1120, -640, true, true},
        {"3r3k/4P3/8/8/8/8/8/4K3 w - -", M("e7", "d8", MoveKind::PROMOTE_KNIGHT), 640, 288, -640, true, false},
        {"3r3k/4P3/8/8/8/8/8/4K3 w - -", M("e7", "e8", MoveKind::PROMOTE_ROOK), 0, 512, 0, true, true},
        {"4k3/8/8/8/8/8/8/4K2R w K -", M("e1", "g1", MoveKind::CASTLING), 64, 0, 0, false, false},
        {"4k3/8/8/3pP3/8/8/8/4K3 w - d6", M("e5", "d6", MoveKind::EN_PASSANT), 128, 0, -128, true, false},
        {"4k3/8/8/8/8/8/8/R3K3 w - -", M("a1", "a8"), 0, 0, 0, false, true},
        {"4k3/8/8/8/8/8/4P3/4K3 w - -", M("e2", "e3"), 0, 0, 0, true, false},
        {"4k3/8/8/8/8/8/8/q3K2R w - -", M("h1", "h8"), 0, 0, 0, false, true},
    };
    for (const Row& r : rows) {
        Position p;
        ASSERT_TRUE(test::LoadFen(p, r.fen)) << r.fen;
        const Colour mover = p.sideToMove;
        const int32_t mine = p.material[mover], theirs = p.material[mover ^ 1];
        MakeMove(p, r.move);
        EXPECT_EQ(p.moveGain, r.gain) << r.fen;
        EXPECT_EQ(p.gainCoarse, r.gain >> 5) << r.fen;
        EXPECT_EQ(p.material[mover] - mine, r.moverMaterialChange) << r.fen;
        EXPECT_EQ(p.material[mover ^ 1] - theirs, r.otherMaterialChange) << r.fen;
        EXPECT_EQ(p.lastIrreversiblePly, r.irreversible ? 2 : 1) << r.fen;
        EXPECT_EQ(p.undoStack[p.undoTop].checkFlag, r.check ? IN_CHECK_FLAG : 0) << r.fen;
        EXPECT_EQ(p.lastToSquare, MoveTo(r.move)) << r.fen;
    }
}

TEST(MakeMove, CastlingPlacesKingAndRookInBothModes) {
    struct Row { const char* fen; Move move; const char* king; const char* rook; };
    const Row rows[] = {
        {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq -", M("e1", "g1", MoveKind::CASTLING), "g1", "f1"},
        {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq -", M("e1", "c1", MoveKind::CASTLING), "c1", "d1"},
        {"r3k2r/8/8/8/8/8/8/R3K2R b KQkq -", M("e8", "c8", MoveKind::CASTLING), "c8", "d8"},
        {"1r4kr/8/8/8/8/8/8/1R4KR w HBhb -", M("g1", "h1", MoveKind::CASTLING), "g1", "f1"},
        {"1r4kr/8/8/8/8/8/8/1R4KR w HBhb -", M("g1", "b1", MoveKind::CASTLING), "c1", "d1"},
        {"4k3/8/8/8/8/8/8/5KR1 w G -", M("f1", "g1", MoveKind::CASTLING), "g1", "f1"},
    };
    for (const Row& r : rows) {
        Position p;
        ASSERT_TRUE(test::LoadFen(p, r.fen)) << r.fen;
        const Position before = p;
        MakeMove(p, r.move);
        EXPECT_EQ(p.pieceType[Sq(r.king)], KING) << r.fen;
        EXPECT_EQ(p.pieceType[Sq(r.rook)], ROOK) << r.fen;
        EXPECT_EQ(p.moveCount[Sq(r.king)], 1) << r.fen;
        EXPECT_EQ(p.moveCount[Sq(r.rook)], 1) << r.fen;
        EXPECT_EQ(KingSquare(p, 1 - p.sideToMove), Sq(r.king));
        test::ExpectConsistent(p, test::CastleTermOfSetUp(before) ^ test::CastleTermChange(before, r.move), r.fen);
        UnmakeMove(p);
        test::ExpectRestored(p, before, r.fen);
    }
}

TEST(MakeMove, NullMovePassesTheTurnAndDropsEnPassant) {
    Position p;
    ASSERT_TRUE(test::LoadFen(p, "4k3/8/8/3pP3/8/8/8/4K3 w - d6"));
    const Position before = p;
    p.nodes = 0;
    MakeNullMove(p);
    EXPECT_EQ(p.nodes, 1u);
    EXPECT_EQ(p.sideToMove, BLACK);
    EXPECT_EQ(p.epSquare, 0);
    EXPECT_EQ(HashKey64(p), HashKey64(before) ^ SquareKeys[43]);
    EXPECT_EQ(p.undoStack[p.undoTop].move, NO_MOVE);
    EXPECT_EQ(p.lastToSquare, 0);
    EXPECT_EQ(&OwnAttacks(p), &p.attackMap[BLACK]);
    UnmakeNullMove(p);
    test::ExpectRestored(p, before, "null move");
}

}  // namespace
}  // namespace tavrix
