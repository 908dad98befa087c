#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "board/makemove.h"
#include "board/movegen.h"
#include "board/moveservices.h"
#include "control/setup.h"
#include "support/reference_board.h"
#include "support/suite.h"

namespace tavrix {
namespace {

using testing_support::SetUpFen;

std::string Text(Move m) {
    char t[MOVE_TEXT_SIZE];
    MoveToText(m, t);
    return t;
}

std::vector<Move> Generated(int count, int ply = 0) {
    std::vector<Move> v;
    for (int i = 0; i < count; ++i) v.push_back(ListBegin(ply)[i].move);
    return v;
}

int IndexOf(const std::vector<Move>& list, const std::string& text) {
    for (size_t i = 0; i < list.size(); ++i)
        if (Text(list[i]) == text) return static_cast<int>(i);
    return -1;
}

// Legal moves of the side to move by the engine: its generators plus the make test.
std::vector<Move> EngineLegal(Position& p, int ply) {
    uint32_t flags = 0;
    const int n = InCheck(p) ? GenerateEvasions(p, p.sideToMove, ply, GenMode::FULL, flags)
                             : GenerateAllMoves(p, p.sideToMove, ply, GenMode::FULL);
    std::vector<Move> legal;
    for (Move m : Generated(n, ply))
        if (IsLegalAfterMake(p, m)) legal.push_back(m);
    return legal;
}

reference::RefMove ToRef(Move m) {
    return {MoveFrom(m), MoveTo(m), IsPromotion(m) ? PromotedType(m) : 0, IsCastling(m)};
}

// ---------------------------------------------------------------- edge cases of the lists

TEST(Generation, PromotionCaptureComesFirstWithAllFourKindsAndQuietPromotionsFollow) {
    ASSERT_TRUE(SetUpFen("3r3k/4P3/8/8/8/8/8/4K3 w - - 0 1"));
    const auto list = Generated(GenerateAllMoves(GameBoard.position, WHITE, 0, GenMode::FULL));
    const std::vector<std::string> expectedFront = {"e7d8q", "e7d8n", "e7d8r", "e7d8b"};
    for (size_t i = 0; i < expectedFront.size(); ++i) EXPECT_EQ(Text(list.at(i)), expectedFront[i]) << i;
    EXPECT_EQ(ListBegin(0)[0].score, BaseScore::SET_QUEEN + ROOK_VALUE);
    EXPECT_EQ(ListBegin(0)[1].score, BaseScore::SET_KNIGHT);
    for (const char* quiet : {"e7e8q", "e7e8n", "e7e8r", "e7e8b"}) EXPECT_GT(IndexOf(list, quiet), 3) << quiet;
}

TEST(Generation, UnderPromotionsStopAtThreeOfAKind) {
    struct Case {
        const char* fen;
        std::vector<std::string> present, absent;
    };
    const Case cases[] = {
        {"7k/P7/8/8/8/8/8/NNN1K3 w - - 0 1", {"a7a8q", "a7a8r", "a7a8b"}, {"a7a8n"}},
        {"7k/P7/8/8/8/8/8/RRR1K3 w - - 0 1", {"a7a8q", "a7a8n", "a7a8b"}, {"a7a8r"}},
        {"6k1/P7/8/8/8/8/8/BBB1K3 w - - 0 1", {"a7a8q", "a7a8n", "a7a8r"}, {"a7a8b"}},
        {"7k/P7/8/8/8/8/8/NN2K3 w - - 0 1", {"a7a8q", "a7a8n", "a7a8r", "a7a8b"}, {}},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(SetUpFen(c.fen)) << c.fen;
        const auto list = Generated(GenerateAllMoves(GameBoard.position, WHITE, 0, GenMode::FULL));
        for (const auto& m : c.present) EXPECT_GE(IndexOf(list, m), 0) << c.fen << " " << m;
        for (const auto& m : c.absent) EXPECT_LT(IndexOf(list, m), 0) << c.fen << " " << m;
    }
}

TEST(Generation, VictimsQueenFirstAndPawnCapturesBeforeQueenCaptures) {
    // Black queen on d5 and rook on f5; White pawn e4 and queen d1 both hit d5.
    ASSERT_TRUE(SetUpFen("4k3/8/8/3q1r2/4P3/8/8/3QK3 w - - 0 1"));
    const auto list = Generated(GenerateAllMoves(GameBoard.position, WHITE, 0, GenMode::FULL));
    ASSERT_GE(list.size(), 3u);
    EXPECT_EQ(Text(list[0]), "e4d5");
    EXPECT_EQ(Text(list[1]), "d1d5");
    EXPECT_EQ(Text(list[2]), "e4f5");
    EXPECT_EQ(KindOf(list[0]), MoveKind::CAPTURE);
    EXPECT_EQ(ListBegin(0)[0].score, QUEEN_VALUE);
}

TEST(Generation, CastlingNeedsSafeEmptyPathAndUnmovedPieces) {
    struct Case {
        const char* fen;
        bool kingSide, queenSide;
    };
    const Case cases[] = {
        {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", true, true},
        {"r3k2r/8/8/8/8/8/8/R3K2R w Qkq - 0 1", false, true},      // right gone: rook counts as moved
        {"r3k2r/8/8/8/8/8/5r2/R3K2R w KQkq - 0 1", false, true},   // f1 attacked
        {"r3k2r/8/8/8/8/8/3r4/R3K2R w KQkq - 0 1", true, false},   // d1 attacked
        {"r3k2r/8/8/8/8/8/8/RN2K1NR w KQkq - 0 1", false, true},   // b1 occupied only blocks the rook path
        {"r3k2r/8/8/8/8/8/1r6/R3K2R w KQkq - 0 1", true, true},    // b1 attacked does not matter
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(SetUpFen(c.fen)) << c.fen;
        const auto list = Generated(GenerateAllMoves(GameBoard.position, WHITE, 0, GenMode::FULL));
        const int ks = IndexOf(list, "e1g1");
        const int qs = IndexOf(list, "e1c1");
        EXPECT_EQ(ks >= 0, c.kingSide) << c.fen;
        EXPECT_EQ(qs >= 0, c.queenSide && std::string(c.fen).find("RN2") == std::string::npos) << c.fen;
        if (ks >= 0) {
            EXPECT_TRUE(IsCastling(list[ks]));
        }
    }
    // In check the evasion list never castles.
    ASSERT_TRUE(SetUpFen("r3k2r/8/8/8/8/8/4r3/R3K2R w KQkq - 0 1"));
    uint32_t flags = 0;
    for (Move m : Generated(GenerateEvasions(GameBoard.position, WHITE, 0, GenMode::FULL, flags)))
        EXPECT_FALSE(IsCastling(m)) << Text(m);
}

TEST(Generation, EvasionsFlagsAndTheStepAwayFromTheChecker) {
    struct Case {
        const char* fen;
        std::vector<std::string> absent;
        uint32_t flags;        // flag bits beyond the king-move count
        bool onlyKingMoves;
    };
    const Case cases[] = {
        // Rook check along the e-file: the step e2e1 away from the checker is not allowed.
        // Right after set-up no move has been made, so any checking slider counts as discovered.
        {"4k3/4r3/8/8/8/8/4K3/8 w - - 0 1", {"e2e1", "e2e3"}, EvasionFlag::DISCOVERED, true},
        // Double check by rook and knight: king moves only.
        {"4k3/4r3/8/8/8/2n5/4K3/B7 w - - 0 1", {"a1c3"}, EvasionFlag::DOUBLE_CHECK | EvasionFlag::DISCOVERED, true},
        // Discovered check: the checking bishop does not stand on the last to-square (none yet).
        {"4k3/8/8/b7/8/8/8/4K1N1 w - - 0 1", {}, EvasionFlag::DISCOVERED, false},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(SetUpFen(c.fen)) << c.fen;
        Position& p = GameBoard.position;
        ASSERT_TRUE(InCheck(p)) << c.fen;
        uint32_t flags = 0;
        const auto list = Generated(GenerateEvasions(p, WHITE, 0, GenMode::FULL, flags));
        for (const auto& m : c.absent) EXPECT_LT(IndexOf(list, m), 0) << c.fen << " " << m;
        EXPECT_EQ(flags & ~EvasionFlag::KING_MOVE_MASK, c.flags) << c.fen;
        int kingMoves = 0;
        for (Move m : list) kingMoves += MoveFrom(m) == KingSquare(p, WHITE);
        EXPECT_EQ(static_cast<int>(flags & EvasionFlag::KING_MOVE_MASK), kingMoves) << c.fen;
        if (c.onlyKingMoves) {
            EXPECT_EQ(kingMoves, static_cast<int>(list.size())) << c.fen;
        }
    }
}

TEST(Generation, CaptureListModesAndScores) {
    // White pawn on b7 (promotes), pawn on g6 (near promotion), knight hits a black rook.
    ASSERT_TRUE(SetUpFen("8/1P6/6P1/3k4/3r4/8/4N3/4K3 w - - 0 1"));
    Position& p = GameBoard.position;
    auto list = Generated(GenerateCaptures(p, WHITE, 0, GenMode::CAPTURES));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(Text(list[0]), "b7b8q");
    EXPECT_EQ(ListBegin(0)[0].score, BaseScore::QUEEN_PUSH);
    EXPECT_EQ(Text(list[1]), "e2d4");
    list = Generated(GenerateCaptures(p, WHITE, 0, GenMode::NEAR_PROMOTIONS));
    EXPECT_GE(IndexOf(list, "g6g7"), 0);
    EXPECT_EQ(ListBegin(0)[IndexOf(list, "g6g7")].score, BaseScore::NEAR_PROMOTION);
}

// ---------------------------------------------------------------- random walks against the referee

// Plays random games from every suite position and the Chess960 ones. At each node: the
// engine's legal moves equal the referee's; GivesCheck agrees with make-then-test on every
// generated move, and the check squares name its checker; every generated move validates
// to itself; the checks list holds only checks and every direct quiet check; HasNoLegalMove
// agrees with the move count.
TEST(GenerationWalk, AgreesWithTheReferenceBoardAlongRandomGames) {
    std::vector<std::string> fens;
    for (const auto& e : testing_support::LoadPerftSuite()) fens.push_back(e.fen);
    fens.push_back("bqnb1rkr/pp3ppp/3ppn2/2p5/5P2/P2P4/NPP1P1PP/BQ1BNRKR w HFhf - 2 9");
    fens.push_back("rk5r/pppppppp/8/8/8/8/PPPPPPPP/RK5R w HAha - 0 1");
    fens.push_back("1r2kr2/pppppppp/8/8/8/8/PPPPPPPP/1R2KR2 w FBfb - 0 1");
    std::mt19937 rng(20240611);
    constexpr int GAMES_PER_POSITION = 3;
    constexpr int PLIES = 40;
    int nodes = 0;
    for (const std::string& fen : fens) {
        for (int game = 0; game < GAMES_PER_POSITION; ++game) {
            ASSERT_TRUE(SetUpFen(fen)) << fen;
            Position& p = GameBoard.position;
            reference::RefBoard ref;
            ASSERT_TRUE(reference::ParseFen(fen, ref));
            ref.limitPromotions = true;
            int made = 0;
            for (int ply = 0; ply < PLIES && p.undoTop + 2 < UNDO_STACK_SIZE; ++ply) {
                ++nodes;
                const Colour side = p.sideToMove;
                const auto legal = EngineLegal(p, 1);
                const auto refLegal = reference::LegalMoves(ref);
                ASSERT_EQ(legal.size(), refLegal.size()) << fen << " after " << made << " plies";
                for (Move m : legal)
                    ASSERT_NE(std::find(refLegal.begin(), refLegal.end(), ToRef(m)), refLegal.end()) << fen << " " << Text(m);
                EXPECT_EQ(HasNoLegalMove(p, side), legal.empty()) << fen;

                // Services over the whole pseudo-legal list.
                uint32_t flags = 0;
                const bool inCheck = InCheck(p);
                const int n = inCheck ? GenerateEvasions(p, side, 2, GenMode::FULL, flags)
                                      : GenerateAllMoves(p, side, 2, GenMode::FULL);
                const auto pseudo = Generated(n, 2);
                CheckSquares checkSquares;
                FindCheckSquares(p, side, checkSquares);
                for (Move m : pseudo) {
                    MakeMove(p, m);
                    const bool checks = p.attackMap[side].square[KingSquare(p, side ^ 1)].attackWeight != 0;
                    UnmakeMove(p);
                    ASSERT_EQ(GivesCheck(p, m, side) != 0, checks) << fen << " " << Text(m);
                    ASSERT_EQ(CheckKind(p, checkSquares, m, side), GivesCheck(p, m, side) & 7) << fen << " " << Text(m);
                    Move validated = static_cast<Move>(MakeMoveWord(MoveFrom(m), MoveTo(m)) |
                                                       (IsPromotion(m) ? KindOf(m) : 0));
                    if (!inCheck) {
                        ASSERT_EQ(ValidateMove(side, p, validated), 1) << fen << " " << Text(m);
                        ASSERT_EQ(KindOf(validated), KindOf(m)) << fen << " " << Text(m);
                    }
                }
                if (!inCheck) {
                    // Checks generator: only quiet checks, and every direct quiet check of a non-king piece.
                    const int base = MoveLists.listBegin[3];
                    ScoredMove* end = GenerateChecks(p, side, KingSquare(p, side ^ 1), MoveLists.moves + base);
                    std::vector<Move> checks;
                    for (ScoredMove* s = MoveLists.moves + base; s != end; ++s) checks.push_back(s->move & ~CHECK_MARK);
                    for (Move m : checks) ASSERT_NE(GivesCheck(p, m, side), 0) << fen << " " << Text(m);
                    for (Move m : pseudo) {
                        if (KindOf(m) != MoveKind::QUIET || p.pieceType[MoveFrom(m)] == KING) continue;
                        MakeMove(p, m);
                        const bool direct = (p.attackMap[side].square[KingSquare(p, side ^ 1)].attackerSlots &
                                             p.squareSlot[MoveTo(m)]) != 0;
                        UnmakeMove(p);
                        if (direct) {
                            EXPECT_NE(std::find(checks.begin(), checks.end(), m), checks.end()) << fen << " " << Text(m);
                        }
                    }
                    std::vector<Move> sorted = checks;
                    std::sort(sorted.begin(), sorted.end());
                    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << fen << " duplicate check";
                }
                if (legal.empty()) break;
                const Move m = legal[rng() % legal.size()];
                const reference::RefMove rm = ToRef(m);
                MakeMove(p, m);
                ref = reference::Play(ref, rm);
                ++made;
            }
        }
    }
    EXPECT_GT(nodes, 10000);
}

// ---------------------------------------------------------------- ValidateMove refusals

TEST(ValidateMove, RefusesWhatNoGeneratorWrites) {
    struct Case {
        const char* fen;
        Move move;
        int expected;
        uint16_t kind;
    };
    const Case cases[] = {
        {"4k3/8/8/8/8/8/4P3/4K3 w - - 0 1", MakeMoveWord(12, 28), 1, MoveKind::QUIET},        // e2e4
        {"4k3/8/8/8/8/4p3/4P3/4K3 w - - 0 1", MakeMoveWord(12, 28), 0, 0},                    // e2e4 jumps over e3
        {"4k3/8/8/8/8/8/4P3/4K3 w - - 0 1", MakeMoveWord(12, 21), 0, 0},                      // e2f3 captures nothing
        {"4k3/8/8/8/8/8/P7/4K3 w - - 0 1", MakeMoveWord(8, 15), 0, 0},                        // a2h2 wraps
        {"4k3/4P3/8/8/8/8/8/4K3 w - - 0 1", MakeMoveWord(52, 60), 0, 0},                      // e8 blocked by the king
        {"2k5/4P3/8/8/8/8/8/4K3 w - - 0 1", MakeMoveWord(52, 60), 1, MoveKind::PROMOTE_QUEEN}, // kind completed
        {"4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1", MakeMoveWord(36, 43), 1, MoveKind::EN_PASSANT},
        {"4k3/8/8/8/8/8/8/R3K2R w KQ - 0 1", MakeMoveWord(4, 6), 1, MoveKind::CASTLING},
        {"4k3/8/8/8/8/8/8/R3K2R w Q - 0 1", MakeMoveWord(4, 6), 0, 0},                        // right gone
        {"4k3/8/8/8/8/8/8/R3K2R w KQ - 0 1", MakeMoveWord(4, 7), 0, 0},                       // onto own rook
        {"4k3/8/8/8/8/8/8/R3K2R w HA - 0 1", MakeMoveWord(4, 7), 1, MoveKind::CASTLING},      // Chess960 form
        {"4k3/4r3/8/8/8/8/8/R3K2R w HA - 0 1", MakeMoveWord(4, 7), 0, 0},                     // out of check
        {"4k3/8/8/8/8/8/8/4K2R w K - 0 1", MakeMoveWord(7, 63), 1, MoveKind::QUIET},          // h1h8 along the file
        {"4k3/7p/8/8/8/8/8/4K2R w K - 0 1", MakeMoveWord(7, 63), 0, 0},                       // blocked by h7
        {"4k3/8/8/8/8/8/8/1N2K3 w - - 0 1", MakeMoveWord(1, 18), 1, MoveKind::QUIET},
        {"4k3/8/8/8/8/8/8/1N2K3 w - - 0 1", MakeMoveWord(1, 19), 0, 0},                       // not a knight jump
        {"4k3/8/8/8/8/8/8/1N2K3 b - - 0 1", MakeMoveWord(1, 18), 0, 0},                       // not Black's piece
        {"4k3/8/8/8/8/8/5r2/4K3 w - - 0 1", MakeMoveWord(4, 5), 0, 0},                        // king into attack
        {"4k3/8/8/8/8/8/5r2/4K3 w - - 0 1", MakeMoveWord(4, 13), 1, MoveKind::CAPTURE},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(SetUpFen(c.fen)) << c.fen;
        Move m = c.move;
        ASSERT_EQ(ValidateMove(GameBoard.position.sideToMove, GameBoard.position, m), c.expected) << c.fen << " " << Text(c.move);
        if (c.expected == 1) {
            EXPECT_EQ(KindOf(m), c.kind) << c.fen;
        }
    }
}

}  // namespace
}  // namespace tavrix
