#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "board/makemove.h"
#include "board/tables.h"
#include "board/repetition.h"

namespace tavrix {

namespace {

constexpr uint64_t UniqueKey(int ply) { return 0x1000000000ull * uint64_t(ply + 1) + 0x777ull * uint64_t(ply); }

// A game of `current` plies whose search started at `root`: keys[p] is the key of the
// position at ply p; game positions up to the root are in the history, the rest on the stack.
struct Line {
    int root, current, irreversible;
    std::vector<uint64_t> keys;

    explicit Line(int root_, int current_, int irreversible_)
        : root(root_), current(current_), irreversible(irreversible_), keys(size_t(current_) + 1) {
        for (int p = 1; p <= current; ++p) keys[size_t(p)] = UniqueKey(p);
    }

    std::unique_ptr<Position> Build() const {
        ResetRepetitionState();
        auto pos = std::make_unique<Position>();
        for (int sq = 0; sq < 64; ++sq) pos->pieceColour[sq] = EMPTY_COLOUR;
        for (int p = 1; p <= root; ++p) {
            pos->ply = p;
            pos->hashKey[0] = uint32_t(keys[size_t(p)]);
            pos->hashKey[1] = uint32_t(keys[size_t(p)] >> 32);
            RecordGameKey(*pos);
        }
        Repetition.searchStartPly = root;
        pos->ply = current;
        pos->lastIrreversiblePly = irreversible;
        pos->undoTop = 1 + current - root;
        for (int x = root - 1; x < current; ++x) {
            PlyRecord& r = pos->undoStack[x - root + 2];
            r.keyLow = uint32_t(keys[size_t(x)]);
            r.keyHigh = uint32_t(keys[size_t(x)] >> 32);
        }
        pos->hashKey[0] = uint32_t(keys[size_t(current)]);
        pos->hashKey[1] = uint32_t(keys[size_t(current)] >> 32);
        return pos;
    }
};

TEST(Repetition, EarlierOccurrenceSinceTheLastIrreversibleMove) {
    struct Case {
        const char* name;
        int root, current, irreversible;
        int sameAs;          // ply whose key equals the current one; 0 = none
        bool highDiffers;    // only the low word matches
        bool repeated;
    };
    const Case cases[] = {
        {"inside the tree", 10, 16, 1, 12, false, true},
        {"reaching back into the game", 10, 12, 1, 8, false, true},
        {"deep in the game", 30, 32, 2, 4, false, true},
        {"far back in the tree", 2, 40, 1, 20, false, true},
        {"two plies back is not a repetition", 10, 16, 1, 14, false, false},
        {"odd distance: other side to move", 10, 16, 1, 13, false, false},
        {"before the last irreversible move", 10, 16, 11, 10, false, false},
        {"exactly three plies since irreversible", 10, 16, 13, 12, false, false},
        {"the irreversible position itself counts", 10, 16, 12, 12, false, true},
        {"only the low word equal", 10, 16, 1, 12, true, false},
        {"nothing repeated", 10, 16, 1, 0, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Line line(c.root, c.current, c.irreversible);
        if (c.sameAs != 0) line.keys[size_t(c.current)] = line.keys[size_t(c.sameAs)] ^ (c.highDiffers ? 1ull << 40 : 0);
        auto pos = line.Build();
        EXPECT_EQ(IsRepetition(*pos), c.repeated);
    }
}

TEST(Repetition, CountingGameOccurrencesForTheRoot) {
    struct Case {
        const char* name;
        int irreversible;
        std::vector<int> sameAs;
        int32_t count;
    };
    // The root move was made: the current position is one ply past the root at 41.
    const Case cases[] = {
        {"none", 1, {}, 0},
        {"once", 1, {34}, 1},
        {"twice: threefold", 1, {38, 30}, 2},
        {"odd plies never count", 1, {39, 35, 30}, 1},
        {"cut by an irreversible move", 33, {38, 30}, 1},
        {"fewer than four plies since irreversible", 39, {38}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Line line(41, 42, c.irreversible);
        for (int p : c.sameAs) line.keys[size_t(p)] = line.keys[42];
        auto pos = line.Build();
        EXPECT_EQ(RepetitionCount(*pos), c.count);
    }
}

TEST(Repetition, QuietMoveBackIntoAnEarlierPosition) {
    constexpr int FROM = 21, TO = 38;  // knight f3-g5
    const uint64_t after = UniqueKey(20) ^ PieceKey(KNIGHT, BLACK, FROM) ^ PieceKey(KNIGHT, BLACK, TO);
    struct Case {
        const char* name;
        int sameAs;          // ply whose key equals the key after the move
        Move move;
        PieceType mover;
        int irreversible;
        bool repeats;
    };
    const Case cases[] = {
        {"three plies back", 17, MakeMoveWord(FROM, TO), KNIGHT, 1, true},
        {"into the game", 9, MakeMoveWord(FROM, TO), KNIGHT, 1, true},
        {"one ply back is the other side", 19, MakeMoveWord(FROM, TO), KNIGHT, 1, false},
        {"two plies back", 18, MakeMoveWord(FROM, TO), KNIGHT, 1, false},
        {"a capture is not quiet", 17, MakeMoveWord(FROM, TO, MoveKind::CAPTURE), KNIGHT, 1, false},
        {"a pawn move is irreversible", 17, MakeMoveWord(FROM, TO), PAWN, 1, false},
        {"before the last irreversible move", 15, MakeMoveWord(FROM, TO), KNIGHT, 16, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Line line(12, 20, c.irreversible);
        line.keys[size_t(c.sameAs)] = after;
        auto pos = line.Build();
        pos->pieceType[FROM] = c.mover;
        pos->pieceColour[FROM] = BLACK;
        const int32_t plyBefore = pos->ply;
        EXPECT_EQ(MoveRepeatsPosition(c.move, *pos), c.repeats);
        EXPECT_EQ(pos->ply, plyBefore);
        EXPECT_EQ(pos->hashKey[0], uint32_t(UniqueKey(20)));
    }
}

TEST(Repetition, GameHistoryReachesFarBackButNotBeyondItsRing) {
    // Long reversible stretches (a GUI need not claim the fifty-move draw) stay covered
    // as far as the remembered game positions go.
    struct Case {
        int sameAs;
        bool repeated;
    };
    const Case cases[] = {{200, true}, {302 - (GAME_KEY_HISTORY - 4), true}, {302 - GAME_KEY_HISTORY, false}};
    for (const Case& c : cases) {
        Line line(300, 302, 1);
        line.keys[302] = line.keys[size_t(c.sameAs)];
        EXPECT_EQ(IsRepetition(*line.Build()), c.repeated) << c.sameAs;
    }
}

TEST(Repetition, FiftyMoveRule) {
    struct Case {
        int32_t ply, irreversible;
        bool draw;
    };
    const Case cases[] = {{100, 1, false}, {101, 1, true}, {150, 52, false}, {150, 50, true}, {5, 5, false}};
    Position pos{};
    for (const Case& c : cases) {
        pos.ply = c.ply;
        pos.lastIrreversiblePly = c.irreversible;
        EXPECT_EQ(IsFiftyMoveDraw(pos), c.draw) << c.ply << " " << c.irreversible;
    }
}

}  // namespace
}  // namespace tavrix

namespace tavrix {
namespace {

constexpr uint32_t ALL_CASTLING = CastleFlag::WHITE_KING_SIDE | CastleFlag::WHITE_QUEEN_SIDE |
                                  CastleFlag::BLACK_KING_SIDE | CastleFlag::BLACK_QUEEN_SIDE;

// Moves in coordinate text on a real board.
Move Parse(const Position& p, const char* text) {
    const int from = MakeSquare(text[0] - 'a', text[1] - '1'), to = MakeSquare(text[2] - 'a', text[3] - '1');
    uint16_t kind = MoveKind::QUIET;
    if (p.pieceType[to] != NO_PIECE) kind = MoveKind::CAPTURE;
    return MakeMoveWord(from, to, kind);
}

TEST(RepetitionOnTheBoard, ShufflingPiecesRepeatsTheStart) {
    struct Case {
        const char* name;
        std::vector<const char*> moves;
        bool repeated;
    };
    const Case cases[] = {
        {"knights out and back", {"g1f3", "g8f6", "f3g1", "f6g8"}, true},
        {"only one side back", {"g1f3", "g8f6", "f3g1", "f6g4"}, false},
        {"a pawn move in between", {"g1f3", "g8f6", "f3g1", "e7e6", "g1f3", "f6g8", "f3g1"}, false},
        {"after the pawn move", {"g1f3", "e7e6", "f3g1", "g8f6", "g1f3", "f6g8", "f3g1"}, true},
        {"repeats after the pawn move", {"e2e3", "g8f6", "g1f3", "f6g8", "f3g1", "g8f6"}, true},
        {"castling rights lost on the way", {"e2e4", "e7e5", "e1e2", "e8e7", "e2e1", "e7e8"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetRepetitionState();
        auto pos = std::make_unique<Position>();
        ASSERT_TRUE(SetUpPosition(*pos, 2, ALL_CASTLING));
        Repetition.searchStartPly = pos->ply;
        for (const char* m : c.moves) MakeMove(*pos, Parse(*pos, m));
        EXPECT_EQ(IsRepetition(*pos), c.repeated);
    }
}

TEST(RepetitionOnTheBoard, QuietMoveTestAgreesWithMakingTheMove) {
    // After every prefix of a shuffling game, each quiet piece move that keeps castling
    // rights as they are must be judged alike by both tests.
    const char* game[] = {"g1f3", "g8f6", "b1c3", "b8c6", "f3g1", "f6g8", "c3b1", "c6b8", "g1h3", "g8h6"};
    ResetRepetitionState();
    auto pos = std::make_unique<Position>();
    ASSERT_TRUE(SetUpPosition(*pos, 2, ALL_CASTLING));
    Repetition.searchStartPly = pos->ply;
    int repeating = 0;
    for (const char* played : game) {
        const Colour side = pos->sideToMove;
        for (int from = 0; from < 64; ++from) {
            const PieceType t = pos->pieceType[from];
            if (pos->pieceColour[from] != side || t == PAWN || t == KING || t == ROOK) continue;
            for (int to = 0; to < 64; ++to) {
                if (pos->pieceType[to] != NO_PIECE) continue;
                const Move m = MakeMoveWord(from, to);
                if (t == KNIGHT) {
                    const int df = std::abs(FileOf(to) - FileOf(from)), dr = std::abs(RankOf(to) - RankOf(from));
                    if (!((df == 1 && dr == 2) || (df == 2 && dr == 1))) continue;
                } else {
                    continue;  // bishops and queens are still locked in
                }
                const bool predicted = MoveRepeatsPosition(m, *pos);
                MakeMove(*pos, m);
                const bool actual = pos->ply - pos->lastIrreversiblePly >= REPETITION_MIN_PLIES && IsRepetition(*pos);
                UnmakeMove(*pos);
                EXPECT_EQ(predicted, actual) << played << " then " << from << "-" << to;
                repeating += actual;
            }
        }
        MakeMove(*pos, Parse(*pos, played));
    }
    EXPECT_GE(repeating, 2);  // the walk back to the start offers repetitions
}

}  // namespace
}  // namespace tavrix
