// Random games played on a position and on its colour-flipped twin in step: at every ply
// both boards must offer mirrored move lists and the evaluation must give both the same
// score for the side to move, with the history of the two games mirrored as well. The one
// exception is the opposite-bishop scaling, which rounds from White's view: there the
// Black-to-move twin may score one unit more.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "board/makemove.h"
#include "board/movegen.h"
#include "board/moveservices.h"
#include "eval/evaluate.h"
#include "eval_test_board.h"

namespace tavrix {
namespace {

using evaltest::FlipFen;
using evaltest::MakePosition;

constexpr int32_t WIDE = 2 * MATE;
constexpr int GAME_PLIES = 56;   // the undo stack holds 64 records, the set-up takes two
constexpr int GAMES_PER_START = 3;
constexpr uint32_t SEED = 20240611;

constexpr Move Mirrored(Move m) {
    return static_cast<Move>((m & ~0x0FFFu) | MakeMoveWord(MoveFrom(m) ^ 56, MoveTo(m) ^ 56));
}

// The legal moves of the side to move, check marks stripped, in generation order.
std::vector<Move> LegalMoves(Position& p) {
    const Colour side = p.sideToMove;
    uint32_t flags = 0;
    const int count = InCheck(p) ? GenerateEvasions(p, side, 0, GenMode::FULL, flags)
                                 : GenerateAllMoves(p, side, 0, GenMode::FULL);
    std::vector<Move> raw;
    for (const ScoredMove* m = ListBegin(0); m != ListBegin(0) + count; ++m)
        raw.push_back(static_cast<Move>(m->move & ~CHECK_MARK));
    std::vector<Move> legal;
    for (const Move m : raw) {
        MakeMove(p, m);
        if (p.attackMap[side ^ 1].square[KingSquare(p, side)].attackWeight == 0) legal.push_back(m);
        UnmakeMove(p);
    }
    return legal;
}

int32_t Score(Position& p, Colour root, int ply, int32_t depth) {
    ResetEvalState();
    PrepareEvaluation(p, root, EvalOptions{});   // "Playing Style" Normal, "Hyper-Modern Play" off
    return Evaluate(p, p.sideToMove, ply, depth, -WIDE, WIDE);
}

// Evaluates both boards at both depths; returns false after the first difference.
bool SameScores(Position& a, Position& b, int ply, const std::string& trail) {
    for (const int32_t depth : {HORIZON_DEPTH, 1}) {
        const int32_t sa = Score(a, WHITE, ply, depth);
        const int32_t sb = Score(b, BLACK, ply, depth);
        const int32_t blackAhead = a.sideToMove == BLACK ? sa - sb : sb - sa;
        const int32_t allowed = evaltest::OppositeBishops(a) && blackAhead == 1 ? 1 : 0;
        EXPECT_EQ(blackAhead, allowed) << "depth " << depth << " after" << trail;
        if (blackAhead != allowed) return false;
    }
    return true;
}

std::string MoveText(Move m) {
    const int f = MoveFrom(m), t = MoveTo(m);
    return std::string{' ', char('a' + FileOf(f)), char('1' + RankOf(f)), char('a' + FileOf(t)), char('1' + RankOf(t))};
}

// Plays one random game forward on both boards and takes it back again, comparing the
// two boards at every ply in both directions.
// Returns the number of plies played.
int PlayTwinGame(const std::string& fen, std::mt19937& rng) {
    Position a = MakePosition(fen);
    Position b = MakePosition(FlipFen(fen));
    std::string trail = " " + fen + ":";
    int made = 0;
    bool same = SameScores(a, b, 0, trail);
    for (; same && made < GAME_PLIES; ++made) {
        std::vector<Move> movesA = LegalMoves(a);
        std::vector<Move> movesB = LegalMoves(b);
        std::vector<Move> mirroredA(movesA.size());
        std::transform(movesA.begin(), movesA.end(), mirroredA.begin(), Mirrored);
        std::sort(mirroredA.begin(), mirroredA.end());
        std::sort(movesB.begin(), movesB.end());
        EXPECT_EQ(mirroredA, movesB) << "move lists differ after" << trail;
        if (mirroredA != movesB) break;
        if (movesA.empty()) break;
        const Move m = movesA[rng() % movesA.size()];
        trail += MoveText(m);
        MakeMove(a, m);
        MakeMove(b, Mirrored(m));
        same = SameScores(a, b, made + 1, trail);
    }
    const int played = made;
    for (; made > 0 && same; --made) {
        UnmakeMove(a);
        UnmakeMove(b);
        same = SameScores(a, b, made - 1, trail + " (taken back)");
    }
    return played;
}

std::vector<std::string> StartPositions() {
    std::vector<std::string> fens = {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -"};
    std::ifstream in(std::string(TAVRIX_TEST_DATA) + "/perftsuite.epd");
    std::string line;
    while (std::getline(in, line)) {
        const std::string fen = line.substr(0, line.find(';'));
        std::istringstream fields(fen);
        std::string board, side, castling, ep = "-";
        fields >> board >> side >> castling >> ep;
        // The flipped FEN drops the en passant field, so such starts are skipped.
        if (!castling.empty() && ep == "-") fens.push_back(fen);
    }
    return fens;
}

TEST(ColourFlipGames, TwinsEvaluateAlikeAlongRandomGames) {
    ResetMoveLists();
    FreeEvalCache();
    std::mt19937 rng(SEED);
    const std::vector<std::string> starts = StartPositions();
    ASSERT_GT(starts.size(), 50u);
    int plies = 0;
    for (const std::string& fen : starts)
        for (int g = 0; g < GAMES_PER_START; ++g) plies += PlayTwinGame(fen, rng);
    // Most games run their full length; a handful end early in mate or stalemate.
    EXPECT_GT(plies, static_cast<int>(starts.size()) * GAMES_PER_START * GAME_PLIES / 2);
    ResetEvalState();
}

}  // namespace
}  // namespace tavrix
