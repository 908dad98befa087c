#include <gtest/gtest.h>

#include "board/position.h"

namespace tavrix {
namespace {

TEST(MoveWord, FieldsRoundTrip) {
    struct Case { int from, to; uint16_t kind; PieceType promoted; };
    const Case cases[] = {
        {12, 28, MoveKind::QUIET, NO_PIECE},    {52, 60, MoveKind::PROMOTE_QUEEN, QUEEN},
        {52, 59, MoveKind::PROMOTE_KNIGHT, KNIGHT}, {52, 60, MoveKind::PROMOTE_ROOK, ROOK},
        {52, 60, MoveKind::PROMOTE_BISHOP, BISHOP}, {4, 6, MoveKind::CASTLING, NO_PIECE},
        {36, 43, MoveKind::EN_PASSANT, NO_PIECE},
    };
    for (const Case& c : cases) {
        const Move m = MakeMoveWord(c.from, c.to, c.kind);
        EXPECT_EQ(MoveFrom(m), c.from);
        EXPECT_EQ(MoveTo(m), c.to);
        EXPECT_EQ(KindOf(m), c.kind);
        EXPECT_EQ(PromotedType(m), c.promoted);
        EXPECT_EQ(IsPromotion(m), c.promoted != NO_PIECE);
    }
}

}  // namespace
}  // namespace tavrix
