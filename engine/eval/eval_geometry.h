// Small board geometry and attack-record helpers shared by the king and pawn terms.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstdlib>

#include "board/position.h"

namespace tavrix::geometry {

constexpr int NO_LINE = 8;   // "not on a king line" in LineDirection

// Direction (0..7, the Direction numbering) in which one steps from `from` toward `to`
// when the two squares share a rank, file or diagonal; NO_LINE otherwise.
constexpr int ComputeLineDirection(int from, int to) {
    const int df = FileOf(to) - FileOf(from);
    const int dr = RankOf(to) - RankOf(from);
    if (from == to) return NO_LINE;
    if (dr == 0) return df > 0 ? 0 : 2;
    if (df == 0) return dr > 0 ? 1 : 3;
    if (df == dr) return df > 0 ? 5 : 6;
    if (df == -dr) return df > 0 ? 7 : 4;
    return NO_LINE;
}

inline constexpr auto LineDirectionTable = [] {
    std::array<std::array<uint8_t, 64>, 64> t{};
    for (int a = 0; a < 64; ++a)
        for (int b = 0; b < 64; ++b) t[a][b] = static_cast<uint8_t>(ComputeLineDirection(a, b));
    return t;
}();

constexpr int LineDirection(int from, int to) { return LineDirectionTable[from][to]; }

// Next square from `sq` in king direction `dir` (0..7), or -1 off the board.
constexpr int ComputeStep(int sq, int dir) {
    constexpr int df[8] = {1, 0, -1, 0, -1, 1, -1, 1};
    constexpr int dr[8] = {0, 1, 0, -1, 1, 1, -1, -1};
    const int f = FileOf(sq) + df[dir];
    const int r = RankOf(sq) + dr[dir];
    return (f < 0 || f > 7 || r < 0 || r > 7) ? -1 : MakeSquare(f, r);
}

inline constexpr auto StepTable = [] {
    std::array<std::array<int8_t, 64>, 8> t{};
    for (int d = 0; d < 8; ++d)
        for (int s = 0; s < 64; ++s) t[d][s] = static_cast<int8_t>(ComputeStep(s, d));
    return t;
}();

constexpr int Step(int sq, int dir) { return StepTable[dir][sq]; }
constexpr int Opposite(int dir) {
    constexpr int opposite[8] = {2, 3, 0, 1, 7, 6, 5, 4};
    return opposite[dir];
}
constexpr bool IsStraight(int dir) { return dir < 4; }

constexpr int KingDistance(int a, int b) {
    const int df = std::abs(FileOf(a) - FileOf(b));
    const int dr = std::abs(RankOf(a) - RankOf(b));
    return df > dr ? df : dr;
}

// Knight jumps as (file, rank) offsets.
constexpr int KNIGHT_DF[8] = {1, 2, 2, 1, -1, -2, -2, -1};
constexpr int KNIGHT_DR[8] = {2, 1, -1, -2, -2, -1, 1, 2};

inline constexpr auto KnightTargets = [] {
    std::array<std::array<int8_t, 9>, 64> t{};
    for (int s = 0; s < 64; ++s) {
        int n = 0;
        for (int j = 0; j < 8; ++j) {
            const int f = FileOf(s) + KNIGHT_DF[j];
            const int r = RankOf(s) + KNIGHT_DR[j];
            if (f >= 0 && f < 8 && r >= 0 && r < 8) t[s][n++] = static_cast<int8_t>(MakeSquare(f, r));
        }
        t[s][n] = -1;
    }
    return t;
}();

constexpr bool IsKnightJump(int a, int b) {
    const int df = std::abs(FileOf(a) - FileOf(b));
    const int dr = std::abs(RankOf(a) - RankOf(b));
    return (df == 1 && dr == 2) || (df == 2 && dr == 1);
}

// The centre of a king's zone: the king square moved off the board edge.
constexpr int ZoneCentre(int king) {
    const int f = FileOf(king), r = RankOf(king);
    return MakeSquare(f < 1 ? 1 : (f > 6 ? 6 : f), r < 1 ? 1 : (r > 6 ? 6 : r));
}

// The nine squares of a king's zone: the centre first, then its neighbours.
constexpr std::array<uint8_t, 9> KingZone(int king) {
    std::array<uint8_t, 9> zone{};
    const int centre = ZoneCentre(king);
    zone[0] = static_cast<uint8_t>(centre);
    for (int dir = 0; dir < 8; ++dir) zone[dir + 1] = static_cast<uint8_t>(Step(centre, dir));
    return zone;
}

// Centrality 0 (corners) .. 12 (centre).
inline constexpr int8_t Centrality[64] = {
    0, 1, 2, 3, 3, 2, 1, 0,  1, 3, 5, 6, 6, 5, 3, 1,  2, 5, 8, 9, 9, 8, 5, 2,  3, 6, 9, 12, 12, 9, 6, 3,
    3, 6, 9, 12, 12, 9, 6, 3,  2, 5, 8, 9, 9, 8, 5, 2,  1, 3, 5, 6, 6, 5, 3, 1,  0, 1, 2, 3, 3, 2, 1, 0,
};

// Shade used by the bishop slots and pawnShadeWeight: 1 dark, 0 light.
constexpr int Shade(int sq) { return IsDarkSquare(sq) ? 1 : 0; }

// Attack weight of one attacker of a piece type (pawn 1024 .. king 1).
constexpr uint16_t WeightOfType[8] = {0, AttackWeight::PAWN, AttackWeight::KNIGHT, AttackWeight::BISHOP,
                                      AttackWeight::ROOK, AttackWeight::QUEEN, AttackWeight::KING, 0};
// The bits of attackWeight that count attackers of one piece type.
constexpr uint16_t KindMaskOfType[8] = {0, 0xC00, 0x300, 0xC0, 0x30, 0x0E, 0x01, 0};

inline int PopCount(uint32_t m) { return std::popcount(m); }
inline int LowestSlot(uint32_t m) { return std::countr_zero(m); }

inline const AttackRecord& Attacks(const Position& pos, Colour c, int sq) { return pos.attackMap[c].square[sq]; }
inline int PawnAttackCount(const AttackRecord& r) { return (r.attackWeight >> 10) & 3; }
// The attack-set index of the hanging-value tables: direct weight plus x-ray byte.
inline int AttackIndex(const AttackRecord& r) { return r.attackWeight + r.xrayWeight; }

inline bool HasPiece(const Position& pos, int sq) { return pos.pieceColour[sq] != EMPTY_COLOUR; }
inline bool IsPieceOf(const Position& pos, int sq, Colour c) { return pos.pieceColour[sq] == c; }

// Material the defender wins back (in material units) when the attacker's first capturer
// has just taken on a square, for the two attack-set indices.
int ExchangeReturn(int defenderIndex, int attackerIndex);

}  // namespace tavrix::geometry
