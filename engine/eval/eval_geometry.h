// Square distances and attack-record helpers shared by the evaluation terms, read from
// the board's own ray and direction tables.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <emmintrin.h>

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

// [direction 0..7][square]: the squares beyond a square that way, as a bit set, and the
// last of them (the square itself at the edge). With the last square added, a scan for the
// first piece always finds an end.
inline constexpr const auto& LineRayTable = RaySquares;
inline constexpr auto LineRayEnd = [] {
    std::array<std::array<uint8_t, 64>, 8> t{};
    for (int dir = 0; dir < 8; ++dir)
        for (int sq = 0; sq < 64; ++sq) {
            const uint64_t ray = LineRayTable[dir][sq];
            // Steps 1, 8, 7 and 9 raise the square number, so their far end is the highest bit.
            const bool rising = dir == 0 || dir == 1 || dir == 4 || dir == 5;
            t[dir][sq] = static_cast<uint8_t>(ray == 0 ? sq : rising ? 63 - std::countl_zero(ray) : std::countr_zero(ray));
        }
    return t;
}();
// The first square of `set` met walking from a square in direction `dir` (0..7); `set` must
// hold only squares of that ray and must not be empty.
constexpr int NearestOnRay(int dir, uint64_t set) {
    return (dir == 0 || dir == 1 || dir == 4 || dir == 5) ? __builtin_ctzll(set) : 63 - __builtin_clzll(set);
}
// The nearest square of `pieces` from `sq` in direction `dir`, or the last square of the ray
// (the square itself at the edge) when none stands there.
inline int FirstStop(int dir, int sq, uint64_t pieces) {
    return NearestOnRay(dir, (LineRayTable[dir][sq] & pieces) | (uint64_t{1} << LineRayEnd[dir][sq]));
}

// The squares of the board whose piece-type byte passes a test done sixteen bytes at a time
// (SSE2, part of every x86-64); `test` sets every byte it chooses to 0xFF.
template <typename Test>
inline uint64_t PieceTypeSet(const Position& pos, Test test) {
    uint64_t set = 0;
    for (int i = 0; i < 4; ++i) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pos.pieceType + 16 * i));
        set |= uint64_t(uint32_t(_mm_movemask_epi8(test(bytes)))) << (16 * i);
    }
    return set;
}
// The occupied squares.
inline uint64_t OccupiedSet(const Position& pos) {
    return ~PieceTypeSet(pos, [](__m128i t) { return _mm_cmpeq_epi8(t, _mm_setzero_si128()); });
}
// The squares that end a rook's mobility walk: every piece but rooks and queens, which it
// sees through (types 4 and 5 are the bytes whose value without bit 0 is 4).
inline uint64_t RookStops(const Position& pos) {
    static_assert(ROOK == 4 && QUEEN == 5);
    return ~PieceTypeSet(pos, [](__m128i t) {
        const __m128i heavy = _mm_cmpeq_epi8(_mm_and_si128(t, _mm_set1_epi8(~1)), _mm_set1_epi8(ROOK));
        return _mm_or_si128(_mm_cmpeq_epi8(t, _mm_setzero_si128()), heavy);
    });
}

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
