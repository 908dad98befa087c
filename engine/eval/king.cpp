// King safety (shelter, zone attacks, mate threats) and the threat term.
#include "eval/king.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "eval/eval_geometry.h"
#include "eval/evaluate.h"

namespace tavrix {

using namespace geometry;

namespace {

// Slots 0..7 carry the king, queen, rooks, bishops and knights of the set-up.
constexpr int SLOT_WEIGHT[8] = {2, 6, 3, 3, 2, 2, 2, 2};
constexpr auto SlotWeightTable = [] {
    std::array<uint8_t, 256> t{};
    for (int m = 0; m < 256; ++m)
        for (int s = 0; s < 8; ++s)
            if (m & (1 << s)) t[m] = static_cast<uint8_t>(t[m] + SLOT_WEIGHT[s]);
    return t;
}();
int SlotWeight(SlotMask m) { return SlotWeightTable[m & 0xFF]; }

// Attack units of an enemy piece standing in the zone, by PieceType.
constexpr int ZONE_PIECE_WEIGHT[8] = {0, 0, 2, 2, 3, 6, 2, 0};
// Attack units of a contested zone square, [flag][the enemy's surplus of attackers less
// the flag, clamped to -1..1]: a set flag asks one attacker more of the enemy.
constexpr int ZONE_CONTROL_UNITS[2][3] = {{4, 4, 12}, {0, 4, 12}};

constexpr auto ZoneSquareWeight = [] {
    constexpr int rank27[8] = {4, 12, 8, 6, 6, 8, 12, 4};
    constexpr int rank36[8] = {10, 14, 10, 10, 10, 10, 14, 10};
    std::array<int8_t, 64> t{};
    for (int sq = 0; sq < 64; ++sq) {
        const int r = RankOf(sq), f = FileOf(sq);
        int w = 14;
        if (r == 0 || r == 7) w = 6;
        else if (r == 1 || r == 6) w = rank27[f];
        else if (r == 2 || r == 5) w = rank36[f];
        t[sq] = static_cast<int8_t>(w);
    }
    return t;
}();

constexpr uint16_t KING_DANGER[] = {0,   1,   3,   6,   10,  16,  25,  38,  57,  85,  113, 141, 169, 197,
                                    225, 256, 288, 320, 352, 384, 416, 448, 480, 512, 544, 576, 608, 640};
constexpr int KING_DANGER_LAST = static_cast<int>(std::size(KING_DANGER)) - 1;

constexpr uint8_t EAST_WEST = 0x05;      // escape bits of directions 0 and 2
constexpr int MATE_THREAT_PENALTY = 64;
constexpr int DANGER_PENALTY = 32;
constexpr int CORNER_UNITS = 8;


// The escape picture of a king: directions 0..7 that are free, blocked, or attacked by a
// single enemy piece (whose slot is remembered).
// The singles sit one byte per direction in a word: byte-wise copies of a byte array cost
// store-forwarding stalls on every hand-over.
struct Escapes {
    uint64_t single = ~uint64_t{0};   // byte d: the lone attacker's slot, 0xFF none
    uint8_t free = 0;
    uint8_t ownBlocked = 0;      // blocked by the side's own pieces

