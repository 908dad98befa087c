#include "board/attacks.h"

#include <cstddef>
#include <cstring>

#include "board/tables.h"

namespace tavrix {
namespace {

constexpr uint8_t XRAY_STEP = 2;

// A side-a attack has just been added on, or removed from, a square: the piece there may
// change its hanging value. Returned as White's slots in the low half and Black's in the high
// half, found without branches (the owner of the square is close to random); an empty square
// has no slot bits, so it adds nothing.
inline uint64_t AddMarkOf(const Position& p, Colour a, int sq) {
    const uint32_t owner = p.pieceColour[sq];
    const bool mark = (owner != static_cast<uint32_t>(a)) | (p.hangingValue[sq] != 0);
    return uint64_t{BitsIf(p.squareSlot[sq], mark)} << ((owner & 1) * 32);
}
inline bool RemoveMark(const Position& p, Colour a, int sq, uint32_t owner) {
    return owner != static_cast<uint32_t>(a) ? p.hangingValue[sq] != 0 : p.attackMap[a ^ 1].square[sq].attackWeight != 0;
}
inline uint64_t RemoveMarkOf(const Position& p, Colour a, int sq) {
    const uint32_t owner = p.pieceColour[sq];
    const bool mark = RemoveMark(p, a, sq, owner);
    return uint64_t{BitsIf(p.squareSlot[sq], mark)} << ((owner & 1) * 32);
}
inline void SetMarks(Position& p, uint64_t marks) {
    p.attackedSlots[WHITE] |= static_cast<uint32_t>(marks);
    p.attackedSlots[BLACK] |= static_cast<uint32_t>(marks >> 32);
}
// One square on a ray: only its owner's marks change.
inline void MarkOnAdd(Position& p, Colour a, int sq) {
    const uint32_t owner = p.pieceColour[sq];
    const bool mark = (owner != static_cast<uint32_t>(a)) | (p.hangingValue[sq] != 0);
    p.attackedSlots[owner & 1] |= BitsIf(p.squareSlot[sq], mark);
}
inline void MarkOnRemove(Position& p, Colour a, int sq) {
    const uint32_t owner = p.pieceColour[sq];
    const bool mark = RemoveMark(p, a, sq, owner);
    p.attackedSlots[owner & 1] |= BitsIf(p.squareSlot[sq], mark);
}

inline bool LetsThrough(const Position& p, int sq, int d) {
    return (LineBits[p.pieceType[sq]] & DirectionOwnBit[d]) != 0;
}

// A record changes as one 64-bit word: no field leaves its range and a piece's slot bit is
// set exactly when its attack is counted, so adding the field deltas never carries across
// fields, and one read-modify-write replaces one per field.
static_assert(offsetof(AttackRecord, attackWeight) == 0 && offsetof(AttackRecord, attackerSlots) == 2 &&
              offsetof(AttackRecord, xrayWeight) == 4 && offsetof(AttackRecord, attackerCount) == 5 &&
              offsetof(AttackRecord, xraySlots) == 6);
constexpr uint64_t COUNT_ONE = uint64_t{1} << 40;
constexpr uint64_t XRAY_ONE = uint64_t{XRAY_STEP} << 32;
constexpr uint64_t DirectDelta(uint16_t weight, uint16_t bit) { return weight | uint64_t{bit} << 16 | COUNT_ONE; }
constexpr uint64_t XrayDelta(uint16_t bit) { return XRAY_ONE | COUNT_ONE | uint64_t{bit} << 48; }
// Direct between the mover and the square, x-ray beyond it: the count stays.
constexpr uint64_t XrayToDirectDelta(uint16_t weight, uint16_t bit) {
    return (weight | uint64_t{bit} << 16) - (XRAY_ONE | uint64_t{bit} << 48);
}

inline void AddToRecord(AttackRecord& r, uint64_t delta) {
    uint64_t word;
    std::memcpy(&word, &r, sizeof word);
    word += delta;
    std::memcpy(&r, &word, sizeof word);
}

inline void AddDirect(AttackRecord& r, uint16_t weight, uint16_t bit) { AddToRecord(r, DirectDelta(weight, bit)); }
inline void RemoveDirect(AttackRecord& r, uint16_t weight, uint16_t bit) { AddToRecord(r, 0 - DirectDelta(weight, bit)); }

// X-ray continuation beyond `from` in direction d: on through pieces that move along
// the line, ending after the first that does not.
void XrayAdd(Position& p, Colour a, int from, int d, uint16_t bit) {
    AttackRecord* map = p.attackMap[a].square;
    const int step = DirectionStep[d];
    int sq = from;
    for (int n = EdgeDistance[d][from]; n > 0; --n) {
        sq += step;
        AddToRecord(map[sq], XrayDelta(bit));
        if (p.pieceType[sq] != NO_PIECE) {
            MarkOnAdd(p, a, sq);
            if (!LetsThrough(p, sq, d)) return;
        }
    }
}
void XrayRemove(Position& p, Colour a, int from, int d, uint16_t bit) {
    AttackRecord* map = p.attackMap[a].square;
    const int step = DirectionStep[d];
    int sq = from;
    for (int n = EdgeDistance[d][from]; n > 0; --n) {
        sq += step;
        AddToRecord(map[sq], 0 - XrayDelta(bit));
        if (p.pieceType[sq] != NO_PIECE) {
            MarkOnRemove(p, a, sq);
            if (!LetsThrough(p, sq, d)) return;
        }
    }
}

// ---------------------------------------------------------------- per-type routines
template <bool ADD>
void PawnAttacks(Position& p, Colour a, int s) {
    const uint16_t bit = static_cast<uint16_t>(p.squareSlot[s]);
    uint64_t marks = 0;
    for (int d : PawnCaptureDirection[a]) {
        const int sq = RayTable[d][s];
        if (sq == NO_SQUARE) continue;
        AttackRecord& r = p.attackMap[a].square[sq];
        if constexpr (ADD) {
            AddDirect(r, AttackWeight::PAWN, bit);
            marks |= AddMarkOf(p, a, sq);
        } else {
            RemoveDirect(r, AttackWeight::PAWN, bit);
            marks |= RemoveMarkOf(p, a, sq);
        }
    }
    SetMarks(p, marks);
}

template <bool ADD, PieceType TYPE>
void StepperAttacks(Position& p, Colour a, int s) {
    const uint16_t bit = static_cast<uint16_t>(p.squareSlot[s]);
    AttackRecord* map = p.attackMap[a].square;
    uint64_t marks = 0;
    for (const Target* t = TargetList[TYPE][s].data(); t->square != NO_SQUARE; ++t) {
        const int sq = t->square;
        if constexpr (ADD) {
            AddDirect(map[sq], AttackWeightOf[TYPE], bit);
            marks |= AddMarkOf(p, a, sq);
        } else {
            RemoveDirect(map[sq], AttackWeightOf[TYPE], bit);
            marks |= RemoveMarkOf(p, a, sq);
        }
    }
    SetMarks(p, marks);
}

template <bool ADD, PieceType TYPE>
void SliderAttacks(Position& p, Colour a, int s) {
    const uint16_t bit = static_cast<uint16_t>(p.squareSlot[s]);
    AttackRecord* map = p.attackMap[a].square;
    const Target* t = TargetList[TYPE][s].data();
    while (t->square != NO_SQUARE) {
        const int sq = t->square;
        if constexpr (ADD) AddDirect(map[sq], AttackWeightOf[TYPE], bit);
        else RemoveDirect(map[sq], AttackWeightOf[TYPE], bit);
        if (p.pieceType[sq] == NO_PIECE) {
            ++t;
            continue;
        }
        if constexpr (ADD) MarkOnAdd(p, a, sq);
        else MarkOnRemove(p, a, sq);
        const int d = DirectionTable[sq][s];
        if (LetsThrough(p, sq, d)) {
            if constexpr (ADD) XrayAdd(p, a, sq, d, bit);
            else XrayRemove(p, a, sq, d, bit);
        }
        t += t->skip + 1;
    }
}

}  // namespace

const AttackRoutine AttackRoutines[2 * REMOVE_ROUTINES] = {
    PawnAttacks<true>,
    PawnAttacks<true>,
    StepperAttacks<true, KNIGHT>,
    SliderAttacks<true, BISHOP>,
    SliderAttacks<true, ROOK>,
    SliderAttacks<true, QUEEN>,
    StepperAttacks<true, KING>,
    PawnAttacks<false>,
    PawnAttacks<false>,
    StepperAttacks<false, KNIGHT>,
    SliderAttacks<false, BISHOP>,
    SliderAttacks<false, ROOK>,
    SliderAttacks<false, QUEEN>,
    StepperAttacks<false, KING>,
};

// ---------------------------------------------------------------- ray updates
namespace {

// Vacating a square extends every ray of side a that runs through it; occupying it cuts them
// again. The two are exact inverses, so one walk serves both.
template <bool VACATE>
void RaysThrough(Position& p, Colour a, int v, uint8_t lineBits) {
    AttackRecord* map = p.attackMap[a].square;
    for (SlotMask sliders = p.sliderSlots[a] & map[v].attackerSlots; sliders != 0;) {
        const uint16_t bit = static_cast<uint16_t>(LowestBit(sliders));
        sliders ^= bit;
        const int from = p.slotSquare[a][SlotIndex(bit)];
        const int d = DirectionTable[v][from];
        const uint16_t weight = AttackWeightOf[p.pieceType[from]];
        const int step = DirectionStep[d];
        const int beyond = EdgeDistance[d][v];
        if (lineBits & DirectionOwnBit[d]) {
            // The piece moves along this line, so beyond it the ray is an x-ray: leaving turns
            // it direct up to the next piece, arriving turns it back into an x-ray.
            const uint64_t turn = VACATE ? XrayToDirectDelta(weight, bit) : 0 - XrayToDirectDelta(weight, bit);
            for (int n = beyond, sq = v + step; n > 0; --n, sq += step) {
                AddToRecord(map[sq], turn);
                if (p.pieceType[sq] != NO_PIECE) {
                    if constexpr (VACATE) MarkOnAdd(p, a, sq);
                    else MarkOnRemove(p, a, sq);
                    break;
                }
            }
        } else {
            for (int n = beyond, sq = v + step; n > 0; --n, sq += step) {
                if constexpr (VACATE) AddDirect(map[sq], weight, bit);
                else RemoveDirect(map[sq], weight, bit);
                if (p.pieceType[sq] != NO_PIECE) {
                    if constexpr (VACATE) {
                        MarkOnAdd(p, a, sq);
                        if (LetsThrough(p, sq, d)) XrayAdd(p, a, sq, d, bit);
                    } else {
                        MarkOnRemove(p, a, sq);
                        if (LetsThrough(p, sq, d)) XrayRemove(p, a, sq, d, bit);
                    }
                    break;
                }
            }
        }
    }
    for (SlotMask xrays = map[v].xraySlots; xrays != 0;) {
        const uint16_t bit = static_cast<uint16_t>(LowestBit(xrays));
        xrays ^= bit;
        const int d = DirectionTable[v][p.slotSquare[a][SlotIndex(bit)]];
        if (lineBits & DirectionOwnBit[d]) continue;
        if constexpr (VACATE) XrayAdd(p, a, v, d, bit);
        else XrayRemove(p, a, v, d, bit);
    }
}

}  // namespace

void VacateSquare(Position& p, Colour a, int v, uint8_t lineBits) { RaysThrough<true>(p, a, v, lineBits); }

void OccupySquare(Position& p, Colour a, int v, uint8_t lineBits) { RaysThrough<false>(p, a, v, lineBits); }

void ReplaceOccupant(Position& p, Colour a, int q, uint8_t oldLineBits, uint8_t newLineBits) {
    const AttackRecord& rq = p.attackMap[a].square[q];
    for (SlotMask sliders = (p.sliderSlots[a] & rq.attackerSlots) | rq.xraySlots; sliders != 0;) {
        const uint16_t bit = static_cast<uint16_t>(LowestBit(sliders));
        sliders ^= bit;
        const int d = DirectionTable[q][p.slotSquare[a][SlotIndex(bit)]];
        const uint8_t own = DirectionOwnBit[d];
        if ((oldLineBits & own) && !(newLineBits & own)) XrayRemove(p, a, q, d, bit);
        else if ((newLineBits & own) && !(oldLineBits & own)) XrayAdd(p, a, q, d, bit);
    }
}

void BuildAttackMap(Position& p, Colour side) {
    p.attackMap[side] = AttackMap{};
    for (SlotMask live = p.liveSlots[side]; live != 0;) {
        const uint32_t bit = LowestBit(live);
        live ^= bit;
        const int sq = p.slotSquare[side][SlotIndex(bit)];
        AddAttacks(p, p.pieceType[sq], side, sq);
    }
}

// ---------------------------------------------------------------- hanging values
// What an attacked piece other than the king stands to lose: its value less what the exchange
// wins back. The exchange is looked up whether or not the piece is attacked: whether it is
// comes close to a coin toss, so a select beats a branch.
void RecomputeHanging(Position& p) {
    for (Colour c = WHITE; c <= BLACK; ++c) {
        const AttackRecord* own = p.attackMap[c].square;
        const AttackRecord* enemy = p.attackMap[c ^ 1].square;
        SlotMask hanging = p.hangingSlots[c];
        SlotMask threatened = p.threatenedSlots[c];
        int32_t total = p.hangingTotal[c];
        for (SlotMask marked = p.attackedSlots[c] & p.liveSlots[c] & ~SlotMask{1u << KING_SLOT}; marked != 0;) {
            const uint32_t bit = LowestBit(marked);
            marked ^= bit;
            const int sq = p.slotSquare[c][SlotIndex(bit)];
            const int32_t worth = PieceValue[p.pieceType[sq]];
            const int32_t back = EXCHANGE_UNIT * ExchangeTable[AttackClass[ClassIndex(own[sq])] |
                                                               AttackClass[ClassIndex(enemy[sq])] << 7];
            // A piece becomes attacked only through a mark, so the threatened set stays a superset.
            const bool attacked = enemy[sq].attackWeight != 0;
            const int32_t gain = worth - back;
            const int32_t value = gain & -int32_t(attacked & (gain > 0));
            total += value - p.hangingValue[sq];
            p.hangingValue[sq] = value;
            hanging = WithBit(hanging, bit, value != 0);
            threatened = WithBit(threatened, bit, attacked);
        }
        p.hangingSlots[c] = hanging;
        p.threatenedSlots[c] = threatened;
        p.hangingTotal[c] = total;
        p.attackedSlots[c] = 0;
    }
}

// ---------------------------------------------------------------- pin test
bool IsPinned(const Position& p, int s, Colour c) {
    const int king = KingSquare(p, c ^ 1);
    const int d = DirectionTable[king][s];
    if (d >= 8) return false;
    const AttackRecord& r = p.attackMap[c].square[s];
    if (!(r.attackWeight & DirectionAttackMask[d])) return false;
    for (SlotMask movers = DirectionMovers(p, d)[c] & r.attackerSlots; movers != 0;) {
        const uint32_t bit = LowestBit(movers);
        movers ^= bit;
        if (DirectionTable[s][p.slotSquare[c][SlotIndex(bit)]] != d) continue;
        for (int sq = RayTable[d][s]; sq != NO_SQUARE; sq = RayTable[d][sq]) {
            if (sq == king) return true;
            if (p.pieceType[sq] != NO_PIECE) return false;
        }
        return false;
    }
    return false;
}

}  // namespace tavrix
