#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>

#include "eval/eval_geometry.h"
#include "eval/evaluate.h"
#include "eval/king.h"
#include "king_pawn_support.h"
#include "support/suite.h"

namespace tavrix {
namespace {

using testing_support::Board;
using testing_support::SquareOf;

TEST(KingZone, ShiftedOffTheEdgeToNineSquares) {
    struct Case { const char* king; const char* centre; };
    const Case cases[] = {{"g1", "g2"}, {"a1", "b2"}, {"h8", "g7"}, {"e4", "e4"}, {"a5", "b5"}, {"d8", "d7"}};
    for (const Case& c : cases) {
        const auto zone = geometry::KingZone(SquareOf(c.king));
        const int centre = SquareOf(c.centre);
        EXPECT_EQ(zone[0], centre) << c.king;
        for (int sq : zone) EXPECT_EQ(geometry::KingDistance(sq, centre) <= 1, true) << c.king;
        EXPECT_EQ(std::count(zone.begin(), zone.end(), zone[0]), 1);
    }
    // g1: f1..h3.
    auto zone = geometry::KingZone(SquareOf("g1"));
    std::sort(zone.begin(), zone.end());
    const int expected[] = {SquareOf("f1"), SquareOf("g1"), SquareOf("h1"), SquareOf("f2"), SquareOf("g2"),
                            SquareOf("h2"), SquareOf("f3"), SquareOf("g3"), SquareOf("h3")};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(zone[i], expected[i]);
}

TEST(KingShelter, OpenFilesAroundTheKing) {
    struct Case { const char* fen; Colour side; int shelter; };
    const Case cases[] = {
        // No enemy rook or queen: nothing is counted.
        {"6k1/5ppp/8/8/8/8/5PPP/6K1 w", WHITE, 0},
        {"6k1/8/8/8/8/8/8/6K1 w", WHITE, 0},
        // Closed king side against a rook.
        {"r5k1/5ppp/8/8/8/8/5PPP/6K1 w", WHITE, 0},
        // The king's file open for the enemy alone (no enemy pawn) costs 21 ...
        {"r5k1/5p1p/8/8/8/8/5PPP/6K1 w", WHITE, -21},
        // ... and without an own pawn 15; both 36.
        {"r5k1/5ppp/8/8/8/8/5P1P/6K1 w", WHITE, -15},
        {"r5k1/5p1p/8/8/8/8/5P1P/6K1 w", WHITE, -36},
        // g-file king: the h-file next (18/13), the f-file for the enemy (11).
        {"r5k1/5pp1/8/8/8/8/5PP1/6K1 w", WHITE, -31},
        {"r5k1/6pp/8/8/8/8/6PP/6K1 w", WHITE, -11},
        // King on c1: b-file (18/13), d-file for the enemy (11), the a-file (15/11).
        {"r5k1/8/8/8/8/8/3P4/2K5 w", WHITE, -21 - 15 - 18 - 13 - 11 - 15 - 11},
        {"r5k1/pppp4/8/8/8/8/PPPP4/2K5 w", WHITE, 0},
        // Black's king the same way against a White queen.
        {"6k1/5p1p/8/8/8/8/5PPP/3Q2K1 b", BLACK, -15},
        {"6k1/5ppp/8/8/8/8/5P1P/3Q2K1 b", BLACK, -21},
    };
    for (const Case& c : cases) {
        Board b(c.fen);
        ASSERT_TRUE(b.ok) << c.fen;
        EXPECT_EQ(KingShelter(*b, c.side), c.shelter) << c.fen;
    }
}

// The engine's own king term with "Aggressive" is not raised by 5/4 as with "Normal".
TEST(KingTerm, AggressiveStyleWeighsOwnKingLightly) {
    const char* fens[] = {
        "r4rk1/5ppp/8/8/8/5q2/5P1P/R5K1 w",
        "2kr3r/ppp5/8/8/8/8/P4PPP/1R2Q1K1 w",
        "r1b2rk1/pp3ppp/8/3q4/8/5N2/PP3PPP/R2Q1RK1 b",
    };
    for (const char* fen : fens) {
        EvalOptions aggressive;
        aggressive.style = PlayingStyle::AGGRESSIVE;
        Board normal(fen);
        ASSERT_TRUE(normal.ok) << fen;
        const Colour own = (*normal).sideToMove;
        const int table = KingTable(own)[KingSquare(*normal, own)];
        const int normalTerm = KingTerm(*normal, own) - table;
        Board light(fen, aggressive);
        const int lightTerm = KingTerm(*light, own) - table;
        EXPECT_NE(lightTerm, 0) << fen;
        EXPECT_EQ(normalTerm, (lightTerm * 5) >> 2) << fen;
        // The opponent's term is raised in both styles.
        const Colour opp = own ^ 1;
        const int opponentLight = KingTerm(*light, opp);
        Board again(fen);
        EXPECT_EQ(KingTerm(*again, opp), opponentLight) << fen;
    }
}

TEST(Threats, TwoHangingPiecesFillBothThreatSlots) {
    struct Case { const char* fen; Colour side; int largest, second; };
    const Case cases[] = {
        // Rook d2 (bishop f4) and knight c3 (pawn b4), both undefended and able to escape.
        {"6k1/8/8/8/1p3b2/2N5/3R4/7K w", WHITE, 640, 416},
        // Only the knight hangs.
        {"6k1/8/8/8/1p6/2N5/3R4/7K w", WHITE, 416, 0},
        // Colours exchanged.
        {"7k/3r4/2n5/1P3B2/8/8/8/6K1 b", BLACK, 640, 416},
        // A defended knight attacked by a pawn loses 288.
        {"6k1/8/8/8/1p6/2N5/1P6/7K w", WHITE, 288, 0},
    };
    for (const Case& c : cases) {
        Board b(c.fen);
        ASSERT_TRUE(b.ok) << c.fen;
        ThreatTerm(*b, c.side);
        EXPECT_EQ(Eval.largestThreat[c.side], c.largest) << c.fen;
        EXPECT_EQ(Eval.secondThreat[c.side], c.second) << c.fen;
    }
}

TEST(Threats, HangingPiecesCostByShift) {
    // Rook and knight hang and both can escape: 6 + 640 >> 6 and 6 + 416 >> 6.
    Board b("6k1/8/8/8/1p3b2/2N5/3R4/7K w");
    ASSERT_TRUE(b.ok);
    EXPECT_EQ(ThreatTerm(*b, WHITE), -(6 + 10) - (6 + 6));
}

// One knight defends two bishops that rooks attack: it is essential to both and
// overloaded on the second.
TEST(Threats, DefenderOfTwoPiecesIsOverloaded) {
    struct Case { const char* fen; int term; };
    const Case cases[] = {
        // One attacked bishop: acc = 416 / 2 + 416 = 624, t = -(624 >> 7).
        {"2r4k/8/8/8/2B1B3/8/3N4/6K1 w", -(624 >> 7)},
        // Both attacked: the second adds 16 * (416 >> 4) + 416 more.
        {"2r1r2k/8/8/8/2B1B3/8/3N4/6K1 w", -(624 >> 7) - ((624 + 16 * 26 + 416) >> 7)},
        // Each bishop with its own defender: no overload.
        {"2r1r2k/8/8/8/2B1B3/1P3P2/8/6K1 w", 2 * -((64 + 416) >> 7)},
    };
    for (const Case& c : cases) {
        Board b(c.fen);
        ASSERT_TRUE(b.ok) << c.fen;
        EXPECT_EQ(ThreatTerm(*b, WHITE), c.term) << c.fen;
        EXPECT_EQ(Eval.largestThreat[WHITE], 0) << c.fen;
    }
}

TEST(Threats, EscapeLossOfTrappedAndFreePieces) {
    struct Case { const char* fen; const char* square; int value; int loss; };
    const Case cases[] = {
        // A knight on a1 attacked by a pawn with both of its squares covered.
        {"6k1/8/8/8/2p5/3p4/1p6/N5K1 w", "a1", 416, 416},
        // The same knight with c2 free: escapes.
        {"6k1/8/8/8/2p5/8/1p6/N5K1 w", "a1", 416, 0},
        // A pawn that can advance escapes; a blocked one does not.
        {"6k1/8/8/3p4/4P3/8/8/6K1 w", "e4", 128, 0},
        {"6k1/8/4p3/3p4/4P3/8/8/6K1 w", "e4", 128, 0},
        {"6k1/8/2n5/4p3/3bP3/8/8/6K1 w", "e4", 128, 128},
    };
    for (const Case& c : cases) {
        Board b(c.fen);
        ASSERT_TRUE(b.ok) << c.fen;
        EXPECT_EQ(EscapeLoss(*b, WHITE, SquareOf(c.square), c.value), c.loss) << c.fen;
    }
}

TEST(Threats, HangingThreatForQuiescence) {
    struct Case { const char* fen; int margin; bool threat; };
    const Case cases[] = {
        {"6k1/8/8/8/1p3b2/2N5/3R4/7K w", 0, true},       // two pieces hang
        {"6k1/8/8/8/1p3b2/2N5/3R4/7K w", 500, false},    // margin above the second, both escape
        {"6k1/8/8/8/2p5/3p4/1p6/N5K1 w", 100, true},     // trapped knight
        {"6k1/8/8/8/2p5/8/1p6/N5K1 w", 100, false},      // knight escapes
        {"6k1/8/8/8/8/8/8/N5K1 w", 0, false},            // nothing hangs
    };
    for (const Case& c : cases) {
        Board b(c.fen);
        ASSERT_TRUE(b.ok) << c.fen;
        EXPECT_EQ(HasHangingThreat(*b, WHITE, c.margin), c.threat) << c.fen;
    }
}

TEST(Threats, XrayThroughAPieceToOneBehind) {
    struct Case { const char* fen; const char* square; int gain; };
    const Case cases[] = {
        // Bishop b5 pins the knight c6 against the king: the king counts as a queen.
        {"4k3/8/2n5/1B6/8/8/8/4K3 b", "c6", 1248},
        // Behind the knight a queen that the king defends: the bishop wins 1248 - 416.
        {"4k3/3q4/2n5/1B6/8/8/8/4K3 b", "c6", 832},
        // Rook a1 through the knight a4 onto an undefended rook a8.
        {"r5k1/8/8/8/n7/8/8/R5K1 b", "a4", 640},
        // Same with the rook a8 defended by the other rook: the exchange gains nothing.
        {"r3r1k1/8/8/8/n7/8/8/R5K1 b", "a4", 0},
    };
    for (const Case& c : cases) {
        Board b(c.fen);
        ASSERT_TRUE(b.ok) << c.fen;
        int32_t penalty = 0;
        EXPECT_EQ(XrayThreat(*b, BLACK, SquareOf(c.square), penalty), c.gain) << c.fen;
        EXPECT_EQ(penalty < 0, c.gain > 0) << c.fen;
    }
}

// Mate-in-one threats against a castled king: the test for the quiescence search and the
// mark written by the king-zone term. The zone term gives a slider landing on a king line
// only that line (both ways) plus, for a queen next to the king, the own-blocked squares.
TEST(MateThreats, RecognisedWhereTheyExist) {
    struct Case { const char* fen; Colour threatened; bool mate; bool zone; };
    const Case cases[] = {
        // Back rank: Rd8 mates.
        {"6k1/5ppp/8/8/8/8/5PPP/3R2K1 w", BLACK, true, true},
        // Back rank along the e-file with the queen.
        {"6k1/5ppp/8/8/8/8/5PPP/4Q1K1 w", BLACK, true, true},
        // Queen and bishop battery against h7: the queen covers h8 along the h-file, off
        // the king's diagonal through h7, so only the quiescence test sees it.
        {"5rk1/5ppp/8/7Q/8/3B4/5PPP/6K1 w", BLACK, true, false},
        // Queen and bishop battery on the long diagonal against g7 (no free escape).
        {"5rk1/5p1p/6p1/8/8/2Q5/1B3PPP/6K1 w", BLACK, true, true},
        // Smothered: Nf7 mates.
        {"6rk/6pp/8/6N1/8/8/5PPP/6K1 w", BLACK, true, true},
        // White's king the same way.
        {"3r2k1/5ppp/8/8/8/8/5PPP/6K1 b", WHITE, true, true},
        // Quiet positions.
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w", BLACK, false, false},
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w", WHITE, false, false},
        {"r1bq1rk1/pppp1ppp/2n2n2/2b1p3/2B1P3/2N2N2/PPPP1PPP/R1BQ1RK1 w", BLACK, false, false},
        {"r1bq1rk1/pppp1ppp/2n2n2/2b1p3/2B1P3/2N2N2/PPPP1PPP/R1BQ1RK1 w", WHITE, false, false},
        // Luft on h6: the back-rank check is no mate.
        {"6k1/5pp1/7p/8/8/8/5PPP/3R2K1 w", BLACK, false, false},
        // The back rank is guarded by a rook.
        {"r5k1/5ppp/8/8/8/8/5PPP/3R2K1 w", BLACK, false, false},
        // Bishop without the queen: h7 is defended by the king only once and attacked once.
        {"5rk1/5ppp/8/8/8/3B4/5PPP/6K1 w", BLACK, false, false},
        // A knight next to the king on the last free square (g8 also hit by the pawn f7).
        {"7k/5Ppp/5N2/8/8/8/8/6K1 w", BLACK, true, false},
        // A bishop, with the queen behind it, landing on g8 beside the king.
        {"7k/6pp/8/8/2B5/P7/Q7/6K1 w", BLACK, true, false},
    };
    for (const Case& c : cases) {
        Board b(c.fen);
        ASSERT_TRUE(b.ok) << c.fen;
        EXPECT_EQ(MateThreatTest(*b, c.threatened), c.mate) << c.fen;
        EXPECT_EQ((b.Flags() & MateThreatFlag(c.threatened)) != 0, c.mate) << c.fen;
        b.ClearMarks();
        EvaluateKingZone(*b, c.threatened);
        EXPECT_EQ((b.Flags() & MateThreatFlag(c.threatened)) != 0, c.zone) << "zone " << c.fen;
        if (c.zone) {
            EXPECT_NE(b.Flags() & DangerFlag(c.threatened), 0) << c.fen;
        }
    }
}

// A landing square counts for a mate threat only when the enemy's line pieces alone
// outnumber its defenders: on d8 the knight c6 does not count against the knight b7.
TEST(MateThreats, LinePiecesMustOutnumberTheDefenders) {
    struct Case { const char* fen; bool mate; };
    const Case cases[] = {
        {"6k1/5ppp/2N5/8/8/8/5PPP/3R2K1 w", true},
        {"6k1/1n3ppp/2N5/8/8/8/5PPP/3R2K1 w", false},
    };
    for (const Case& c : cases) {
        Board b(c.fen);
        ASSERT_TRUE(b.ok) << c.fen;
        EvaluateKingZone(*b, BLACK);
        EXPECT_EQ((b.Flags() & MateThreatFlag(BLACK)) != 0, c.mate) << c.fen;
    }
}

// A king without a free escape is in danger once two pieces of slots 0-7 attack its zone,
// even when no line or knight threat covers anything.
TEST(MateThreats, DangerWithoutFreeEscape) {
    struct Case { const char* fen; bool danger; };
    const Case cases[] = {
        {"1k3r2/8/2b5/8/8/8/6PP/6RK w", true},    // rook on f1/f2, bishop on f3/g2
        {"1k3r2/8/8/8/8/8/6PP/6RK w", false},     // the rook alone
        {"1k3r2/8/2b5/8/8/8/5PPP/7K w", false},   // g1 is free
    };
    for (const Case& c : cases) {
        Board b(c.fen);
        ASSERT_TRUE(b.ok) << c.fen;
        EvaluateKingZone(*b, WHITE);
        EXPECT_EQ((b.Flags() & DangerFlag(WHITE)) != 0, c.danger) << c.fen;
        EXPECT_EQ(b.Flags() & MateThreatFlag(WHITE), 0) << c.fen;
    }
}

TEST(MateThreats, MatingSquareRecordedForTheSideThatMoved) {
    struct Case { const char* fen; Colour threatened; const char* from; const char* to; };
    const Case cases[] = {
        {"6k1/5ppp/8/8/8/8/5PPP/3R2K1 w", BLACK, "d1", "d8"},
        {"6rk/6pp/8/6N1/8/8/5PPP/6K1 w", BLACK, "g5", "f7"},
        {"3r2k1/5ppp/8/8/8/8/5PPP/6K1 b", WHITE, "d8", "d1"},
    };
    for (const Case& c : cases) {
        Board b(c.fen);
        ASSERT_TRUE(b.ok) << c.fen;
        EvaluateKingZone(*b, c.threatened);
        ASSERT_NE(b.Flags() & EvalFlag::MATING_SQUARE, 0) << c.fen;
        EXPECT_EQ(ReadPlyWord(UndoTop(*b), PlyEvalWord::KING), (SquareOf(c.from) << 6) | SquareOf(c.to)) << c.fen;
    }
    // With the threatened side to move, nothing is recorded.
    Board b("6k1/5ppp/8/8/8/8/5PPP/3R2K1 b");
    ASSERT_TRUE(b.ok);
    EvaluateKingZone(*b, BLACK);
    EXPECT_NE(b.Flags() & MateThreatFlag(BLACK), 0);
    EXPECT_EQ(b.Flags() & EvalFlag::MATING_SQUARE, 0);
}

TEST(MateThreats, KingTermRaisesTheThreatList) {
    Board b("6k1/5ppp/8/7q/Q7/8/5PPP/3R2K1 w");
    ASSERT_TRUE(b.ok);
    ASSERT_GE(Eval.gamePhase, 2);
    Eval.largestThreat[BLACK] = 300;
    KingTerm(*b, BLACK);
    EXPECT_EQ(Eval.largestThreat[BLACK], QUEEN_VALUE);
    EXPECT_EQ(Eval.secondThreat[BLACK], 300);
}

TEST(KingZoneTerm, AttackedZoneCostsMoreThanQuietOne) {
    struct Case { const char* quiet; const char* attacked; };
    const Case cases[] = {
        {"r4rk1/5ppp/8/8/8/8/5PPP/R5K1 w", "r4rk1/5ppp/8/8/8/5q2/5P1P/R5K1 w"},
        {"6k1/5ppp/8/8/8/8/5PPP/6K1 w", "6k1/5ppp/8/8/4n3/8/5PPP/6K1 w"},
    };
    for (const Case& c : cases) {
        Board q(c.quiet);
        Board a(c.attacked);
        ASSERT_TRUE(q.ok && a.ok) << c.attacked;
        const int quiet = EvaluateKingZone(*q, WHITE);
        const int attacked = EvaluateKingZone(*a, WHITE);
        EXPECT_LE(quiet, 0) << c.quiet;
        EXPECT_LT(attacked, quiet) << c.attacked;
    }
}

// The zone term knows no king side or queen side: a position and its mirror image across
// the middle of the board (files a and h exchanged) score alike for both kings, whichever
// board edge a king stands at.
TEST(KingZoneTerm, FileMirrorScoresAlike) {
    auto mirrored = [](const std::string& fen) {
        std::istringstream words(fen);
        std::string board, side, out;
        words >> board >> side;
        std::string rank;
        for (const char c : board + '/') {
            if (c != '/') {
                rank.insert(rank.begin(), c);
                continue;
            }
            out += rank + c;
            rank.clear();
        }
        out.back() = ' ';
        return out + side;
    };
    constexpr uint16_t MARKS = EvalFlag::MATE_THREAT_WHITE | EvalFlag::MATE_THREAT_BLACK | EvalFlag::DANGER_WHITE |
                               EvalFlag::DANGER_BLACK | EvalFlag::CHECK_THREAT_WHITE | EvalFlag::CHECK_THREAT_BLACK;
    int checked = 0;
    for (const testing_support::SuiteEntry& entry : testing_support::LoadPerftSuite()) {
        const std::string& fen = entry.fen;
        Board a(fen.substr(0, fen.find(' ', fen.find(' ') + 1)));
        Board b(mirrored(fen));
        ASSERT_TRUE(a.ok && b.ok) << fen;
        for (const Colour side : {WHITE, BLACK}) {
            EXPECT_EQ(EvaluateKingZone(*a, side), EvaluateKingZone(*b, side)) << fen << " side " << side;
            EXPECT_EQ(a.Flags() & MARKS, b.Flags() & MARKS) << fen << " side " << side;
        }
        ++checked;
    }
    EXPECT_GT(checked, 100);
}

}  // namespace
}  // namespace tavrix