    void SetSingle(int dir, int slot) {
        single = (single & ~(uint64_t{0xFF} << (8 * dir))) | (uint64_t(slot) << (8 * dir));
    }
    // Directions whose lone attacker has this slot: the zero bytes of single ^ slot.
    uint8_t SinglesOf(int slot) const {
        constexpr uint64_t LOW7 = 0x7F7F7F7F7F7F7F7Full;
        const uint64_t x = single ^ (uint64_t(slot) * 0x0101010101010101ull);
        const uint64_t zero = ~(((x & LOW7) + LOW7) | x | LOW7);
        return static_cast<uint8_t>((zero * 0x0002040810204081ull) >> 56);
    }
    // The king's neighbour z in direction dir.
    void Add(const Position& pos, Colour side, int z, int dir) {
        const uint8_t bit = static_cast<uint8_t>(1 << dir);
        const PieceType t = pos.pieceType[z];
        if (IsPieceOf(pos, z, side)) {
            ownBlocked |= bit;
            return;
        }
        if (IsPieceOf(pos, z, side ^ 1) && (t == PAWN || t == KNIGHT || t == BISHOP || t == KING)) return;
        const AttackRecord& er = AttackOf(pos, side ^ 1, z);
        if (er.attackWeight == 0) free |= bit;
        else if (er.attackerCount == 1 && PopCount(er.attackerSlots) == 1)
            SetSingle(dir, LowestSlot(er.attackerSlots));
    }
};

Escapes FindEscapes(const Position& pos, Colour side, int king) {
    Escapes esc;
    for (int dir = 0; dir < 8; ++dir) {
        const int z = Step(king, dir);
        if (z != NO_SQUARE) esc.Add(pos, side, z, dir);
    }
    return esc;
}

// [king][i]: the bit of the direction from the king to its zone square i, 0 when that
// square is not a neighbour. Every neighbour of the king lies in its zone.
constexpr auto ZoneDirectionBit = [] {
    constexpr int fileStep[8] = {1, 0, -1, 0, -1, 1, -1, 1};
    constexpr int rankStep[8] = {0, 1, 0, -1, 1, 1, -1, -1};
    std::array<std::array<uint8_t, 9>, 64> t{};
    for (int king = 0; king < 64; ++king)
        for (int i = 0; i < 9; ++i) {
            const int z = KingZoneTable[king][i];
            for (int dir = 0; dir < 8; ++dir)
                if (FileOf(king) + fileStep[dir] == FileOf(z) && RankOf(king) + rankStep[dir] == RankOf(z))
                    t[king][i] = static_cast<uint8_t>(1 << dir);
        }
    return t;
}();

// [king]: the directions in which the king has a neighbour on the board.
constexpr auto NeighbourDirections = [] {
    std::array<uint8_t, 64> t{};
    for (int king = 0; king < 64; ++king)
        for (const uint8_t bit : ZoneDirectionBit[king]) t[king] = static_cast<uint8_t>(t[king] | bit);
    return t;
}();
static_assert([] {
    for (int king = 0; king < 64; ++king) {
        int onBoard = 0;
        for (int df = -1; df <= 1; ++df)
            for (int dr = -1; dr <= 1; ++dr) {
                const int f = FileOf(king) + df, r = RankOf(king) + dr;
                onBoard += (df != 0 || dr != 0) && f >= 0 && f < 8 && r >= 0 && r < 8;
            }
        if (std::popcount(NeighbourDirections[king]) != onBoard) return false;
    }
    return true;
}(), "the zone loop finds the escapes: every neighbour of the king must lie in its zone");

// The zone as a block: bit 8 * row + column of its 3 x 3 squares, counted from the lowest
// (the centre - 9), so differences of square numbers carry over as shifts.
constexpr uint32_t ZONE_BLOCK = 0x070707;

// [a 3 x 3 neighbourhood packed as bits 3 * row + column, the king on bit 4]: the
// directions of the neighbours set in it.
constexpr auto PackedDirections = [] {
    constexpr int place[8] = {5, 7, 3, 1, 6, 8, 0, 2};   // of the neighbour in direction 0..7
    std::array<uint8_t, 512> t{};
    for (int m = 0; m < 512; ++m)
        for (int dir = 0; dir < 8; ++dir)
            if (m & (1 << place[dir])) t[m] = static_cast<uint8_t>(t[m] | (1 << dir));
    return t;
}();
// The directions from the king, on bit kingBit of the block, to the neighbours set in `block`.
constexpr uint8_t BlockDirections(uint32_t block, int kingBit) {
    const uint32_t y = (block << 9) >> kingBit;   // the king's neighbourhood from bit 0, the king on bit 9
    return PackedDirections[(y & 7) | ((y >> 5) & 0x38) | ((y >> 10) & 0x1C0)];
}
// The zone squares that are not neighbours of the king, on bit kingBit: its own square and
// those two steps away.
constexpr uint32_t FarZone(int kingBit) {
    return (ZONE_BLOCK & ~static_cast<uint32_t>((uint64_t{ZONE_BLOCK} << kingBit) >> 9)) | (1u << kingBit);
}
// [zone square - king + 18]: the direction from the king to a neighbour, NO_LINE for the
// other zone squares.
constexpr auto NeighbourDirection = [] {
    constexpr int step[8] = {1, 8, -1, -8, 7, 9, -9, -7};
    std::array<uint8_t, 37> t{};
    t.fill(NO_LINE);
    for (int dir = 0; dir < 8; ++dir) t[step[dir] + 18] = static_cast<uint8_t>(dir);
    return t;
}();
static_assert([] {
    for (int king = 0; king < 64; ++king)
        for (int i = 0; i < 9; ++i) {
            const int z = KingZoneTable[king][i], base = KingZoneTable[king][0] - 9;
            const int dir = NeighbourDirection[z - king + 18];
            if ((dir == NO_LINE ? 0 : 1 << dir) != ZoneDirectionBit[king][i]) return false;
            if (((FarZone(king - base) >> (z - base)) & 1) != (ZoneDirectionBit[king][i] == 0)) return false;
            if (BlockDirections(1u << (z - base), king - base) != ZoneDirectionBit[king][i]) return false;
        }
    return true;
}(), "the zone's block layout must name the same neighbours as its square list");

// [king]: the squares from which a knight reaches one of the king's knight jumps.
constexpr auto KnightNearKing = [] {
    constexpr int fileJump[8] = {1, 2, 2, 1, -1, -2, -2, -1};
    constexpr int rankJump[8] = {2, 1, -1, -2, -2, -1, 1, 2};
    std::array<uint64_t, 64> t{};
    for (int king = 0; king < 64; ++king)
        for (int a = 0; a < 8; ++a) {
            const int f = FileOf(king) + fileJump[a], r = RankOf(king) + rankJump[a];
            if (f < 0 || f > 7 || r < 0 || r > 7) continue;
            for (int b = 0; b < 8; ++b) {
                const int g = f + fileJump[b], s = r + rankJump[b];
                if (g >= 0 && g < 8 && s >= 0 && s < 8) t[king] |= uint64_t{1} << MakeSquare(g, s);
            }
        }
    return t;
}();

// The enemy's line pieces on a square, direct (queens bits 1-3, rooks 4-5, bishops 6-7
// of the attack word) and x-ray (2 per attacker in the x-ray byte).
constexpr int LineAttackers(const AttackRecord& r) {
    return ((r.attackWeight >> 1) & 7) + ((r.attackWeight >> 4) & 3) + ((r.attackWeight >> 6) & 3) + (r.xrayWeight >> 1);
}

bool MovesAlong(PieceType t, int dir) {
    if (t == QUEEN) return true;
    return IsStraight(dir) ? t == ROOK : t == BISHOP;
}

// King directions whose neighbour squares a piece of type t would attack from `from`,
// with the king's square and the piece's origin treated as empty.
uint8_t CoverFrom(const Position& pos, PieceType t, int from, int origin, int king) {
    uint8_t mask = 0;
    for (int dir = 0; dir < 8; ++dir) {
        const int n = Step(king, dir);
        if (n == NO_SQUARE) continue;
        const uint8_t bit = static_cast<uint8_t>(1 << dir);
        if (n == from) {
            mask |= bit;
            continue;
        }
        if (t == KNIGHT) {
            if (IsKnightJump(from, n)) mask |= bit;
            continue;
        }
        const int ld = LineDirection(from, n);
        if (ld == NO_LINE || !MovesAlong(t, ld)) continue;
        bool clear = true;
        for (int s = Step(from, ld); s != n; s = Step(s, ld))
            if (HasPiece(pos, s) && s != king && s != origin) {
                clear = false;
                break;
            }
        if (clear) mask |= bit;
    }
    return mask;
}

// Mate-threat mark for `side`; the first threat found while `side` has just moved is kept
// as the mating square of the ply.
void MarkMateThreat(Position& pos, Colour side, int from, int to) {
    PlyRecord& rec = UndoTop(pos);
    rec.checkFlag |= MateThreatFlag(side);
    if (pos.sideToMove != side && !(rec.checkFlag & EvalFlag::MATING_SQUARE)) {
        WritePlyWord(rec, PlyEvalWord::KING, (from << 6) | to);
        rec.checkFlag |= EvalFlag::MATING_SQUARE;
    }
}

// Bit 0 light, bit 1 dark: the shades of a colour's bishops.
int BishopShades(const Position& pos, Colour c) {
    int shades = 0;
    for (SlotMask m = pos.bishopSlots[c]; m; m &= m - 1)
        shades |= 1 << Shade(pos.slotSquare[c][LowestSlot(m)]);
    return shades;
}

void PushThreat(Colour side, int32_t value) {
    if (value > Eval.largestThreat[side]) {
        Eval.secondThreat[side] = Eval.largestThreat[side];
        Eval.largestThreat[side] = value;
    } else if (value > Eval.secondThreat[side]) {
        Eval.secondThreat[side] = value;
    }
}

// A piece of `owner` on `sq` that can leave the line running in `dir` through it.
bool CanStepAside(const Position& pos, int sq, int dir, Colour owner) {
    if (pos.pieceType[sq] != PAWN) return true;
    const int front = sq + (owner == WHITE ? 8 : -8);
    if (front < 0 || front > 63 || HasPiece(pos, front)) return false;
    return !(dir == 1 || dir == 3);
}

}  // namespace

int32_t KingShelter(const Position& pos, Colour side) {
    const Colour enemy = side ^ 1;
    if ((pos.straightSlots[enemy]) == 0) return 0;
    const int f = FileOf(KingSquare(pos, side));
    auto enemyNone = [&](int file) { return PawnFileBits(enemy, file) == 0; };
    auto ownNone = [&](int file) { return PawnFileBits(side, file) == 0; };
    int s = 0;
    if (enemyNone(f)) s -= 21;
    if (ownNone(f)) s -= 15;
    constexpr int A = 0, B = 1, C = 2, D = 3, F = 5, H = 7;
    if (f == B || f == C || f == D || f == H) {
        if (enemyNone(f - 1)) s -= 18;
        if (ownNone(f - 1)) s -= 13;
        if (f == H) {
            if (enemyNone(F)) s -= 11;
        } else if (enemyNone(f + 1)) {
            s -= 11;
        }
        if (f == C) {
            if (enemyNone(A)) s -= 15;
            if (ownNone(A)) s -= 11;
        }
    } else {
        if (enemyNone(f + 1)) s -= 18;
        if (ownNone(f + 1)) s -= 13;
        if (f == A) {
            if (enemyNone(C)) s -= 11;
        } else if (enemyNone(f - 1)) {
            s -= 11;
        }
        if (f == F) {
            if (enemyNone(H)) s -= 15;
            if (ownNone(H)) s -= 11;
        }
    }
    return s;
}

namespace {
// The king zone with the side known at compile time, which turns the side's and the
// enemy's tables into fixed addresses.
template <Colour side>
int32_t KingZoneOf(Position& pos) {
    constexpr Colour enemy = side ^ 1;
    const int king = KingSquare(pos, side);
    PlyRecord& rec = UndoTop(pos);
    SlotMask threatSlots = 0;   // Eval.threatSlots[enemy], stored on the way out
    Escapes esc;
    uint8_t shut = 0;   // directions whose neighbour is an own piece no enemy piece reaches
    const int enemyForward = enemy == WHITE ? 8 : -8;

    int units = 0, xunits = 0, p = 0;
    SlotMask direct = 0, xray = 0;
    // The bishop shades are looked up only for a zone square that needs them: few do.
    int ownShades = -1, enemyShades = 0;
    auto controlled = [&](int z, PieceType t) {
        if (ownShades < 0) {
            ownShades = BishopShades(pos, side);
            enemyShades = BishopShades(pos, enemy);
        }
        const int w = ZoneSquareWeight[z];
        const int shadeBit = 1 << Shade(z);
        p -= w;
        if ((enemyShades & shadeBit) && !(ownShades & shadeBit)) p -= w;
        if (IsPieceOf(pos, z, side) && t == BISHOP) p += w;
        else if ((ownShades & shadeBit) && !(enemyShades & shadeBit)) p += w;
    };

    // Zone squares: attackers, control and pieces standing there. Most hold no enemy piece
    // and no enemy attacker, not even an x-ray: those are sorted out all nine at once, and
    // score only when the side does not reach them either.
    const int base = KingZone(king)[0] - 9;   // the zone's lowest square
    const int kingBit = king - base;
    const AttackRecord* enemyMap = &AttackOf(pos, enemy, base);
    uint32_t reached = 0;   // by an enemy attacker or x-ray
    for (const int b : {0, 1, 2, 8, 9, 10, 16, 17, 18}) {
        uint64_t word;
        std::memcpy(&word, enemyMap + b, sizeof word);
        reached |= uint32_t(word != 0) << b;
    }
    const int rows = base & ~7;
    const __m128i lowRows = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pos.pieceColour + rows));
    const __m128i highRow = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pos.pieceColour + rows + 16));
    auto colourBlock = [&](uint8_t colour) {
        const __m128i c = _mm_set1_epi8(static_cast<char>(colour));
        const uint32_t bits = uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(lowRows, c))) |
                              uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(highRow, c))) << 16;
        return (bits >> (base & 7)) & ZONE_BLOCK;
    };
    const uint32_t empty = colourBlock(EMPTY_COLOUR);
    const uint32_t quiet = ZONE_BLOCK & ~(reached | colourBlock(enemy));
    shut = BlockDirections(quiet & ~empty, kingBit);
    esc.free = BlockDirections(quiet & empty, kingBit);
    // Only these can be unguarded: the king itself reaches its neighbours.
    for (uint32_t m = quiet & FarZone(kingBit); m; m &= m - 1) {
        const int z = base + std::countr_zero(m);
        const AttackRecord& orr = AttackOf(pos, side, z);
        if (orr.attackWeight == 0 && orr.attackerCount == 0) controlled(z, pos.pieceType[z]);
    }
    for (uint32_t m = ZONE_BLOCK & ~quiet; m; m &= m - 1) {
        const int z = base + std::countr_zero(m);
        const PieceType t = pos.pieceType[z];
        const bool enemyPiece = IsPieceOf(pos, z, enemy);
        const AttackRecord& er = AttackOf(pos, enemy, z);
        const AttackRecord& orr = AttackOf(pos, side, z);
        const int dir = NeighbourDirection[z - king + 18];
        if (dir != NO_LINE) esc.Add(pos, side, z, dir);
        if (enemyPiece && t == PAWN && HasPiece(pos, z + enemyForward)) continue;
        direct |= er.attackerSlots;
        xray |= er.xraySlots;
        units += SlotWeight(er.attackerSlots);
        xunits += SlotWeight(er.xraySlots);
        int d = er.attackerCount - orr.attackerCount;
        const bool sideAhead = orr.attackWeight > er.attackWeight;
        int flag = sideAhead || er.attackWeight == 0;
        if (!sideAhead && d >= 0) controlled(z, t);
        if (enemyPiece) {
            d += t != PAWN;
            units += ZONE_PIECE_WEIGHT[t];
            flag &= orr.attackWeight != AttackWeight::KING && pos.hangingValue[z] != 0;
        } else {
            flag &= !(IsPieceOf(pos, z, side) && er.attackWeight != 0);
        }
        units += ZONE_CONTROL_UNITS[flag][std::clamp(d - flag, -1, 1) + 1];
    }
    esc.ownBlocked |= shut;
    if (IsCorner(king)) units += CORNER_UNITS;
    units += SlotWeight(direct) + SlotWeight(xray) / 2;

    // Line threats along the king's diagonals and lines. The walks only note the squares
    // an enemy line piece reaches, which are few; those are scored after.
    uint8_t lines = NeighbourDirections[king] & ~shut;   // a walk stopped at once by a shut neighbour finds nothing
    if (!pos.diagonalSlots[enemy]) lines &= 0x0F;
    if (!pos.straightSlots[enemy]) lines &= 0xF0;
    constexpr int MAX_LINE_SQUARES = 27;   // all eight lines from a centre square: a queen's reach
    uint8_t hitSquare[MAX_LINE_SQUARES], hitDir[MAX_LINE_SQUARES];
    int hits = 0;
    auto walk = [&](uint8_t dirs, uint16_t lineMask) {
        for (; dirs; dirs &= dirs - 1) {
            const int dir = std::countr_zero(dirs);
            const int step = DirectionStep[dir];
            int u = king;
            for (int n = EdgeDistance[dir][king]; n > 0; --n) {
                u += step;
                if (AttackOf(pos, enemy, u).attackWeight & lineMask) {
                    hitSquare[hits] = static_cast<uint8_t>(u);
                    hitDir[hits++] = static_cast<uint8_t>(dir);
                }
                if (HasPiece(pos, u)) break;
            }
        }
    };
    walk(lines & 0xF0, AttackWeight::BISHOP_LINE_MASK);
    walk(lines & 0x0F, AttackWeight::ROOK_LINE_MASK);
    if (pos.straightSlots[enemy] && (esc.free & ~EAST_WEST) == 0) p -= 2 * Eval.endWeight;

    uint8_t threatCover = 0;
    // Per line: m sums the side's surplus of attackers (2 or more) on the squares up to
    // `summed`, added up only when a noted square needs it.
    int m = 0, summed = king, lastDir = NO_LINE;
    SlotMask counted = 0;
    for (int h = 0; h < hits; ++h) {
        const int u = hitSquare[h], dir = hitDir[h];
        const int step = DirectionStep[dir];
        if (dir != lastDir) {
            lastDir = dir;
            m = 0;
            summed = king;
            counted = 0;
        }
        const SlotMask kindSlots = IsStraight(dir) ? pos.straightSlots[enemy] : pos.diagonalSlots[enemy];
        const AttackRecord& er = AttackOf(pos, enemy, u);
        const AttackRecord& orr = AttackOf(pos, side, u);
        const int d = orr.attackerCount - er.attackerCount;
        if (d >= 2) continue;
        for (summed += step; summed != u; summed += step) {
            const int ds = AttackOf(pos, side, summed).attackerCount - AttackOf(pos, enemy, summed).attackerCount;
            if (ds >= 2) m += ds;
        }
        if (IsPieceOf(pos, u, enemy)) {
            if (pos.pieceType[u] != PAWN) p += m - 5;
            if (m == 0 && CanStepAside(pos, u, dir, enemy)) {
                // A slider behind an enemy piece on the line: discovered check.
                for (SlotMask s = er.attackerSlots & kindSlots; s; s &= s - 1) {
                    const int slot = LowestSlot(s);
                    const int from = pos.slotSquare[enemy][slot];
                    if (LineDirection(u, from) != dir || pos.hangingValue[from] != 0) continue;
                    threatSlots |= 1u << slot;
                    units += SlotWeight(1u << slot) + 6;
                    p -= 16;
                    rec.checkFlag |= CheckThreatFlag(side);
                    const uint8_t cover = static_cast<uint8_t>((1 << dir) | (1 << Opposite(dir)));
                    threatCover |= cover;
                    if ((esc.free & ~cover) == 0) rec.checkFlag |= MateThreatFlag(side);
                }
            }
        } else if (d < 0) {
            p += m - 10;
            const SlotMask sliders = er.attackerSlots & kindSlots;
            const SlotMask fresh = sliders & ~counted;
            counted |= fresh;
            threatSlots |= fresh;
            units += SlotWeight(fresh) + 6 * PopCount(fresh);
            if (m == 0 && LineAttackers(er) > orr.attackerCount) {
                p -= 12;
                const uint8_t line = static_cast<uint8_t>((1 << dir) | (1 << Opposite(dir)));
                const bool nextToKing = u == Step(king, dir);
                for (SlotMask s = sliders; s; s &= s - 1) {
                    const int slot = LowestSlot(s);
                    const int from = pos.slotSquare[enemy][slot];
                    // A queen landing next to a king that guards the square at most
                    // once also takes the squares its own pieces block.
                    uint8_t cover = line;
                    if (nextToKing && pos.pieceType[from] == QUEEN && orr.attackerCount <= 1)
                        cover |= esc.ownBlocked;
                    threatCover |= cover;
                    const uint8_t needed = esc.free | esc.SinglesOf(slot);
                    if ((needed & ~cover) == 0) MarkMateThreat(pos, side, from, u);
                }
            }
        } else if (d == 0) {
            p += m - 6;
        }
    }

    // Knight checks, from the knights that reach one of the king's knight jumps: few do.
    bool knightNear = false;
    for (SlotMask s = pos.knightSlots[enemy]; s; s &= s - 1)
        knightNear |= (KnightNearKing[king] >> pos.slotSquare[enemy][LowestSlot(s)]) & 1;
    if (knightNear) {
        for (const Target* jump = TargetList[KNIGHT][king].data(); jump->square != NO_SQUARE; ++jump) {
            const int u = jump->square;
            const AttackRecord& er = AttackOf(pos, enemy, u);
            const AttackRecord& orr = AttackOf(pos, side, u);
            if (!(er.attackWeight & AttackWeight::KNIGHT_MASK) || er.attackerCount < orr.attackerCount) continue;
            if (IsPieceOf(pos, u, enemy) && pos.pieceType[u] != PAWN) {
                p -= 5;
                continue;
            }
            const SlotMask knights = er.attackerSlots & pos.knightSlots[enemy];
            threatSlots |= knights;
            units += SlotWeight(knights) + 6 * PopCount(knights);
            if (PopCount(knights) > orr.attackerCount) {
                p -= 20;
                for (SlotMask s = knights; s; s &= s - 1) {
                    const int slot = LowestSlot(s);
                    const int from = pos.slotSquare[enemy][slot];
                    const uint8_t cover = CoverFrom(pos, KNIGHT, u, from, king);
                    threatCover |= cover;
                    if (((esc.free | esc.SinglesOf(slot)) & ~cover) == 0) MarkMateThreat(pos, side, from, u);
                }
            } else {
                p -= 6;
            }
            if (esc.free == 0) p -= 24;
        }
    }

    // Summary.
    Eval.threatSlots[enemy] = threatSlots;
    const SlotMask joined = direct | threatSlots;
    const int nA = PopCount(joined);
    const int nX = nA + PopCount(xray & ~joined);
    units = xunits / 2 + units + 2 * nA + 2 * nX;
    if (nX < 2) units >>= 1;
    p -= KING_DANGER[std::min(units >> 3, KING_DANGER_LAST)];
    if (rec.checkFlag & MateThreatFlag(side)) {
        rec.checkFlag |= DangerFlag(side);
        p -= MATE_THREAT_PENALTY;
    }
    if ((esc.free & ~threatCover) == 0 && PopCount((direct | xray) & 0xFF) >= 2) {
        rec.checkFlag |= DangerFlag(side);
        return p - DANGER_PENALTY;
    }
    return p;
}

