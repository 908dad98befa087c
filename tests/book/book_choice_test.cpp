// The book move choice: style floors, legality and repetition, the check bit, the 8-ply exit
// and positions that share a key.
#include <gtest/gtest.h>

#include "board/makemove.h"
#include "book/book_support.h"

namespace tavrix {
namespace {

using namespace testing_support;
using bookbuild::AddRecord;
using bookbuild::BookBuilder;
using bookbuild::START_FEN;

constexpr int WILD = 1, WIDE = 2, VARIED = 3, TOURNAMENT = 4;
constexpr int PROBES = 64;

using BookChoiceTest = BookTest;

// Whether any of many probes (each with fresh random draws) answers a book move.
bool EverAnswers(Position& p, uint32_t flags) {
    for (int i = 0; i < PROBES; ++i) {
        ResetBookPly();
        if (Probe(p, flags) != NO_MOVE) return true;
    }
    return false;
}

TEST_F(BookChoiceTest, WeightsBelowTheStyleFloorAreNeverChosen) {
    const struct {
        int style;
        bool learning;
        int staticWeight;
        int learned;
        bool answers;
    } cases[] = {
        {WILD, false, 1, 0, true},          {WILD, false, 0, 31, false},     {WIDE, false, 1, 31, false},
        {WIDE, false, 2, 0, true},          {VARIED, false, 2, 31, false},   {VARIED, false, 3, 0, true},
        {TOURNAMENT, false, 2, 31, false},  {TOURNAMENT, false, 3, 0, true}, {VARIED, true, 7, 11, false},
        {VARIED, true, 0, 12, true},        {WILD, true, 7, 3, false},       {WILD, true, 0, 4, true},
        {0, false, 7, 28, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "style " << c.style << " learning " << c.learning << " static "
                                        << c.staticWeight << " learned " << c.learned);
        Position& p = FenPosition(START_FEN);
        BookBuilder b;
        AddRecord(b, p, Coord(p, "e2e4"), c.staticWeight, c.learned);
        AddRecord(b, p, Coord(p, "d2d4"), c.staticWeight, c.learned);
        OpenBuiltBook(b, "floors.tbk");
        EXPECT_EQ(EverAnswers(p, BookFlags(c.style, c.learning)), c.answers);
        EXPECT_FALSE(EverAnswers(p, BookFlags(c.style, c.learning) & ~OptionFlag::OWN_BOOK));
        CloseBook();
    }
}

// A pinned piece's book move, a record whose squares no move has, and a move back to an
// earlier position of the game all lose to a weaker legal move.
TEST_F(BookChoiceTest, IllegalAndRepeatingMovesAreNeverReturned) {
    Position& pinned = FenPosition("4k3/4r3/8/8/8/8/4N3/4K3 w - - 0 1");
    BookBuilder b;
    AddRecord(b, pinned, MakeMoveWord(12, 18), 7);       // Ne2-c3 leaves the king in check
    AddRecord(b, pinned, MakeMoveWord(12, 44), 7);       // e2-e6: no such move
    AddRecord(b, pinned, Coord(pinned, "e1d1"), 3);
    OpenBuiltBook(b, "illegal.tbk");
    for (int i = 0; i < PROBES; ++i) {
        ResetBookPly();
        EXPECT_EQ(Probe(pinned, BookFlags(WILD, false)) & BookBits::SQUARES, Coord(pinned, "e1d1"));
    }
    CloseBook();

    Position& p = FenPosition(START_FEN);
    for (const char* m : {"g1f3", "g8f6", "f3g1"}) MakeMove(p, Coord(p, m));
    BookBuilder r;
    AddRecord(r, p, Coord(p, "f6g8"), 7);  // back to the start position
    AddRecord(r, p, Coord(p, "e7e5"), 3);
    OpenBuiltBook(r, "repeat.tbk");
    for (int i = 0; i < PROBES; ++i) {
        ResetBookPly();
        EXPECT_EQ(Probe(p, BookFlags(WILD, false)) & BookBits::SQUARES, Coord(p, "e7e5"));
    }
}

TEST_F(BookChoiceTest, CheckingMoveCarriesTheCheckBit) {
    Position& p = FenPosition("rnbqkbnr/pppp1ppp/8/4p3/6P1/5P2/PPPPP2P/RNBQKBNR b KQkq g3 0 2");
    BookBuilder b;
    AddRecord(b, p, Coord(p, "d8h4"), 7);
    OpenBuiltBook(b, "check.tbk");
    EXPECT_EQ(Probe(p, BookFlags(TOURNAMENT, true)), Coord(p, "d8h4") | CHECK_MARK);
}

// After 9 plies without a hit the book stays silent until the next set-up.
TEST_F(BookChoiceTest, BookIsLeftNinePliesAfterTheLastHit) {
    Position& p = FenPosition(START_FEN);
    BookBuilder b;
    AddRecord(b, p, Coord(p, "e2e4"), 7);
    OpenBuiltBook(b, "exit.tbk");
    const struct {
        int32_t lastHitBack;  // plies before the current one; 0: none since set-up
        bool answers;
    } cases[] = {{0, true}, {8, true}, {9, false}, {20, false}};
    p.ply = 30;
    for (const auto& c : cases) {
        ResetBookPly();
        if (c.lastHitBack != 0) Book.lastBookPly = p.ply - c.lastHitBack;
        EXPECT_EQ(Probe(p, BookFlags(TOURNAMENT, true)) != NO_MOVE, c.answers) << c.lastHitBack;
        if (c.answers) EXPECT_EQ(Book.lastBookPly, p.ply);
    }
}

// Two positions whose book keys are equal but whose check bytes differ share no moves.
TEST_F(BookChoiceTest, EqualKeysWithOtherCheckBytesAreOtherPositions) {
    Position& p = FenPosition(START_FEN);
    BookBuilder b;
    AddRecord(b, BookKey(p), static_cast<uint8_t>(BookCheck(p) ^ 0x5A), Coord(p, "e2e4"), 7);
    AddRecord(b, p, Coord(p, "d2d4"), 3);
    AddRecord(b, BookKey(p), static_cast<uint8_t>(BookCheck(p) ^ 0xA5), Coord(p, "g1f3"), 7);
    OpenBuiltBook(b, "collide.tbk");
    for (int i = 0; i < PROBES; ++i) {
        ResetBookPly();
        EXPECT_EQ(Probe(p, BookFlags(WILD, false)) & BookBits::SQUARES, Coord(p, "d2d4"));
    }
}

}  // namespace
}  // namespace tavrix
