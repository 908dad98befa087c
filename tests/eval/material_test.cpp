#include <gtest/gtest.h>

#include <string>

#include "eval/evaluate.h"
#include "eval/material.h"
#include "eval_test_board.h"

namespace tavrix {
namespace {

// Class of a material written as "KRPP": the letters after the king.
uint8_t ClassOf(const std::string& text) {
    uint32_t signature = 0;
    for (char ch : text.substr(1)) {
        switch (ch) {
            case 'P': signature += SignatureStep::PAWN; break;
            case 'N': signature += SignatureStep::KNIGHT; break;
            case 'B': signature += SignatureStep::BISHOP; break;
            case 'R': signature += SignatureStep::ROOK; break;
            case 'Q': signature += SignatureStep::QUEEN; break;
            default: ADD_FAILURE() << "bad material " << text;
        }
    }
    return MaterialClassOf(signature);
}

uint8_t Entry(const std::string& side, const std::string& other) { return MaterialLookup(ClassOf(side), ClassOf(other)); }

TEST(MaterialClass, CodesFromSignature) {
    struct Case { const char* material; int cls; };
    const Case cases[] = {
        {"K", 0},          {"KP", 1},          {"KPPPPPPPP", 3},  {"KN", 4},        {"KB", 8},
        {"KNB", 12},       {"KNN", 20},        {"KBB", 24},       {"KNNB", 28},     {"KBBBN", 28},
        {"KR", 32},        {"KQ", 64},         {"KRR", 96},       {"KQR", 96},      {"KQRNBPP", 96 + 12 + 2},
    };
    for (const Case& c : cases) EXPECT_EQ(ClassOf(c.material), c.cls) << c.material;
}

TEST(MaterialClassTable, AntisymmetricForEveryPair) {
    for (int a = 0; a < MATERIAL_CLASS_COUNT; ++a) {
        for (int b = 0; b < MATERIAL_CLASS_COUNT; ++b) {
            const uint8_t ab = MaterialLookup(a, b), ba = MaterialLookup(b, a);
            ASSERT_EQ(ab & ClassByte::SPECIAL, ba & ClassByte::SPECIAL) << a << " " << b;
            if (ab & ClassByte::SPECIAL) {
                ASSERT_EQ(ab & ClassByte::LOW_BITS, ba & ClassByte::LOW_BITS) << a << " " << b;
            } else {
                ASSERT_EQ(ClassCorrection(ab), -ClassCorrection(ba)) << a << " " << b;
            }
            ASSERT_EQ((ab & ClassByte::SIDE_CANNOT_WIN) != 0, (ba & ClassByte::OTHER_CANNOT_WIN) != 0) << a << " " << b;
            ASSERT_EQ((ab & ClassByte::OTHER_CANNOT_WIN) != 0, (ba & ClassByte::SIDE_CANNOT_WIN) != 0) << a << " " << b;
        }
    }
}

TEST(MaterialClassTable, OrdinaryEntryCounts) {
    int uncorrected = 0, onlySide = 0, onlyOther = 0, both = 0, special = 0;
    for (uint8_t byte : MaterialClassTable) {
        if (byte & ClassByte::SPECIAL) {
            ++special;
            continue;
        }
        EXPECT_EQ(ClassCorrection(byte) % 32, 0);
        EXPECT_LE(ClassCorrection(byte), 480);
        EXPECT_GE(ClassCorrection(byte), -480);
        if (ClassCorrection(byte) == 0) ++uncorrected;
        const int bits = byte & ClassByte::SCALE_BITS;
        if (bits == ClassByte::SIDE_CANNOT_WIN) ++onlySide;
        if (bits == ClassByte::OTHER_CANNOT_WIN) ++onlyOther;
        if (bits == ClassByte::SCALE_BITS) ++both;
    }
    EXPECT_EQ(uncorrected, 15786);
    EXPECT_EQ(onlySide, 136);
    EXPECT_EQ(onlyOther, 136);
    EXPECT_EQ(both, 64);
    EXPECT_EQ(special, 296);
}

TEST(MaterialClassTable, TellingOrdinaryEntries) {
    struct Case { const char* side; const char* other; int correction; int bits; };
    constexpr int S5 = ClassByte::SIDE_CANNOT_WIN, S6 = ClassByte::OTHER_CANNOT_WIN;
    const Case cases[] = {
        {"KP", "KN", 256, S6},        {"KP", "KB", 224, S6},         {"KP", "KNN", 480, S6},
        {"KP", "KR", 64, 0},          {"KN", "KP", -256, S5},        {"KN", "KR", 160, S5 | S6},
        {"KB", "KR", 192, S5 | S6},   {"KNB", "KN", -288, S5 | S6},  {"KNN", "KP", -480, S5},
        {"KR", "KQ", 288, S5},        {"KR", "KRN", 288, S5 | S6},   {"KRN", "KR", -288, S5 | S6},
        {"KRPP", "KN", 128, 0},       {"KRPPP", "KN", 160, 0},       {"KRP", "KQ", 160, 0},
        // Beyond the rows above: equal material and big leads stay as counted.
        {"KRPP", "KRPP", 0, 0},       {"KQ", "KR", -288, S6},        {"KR", "KR", 0, S5 | S6},
    };
    for (const Case& c : cases) {
        const uint8_t byte = Entry(c.side, c.other);
        EXPECT_EQ(byte & ClassByte::SPECIAL, 0) << c.side << " " << c.other;
        EXPECT_EQ(ClassCorrection(byte), c.correction) << c.side << " " << c.other;
        EXPECT_EQ(byte & ClassByte::SCALE_BITS, c.bits) << c.side << " " << c.other;
    }
}

TEST(MaterialClassTable, EndgameTypes) {
    struct Case { const char* side; const char* other; int type; int bits; };
    using namespace EndgameType;
    constexpr int S5 = ClassByte::SIDE_CANNOT_WIN, S6 = ClassByte::OTHER_CANNOT_WIN, BOTH = S5 | S6;
    const Case cases[] = {
        {"KP", "KBP", BISHOP_PAWNS, 0},          {"KBPPP", "KPP", BISHOP_PAWNS, 0},
        {"KP", "KQ", QUEEN_VS_PAWN, S5},         {"KQ", "KP", QUEEN_VS_PAWN, S6},
        {"KR", "KRP", ROOK_PAWN_VS_ROOK, S5},    {"KRP", "KR", ROOK_PAWN_VS_ROOK, S6},
        {"KR", "KRPP", ROOK_TWO_PAWNS_VS_ROOK, S5}, {"KRPP", "KR", ROOK_TWO_PAWNS_VS_ROOK, S6},
        {"K", "KQ", LONE_KING, 0},               {"KRNN", "K", LONE_KING, 0},
        {"KNP", "K", LONE_KING, 0},              {"K", "KBN", LONE_KING, 0},
        {"KBP", "K", BISHOP_PAWNS_VS_KING, S6},  {"K", "KBPPP", BISHOP_PAWNS_VS_KING, S5},
        {"KPP", "K", PAWN_ENDING, 0},            {"KP", "KP", PAWN_ENDING, 0},
        {"KPPP", "KP", PAWN_ENDING, 0},          {"KP", "K", KING_PAWN_VS_KING, S6},
        {"K", "KP", KING_PAWN_VS_KING, S5},      {"KNN", "K", MINOR_DRAW, BOTH},
        {"KN", "KB", MINOR_DRAW, BOTH},          {"KB", "KB", MINOR_DRAW, BOTH},
        {"KNN", "KB", MINOR_DRAW, BOTH},         {"KN", "KNN", MINOR_DRAW, BOTH},
        {"K", "K", DRAWN, BOTH},                 {"KN", "K", DRAWN, BOTH},
        {"K", "KB", DRAWN, BOTH},
    };
    for (const Case& c : cases) {
        const uint8_t byte = Entry(c.side, c.other);
        EXPECT_NE(byte & ClassByte::SPECIAL, 0) << c.side << " " << c.other;
        EXPECT_EQ(byte & ClassByte::LOW_BITS, c.type) << c.side << " " << c.other;
        EXPECT_EQ(byte & ClassByte::SCALE_BITS, c.bits) << c.side << " " << c.other;
    }
}

TEST(MaterialClassTable, SpecialBalanceCounts) {
    int byType[32] = {};
    for (uint8_t byte : MaterialClassTable) {
        if (byte & ClassByte::SPECIAL) ++byType[byte & ClassByte::LOW_BITS];
    }
    using namespace EndgameType;
    EXPECT_EQ(byType[LONE_KING], 236);
    EXPECT_EQ(byType[PAWN_ENDING], 13);
    EXPECT_EQ(byType[MINOR_DRAW], 10);
    EXPECT_EQ(byType[DRAWN], 5);
    EXPECT_EQ(byType[KING_PAWN_VS_KING], 2);
    EXPECT_EQ(byType[QUEEN_VS_PAWN], 2);
    EXPECT_EQ(byType[ROOK_PAWN_VS_ROOK], 2);
    EXPECT_EQ(byType[ROOK_TWO_PAWNS_VS_ROOK], 2);
    EXPECT_EQ(byType[BISHOP_PAWNS_VS_KING], 6);
    EXPECT_EQ(byType[BISHOP_PAWNS], 18);
}

TEST(MaterialClassGain, ChangeOfCorrection) {
    struct Case { const char* fen; Colour side; PieceType captured; int gain; };
    const Case cases[] = {
        // K+N against K+P+P: taking a pawn reaches K+N against K+P (-256 from -192).
        {"8/8/3k4/3pp3/8/8/8/3NK3 w - - 0 1", WHITE, PAWN, -256 - (-192)},
        // K+P against K+R+N: taking the knight leaves K+P against K+R (+64 from 0).
        {"4k3/8/8/3rn3/8/8/3P4/4K3 w - - 0 1", WHITE, KNIGHT, 64},
        // K+R+N against K+R+P: taking the pawn leaves a minor more without pawns (-288 from -96).
        {"4k3/8/8/3rp3/8/8/3RN3/4K3 w - - 0 1", WHITE, PAWN, -288 - (-96)},
        // Taking the last piece of a side reaches a special balance, worth no correction.
        {"4k3/8/8/3n4/8/8/3P4/4K3 w - - 0 1", WHITE, KNIGHT, 0 - 256},
        // Black's view of the first case.
        {"3nk3/8/8/8/3PP3/3K4/8/8 b - - 0 1", BLACK, PAWN, -64},
        // Nothing of that type to take.
        {"4k3/8/8/3n4/8/8/3P4/4K3 w - - 0 1", WHITE, ROOK, 0},
    };
    for (const Case& c : cases) {
        const Position pos = evaltest::MakePosition(c.fen);
        EXPECT_EQ(MaterialClassGain(pos, c.side, c.captured), c.gain) << c.fen;
    }
}

TEST(MaterialClass, ClassifyMaterialReadsBothSides) {
    const Position pos = evaltest::MakePosition("4k3/8/8/3n4/8/8/3P4/4K3 w - - 0 1");
    EXPECT_EQ(ClassifyMaterial(pos, WHITE), Entry("KP", "KN"));
    EXPECT_EQ(ClassifyMaterial(pos, BLACK), Entry("KN", "KP"));
}

}  // namespace
}  // namespace tavrix