template <Colour side>
int32_t KingTermOf(Position& pos) {
    constexpr Colour enemy = side ^ 1;
    const int king = KingSquare(pos, side);
    const int16_t* table = KingTable(side);
    if (Eval.gamePhase < 2) {
        int best = table[king];
        for (int dir = 0; dir < 8; ++dir) {
            const int n = Step(king, dir);
            if (n != NO_SQUARE && AttackOf(pos, enemy, n).attackWeight == 0) best = std::max(best, int(table[n]));
        }
        return (table[king] + best) / 2;
    }
    const int s = KingShelter(pos, side);
    const int z = EvaluateKingZone(pos, side);
    if (UndoTop(pos).checkFlag & MateThreatFlag(side)) {
        Eval.secondThreat[side] = Eval.largestThreat[side];
        Eval.largestThreat[side] = QUEEN_VALUE;
    }
    const int w = Eval.gamePhase + (pos.queenSlots[enemy] ? 1 : 0);
    int value = (w * (s + z)) >> 4;
    if (Eval.styleSide != side + 1) value = (value * 5) >> 2;
    return value + table[king];
}

}  // namespace

int32_t EvaluateKingZone(Position& pos, Colour side) {
    return side == WHITE ? KingZoneOf<WHITE>(pos) : KingZoneOf<BLACK>(pos);
}

