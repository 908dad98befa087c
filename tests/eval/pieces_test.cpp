#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "eval/eval_geometry.h"
#include "eval/evaluate.h"
#include "eval/eval_test_board.h"
#include "eval/pieces.h"

namespace tavrix {
namespace {

using evaltest::FlipFen;
using evaltest::MakePosition;

class PiecesTest : public ::testing::Test {
protected:
    void SetUp() override { ResetEvalState(); }

    static Position Prepared(const std::string& fen) {
        Position p = MakePosition(fen);
        PrepareEvaluation(p, p.sideToMove, EvalOptions{});
        return p;
    }
    // The piece term of a position with the tables of the last search start.
    static int32_t PieceTerm(const std::string& fen) {
        Position p = MakePosition(fen);
        UpdatePhase(p);
        RefreshPawnFiles(p);
        return EvaluatePieces(p);
    }
};

TEST_F(PiecesTest, RookOnOpenAndHalfOpenFiles) {
    // Rook d1 behind a knight on d2, so only the pawns on the d-file change between the rows.
    const std::string closed = "1n4kr/p7/8/8/8/3P4/3N4/3R2K1 w - -";
    const std::string halfOpen = "1n4kr/p7/3p4/8/8/8/3N4/3R2K1 w - -";
    const std::string open = "1n4kr/p7/8/8/8/8/1P1N4/3R2K1 w - -";
    struct Case { std::string fen; int32_t gain; };
    const Case cases[] = {{closed, 0}, {halfOpen, 12}, {open, 22}};
    for (int flip = 0; flip < 2; ++flip) {
        ResetEvalState();
        Prepared(flip ? FlipFen(open) : open);
        const int32_t sign = flip ? -1 : 1;
        const int32_t reference = PieceTerm(flip ? FlipFen(closed) : closed);
        for (const Case& c : cases) {
            const std::string fen = flip ? FlipFen(c.fen) : c.fen;
            EXPECT_EQ(PieceTerm(fen) - reference, sign * c.gain) << fen;
        }
    }
}

TEST_F(PiecesTest, UndevelopedMinorsEarlyInTheGame) {
    Position p = Prepared("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -");
    int16_t early[PIECE_TABLE_TYPES][2][64];
    std::memcpy(early, Eval.pieceTables, sizeof early);
    // Late in the game with every minor developed at the last search the entries stay.
    Eval.developedMinors[WHITE] = Eval.developedMinors[BLACK] = 4;
    p.ply = 40;
    BuildPieceTables(p);
    struct Case { PieceType type; Colour colour; int square; int32_t lower; };
    const Case cases[] = {
        {KNIGHT, WHITE, 1, 14},  {KNIGHT, WHITE, 6, 17},  {BISHOP, WHITE, 2, 8},  {BISHOP, WHITE, 5, 8},
        {KNIGHT, BLACK, 57, 14}, {KNIGHT, BLACK, 62, 17}, {BISHOP, BLACK, 58, 8}, {BISHOP, BLACK, 61, 8},
        {KNIGHT, WHITE, 27, 0},  {KNIGHT, BLACK, 1, 0},   {BISHOP, WHITE, 58, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Eval.pieceTables[c.type][c.colour][c.square] - early[c.type][c.colour][c.square], c.lower)
            << int(c.type) << " " << c.square;
    }
}

TEST_F(PiecesTest, KnightOutpostOnD5) {
    struct Case { const char* outpost; const char* unsafe; int32_t raw; };
    const Case cases[] = {
        // Defended by the e4 pawn: centrality 12, half of it again, four per rank.
        {"6k1/p7/8/3N4/4P3/8/8/6K1 w - -", "6k1/2p5/8/3N4/4P3/8/8/6K1 w - -", 12 + 6 + 16},
        {"6k1/p7/8/3N4/8/8/7P/6K1 w - -", "6k1/2p5/8/3N4/8/8/7P/6K1 w - -", 12 + 16},
        {"q5k1/p7/8/3N4/4P3/8/8/Q5K1 w - -", "q5k1/2p5/8/3N4/4P3/8/8/Q5K1 w - -", 12 + 6 + 16},
        {"qr4k1/p7/8/3N4/4P3/8/8/QR4K1 w - -", "qr4k1/2p5/8/3N4/4P3/8/8/QR4K1 w - -", 12 + 6 + 16},
    };
    for (const Case& c : cases) {
        ResetEvalState();
        Prepared(c.outpost);
        const int32_t expected = c.raw >> Eval.endWeightEighth;
        EXPECT_EQ(PieceTerm(c.outpost) - PieceTerm(c.unsafe), expected) << c.outpost;
        EXPECT_EQ(PieceTerm(FlipFen(c.outpost)) - PieceTerm(FlipFen(c.unsafe)), -expected) << c.outpost;
    }
}

TEST_F(PiecesTest, TablesAreRebuiltFromEachRoot) {
    const std::string first = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -";
    const std::string second = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -";
    const std::string third = "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - -";
    Prepared(first);
    int16_t fromFirst[PIECE_TABLE_TYPES][2][64];
    std::memcpy(fromFirst, Eval.pieceTables, sizeof fromFirst);
    for (const std::string& next : {second, third}) {
        Prepared(next);
        int16_t rebuilt[PIECE_TABLE_TYPES][2][64];
        std::memcpy(rebuilt, Eval.pieceTables, sizeof rebuilt);
        EXPECT_NE(std::memcmp(rebuilt, fromFirst, sizeof rebuilt), 0) << next;
        ResetEvalState();
        Prepared(next);
        EXPECT_EQ(std::memcmp(rebuilt, Eval.pieceTables, sizeof rebuilt), 0) << next;
    }
}

TEST_F(PiecesTest, KingTablesBlendMiddleAndEndgame) {
    // Bare kings: phase 1, end weight 16, no pawns: (MG + 16 EG) >> 4.
    Prepared("4k3/8/8/8/8/8/8/4K3 w - -");
    struct Case { int square; int32_t value; };
    const Case cases[] = {{4, (-12 + 16 * 10) >> 4}, {0, (0 + 16 * -2) >> 4}, {27, (-33 + 16 * 34) >> 4}};
    for (const Case& c : cases) {
        EXPECT_EQ(KingTable(WHITE)[c.square], c.value);
        EXPECT_EQ(KingTable(BLACK)[c.square ^ 56], c.value);
    }
}

TEST_F(PiecesTest, BishopMobility) {
    struct Case { const char* fen; int square; Colour side; int32_t value; };
    const Case cases[] = {
        // c1 behind its own b2 and d2 pawns: no free square, no forward line.
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -", 2, WHITE, -12 - 8 - 3 - 3 - 2},
        // Open centre bishop: 13 squares, four lines.
        {"8/8/7k/8/3B4/7K/8/8 w - -", 27, WHITE, 4 + 22},
        // Own knight on e5 in front of an enemy rook on f6: x-ray target.
        {"8/8/5r1k/4N3/3B4/7K/8/8 w - -", 27, WHITE, 2 + 16 + 4 + 7},
        // The same for Black, mirrored.
        {"8/8/7k/3b4/4n3/5R1K/8/8 b - -", 35, BLACK, 2 + 16 + 4 + 7},
    };
    for (const Case& c : cases) {
        ResetEvalState();
        Position p = Prepared(c.fen);
        EXPECT_EQ(EvaluateBishopMobility(p, c.square, c.side, geometry::OccupiedSet(p)), c.value) << c.fen;
    }
}

// The mobility walks scan sets of squares built sixteen bytes at a time: over the perft
// suite, those sets and every ray scan must agree with a square-by-square walk.
TEST(BoardSets, OccupiedSetAndRayScansMatchTheBoard) {
    std::ifstream in(std::string(TAVRIX_TEST_DATA) + "/perftsuite.epd");
    std::string line;
    int positions = 0;
    while (std::getline(in, line)) {
        const std::string fen = line.substr(0, line.find(';'));
        if (fen.size() < 10) continue;
        const Position p = MakePosition(fen);
        const uint64_t occupied = geometry::OccupiedSet(p);
        const uint64_t stops = geometry::RookStops(p);
        for (int sq = 0; sq < 64; ++sq) {
            const PieceType t = p.pieceType[sq];
            ASSERT_EQ((occupied >> sq) & 1, t != NO_PIECE ? 1u : 0u) << fen << " square " << sq;
            ASSERT_EQ((stops >> sq) & 1, t != NO_PIECE && t != ROOK && t != QUEEN ? 1u : 0u) << fen << " square " << sq;
            for (int dir = 0; dir < 8; ++dir) {
                int end = sq;
                for (int s = geometry::Step(sq, dir); s != NO_SQUARE; s = geometry::Step(s, dir)) {
                    end = s;
                    if (p.pieceType[s] != NO_PIECE) break;
                }
                ASSERT_EQ(geometry::FirstStop(dir, sq, occupied), end) << fen << " square " << sq << " direction " << dir;
            }
        }
        ++positions;
    }
    EXPECT_GT(positions, 100);
}

}  // namespace
}  // namespace tavrix
