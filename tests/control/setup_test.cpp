#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include "board/perft.h"
#include "control/game_record.h"
#include "control/setup.h"
#include "control/think.h"
#include "support/suite.h"

namespace tavrix {
namespace {

using testing_support::ResetBoardState;
using testing_support::SetUpFen;

constexpr const char* START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";

std::string Text(Move m) {
    char t[MOVE_TEXT_SIZE];
    MoveToText(m, t);
    return t;
}

// ---------------------------------------------------------------- FEN reading

TEST(ReadFen, FieldCountsCommentsAndClocks) {
    struct Case {
        const char* text;
        int result;
        int32_t plyOffset;    // when accepted
    };
    const Case cases[] = {
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -", 1, 0},           // 11 fields
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq", 0, 0},             // 10 fields
        {"{a comment} rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq - 0 7", 1, 13},
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w {inside} KQkq - 3 12", 1, 22},
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 0", 1, 0},       // move 0 reads as 1
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 300", 1, 598},   // wider than a byte
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq e3 5 40", 1, 0},     // wrong-rank e.p.: clocks unread
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 9 moves e2e4", 1, 16},
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNRR w KQkq - 0 1", 1, 0},      // surplus squares ignored
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNX w KQkq - 0 1", 0, 0},       // unknown letter
        {"{never closed rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", 0, 0},
    };
    for (const Case& c : cases) {
        ResetBoardState();
        ASSERT_EQ(ReadFen(c.text), c.result) << c.text;
        if (c.result == 1) {
            EXPECT_EQ(GameRecord.plyOffset, c.plyOffset) << c.text;
        }
    }
}

TEST(ReadFen, CastlingAndEnPassantFlags) {
    struct Case {
        const char* fen;
        uint32_t flags;
    };
    using namespace SetupFlag;
    const Case cases[] = {
        {START, 0x3600},
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w HAha - 0 1",
         0x3600 | ROOK_FILES | WHITE_KING_FILE | 7u << 24 | WHITE_QUEEN_FILE | BLACK_KING_FILE | 7u << 16 | BLACK_QUEEN_FILE},
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w Kx?q - 0 1", WHITE_KING_SIDE | BLACK_QUEEN_SIDE},
        {"4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1", 43u | EP_GIVEN},
        {"4k3/8/8/3pP3/8/8/8/4K3 w - d3 0 1", 0},
        {"4k3/8/8/8/3Pp3/8/8/4K3 b - d3 0 1", 19u | EP_GIVEN},
        {"4k3/8/8/8/3Pp3/8/8/4K3 b - z9 0 1", 0},
    };
    for (const Case& c : cases) {
        static PieceList list;
        uint32_t flags = 0;
        bool kings = false;
        ASSERT_TRUE(ParseFen(c.fen, list, flags, kings, nullptr)) << c.fen;
        EXPECT_TRUE(kings);
        EXPECT_EQ(flags, c.flags) << c.fen;
    }
}

TEST(ReadFen, RefusedPositionsChangeNothing) {
    const char* refused[] = {
        "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq",                 // 10 fields
        "4k3/8/8/8/8/8/8/4K2P w - - 0 1",                                     // pawn on the first rank
        "P3k3/8/8/8/8/8/8/4K3 w - - 0 1",                                     // pawn on the last rank
        "4k3/8/8/8/8/8/8/KK2K3 w - - 0 1",                                    // three white kings
        "kkkkkkkk/kkkkkkkk/kkkkkkkk/kkkkkkkk/KKKKKKKK/KKKKKKKK/KKKKKKKK/KKKKKKKK w - - 0 1",
        "4k3/8/8/8/8/8/8/NNNNK3 w - - 0 1",                                   // four knights
        "4k3/pppppppp/pppppppp/8/8/8/8/4K3 w - - 0 1",                        // sixteen pawns
        "4k3/4R3/8/8/8/8/8/4K3 w - - 0 1",                                    // side not to move in check
        "4k3/8/8/8/8/8/8/4K3 w - - 0 1 {",
    };
    ASSERT_TRUE(SetUpFen("r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 25"));
    ASSERT_EQ(PlayMoveText("e8g8"), 1);
    const uint32_t key0 = GameBoard.position.hashKey[0];
    const int32_t length = GameRecord.length;
    const int32_t offset = GameRecord.plyOffset;
    for (const char* fen : refused) {
        if (std::strchr(fen, '{') != nullptr) {
            EXPECT_EQ(ReadFen(fen), 1) << fen;  // the comment runs to the end: an ordinary FEN
            ASSERT_TRUE(SetUpFen("r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 25"));
            ASSERT_EQ(PlayMoveText("e8g8"), 1);
            continue;
        }
        EXPECT_EQ(ReadFen(fen), 0) << fen;
        EXPECT_EQ(GameBoard.position.hashKey[0], key0) << fen;
        EXPECT_EQ(GameBoard.position.sideToMove, WHITE) << fen;
        EXPECT_EQ(GameBoard.position.pieceType[62], KING) << fen;
        EXPECT_EQ(GameRecord.length, length) << fen;
        EXPECT_EQ(GameRecord.plyOffset, offset) << fen;
    }
    // Without two kings nothing is built, and the reader still reports success.
    EXPECT_EQ(ReadFen("8/8/8/8/8/8/8/4K3 w - - 0 1"), 1);
    EXPECT_EQ(GameBoard.position.pieceType[62], KING);
}

TEST(ReadFen, RookFilesSwitchChess960OnAndLettersSwitchItOff) {
    ASSERT_TRUE(SetUpFen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w HAha - 0 1"));
    EXPECT_EQ(GameBoard.position.chess960, 1);
    ASSERT_TRUE(SetUpFen(START));
    EXPECT_EQ(GameBoard.position.chess960, 0);
}

// ---------------------------------------------------------------- move texts

TEST(ParseMoveText, CoordinateAndShortAlgebraic) {
    struct Case {
        const char* fen;
        const char* text;
        const char* expected;   // coordinate form, "" when unreadable
    };
    const Case cases[] = {
        {START, "e2e4", "e2e4"},
        {START, "e2-e4", "e2e4"},
        {START, "e2xe4", "e2e4"},
        {START, "e4", "e2e4"},
        {START, "e3", "e2e3"},
        {START, "Nf3", "g1f3"},
        {START, "Ng1f3", "g1f3"},
        {START, "Bg1f3", ""},               // named piece differs from the one on g1
        {START, "Nf3+!?", "g1f3"},
        {START, "e5", ""},                  // no pawn can get there
        {START, "Zf3", ""},
        {START, "xx", ""},
        {START, "", ""},
        {"2k5/4P3/8/8/8/8/8/4K3 w - - 0 1", "e7e8q", "e7e8q"},
        {"2k5/4P3/8/8/8/8/8/4K3 w - - 0 1", "e7e8=Q", "e7e8q"},
        {"2k5/4P3/8/8/8/8/8/4K3 w - - 0 1", "e8=N", "e7e8n"},
        {"4k3/8/8/8/8/8/8/1N2KN2 w - - 0 1", "Nd2", ""},      // two knights reach d2: ambiguous
        {"4k3/8/8/8/8/8/8/1N2KN2 w - - 0 1", "Nbd2", "b1d2"},
        {"4k3/8/8/8/8/8/8/1N2KN2 w - - 0 1", "Nfd2", "f1d2"},
        {"4k3/8/8/8/8/8/8/R3K2R w - - 0 1", "Rd1", "a1d1"},
        {"4k3/8/8/8/8/8/8/R3K2R w - - 0 1", "Rf1", "h1f1"},
        // The knight on e2 is pinned by the rook on e8, so only the one on b1 counts.
        {"4r1k1/8/8/8/8/8/4N3/1N2K3 w - - 0 1", "Nc3", "b1c3"},
        {"4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1", "exd6", "e5d6"},
        {"4k3/8/8/3p4/4P3/8/8/4K3 w - - 0 1", "exd5", "e4d5"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(SetUpFen(c.fen)) << c.fen;
        const Move m = ParseMoveText(c.text);
        if (c.expected[0] == '\0')
            EXPECT_EQ(m, NO_MOVE) << c.text << " gave " << Text(m);
        else
            EXPECT_EQ(m == NO_MOVE ? std::string("-") : Text(m), c.expected) << c.text;
    }
}

TEST(MoveToText, PromotionsLowerCaseAndChess960CastlingToTheRook) {
    EXPECT_EQ(Text(MakeMoveWord(52, 60, MoveKind::PROMOTE_QUEEN)), "e7e8q");
    EXPECT_EQ(Text(MakeMoveWord(11, 2, MoveKind::PROMOTE_KNIGHT)), "d2c1n");
    EXPECT_EQ(Text(MakeMoveWord(4, 6, MoveKind::CASTLING)), "e1g1");
    ASSERT_TRUE(SetUpFen("rk5r/8/8/8/8/8/8/RK5R w HAha - 0 1"));
    static PerftDivision division;
    PerftDivide(GameBoard.position, 1, division);
    bool castled[2] = {false, false};
    for (int i = 0; i < division.count; ++i) {
        if (!IsCastling(division.moves[i])) continue;
        const std::string t = Text(division.moves[i]);
        castled[0] |= t == "b1h1";
        castled[1] |= t == "b1a1";
    }
    EXPECT_TRUE(castled[0]);
    EXPECT_TRUE(castled[1]);
    // The same text is read back and made as castling.
    ASSERT_EQ(PlayMoveText("b1a1"), 1);
    EXPECT_EQ(GameBoard.position.pieceType[2], KING);
    EXPECT_EQ(GameBoard.position.pieceType[3], ROOK);
}

// ---------------------------------------------------------------- moves on the game board

TEST(PlayMoveList, SkipsUnreadableAndIllegalTokensAndGoesOn) {
    ResetBoardState();
    NewGame();
    EXPECT_EQ(PlayMoveList("e2e4 zz e7e5 e1e3 g1f3 Nc6 e4e5"), 4);
    EXPECT_EQ(GameRecord.length, FIRST_ENTRY + 4);
    EXPECT_EQ(GameBoard.position.pieceType[MakeSquare(5, 2)], KNIGHT);
    EXPECT_EQ(GameBoard.position.pieceType[MakeSquare(2, 5)], KNIGHT);
    EXPECT_EQ(GameBoard.position.sideToMove, WHITE);
    EXPECT_EQ(GameRecord.entries[FIRST_ENTRY].move, SENTINEL_MOVE);
    EXPECT_EQ(GameRecord.entries[FIRST_ENTRY + 1].mover, WHITE);
    EXPECT_EQ(Text(GameRecord.entries[FIRST_ENTRY + 1].move), "e2e4");
}

TEST(PlayMoveList, TheLearningAnchorFollowsTheGame) {
    ResetBoardState();
    const Move e2e4 = MakeMoveWord(12, 28);
    // A new game and a FEN set-up forget the anchor; a refused FEN changes nothing.
    ThinkControl.learningAnchor = 7;
    NewGame();
    EXPECT_EQ(ThinkControl.learningAnchor, NO_ANCHOR);
    ThinkControl.learningAnchor = 7;
    EXPECT_EQ(ReadFen("4k3/8/8/8/8/8/8/4K3 w - - 0 1"), 1);
    EXPECT_EQ(ThinkControl.learningAnchor, NO_ANCHOR);
    ThinkControl.learningAnchor = 7;
    EXPECT_EQ(ReadFen("8/8/8 w - - 0 1"), 0);
    EXPECT_EQ(ThinkControl.learningAnchor, 7);

    // Replaying the game through the root of the engine's last search puts the anchor two
    // plies before it.
    NewGame();
    PlayMoveList("e2e4 e7e5");
    ThinkControl.anchorKey[0] = GameBoard.position.hashKey[0];
    ThinkControl.anchorKey[1] = GameBoard.position.hashKey[1];
    NewGame();
    EXPECT_EQ(PlayMoveList("e2e4 e7e5 g1f3"), 3);
    EXPECT_EQ(ThinkControl.learningAnchor, FIRST_ENTRY + 2 - 2);

    // Replaying a book move the engine played moves the anchor behind it.
    NewGame();
    ThinkControl.anchorKey[0] = ThinkControl.anchorKey[1] = 0;
    GameRecord.entries[FIRST_ENTRY + 1].move = e2e4;
    GameRecord.entries[FIRST_ENTRY + 1].flags = EntryFlag::BOOK_MOVE;
    EXPECT_EQ(PlayMoveList("e2e4"), 1);
    EXPECT_EQ(ThinkControl.learningAnchor, FIRST_ENTRY + 1);
    ThinkControl.learningAnchor = NO_ANCHOR;
}

TEST(RecordMove, RefusesAMoveIntoCheckAndMarksChecks) {
    ASSERT_TRUE(SetUpFen("4k3/8/8/8/8/8/3r4/R3K3 w - - 0 1"));
    const uint32_t key = GameBoard.position.hashKey[0];
    EXPECT_EQ(RecordMove(GameBoard.position, MakeMoveWord(4, 3)), 0);  // e1d1 next to the rook's file
    EXPECT_EQ(GameBoard.position.hashKey[0], key);
    EXPECT_EQ(GameRecord.length, FIRST_ENTRY);
    EXPECT_EQ(GameBoard.position.sideToMove, WHITE);
    ASSERT_EQ(RecordMove(GameBoard.position, MakeMoveWord(0, 56)), 1);  // a1a8+
    const GameEntry& e = GameRecord.entries[FIRST_ENTRY + 1];
    EXPECT_NE(e.move & CHECK_MARK, 0);
    EXPECT_EQ(e.keyLow, key);
    EXPECT_EQ(e.sanCode & 7, ROOK);
}

TEST(RecordMove, DisambiguationCodes) {
    struct Case {
        const char* fen;
        const char* move;
        uint8_t code;
    };
    const Case cases[] = {
        {"4k3/8/8/8/8/8/8/1N2KN2 w - - 0 1", "b1d2", KNIGHT | SAN_FILE},
        {"4k3/8/8/8/8/1N6/8/1N2K3 w - - 0 1", "b1d2", KNIGHT | SAN_RANK},
        {"4k3/8/8/8/8/8/8/1N2K3 w - - 0 1", "b1d2", KNIGHT},
        {"4k3/8/8/8/8/8/4P3/4K3 w - - 0 1", "e2e4", PAWN},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(SetUpFen(c.fen)) << c.fen;
        ASSERT_EQ(PlayMoveText(c.move), 1) << c.fen;
        EXPECT_EQ(GameRecord.entries[FIRST_ENTRY + 1].sanCode, c.code) << c.fen;
    }
}

TEST(RecordMove, LongGamesAreRebasedAtTheLastIrreversibleMove) {
    ResetBoardState();
    NewGame();
    ASSERT_EQ(PlayMoveList("e2e4 e7e5"), 2);
    const char* shuffle[] = {"g1f3", "g8f6", "f3g1", "f6g8"};
    for (int i = 0; i < 4 * (MAX_GAME_PLIES / 2); ++i) ASSERT_EQ(PlayMoveText(shuffle[i % 4]), 1) << i;
    EXPECT_LE(GameRecord.length, MAX_GAME_PLIES);
    EXPECT_GT(GameRecord.length, MAX_GAME_PLIES / 4);
    EXPECT_EQ(GameRecord.length, GameBoard.position.ply);
    // The board is still the shuffled start: knights home after a multiple of four plies.
    EXPECT_EQ(GameBoard.position.pieceType[6], KNIGHT);
}

// ---------------------------------------------------------------- bounded fuzzing

// Random and mutated texts: the reader either refuses or sets up a position whose
// perft runs; the move parser never reads past its token and only yields moves that the
// validator may still refuse.
TEST(SetupFuzz, RandomTextsAreRefusedOrGiveAPlayablePosition) {
    std::mt19937 rng(7);
    const std::string alphabet = "pnbrqkPNBRQK12345678/ -wabcdefghKQkqx{}=+#0123456789";
    const std::string seeds[] = {START, "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
                                 "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1"};
    constexpr int INPUTS = 3000;
    int accepted = 0;
    for (int i = 0; i < INPUTS; ++i) {
        std::string text;
        if (i % 2 == 0) {
            const int length = static_cast<int>(rng() % 90);
            for (int k = 0; k < length; ++k) text += alphabet[rng() % alphabet.size()];
        } else {
            text = seeds[rng() % 3];
            for (int k = 0, edits = 1 + static_cast<int>(rng() % 4); k < edits; ++k)
                text[rng() % text.size()] = alphabet[rng() % alphabet.size()];
        }
        ResetBoardState();
        NewGame();
        if (ReadFen(text.c_str()) == 1) {
            ++accepted;
            Position& p = GameBoard.position;
            ASSERT_EQ(p.pieceType[KingSquare(p, WHITE)], KING) << text;
            ASSERT_EQ(p.pieceType[KingSquare(p, BLACK)], KING) << text;
            Perft(p, 2);  // must neither crash nor trip the sanitizers
        }
        // Move texts built from the same alphabet.
        std::string token;
        for (int k = 0, n = static_cast<int>(rng() % 8); k < n; ++k) token += alphabet[rng() % alphabet.size()];
        token.erase(std::remove(token.begin(), token.end(), ' '), token.end());
        PlayMoveText(token.c_str());
    }
    EXPECT_GT(accepted, INPUTS / 20);
}

}  // namespace
}  // namespace tavrix