int32_t KingTerm(Position& pos, Colour side) { return side == WHITE ? KingTermOf<WHITE>(pos) : KingTermOf<BLACK>(pos); }

// Through the public entries, which the tests check; the colour is known here, so the
// choice between the two versions folds away.
int32_t EvaluateKings(Position& pos) { return KingTerm(pos, WHITE) - KingTerm(pos, BLACK); }

// ---------------------------------------------------------------- threats

namespace {
// The line-of-fire test of the threat term, compiled into its piece loops.
[[gnu::always_inline]] inline int32_t LineOfFire(const Position& pos, Colour side, int square, int32_t& penalty) {
    const Colour enemy = side ^ 1;
    const PieceType onSquare = pos.pieceType[square];
    int best = 0;
    int pen = 0;
    for (SlotMask s = AttackOf(pos, enemy, square).attackerSlots & pos.sliderSlots[enemy]; s; s &= s - 1) {
        const int slot = LowestSlot(s);
        const int from = pos.slotSquare[enemy][slot];
        const int dir = LineDirection(from, square);
        if (dir == NO_LINE) continue;
        int behind = Step(square, dir);
        while (behind != NO_SQUARE && !HasPiece(pos, behind)) behind = Step(behind, dir);
        if (behind == NO_SQUARE || !IsPieceOf(pos, behind, side)) continue;
        const PieceType bt = pos.pieceType[behind];
        int g = QUEEN_VALUE;
        if (bt != KING) {
            const AttackRecord& att = AttackOf(pos, enemy, behind);
            const uint16_t sliderWeight = AttackWeightOf[pos.pieceType[from]];
            const int attIndex = AttackIndex(att) + ((att.xraySlots >> slot) & 1 ? sliderWeight - 2 : sliderWeight);
            g = std::min(PieceValue[bt] - ExchangeReturn(AttackIndex(AttackOf(pos, side, behind)), attIndex), QUEEN_VALUE);
        }
        if (g <= 0) continue;
        pen -= 3 + ((PieceValue[onSquare] + g) >> 7);
        const bool guardedByPiece = (AttackOf(pos, side, behind).attackerSlots & pos.squareSlot[square]) != 0;
        if (pos.hangingValue[behind] == 0 && !guardedByPiece) pen -= 3;
        if (bt != PAWN && guardedByPiece) {
            const int win = PieceValue[onSquare] -
                            ExchangeReturn(AttackIndex(AttackOf(pos, side, square)), AttackIndex(AttackOf(pos, enemy, square)));
            if (win > 0) pen -= (pen >> 7) + (win >> 6);
        }
        best = std::max(best, g);
    }
    penalty += pen;
    return best;
}
}  // namespace

