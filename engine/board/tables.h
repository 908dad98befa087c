// Constant tables of the board: rays, directions, target lists, keys and the tables
// behind the hanging values.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "board/position.h"

namespace tavrix {

// [direction 0..7][square]: the squares beyond a square that way, as a bit set. A walk to
// the first piece becomes a bit scan of this and the occupied squares.
inline constexpr auto RaySquares = [] {
    constexpr int fileStep[8] = {1, 0, -1, 0, -1, 1, -1, 1};
    constexpr int rankStep[8] = {0, 1, 0, -1, 1, 1, -1, -1};
    std::array<std::array<uint64_t, 64>, 8> t{};
    for (int dir = 0; dir < 8; ++dir)
        for (int sq = 0; sq < 64; ++sq)
            for (int f = FileOf(sq) + fileStep[dir], r = RankOf(sq) + rankStep[dir]; f >= 0 && f < 8 && r >= 0 && r < 8;
                 f += fileStep[dir], r += rankStep[dir])
                t[dir][sq] |= uint64_t{1} << MakeSquare(f, r);
    return t;
}();

constexpr uint8_t NO_DIRECTION = DIRECTION_COUNT;  // squares not on one line or jump

// One entry of a target list: the square, and how many squares follow it on the same
// ray (0 for knights and kings), so a blocked walk can skip the rest of the ray.
struct Target {
    uint8_t square;
    uint8_t skip;
};
constexpr int MAX_TARGETS = 28;  // a queen in the centre reaches 27 squares, plus the end mark

template <typename T, std::size_t ROWS, std::size_t COLS>
using Table2 = std::array<std::array<T, COLS>, ROWS>;

// [target][origin]: the direction that steps from origin toward target, or NO_DIRECTION.
extern const Table2<uint8_t, 64, 64> DirectionTable;
// [direction][square]: the next square that way, or NO_SQUARE at the edge.
extern const Table2<uint8_t, DIRECTION_COUNT, 64> RayTable;
// [direction 0..7][square]: how many squares lie beyond the square that way, so a ray walk
// can step by a constant instead of waiting on a table load per square.
extern const Table2<uint8_t, 8, 64> EdgeDistance;
// [piece type][square]: squares attacked on an empty board, ended by NO_SQUARE.
// Filled for knight, bishop, rook, queen and king; slider rays run near to far.
extern const std::array<Table2<Target, 64, MAX_TARGETS>, 8> TargetList;
extern const std::array<uint8_t, 64> ShadeTable;    // 1 dark, 0 light
extern const std::array<uint8_t, 256> HighestBit;   // index of the highest set bit of a byte

extern const Table2<uint64_t, 12, 64> PieceKeys;  // row (type - 1) * 2 + colour
extern const std::array<uint32_t, 64> SquareKeys;

// Capturer class of one side on one square, indexed by attackWeight + x-ray byte.
constexpr int ATTACK_CLASS_SIZE = 3072;
extern const std::array<uint8_t, ATTACK_CLASS_SIZE> AttackClass;
// What the defender wins back, in units of EXCHANGE_UNIT, indexed by
// defender class | attacker class << 7.
constexpr int EXCHANGE_UNIT = 8;
constexpr int CLASS_COUNT = 128;
extern const std::array<uint8_t, CLASS_COUNT * CLASS_COUNT> ExchangeTable;

// ------------------------------------------------------------ per-type and per-direction bits
constexpr uint16_t AttackWeightOf[8] = {0, AttackWeight::PAWN, AttackWeight::KNIGHT, AttackWeight::BISHOP,
                                        AttackWeight::ROOK, AttackWeight::QUEEN, AttackWeight::KING, 0};
constexpr uint8_t TypeBit[8] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0};
constexpr uint8_t BISHOP_LINES = 0x28;
constexpr uint8_t ROOK_LINES = 0x30;
constexpr uint8_t QUEEN_LINES = 0x38;
// The type bits of the pieces that move like this one along some line.
constexpr uint8_t LineBits[8] = {0, 0, 0, BISHOP_LINES, ROOK_LINES, QUEEN_LINES, 0, 0};
constexpr uint8_t DirectionMoverBits[DIRECTION_COUNT] = {0x30, 0x30, 0x30, 0x30, 0x28, 0x28, 0x28, 0x28,
                                                         0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04};
