#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "search/ordering.h"
#include "search/ttable.h"

namespace tavrix {
namespace {

constexpr uint16_t WeightOf[8] = {0, AttackWeight::PAWN, AttackWeight::KNIGHT, AttackWeight::BISHOP,
                                  AttackWeight::ROOK, AttackWeight::QUEEN, AttackWeight::KING, 0};

int Sq(const char* name) { return MakeSquare(name[0] - 'a', name[1] - '1'); }

// A hand-made board: pieces and only the attack records a test needs.
struct Board {
    std::unique_ptr<Position> pos = std::make_unique<Position>();
    int nextSlot[2] = {1, 1};

    Board() {
        for (int sq = 0; sq < 64; ++sq) pos->pieceColour[sq] = EMPTY_COLOUR;
        for (auto& row : pos->slotSquare)
            for (uint8_t& s : row) s = NO_SQUARE;
    }
    Board& Put(const char* sq, PieceType t, Colour c) {
        const int s = Sq(sq);
        const int slot = t == KING ? KING_SLOT : nextSlot[c]++;
        pos->pieceType[s] = t;
        pos->pieceColour[s] = uint8_t(c);
        pos->slotSquare[c][slot] = uint8_t(s);
        pos->squareSlot[s] = 1u << slot;
        pos->liveSlots[c] |= 1u << slot;
        if (t == PAWN) pos->pawnRankSlots[c][RankOf(s)] |= 1u << slot;
        return *this;
    }
    // The piece on `from` attacks `target` (directly).
    Board& Attack(const char* from, const char* target) {
        const int f = Sq(from);
        AttackRecord& r = pos->attackMap[pos->pieceColour[f]].square[Sq(target)];
        r.attackWeight = uint16_t(r.attackWeight + WeightOf[pos->pieceType[f]]);
        r.attackerSlots = uint16_t(r.attackerSlots | pos->squareSlot[f]);
        r.attackerCount++;
        return *this;
    }
    Board& Hanging(const char* sq, int32_t v) {
        pos->hangingValue[Sq(sq)] = v;
        return *this;
    }
};

class OrderingTest : public ::testing::Test {
protected:
    void SetUp() override { ResetOrderingState(); }
};

TEST_F(OrderingTest, ExchangeSummaries) {
    namespace W = AttackWeight;
    struct Case {
        const char* name;
        uint16_t ownWeight;
        uint8_t ownXray;
        uint16_t enemyWeight;
        uint8_t enemyXray;
        int32_t back;
    };
    const Case cases[] = {
        {"single pawn against a defended piece", W::KNIGHT, 0, W::PAWN, 0, 128},
        {"single minor", W::PAWN, 0, W::BISHOP, 0, 416},
        {"single rook", W::PAWN, 0, W::ROOK, 0, 640},
        {"single queen", W::PAWN, 0, W::QUEEN, 0, 1248},
        {"undefended", 0, 0, W::PAWN, 0, 0},
        {"undefended against a queen", 0, 0, W::QUEEN, 0, 0},
        {"pawn defends, two minors attack", W::PAWN, 0, W::KNIGHT + W::BISHOP, 0, 288},
        {"two rooks defend, two minors attack", 2 * W::ROOK, 0, 2 * W::KNIGHT, 0, 192},
        {"queen defends, two pawns attack", W::QUEEN, 0, 2 * W::PAWN, 0, 0},
        {"an x-ray defender recaptures like a queen", 0, 2, W::PAWN, 0, 128},
        {"king defends against a lone rook", W::KING, 0, W::ROOK, 0, 640},
        {"rook and queen against rook and rook", W::ROOK + W::QUEEN, 0, 2 * W::ROOK, 0, 640},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ExchangeBack(c.ownWeight, c.ownXray, c.enemyWeight, c.enemyXray), c.back) << c.name;
}

TEST_F(OrderingTest, FullWidthScores) {
    // White knight g1, rook a1, queen d1, pawn e7; black king d8 area and pieces placed per case.
    struct Case {
        const char* name;
        Move move;
        int16_t base;
        uint16_t history;             // at the move's code
        std::vector<std::pair<const char*, const char*>> attacks;  // from, target
        int32_t expected;
        bool rookBehind = true;       // white rook e5 behind the e7 pawn
    };
    const Move KNIGHT_F3 = MakeMoveWord(Sq("g1"), Sq("f3"));
    const Move QUEEN_TAKES = MakeMoveWord(Sq("d1"), Sq("d6"), MoveKind::CAPTURE);
    const Move ROOK_TAKES = MakeMoveWord(Sq("a1"), Sq("a7"), MoveKind::CAPTURE);
    const Move PROMOTE = MakeMoveWord(Sq("e7"), Sq("e8"), MoveKind::PROMOTE_QUEEN);
    const Move UNDER = MakeMoveWord(Sq("e7"), Sq("e8"), MoveKind::PROMOTE_KNIGHT);
    const Case cases[] = {
        {"safe quiet move, no history", KNIGHT_F3, 0, 0, {}, -30000},
        {"quiet move with history", KNIGHT_F3, 0, 700, {}, -29300},
        {"quiet move into a pawn's attack loses the knight", KNIGHT_F3, 0, 0, {{"e4", "f3"}}, -30416},
        {"defended: loses knight for pawn", KNIGHT_F3, 0, 0, {{"e4", "f3"}, {"e2", "f3"}}, -30288},
        {"history spares the penalty", KNIGHT_F3, 0, 5, {{"e4", "f3"}}, -29995},
        {"attacked by a knight, defended", KNIGHT_F3, 0, 0, {{"h4", "f3"}, {"e2", "f3"}}, -30000},
        {"good capture", ROOK_TAKES, 640, 0, {}, 640 + 30003},
        {"capture of a defended pawn by the queen", QUEEN_TAKES, 128, 0, {{"c7", "d6"}}, 128 - 1248 - 30000},
        {"defended queen takes a pawn-defended rook", QUEEN_TAKES, 640, 0, {{"c7", "d6"}, {"d2", "d6"}},
         640 + 128 - 1248 - 30000},
        {"capture of an undefended piece is good", QUEEN_TAKES, 416, 0, {{"d2", "d6"}}, 416 + 30003},
        {"promotion next to the enemy king", PROMOTE, 1056, 0, {{"d8", "e8"}}, 1056 - 1248 - 30000, false},
        {"promotion backed by a rook behind the pawn", PROMOTE, 1056, 0, {{"d8", "e8"}}, 1056 + 30003},
        {"safe underpromotion still sorts low", UNDER, -480, 0, {}, -480 - 30000},
        {"attacked underpromotion loses the pawn", UNDER, -480, 0, {{"d8", "e8"}}, -480 - 128 - 30000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetOrderingState();
        Board b;
        b.Put("e1", KING, WHITE).Put("g1", KNIGHT, WHITE).Put("a1", ROOK, WHITE).Put("d1", QUEEN, WHITE);
        b.Put("e7", PAWN, WHITE).Put("e2", PAWN, WHITE).Put("d2", PAWN, WHITE);
        if (c.rookBehind) b.Put("e5", ROOK, WHITE);
        b.Put("d8", KING, BLACK).Put("e4", PAWN, BLACK).Put("c7", PAWN, BLACK).Put("h4", KNIGHT, BLACK);
        b.Put("a7", ROOK, BLACK).Put("d6", PAWN, BLACK);
        for (const auto& [from, target] : c.attacks)
            if (std::string(from) != target) b.Attack(from, target);
        const Move m = c.move;
        Ordering.history[PieceDestCode(b.pos->pieceType[MoveFrom(m)], MoveTo(m), WHITE)] = c.history;
        ScoredMove list[1] = {{m, c.base}};
        ScoreMoves(3, *b.pos, WHITE, list, list + 1);
        EXPECT_EQ(list[0].score, c.expected);
    }
}

TEST_F(OrderingTest, KillersSortAboveAllQuietMoves) {
    struct Case {
        const char* name;
        const char* killer1;
        const char* killer2;
        int32_t expected[3];  // scores of knight f3, knight h3, rook b1
    };
    Board b;
    b.Put("e1", KING, WHITE).Put("g1", KNIGHT, WHITE).Put("a1", ROOK, WHITE).Put("e8", KING, BLACK);
    const Move moves[3] = {MakeMoveWord(Sq("g1"), Sq("f3")), MakeMoveWord(Sq("g1"), Sq("h3")),
                           MakeMoveWord(Sq("a1"), Sq("b1"))};
    const Case cases[] = {
        {"two killers", "f3", "b1", {30002, -30000 + 900, 30001}},
        {"equal killers", "h3", "h3", {-30000, 30001, -30000 + 50}},
        {"no killers", nullptr, nullptr, {-30000, -30000 + 900, -30000 + 50}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetOrderingState();
        const int ply = 5;
        auto code = [](const char* to, PieceType t) { return uint16_t(PieceDestCode(t, Sq(to))); };
        if (c.killer1) {
            Ordering.killers[ply][0] = code(c.killer1, std::string(c.killer1) == "b1" ? ROOK : KNIGHT);
            Ordering.killers[ply][1] = code(c.killer2, std::string(c.killer2) == "b1" ? ROOK : KNIGHT);
        }
        Ordering.history[PieceDestCode(KNIGHT, Sq("h3"), WHITE)] = 900;
        Ordering.history[PieceDestCode(ROOK, Sq("b1"), WHITE)] = 50;
        ScoredMove list[3] = {{moves[0], 0}, {moves[1], 0}, {moves[2], 0}};
        ScoreMoves(ply, *b.pos, WHITE, list, list + 3);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(list[i].score, c.expected[i]) << i;
        // The killers' stand-in values never stay behind.
        EXPECT_EQ(Ordering.history[PieceDestCode(KNIGHT, Sq("h3"), WHITE)], 900);
        EXPECT_EQ(Ordering.history[PieceDestCode(ROOK, Sq("b1"), WHITE)], 50);
        EXPECT_EQ(Ordering.history[PieceDestCode(KNIGHT, Sq("f3"), WHITE)], 0);
    }
}

TEST_F(OrderingTest, CutoffBookkeeping) {
    Board b;
    b.Put("e1", KING, WHITE).Put("g1", KNIGHT, WHITE).Put("a1", ROOK, WHITE).Put("e8", KING, BLACK);
    b.Put("b8", KNIGHT, BLACK);
    const Move nf3 = MakeMoveWord(Sq("g1"), Sq("f3")), rb1 = MakeMoveWord(Sq("a1"), Sq("b1"));
    const Move nc6 = MakeMoveWord(Sq("b8"), Sq("c6"));
    const int nf3Code = PieceDestCode(KNIGHT, Sq("f3"), WHITE), rb1Code = PieceDestCode(ROOK, Sq("b1"), WHITE);

    RecordQuietCutoff(*b.pos, WHITE, 4, 4, nf3, &rb1, 1);
    EXPECT_EQ(Ordering.history[nf3Code], 16);
    EXPECT_EQ(Ordering.cutoff.tried[nf3Code], 5);
    EXPECT_EQ(Ordering.cutoff.succeeded[nf3Code], 4);
    EXPECT_EQ(Ordering.cutoff.ratio[nf3Code], 4 * 256 / 5);
    EXPECT_EQ(Ordering.cutoff.tried[rb1Code], 5);
    EXPECT_EQ(Ordering.cutoff.ratio[rb1Code], 0);
    EXPECT_EQ(Ordering.history[rb1Code], 0);
    EXPECT_EQ(Ordering.killers[4][0], PieceDestCode(KNIGHT, Sq("f3")));

    // The same killer again does not push out the second slot; a new one does.
    RecordQuietCutoff(*b.pos, WHITE, 4, 2, rb1, nullptr, 0);
    RecordQuietCutoff(*b.pos, WHITE, 4, 2, rb1, nullptr, 0);
    EXPECT_EQ(Ordering.killers[4][0], PieceDestCode(ROOK, Sq("b1")));
    EXPECT_EQ(Ordering.killers[4][1], PieceDestCode(KNIGHT, Sq("f3")));
    EXPECT_EQ(Ordering.killers[3][0], 0);

    // Black's statistics live in their own half; killers carry no colour.
    RecordQuietCutoff(*b.pos, BLACK, 7, 3, nc6, nullptr, 0);
    EXPECT_EQ(Ordering.history[PieceDestCode(KNIGHT, Sq("c6"), BLACK)], 9);
    EXPECT_EQ(Ordering.history[PieceDestCode(KNIGHT, Sq("c6"), WHITE)], 0);
    EXPECT_EQ(Ordering.killers[7][0], PieceDestCode(KNIGHT, Sq("c6")));
}

TEST_F(OrderingTest, CounterLimits) {
    struct Case {
        const char* name;
        uint16_t history, tried, succeeded;
        int32_t depth;
        uint16_t otherHistory;  // another entry, to see the table-wide halving
        uint16_t wantHistory, wantTried, wantSucceeded, wantOther;
        uint8_t wantRatio;
    };
    const Case cases[] = {
        {"below the limits", 100, 10, 5, 3, 41, 109, 13, 8, 41, 8 * 256 / 13},
        {"history reaching 60001 halves the table", 59992, 10, 5, 3, 41, 30001, 13, 8, 21, 8 * 256 / 13},
        {"history just below", 59991, 10, 5, 3, 41, 60000, 13, 8, 41, 8 * 256 / 13},
        {"tried reaching 65470 halves both", 0, 65466, 65000, 4, 0, 16, 32735, 32502, 0, 32502 * 256 / 32735},
        {"all tries successes caps the ratio", 0, 65469, 65469, 1, 0, 1, 32735, 32735, 0, 255},
    };
    Board b;
    b.Put("e1", KING, WHITE).Put("g1", KNIGHT, WHITE).Put("e8", KING, BLACK);
    const Move nf3 = MakeMoveWord(Sq("g1"), Sq("f3"));
    const int code = PieceDestCode(KNIGHT, Sq("f3"), WHITE), other = PieceDestCode(PAWN, Sq("a3"), BLACK);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetOrderingState();
        Ordering.history[code] = c.history;
        Ordering.history[other] = c.otherHistory;
        Ordering.cutoff.tried[code] = c.tried;
        Ordering.cutoff.succeeded[code] = c.succeeded;
        RecordQuietCutoff(*b.pos, WHITE, 2, c.depth, nf3, nullptr, 0);
        EXPECT_EQ(Ordering.history[code], c.wantHistory);
        EXPECT_EQ(Ordering.history[other], c.wantOther);
        EXPECT_EQ(Ordering.cutoff.tried[code], c.wantTried);
        EXPECT_EQ(Ordering.cutoff.succeeded[code], c.wantSucceeded);
        EXPECT_EQ(Ordering.cutoff.ratio[code], c.wantRatio);
    }
}

TEST_F(OrderingTest, HalvedHistoryKeepsKillersOnTop) {
    Board b;
    b.Put("e1", KING, WHITE).Put("g1", KNIGHT, WHITE).Put("a1", ROOK, WHITE).Put("e8", KING, BLACK);
    const Move nf3 = MakeMoveWord(Sq("g1"), Sq("f3")), rb1 = MakeMoveWord(Sq("a1"), Sq("b1"));
    Ordering.history[PieceDestCode(ROOK, Sq("b1"), WHITE)] = 59000;
    Ordering.history[PieceDestCode(KNIGHT, Sq("f3"), WHITE)] = 1600;
    RecordQuietCutoff(*b.pos, WHITE, 1, 40, rb1, nullptr, 0);  // + 1600 overflows: halved
    Ordering.killers[1][0] = Ordering.killers[1][1] = uint16_t(PieceDestCode(ROOK, Sq("h8")));
    ScoredMove list[2] = {{nf3, 0}, {rb1, 0}};
    ScoreMoves(1, *b.pos, WHITE, list, list + 2);
    EXPECT_EQ(list[0].score, 800 - 30000);
    EXPECT_EQ(list[1].score, 30300 - 30000);
    EXPECT_LT(list[1].score, KILLER2_HISTORY - ORDER_BAND);
}

TEST_F(OrderingTest, SearchStartAgesOrResets) {
    struct Case {
        bool retain;
        uint16_t history, tried, succeeded;
        uint16_t wantHistory, wantTried, wantSucceeded;
    };
    const Case cases[] = {{true, 1003, 10, 7, 250, 3, 2}, {true, 3, 1, 0, 0, 1, 0}, {false, 1003, 10, 7, 0, 1, 0}};
    for (const Case& c : cases) {
        ResetOrderingState();
        Ordering.history[17] = c.history;
        Ordering.cutoff.tried[17] = c.tried;
        Ordering.cutoff.succeeded[17] = c.succeeded;
        Ordering.cutoff.ratio[17] = 99;
        Ordering.killers[9][1] = 44;
        AgeOrderingStats(c.retain);
        EXPECT_EQ(Ordering.history[17], c.wantHistory);
        EXPECT_EQ(Ordering.cutoff.tried[17], c.wantTried);
        EXPECT_EQ(Ordering.cutoff.succeeded[17], c.wantSucceeded);
        EXPECT_EQ(Ordering.cutoff.ratio[17], 99);  // kept until the next update
        EXPECT_EQ(Ordering.killers[9][1], 0);
    }
}

TEST_F(OrderingTest, ClearHashResetsTheStatistics) {
    ResetTTState();
    ASSERT_GT(ResizeHashTable(1024), 0);
    for (bool keepLearned : {true, false}) {
        Ordering.history[5] = 77;
        Ordering.cutoff.tried[5] = 40;
        Ordering.cutoff.succeeded[5] = 20;
        Ordering.cutoff.ratio[5] = 128;
        keepLearned ? ClearHashTable() : ClearHashTableFully();
        EXPECT_EQ(Ordering.history[5], 0);
        EXPECT_EQ(Ordering.cutoff.tried[5], 1);
        EXPECT_EQ(Ordering.cutoff.succeeded[5], 0);
        EXPECT_EQ(Ordering.cutoff.ratio[5], 0);
    }
    ResetTTState();
}

TEST_F(OrderingTest, QuiescenceChecksAndThreatenedPieces) {
    // Black king h8 behind pawns g7, h7 unless a case moves them.
    struct Case {
        const char* name;
        bool pawnOnH6;            // h7 empty: a flight square
        Move move;
        int16_t base;
        int32_t mode;
        std::vector<std::pair<const char*, const char*>> attacks;
        int32_t expected;
        bool checkMark;
    };
    const int base = 152;
    const Move RA8 = Move(MakeMoveWord(Sq("a1"), Sq("a8")) | CHECK_MARK);
    const Move RA8_UNMARKED = MakeMoveWord(Sq("a1"), Sq("a8"));
    const Move NC3 = MakeMoveWord(Sq("b1"), Sq("c3"));
    const Case cases[] = {
        {"back-rank mate sorts 2000 higher", false, RA8, 0, 2, {}, 2000 + base + 32 - 56, true},
        {"a free flight square: plain check bonus", true, RA8, 0, 2, {}, base + 32 - 56, true},
        {"checks not considered", false, RA8_UNMARKED, 0, 1, {}, 0, false},
        {"a losing check gets no mating bonus", false, RA8, 0, 2, {{"b6", "a8"}}, -640 + base + 32 - 56, true},
        {"threatened piece moves earlier", false, NC3, 10, 1, {}, 10 + 416 / 64, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetOrderingState();
        Ordering.checkBonusBase = base;
        Board b;
        b.Put("e1", KING, WHITE).Put("a1", ROOK, WHITE).Put("b1", KNIGHT, WHITE).Hanging("b1", 416);
        b.Put("h8", KING, BLACK).Put("g7", PAWN, BLACK).Put(c.pawnOnH6 ? "h6" : "h7", PAWN, BLACK);
        b.Put("b6", KNIGHT, BLACK);
        for (const auto& [from, target] : c.attacks) b.Attack(from, target);
        ScoredMove list[1] = {{c.move, c.base}};
        ScoreQuiescenceMoves(c.mode, *b.pos, WHITE, list, list + 1);
        EXPECT_EQ(list[0].score, c.expected);
        EXPECT_EQ((list[0].move & CHECK_MARK) != 0, c.checkMark);
    }
}

TEST_F(OrderingTest, DiscoveredCheckCoversFlightsFromBehind) {
    // Black king e8 boxed in by its own pieces except e7 (and d7 in the second case); the
    // knight leaves the e-file and uncovers the rook on e1.
    struct Case {
        bool d7Free;
        int32_t mating;
    };
    for (const Case& c : {Case{false, 2000}, Case{true, 0}}) {
        Board b;
        b.Put("g1", KING, WHITE).Put("e1", ROOK, WHITE).Put("e4", KNIGHT, WHITE);
        b.Put("e8", KING, BLACK).Put("d8", QUEEN, BLACK).Put("f8", BISHOP, BLACK).Put("f7", PAWN, BLACK);
        if (!c.d7Free) b.Put("d7", PAWN, BLACK);
        Ordering.checkBonusBase = 88;
        const Move nc5 = Move(MakeMoveWord(Sq("e4"), Sq("c5")) | CHECK_MARK);
        ScoredMove list[1] = {{nc5, 0}};
        ScoreQuiescenceMoves(6, *b.pos, WHITE, list, list + 1);
        // The checker is the rook the knight uncovers, not the knight.
        EXPECT_EQ(list[0].score, c.mating + 88 + 8 * ROOK - 16 - 24) << c.d7Free;
    }
}

TEST_F(OrderingTest, PromotionThreats) {
    struct Case {
        const char* name;
        const char* pawn;           // Black pawn, the side asking is White
        const char* blocker;        // a white knight in front, or nullptr
        int32_t blockerHanging;
        std::vector<std::pair<const char*, const char*>> attacks;
        bool pushedLast;
        int32_t depth, margin;
        int32_t expected;
    };
    const Case cases[] = {
        {"free promotion square", "e2", nullptr, 0, {}, false, 0, 0, 1120},
        {"not above the margin", "e2", nullptr, 0, {}, false, 0, 1120, 0},
        {"contested square", "e2", nullptr, 0, {{"a1", "e1"}}, false, 0, -500, -128},
        {"contested but supported", "e2", nullptr, 0, {{"a1", "e1"}, {"f2", "e1"}}, false, 0, -500, 512},
        {"blocked by a piece", "e2", "e1", 0, {}, false, 0, -500, -128},
        {"blocked by a hanging piece", "e2", "e1", 416, {}, false, 0, 0, 288},
        {"pawn just pushed to the sixth", "e3", nullptr, 0, {}, true, 1, 0, 560},
        {"sixth rank not at depth 0", "e3", nullptr, 0, {}, true, 0, 0, 0},
        {"sixth rank only after its push", "e3", nullptr, 0, {}, false, 1, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Board b;
        b.Put("h1", KING, WHITE).Put("a1", ROOK, WHITE).Put("a8", KING, BLACK).Put(c.pawn, PAWN, BLACK);
        b.Put("f2", KNIGHT, BLACK);
        if (c.blocker) b.Put(c.blocker, KNIGHT, WHITE).Hanging(c.blocker, c.blockerHanging);
        for (const auto& [from, target] : c.attacks) b.Attack(from, target);
        b.pos->lastToSquare = uint8_t(c.pushedLast ? Sq(c.pawn) : Sq("a8"));
        EXPECT_EQ(PromotionThreat(*b.pos, WHITE, c.depth, c.margin), c.expected);
    }
}

}  // namespace
}  // namespace tavrix

#include "board/board_test_util.h"

namespace tavrix {
namespace {

TEST(OrderingOnTheBoard, FullWidthScoresFromRealAttackMaps) {
    struct Case {
        const char* fen;
        const char* move;
        uint16_t kind;
        int16_t base;
        int32_t expected;
    };
    const char* E4 = "rnbqkbnr/pppp1ppp/8/8/4p3/8/PPPPPPPP/RNBQKBNR w KQkq -";
    const Case cases[] = {
        {E4, "g1f3", MoveKind::QUIET, 0, 128 - 416 - 30000},  // the pawn takes, a pawn retakes
        {E4, "b1c3", MoveKind::QUIET, 0, -30000},
        {E4, "d2d3", MoveKind::QUIET, 0, -30000},               // pawn for pawn
        {E4, "f2f3", MoveKind::QUIET, 0, -30000},
        {E4, "f1a6", MoveKind::QUIET, 0, -416 - 30000},         // into the b-pawn's reach
        {"4k3/8/8/3p4/4P3/8/8/4K3 w - -", "e4d5", MoveKind::CAPTURE, 128, 128 + 30003},
        {"4k3/8/2p5/3p4/4P3/8/8/4K3 w - -", "e4d5", MoveKind::CAPTURE, 128, 30003},
        {"4k3/8/2p5/3p4/8/8/8/3QK3 w - -", "d1d5", MoveKind::CAPTURE, 128, 128 - 1248 - 30000},
        {"4k3/8/2p5/3p4/8/8/3R4/3QK3 w - -", "d2d5", MoveKind::CAPTURE, 128, 128 + 128 - 640 - 30000},
        {"4k3/8/2p5/3p4/8/8/3Q4/3RK3 w - -", "d2d5", MoveKind::CAPTURE, 128, 128 + 128 - 1248 - 30000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.fen) + " " + c.move);
        ResetOrderingState();
        auto pos = std::make_unique<Position>();
        ASSERT_TRUE(test::LoadFen(*pos, c.fen));
        const Move m = MakeMoveWord(test::ParseSquare(std::string(c.move, 2)), test::ParseSquare(c.move + 2), c.kind);
        ScoredMove list[1] = {{m, c.base}};
        ScoreMoves(2, *pos, pos->sideToMove, list, list + 1);
        EXPECT_EQ(list[0].score, c.expected);
    }
}

}  // namespace
}  // namespace tavrix