int32_t XrayThreat(const Position& pos, Colour side, int square, int32_t& penalty) {
    return LineOfFire(pos, side, square, penalty);
}

namespace {
// A hanging pawn gets away by a push to a square its side holds, or is traded off by a capture.
[[gnu::always_inline]] inline int32_t PawnEscapeLoss(const Position& pos, Colour side, int square, int32_t value) {
    const Colour enemy = side ^ 1;
    const int front = square + (side == WHITE ? 8 : -8);
    if (front >= 0 && front < 64 && !HasPiece(pos, front) &&
        AttackOf(pos, side, front).attackWeight >= AttackOf(pos, enemy, front).attackWeight)
        return 0;
    for (int dir : {side == WHITE ? 4 : 6, side == WHITE ? 5 : 7}) {
        const int c = Step(square, dir);
        if (c != NO_SQUARE && IsPieceOf(pos, c, enemy)) return 0;
    }
    return value;
}

// [piece type]: the directions a line piece moves in.
constexpr uint8_t LINE_DIRECTIONS[8] = {0, 0, 0, 0xF0, 0x0F, 0xFF, 0, 0};

// Kept out of line: half the hanging pieces are pawns, which need none of its registers.
template <Colour side>
[[gnu::noinline]] int32_t PieceEscapeLoss(const Position& pos, int square, int32_t value) {
    constexpr Colour enemy = side ^ 1;
    const PieceType t = pos.pieceType[square];
    const PieceType compared = t == BISHOP ? KNIGHT : t;
    // Moving straight away from an enemy slider stays in its line of fire.
    uint8_t shadowed = 0;
    for (SlotMask s = AttackOf(pos, enemy, square).attackerSlots & pos.sliderSlots[enemy]; s; s &= s - 1) {
        const int dir = LineDirection(pos.slotSquare[enemy][LowestSlot(s)], square);
        if (dir != NO_LINE) shadowed |= static_cast<uint8_t>(1 << dir);
    }
    int best = value;
    // Returns true when the target is a full escape.
    auto escapesTo = [&](int target) {
        const bool capture = IsPieceOf(pos, target, enemy);
        if (capture && pos.pieceType[target] >= compared) return true;
        const AttackRecord& er = AttackOf(pos, enemy, target);
        if (er.attackWeight == 0) return true;
        const int back = ExchangeReturn(AttackIndex(AttackOf(pos, side, target)) - AttackWeightOf[t], AttackIndex(er));
        const int w = PieceValue[t] - back - (capture ? PieceValue[pos.pieceType[target]] : 0);
        if (w <= 0) return true;
        best = std::min(best, w);
        return false;
    };
    if (t == KNIGHT) {
        for (const Target* jump = TargetList[KNIGHT][square].data(); jump->square != NO_SQUARE; ++jump)
            if (!IsPieceOf(pos, jump->square, side) && escapesTo(jump->square)) return 0;
        return best;
    }
    for (unsigned dirs = LINE_DIRECTIONS[t] & ~shadowed; dirs; dirs &= dirs - 1) {
        const int dir = std::countr_zero(dirs);
        for (int u = Step(square, dir); u != NO_SQUARE; u = Step(u, dir)) {
            if (IsPieceOf(pos, u, side)) break;
            if (escapesTo(u)) return 0;
            if (HasPiece(pos, u)) break;
        }
    }
    return best;
}
}  // namespace