constexpr uint8_t DirectionOwnBit[DIRECTION_COUNT] = {0x10, 0x10, 0x10, 0x10, 0x08, 0x08, 0x08, 0x08,
                                                      0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04};
constexpr uint16_t DirectionAttackMask[DIRECTION_COUNT] = {
    AttackWeight::ROOK_LINE_MASK,   AttackWeight::ROOK_LINE_MASK,   AttackWeight::ROOK_LINE_MASK,
    AttackWeight::ROOK_LINE_MASK,   AttackWeight::BISHOP_LINE_MASK, AttackWeight::BISHOP_LINE_MASK,
    AttackWeight::BISHOP_LINE_MASK, AttackWeight::BISHOP_LINE_MASK, AttackWeight::KNIGHT_MASK,
    AttackWeight::KNIGHT_MASK,      AttackWeight::KNIGHT_MASK,      AttackWeight::KNIGHT_MASK,
    AttackWeight::KNIGHT_MASK,      AttackWeight::KNIGHT_MASK,      AttackWeight::KNIGHT_MASK,
    AttackWeight::KNIGHT_MASK};
// The two capture directions of a pawn, by colour.
constexpr int PawnCaptureDirection[2][2] = {{4, 5}, {6, 7}};
constexpr int PawnPush[2] = {8, -8};
constexpr int OppositeDirection[8] = {2, 3, 0, 1, 7, 6, 5, 4};
constexpr bool IsStraight(int direction) { return direction < 4; }
constexpr bool IsDiagonal(int direction) { return direction >= 4 && direction < 8; }
constexpr int PawnStartRank(Colour c) { return c == WHITE ? 1 : 6; }
constexpr int PromotionRank(Colour c) { return c == WHITE ? 7 : 0; }

// Signature step and material credit a promotion adds, by promoted type.
constexpr uint32_t PromotionSignatureStep[8] = {0, 0, 0xF0103, 0x3F0103, 0xFF0105, 0x3FF010A, 0, 0};

// Slot index of a single slot bit.
inline int SlotIndex(uint32_t bit) { return __builtin_ctz(bit); }
inline uint32_t LowestBit(uint32_t mask) { return mask & (0u - mask); }
// `bits` when `keep`, else none, without a branch: for tests on near-random data.
inline uint32_t BitsIf(uint32_t bits, bool keep) { return bits & (0u - uint32_t(keep)); }
// `set` with `bit` set or cleared as `on` says, without a branch.
inline uint32_t WithBit(uint32_t set, uint32_t bit, bool on) { return (set & ~bit) | BitsIf(bit, on); }
inline int LowestSlot(uint32_t mask) { return __builtin_ctz(mask); }
inline int HighestSlot(uint32_t mask) { return 31 - __builtin_clz(mask); }
// Slot masks use 16 bits; a byte table avoids the library call where the target has no
// population-count instruction (baseline x86-64).
inline constexpr auto ByteBitCount = [] {
    std::array<uint8_t, 256> t{};
    for (int b = 0; b < 256; ++b)
        for (int i = 0; i < 8; ++i) t[b] = static_cast<uint8_t>(t[b] + ((b >> i) & 1));
    return t;
}();
inline int SlotCount(uint32_t mask) { return ByteBitCount[mask & 0xFF] + ByteBitCount[(mask >> 8) & 0xFF]; }

inline uint64_t PieceKey(int type, int colour, int sq) { return PieceKeys[(type - 1) * 2 + colour][sq]; }
inline void XorKey(Position& p, uint64_t key) {
    p.hashKey[0] ^= static_cast<uint32_t>(key);
    p.hashKey[1] ^= static_cast<uint32_t>(key >> 32);
}

// The class index of one side's record, kept inside the table for any packed sum.
inline int ClassIndex(const AttackRecord& r) {
    const int index = r.attackWeight + r.xrayWeight;
    return index < ATTACK_CLASS_SIZE ? index : ATTACK_CLASS_SIZE - 1;
}

}  // namespace tavrix
