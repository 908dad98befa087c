// Square distances and attack-record helpers shared by the evaluation terms, read from
// the board's own ray and direction tables.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

#include "board/position.h"
#include "board/tables.h"

namespace tavrix::geometry {

constexpr int NO_LINE = 8;   // "not on a king line" in LineDirection

using tavrix::FileDistance;
using tavrix::KingDistance;
using tavrix::RankDistance;
constexpr int FileRankDistance(int a, int b) { return FileDistance(a, b) + RankDistance(a, b); }
constexpr bool IsCorner(int sq) { return sq == 0 || sq == 7 || sq == 56 || sq == 63; }

// Direction (0..7) in which one steps from `from` toward `to` when the two squares share
// a rank, file or diagonal; NO_LINE otherwise.
inline int LineDirection(int from, int to) {
    const int d = DirectionTable[to][from];
    return d < NO_LINE ? d : NO_LINE;
}
// Next square from `sq` in direction `dir`, NO_SQUARE off the board.
inline int Step(int sq, int dir) { return RayTable[dir][sq]; }
constexpr int Opposite(int dir) { return OppositeDirection[dir]; }

inline bool IsKnightJump(int a, int b) {
    const int d = DirectionTable[b][a];
    return d >= NO_LINE && d < NO_DIRECTION;
}

// The centre of a king's zone: the king square moved off the board edge.
constexpr int ZoneCentre(int king) {
    const int f = FileOf(king), r = RankOf(king);
    return MakeSquare(f < 1 ? 1 : (f > 6 ? 6 : f), r < 1 ? 1 : (r > 6 ? 6 : r));
}

// The nine squares of a king's zone: the centre first, then its neighbours in direction
// order (the centre is off the edge, so every neighbour is on the board).
inline constexpr auto KingZoneTable = [] {
    std::array<std::array<uint8_t, 9>, 64> t{};
    for (int king = 0; king < 64; ++king) {
        const int centre = ZoneCentre(king);
        t[king][0] = static_cast<uint8_t>(centre);
        for (int dir = 0; dir < 8; ++dir) t[king][dir + 1] = static_cast<uint8_t>(centre + DirectionStep[dir]);
    }
    return t;
}();
inline const std::array<uint8_t, 9>& KingZone(int king) { return KingZoneTable[king]; }

// Shade used by the bishop slots and pawnShadeWeight: 1 dark, 0 light.
constexpr int Shade(int sq) { return IsDarkSquare(sq) ? 1 : 0; }

// The bits of attackWeight that count queens, rooks and bishops.
constexpr uint16_t SLIDER_ATTACK_BITS = 0xFE;
// The bits of attackWeight that count attackers of one piece type.
constexpr uint16_t KindMaskOfType[8] = {0, 0xC00, 0x300, 0xC0, 0x30, 0x0E, 0x01, 0};

inline int PopCount(uint32_t m) { return SlotCount(m); }

inline int PawnAttackCount(const AttackRecord& r) { return (r.attackWeight >> 10) & 3; }
// The attack-set index of the hanging-value tables: direct weight plus x-ray byte.
inline int AttackIndex(const AttackRecord& r) { return r.attackWeight + r.xrayWeight; }

inline bool HasPiece(const Position& pos, int sq) { return pos.pieceColour[sq] != EMPTY_COLOUR; }
inline bool IsPieceOf(const Position& pos, int sq, Colour c) { return pos.pieceColour[sq] == c; }

// Material the defender wins back (in material units) when the attacker's first capturer
// has just taken on a square, for the two attack-set indices.
int ExchangeReturn(int defenderIndex, int attackerIndex);

}  // namespace tavrix::geometry