int32_t EscapeLoss(const Position& pos, Colour side, int square, int32_t value) {
    if (pos.pieceType[square] == PAWN) return PawnEscapeLoss(pos, side, square, value);
    return side == WHITE ? PieceEscapeLoss<WHITE>(pos, square, value) : PieceEscapeLoss<BLACK>(pos, square, value);
}

namespace {
// The threat term with the side known at compile time, which turns the side's and the
// enemy's tables into fixed addresses.
template <Colour side>
int32_t ThreatTermOf(Position& pos) {
    constexpr Colour enemy = side ^ 1;
    const int shift = Eval.threatShift[side];
    int32_t t = 0;
    int32_t essential[SLOTS_PER_SIDE] = {};
    // Only attacked pieces take part. The threatened set holds them all, but while a slider
    // checks the king the evaluation extends its attacks behind the king, beyond the set.
    const bool extended = (AttackOf(pos, enemy, KingSquare(pos, side)).attackWeight & SLIDER_ATTACK_BITS) != 0;
    const SlotMask candidates = (extended ? pos.liveSlots[side] : pos.threatenedSlots[side] & pos.liveSlots[side]) & ~1u;
    const SlotMask enemySliders = pos.sliderSlots[enemy];
    // A piece in a slider's line of fire: a knight, bishop, rook or queen attacked by a slider.
    auto inLineOfFire = [&](PieceType pt, const AttackRecord& er) {
        return (unsigned(pt - KNIGHT) <= unsigned(QUEEN - KNIGHT)) & ((er.attackerSlots & enemySliders) != 0);
    };
    // The hanging pieces (the slots of the non-zero hanging values) are looked at apart from
    // the rest, which spares a branch on the hanging value per piece. The sum and the two
    // largest threats do not depend on the order the pieces come in.
    const SlotMask hanging = pos.hangingSlots[side];

    // Overloaded defenders, and the line of fire, of the attacked pieces that do not hang.
    for (SlotMask pieces = candidates & ~hanging; pieces; pieces &= pieces - 1) {
        const int q = pos.slotSquare[side][LowestSlot(pieces)];
        const PieceType pt = pos.pieceType[q];
        const AttackRecord& er = AttackOf(pos, enemy, q);
        if (er.attackWeight == 0) continue;  // every threat below needs an attacker
        const AttackRecord& orr = AttackOf(pos, side, q);

        if (!(er.attackWeight == AttackWeightOf[pt] && er.xrayWeight == 0)) {
            int32_t acc = 0;
            const int defIndex = AttackIndex(orr);
            const int attIndex = AttackIndex(er);
            auto essentialDefender = [&](int slot, int32_t g) {
                const int dsq = pos.slotSquare[side][slot];
                acc += PieceValue[pos.pieceType[dsq]] / 2 + g;
                if (essential[slot] > 0) acc += 16 * essential[slot] + g;
                essential[slot] += g >> 4;
                const int32_t hd = pos.hangingValue[dsq];
                if (hd != 0) {
                    const int32_t hp = std::min(hd, g);
                    t -= 6 + (hp >> shift);
                    PushThreat(side, hp);
                }
            };
            // The essential defenders are found first and scored after, which keeps the
            // outcome of each defender's exchange off the branches.
            int32_t gain[SLOTS_PER_SIDE];
            SlotMask essentials = 0;
            // A defender that is not essential and leaves only defence of its own kind ends
            // the search: none of the rest is essential either, as far as the weights tell.
            SlotMask stops = 0;
            for (SlotMask defs = orr.attackerSlots & ~1u; defs; defs &= defs - 1) {
                const int slot = LowestSlot(defs);
                const PieceType dt = pos.pieceType[pos.slotSquare[side][slot]];
                const int32_t g = PieceValue[pt] - ExchangeReturn(defIndex - AttackWeightOf[dt], attIndex);
                gain[slot] = g;
                const SlotMask notEssential = static_cast<SlotMask>((g - 1) >> 31);  // g <= 0, as a mask
                const bool restOfItsKind = ((orr.attackWeight - AttackWeightOf[dt]) & ~KindMaskOfType[dt]) == 0;
                essentials |= LowestBit(defs) & ~notEssential;
                stops |= LowestBit(defs) & notEssential & (SlotMask{0} - SlotMask{restOfItsKind});
            }
            essentials &= (stops & (SlotMask{0} - stops)) - 1;   // those before the first stop
            for (; essentials; essentials &= essentials - 1) {
                const int slot = LowestSlot(essentials);
                essentialDefender(slot, gain[slot]);
            }
            for (SlotMask defs = orr.xraySlots & ~1u; defs; defs &= defs - 1) {
                const int32_t g = PieceValue[pt] - ExchangeReturn(defIndex - 2, attIndex);
                if (g > 0) essentialDefender(LowestSlot(defs), g);
            }
            t -= acc >> (shift + 1);
        }

        if (inLineOfFire(pt, er)) LineOfFire(pos, side, q, t);
    }

    // Hanging pieces, the line of fire, and whether they can get away.
    for (SlotMask pieces = candidates & hanging; pieces; pieces &= pieces - 1) {
        const int q = pos.slotSquare[side][LowestSlot(pieces)];
        const PieceType pt = pos.pieceType[q];
        const AttackRecord& er = AttackOf(pos, enemy, q);
        if (er.attackWeight == 0) continue;
        const int32_t h = pos.hangingValue[q];
        int32_t x = 0;
        if (inLineOfFire(pt, er)) x = LineOfFire(pos, side, q, t);
        t -= 6 + (h >> shift);
        PushThreat(side, h);
        if (x < h) {
            const int32_t r = std::max(EscapeLoss(pos, side, q, h), x);
            if (r != 0) {
                PushThreat(side, r);
                t -= 6 + (r >> shift);
            }
        } else {
            t -= 6 + (h >> shift);
            PushThreat(side, h);
        }
    }
    return t;
}

}  // namespace

