// Board geometry used by move generation and the move services: the next square in
// each of the sixteen directions and the direction that links two squares.
#pragma once

#include <cstdint>

#include "board/position.h"

namespace tavrix::geometry {

constexpr uint8_t OFF_BOARD = 255;
constexpr uint8_t NO_LINE = 16;           // squares not on one line or knight jump

constexpr int FileStep[DIRECTION_COUNT] = {1, 0, -1, 0, -1, 1, -1, 1, -1, -2, -2, -1, 1, 2, 2, 1};
constexpr int RankStep[DIRECTION_COUNT] = {0, 1, 0, -1, 1, 1, -1, -1, -2, -1, 1, 2, 2, 1, -1, -2};
constexpr int OppositeDirection[8] = {2, 3, 0, 1, 7, 6, 5, 4};

struct GeometryTables {
    uint8_t next[DIRECTION_COUNT][64];  // next square in a direction, OFF_BOARD at the edge
    uint8_t line[64][64];               // [target][origin]: direction from origin toward target
};

constexpr GeometryTables BuildGeometry() {
    GeometryTables t{};
    for (int d = 0; d < DIRECTION_COUNT; ++d) {
        for (int sq = 0; sq < 64; ++sq) {
            const int f = FileOf(sq) + FileStep[d];
            const int r = RankOf(sq) + RankStep[d];
            t.next[d][sq] = (f >= 0 && f < 8 && r >= 0 && r < 8) ? static_cast<uint8_t>(MakeSquare(f, r)) : OFF_BOARD;
        }
    }
    for (int a = 0; a < 64; ++a)
        for (int b = 0; b < 64; ++b) t.line[a][b] = NO_LINE;
    for (int origin = 0; origin < 64; ++origin) {
        for (int d = 0; d < 8; ++d)
            for (int s = t.next[d][origin]; s != OFF_BOARD; s = t.next[d][s]) t.line[s][origin] = static_cast<uint8_t>(d);
        for (int d = 8; d < DIRECTION_COUNT; ++d)
            if (t.next[d][origin] != OFF_BOARD) t.line[t.next[d][origin]][origin] = static_cast<uint8_t>(d);
    }
    return t;
}

inline constexpr GeometryTables Geometry = BuildGeometry();

constexpr int Next(int direction, int square) { return Geometry.next[direction][square]; }
// Direction (0..7) in which one steps from `origin` toward `target` along a line, else >= 8.
constexpr int LineFrom(int origin, int target) { return Geometry.line[target][origin]; }
constexpr bool IsStraight(int direction) { return direction < 4; }
constexpr bool IsDiagonal(int direction) { return direction >= 4 && direction < 8; }

// Attack-weight bits of the pieces that move along a direction's line.
constexpr uint16_t LineAttackMask(int direction) {
    return direction < 4 ? AttackWeight::ROOK_LINE_MASK
                         : (direction < 8 ? AttackWeight::BISHOP_LINE_MASK : AttackWeight::KNIGHT_MASK);
}

// Forward step and ranks of a side's pawns.
constexpr int PawnStep(Colour c) { return c == WHITE ? 8 : -8; }
constexpr int PawnStartRank(Colour c) { return c == WHITE ? 1 : 6; }
constexpr int PromotionRank(Colour c) { return c == WHITE ? 7 : 0; }
// Diagonal capture directions of a side's pawns.
constexpr int PawnCaptureDirection(Colour c, int i) { return c == WHITE ? 4 + i : 6 + i; }

inline int LowestSlot(uint32_t mask) { return __builtin_ctz(mask); }
inline int HighestSlot(uint32_t mask) { return 31 - __builtin_clz(mask); }
inline int SlotCount(uint32_t mask) { return __builtin_popcount(mask); }

}  // namespace tavrix::geometry