int32_t ThreatTerm(Position& pos, Colour side) {
    return side == WHITE ? ThreatTermOf<WHITE>(pos) : ThreatTermOf<BLACK>(pos);
}

int32_t EvaluateThreats(Position& pos) { return ThreatTerm(pos, WHITE) - ThreatTerm(pos, BLACK); }

// ---------------------------------------------------------------- quiescence services

bool HasHangingThreat(const Position& pos, Colour side, int32_t margin) {
    const Colour enemy = side ^ 1;
    margin = std::max(margin, 0);
    int32_t h1 = 0, h2 = 0;
    int s1 = -1;
    for (SlotMask s = pos.hangingSlots[side]; s; s &= s - 1) {
        const int sq = pos.slotSquare[side][LowestSlot(s)];
        const int32_t v = pos.hangingValue[sq];
        if (v > h1) {
            h2 = h1;
            h1 = v;
            s1 = sq;
        } else if (v > h2) {
            h2 = v;
        }
    }
    if (s1 < 0 || margin >= h1) return false;
    if (margin < h2) return true;
    if (EscapeLoss(pos, side, s1, h1) > margin) return true;
    if (pos.pieceType[s1] != PAWN && (AttackOf(pos, enemy, s1).attackerSlots & pos.sliderSlots[enemy])) {
        int32_t unused = 0;
        if (XrayThreat(pos, side, s1, unused) > margin) return true;
    }
    return false;
}

namespace {
template <Colour side>
bool MateThreatOf(Position& pos) {
    constexpr Colour enemy = side ^ 1;
    const int king = KingSquare(pos, side);
    const Escapes esc = FindEscapes(pos, side, king);
    uint8_t unionCover = 0;
    SlotMask takingPart = 0;

    // The enemy can land safely on u: more attackers and the exchange does not lose.
    auto safeLanding = [&](int u) {
        const AttackRecord& er = AttackOf(pos, enemy, u);
        const AttackRecord& orr = AttackOf(pos, side, u);
        if (er.attackerCount <= orr.attackerCount) return false;
        const int captured = IsPieceOf(pos, u, side) ? PieceValue[pos.pieceType[u]] : 0;
        return captured - ExchangeReturn(AttackIndex(orr), AttackIndex(er)) >= 0;
    };
    // True when one of the checkers landing on u leaves the king no escape.
    auto mates = [&](int u, SlotMask checkers) {
        for (; checkers; checkers &= checkers - 1) {
            const int slot = LowestSlot(checkers);
            const int from = pos.slotSquare[enemy][slot];
            uint8_t cover = CoverFrom(pos, pos.pieceType[from], u, from, king);
            if (pos.pieceType[from] == QUEEN && KingDistance(u, king) == 1) cover |= esc.ownBlocked;
            if (((esc.free | esc.SinglesOf(slot)) & ~cover) == 0) {
                MarkMateThreat(pos, side, from, u);
                return true;
            }
            unionCover |= cover;
            takingPart |= 1u << slot;
        }
        return false;
    };

    const SlotMask contactPieces = pos.sliderSlots[enemy] | pos.knightSlots[enemy];
    for (int dir = 0; dir < 8; ++dir) {
        const SlotMask lineSlots = IsStraight(dir) ? pos.straightSlots[enemy] : pos.diagonalSlots[enemy];
        // Every line piece and knight that can land next to the king, then distant checks
        // along the open line that the side cannot block.
        bool blockable = false;
        for (int u = Step(king, dir); u != NO_SQUARE; u = Step(u, dir)) {
            if (IsPieceOf(pos, u, enemy) || blockable) break;
            const SlotMask landing = u == Step(king, dir) ? contactPieces : lineSlots;
            if (safeLanding(u) && mates(u, AttackOf(pos, enemy, u).attackerSlots & landing)) return true;
            if (HasPiece(pos, u)) break;
            blockable = (AttackOf(pos, side, u).attackWeight & ~AttackWeight::KING) != 0;
        }
    }
    if (pos.knightSlots[enemy]) {
        for (const Target* jump = TargetList[KNIGHT][king].data(); jump->square != NO_SQUARE; ++jump) {
            const int u = jump->square;
            if (IsPieceOf(pos, u, enemy) || !safeLanding(u)) continue;
            if (mates(u, AttackOf(pos, enemy, u).attackerSlots & pos.knightSlots[enemy])) return true;
        }
    }
    if (unionCover != 0 && (esc.free & ~unionCover) == 0 && PopCount(takingPart) >= 2)
        UndoTop(pos).checkFlag |= DangerFlag(side);
    return false;
}

}  // namespace

bool MateThreatTest(Position& pos, Colour side) {
    return side == WHITE ? MateThreatOf<WHITE>(pos) : MateThreatOf<BLACK>(pos);
}

}  // namespace tavrix
