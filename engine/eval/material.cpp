// Material classes: the class of one side's material and the compiled-in table that
// corrects small balances and names the endgames with evaluators of their own.
#include "eval/material.h"

namespace tavrix {
namespace {

// ---------------------------------------------------------------- class codes
constexpr int PAWN_CODE_MASK = 3;
constexpr int MINOR_SHIFT = 2;
constexpr int HEAVY_SHIFT = 5;

// Minor codes (bits 2-4 of a class).
namespace Minor {
constexpr int NONE = 0, KNIGHT = 1, BISHOP = 2, KNIGHT_BISHOP = 3, TWO_KNIGHTS = 5, TWO_BISHOPS = 6, MANY = 7;
}
// Heavy codes (bits 5-6 of a class).
namespace Heavy {
constexpr int NONE = 0, ROOK = 1, QUEEN = 2, MANY = 3;
}

// Pawn code by pawn count.
constexpr std::array<uint8_t, 16> PAWN_CODE = {0, 1, 2, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3};

// Minor code * 4 + heavy code * 32, by the byte knights | bishops << 2 | rooks << 4 | queens << 6.
constexpr std::array<uint8_t, 256> MakePieceCodes() {
    std::array<uint8_t, 256> codes{};
    for (int i = 0; i < 256; ++i) {
        const int knights = i & 3, bishops = (i >> 2) & 3, rooks = (i >> 4) & 3, queens = (i >> 6) & 3;
        int minor = Minor::MANY;
        if (knights + bishops <= 2) {
            constexpr int BY_COUNTS[3][3] = {{Minor::NONE, Minor::BISHOP, Minor::TWO_BISHOPS},
                                             {Minor::KNIGHT, Minor::KNIGHT_BISHOP, Minor::MANY},
                                             {Minor::TWO_KNIGHTS, Minor::MANY, Minor::MANY}};
            minor = BY_COUNTS[knights][bishops];
        }
        int heavy = Heavy::MANY;
        if (rooks + queens <= 1) heavy = rooks ? Heavy::ROOK : (queens ? Heavy::QUEEN : Heavy::NONE);
        codes[i] = static_cast<uint8_t>((minor << MINOR_SHIFT) | (heavy << HEAVY_SHIFT));
    }
    return codes;
}
constexpr std::array<uint8_t, 256> PIECE_CODE = MakePieceCodes();

// Piece-count word (materialSignature >> 16): pawns bits 0-3, then 2 bits each of
// knights, bishops, rooks and queens.
constexpr int COUNT_SHIFT = 16;
constexpr uint32_t PAWN_COUNT_MASK = 0xF;
constexpr int PIECE_COUNT_SHIFT = 4;
constexpr uint32_t CountStep[8] = {0, 1, 16, 64, 256, 1024, 0, 0};  // by captured PieceType

uint8_t ClassOfCounts(uint32_t counts) {
    return static_cast<uint8_t>(PAWN_CODE[counts & PAWN_COUNT_MASK] | PIECE_CODE[(counts >> PIECE_COUNT_SHIFT) & 0xFF]);
}

// ---------------------------------------------------------------- table rules
// One side's material as the class tells it. `exact` is false for the classes whose
// pieces the code does not pin down (three or more minors, two heavy pieces, code 4).
struct ClassMaterial {
    int pawns, knights, bishops, rooks, queens;
    bool exact;

    constexpr int Pieces() const { return knights + bishops + rooks + queens; }
    constexpr int Material() const {
        return PAWN_VALUE * pawns + KNIGHT_VALUE * (knights + bishops) + ROOK_VALUE * rooks + QUEEN_VALUE * queens;
    }
    constexpr int Points() const { return 3 * (knights + bishops) + 5 * rooks + 10 * queens; }
};

constexpr ClassMaterial Decode(int cls) {
    ClassMaterial m{cls & PAWN_CODE_MASK, 0, 0, 0, 0, true};
    switch ((cls >> MINOR_SHIFT) & 7) {
        case Minor::NONE: break;
        case Minor::KNIGHT: m.knights = 1; break;
        case Minor::BISHOP: m.bishops = 1; break;
        case Minor::KNIGHT_BISHOP: m.knights = m.bishops = 1; break;
        case Minor::TWO_KNIGHTS: m.knights = 2; break;
        case Minor::TWO_BISHOPS: m.bishops = 2; break;
        default: m.exact = false; break;
    }
    switch (cls >> HEAVY_SHIFT) {
        case Heavy::NONE: break;
        case Heavy::ROOK: m.rooks = 1; break;
        case Heavy::QUEEN: m.queens = 1; break;
        default: m.exact = false; break;
    }
    return m;
}

constexpr int PawnCode(int cls) { return cls & PAWN_CODE_MASK; }
constexpr int MinorCode(int cls) { return (cls >> MINOR_SHIFT) & 7; }
constexpr int HeavyCode(int cls) { return cls >> HEAVY_SHIFT; }
constexpr bool Bare(int cls) { return cls == 0; }
constexpr bool PawnsOnly(int cls) { return MinorCode(cls) == Minor::NONE && HeavyCode(cls) == Heavy::NONE && PawnCode(cls) > 0; }
constexpr bool LoneMinor(int cls) {
    return PawnCode(cls) == 0 && HeavyCode(cls) == Heavy::NONE &&
           (MinorCode(cls) == Minor::KNIGHT || MinorCode(cls) == Minor::BISHOP);
}
constexpr bool LoneTwoKnights(int cls) { return cls == (Minor::TWO_KNIGHTS << MINOR_SHIFT); }
constexpr bool BishopAndPawns(int cls) {
    return HeavyCode(cls) == Heavy::NONE && MinorCode(cls) == Minor::BISHOP && PawnCode(cls) > 0;
}
constexpr bool Pieces(int cls, int minor, int heavy, int pawns) {
    return MinorCode(cls) == minor && HeavyCode(cls) == heavy && PawnCode(cls) == pawns;
}

// Endgame type of a special balance, 0 for an ordinary one.
constexpr int SpecialType(int a, int b) {
    using namespace EndgameType;
    if (Bare(a) && Bare(b)) return DRAWN;
    if ((Bare(b) && LoneMinor(a)) || (Bare(a) && LoneMinor(b))) return DRAWN;
    if ((Bare(b) && LoneTwoKnights(a)) || (Bare(a) && LoneTwoKnights(b))) return MINOR_DRAW;
    if ((LoneTwoKnights(a) && LoneMinor(b)) || (LoneMinor(a) && LoneTwoKnights(b))) return MINOR_DRAW;
    if (LoneMinor(a) && LoneMinor(b)) return MINOR_DRAW;
    if ((Bare(b) && PawnsOnly(a) && PawnCode(a) == 1) || (Bare(a) && PawnsOnly(b) && PawnCode(b) == 1)) {
        return KING_PAWN_VS_KING;
    }
    if ((PawnsOnly(a) || Bare(a)) && (PawnsOnly(b) || Bare(b))) return PAWN_ENDING;
    if ((Bare(b) && BishopAndPawns(a)) || (Bare(a) && BishopAndPawns(b))) return BISHOP_PAWNS_VS_KING;
    if (Bare(a) || Bare(b)) return LONE_KING;
    if ((BishopAndPawns(a) && PawnsOnly(b)) || (PawnsOnly(a) && BishopAndPawns(b))) return BISHOP_PAWNS;
    for (int turn = 0; turn < 2; ++turn) {
        const int x = turn ? b : a, y = turn ? a : b;
        if (Pieces(x, Minor::NONE, Heavy::QUEEN, 0) && PawnsOnly(y) && PawnCode(y) == 1) return QUEEN_VS_PAWN;
        if (Pieces(x, Minor::NONE, Heavy::ROOK, 0) && Pieces(y, Minor::NONE, Heavy::ROOK, 1)) return ROOK_PAWN_VS_ROOK;
        if (Pieces(x, Minor::NONE, Heavy::ROOK, 0) && Pieces(y, Minor::NONE, Heavy::ROOK, 2)) {
            return ROOK_TWO_PAWNS_VS_ROOK;
        }
    }
    return 0;
}

// Scale bits of a special balance, for `a` to move.
constexpr uint8_t SpecialBits(int type, int a, int b) {
    using namespace EndgameType;
    switch (type) {
        case QUEEN_VS_PAWN:
        case ROOK_PAWN_VS_ROOK:
        case ROOK_TWO_PAWNS_VS_ROOK:
        case BISHOP_PAWNS_VS_KING:
        case KING_PAWN_VS_KING:
            return Decode(a).Material() < Decode(b).Material() ? ClassByte::SIDE_CANNOT_WIN : ClassByte::OTHER_CANNOT_WIN;
        case MINOR_DRAW:
        case DRAWN:
            return ClassByte::SCALE_BITS;
        default:
            return 0;
    }
}

// Small endings whose winning chances the table judges.
constexpr int SMALL_ENDING_POINTS = 13;      // per side
constexpr int SMALL_ENDING_POINT_SUM = 21;   // both sides
constexpr int MINOR_LEAD = KNIGHT_VALUE;     // a lead of at most a minor piece does not mate

// Can x, without pawns, hardly win against y? Extra material of at most a minor piece
// (or two knights) does not force mate; without pawns on either side the side behind
// has no winning chances either, but a single piece against more only counts once the
// deficit exceeds a minor.
constexpr bool CannotEasilyWin(const ClassMaterial& x, const ClassMaterial& y) {
    if (x.pawns != 0 || x.Pieces() == 0) return false;
    if (x.Points() > SMALL_ENDING_POINTS || y.Points() > SMALL_ENDING_POINTS ||
        x.Points() + y.Points() > SMALL_ENDING_POINT_SUM) {
        return false;
    }
    const int lead = x.Material() - y.Material();
    const bool twoKnights = x.knights == 2 && x.Pieces() == 2;
    if (y.pawns > 0) return (lead > 0 && lead <= MINOR_LEAD) || (twoKnights && lead > 0);
    if (y.Pieces() == 0) return false;
    if (lead == 0) return x.Pieces() == 1 && x.rooks + x.queens == 1 && y.Pieces() == 1;
    if (lead > 0) return lead <= MINOR_LEAD;
    if (lead >= -MINOR_LEAD) return true;
    return x.Pieces() == 1;
}

// Material correction for x against y when one of the patterns below names it, in
// material units; NO_RULE otherwise. The reverse balance takes the negation.
constexpr int NO_RULE = 1 << 20;

constexpr int Correction(const ClassMaterial& x, const ClassMaterial& y) {
    if (x.Material() > MATERIAL_CLASS_LIMIT || y.Material() > MATERIAL_CLASS_LIMIT) return NO_RULE;
    const int dn = x.knights - y.knights, db = x.bishops - y.bishops;
    const int dr = x.rooks - y.rooks, dq = x.queens - y.queens;
    const int a = x.pawns, b = y.pawns;
    const auto minOf = [](int u, int v) { return u < v ? u : v; };
    const int common = minOf(x.knights, y.knights) + minOf(x.bishops, y.bishops) + minOf(x.rooks, y.rooks) +
                       minOf(x.queens, y.queens);
    const bool oneMinorLess = dr == 0 && dq == 0 && ((dn == -1 && db == 0) || (dn == 0 && db == -1));
    const bool oneMinorMore = dr == 0 && dq == 0 && ((dn == 1 && db == 0) || (dn == 0 && db == 1));
    const bool minorForRook = dr == -1 && dq == 0 && ((dn == 1 && db == 0) || (dn == 0 && db == 1));
    const bool rookForMinor = dr == 1 && dq == 0 && ((dn == -1 && db == 0) || (dn == 0 && db == -1));
    const bool knight = dn != 0;

    // Extra pawns against a minor piece: the pawns are worth more than their count.
    if (oneMinorLess && a > b) {
        if (common == 0 && b == 0) {
            constexpr int VS_KNIGHT[4] = {0, 256, 192, 160}, VS_BISHOP[4] = {0, 224, 160, 128};
            return knight ? VS_KNIGHT[a] : VS_BISHOP[a];
        }
        constexpr int VS_KNIGHT[4] = {0, 96, 128, 160}, VS_BISHOP[4] = {0, 64, 96, 128};
        return knight ? VS_KNIGHT[a - b] : VS_BISHOP[a - b];
    }
    // Pawns against two knights, which cannot mate on their own.
    if (dn == -2 && db == 0 && dr == 0 && dq == 0 && a > b && common == 0) {
        constexpr int ALONE[4] = {0, 480, 416, 352}, WITH_PAWNS[4] = {0, 192, 224, 0};
        return b == 0 ? ALONE[a] : WITH_PAWNS[a - b];
    }
    // A minor piece more, no pawns: no mate.
    if (oneMinorMore && a == 0 && b == 0 && y.Pieces() > 0) return -288;
    // A lone minor piece (with pawns) against a lone rook.
    if (minorForRook && common == 0 && b == 0) {
        if (a == 0) return knight ? 160 : 192;
        constexpr int KNIGHT_PAWNS[4] = {0, 128, 96, 64}, BISHOP_PAWNS[4] = {0, 160, 128, 96};
        return knight ? KNIGHT_PAWNS[a] : BISHOP_PAWNS[a];
    }
    // A rook in place of the queen, the queen side without pawns.
    if (dn == 0 && db == 0 && dr == 1 && dq == -1 && b == 0) {
        constexpr int BY_PAWNS[4] = {288, 160, 96, 64};
        return BY_PAWNS[a];
    }
    // One or two pawns against a lone rook.
    if (dn == 0 && db == 0 && dr == -1 && dq == 0 && common == 0 && b == 0 && a >= 1 && a <= 2) return 64;
    // A rook and pawns against a minor piece without pawns.
    if (rookForMinor && b == 0 && a >= 1) {
        constexpr int VS_KNIGHT[4] = {0, 64, 128, 160}, VS_BISHOP[4] = {0, 32, 96, 128};
        return dn == -1 ? VS_KNIGHT[a] : VS_BISHOP[a];
    }
    // Two pieces, at least one of them minor, against a lone queen.
    if (y.Pieces() == 1 && y.queens == 1 && y.pawns == 0 && x.queens == 0 && x.Pieces() == 2 &&
        x.knights + x.bishops >= 1 && a <= 2) {
        return 160 - 32 * a;
    }
    return NO_RULE;
}

constexpr uint8_t TableEntry(int a, int b) {
    const int type = SpecialType(a, b);
    if (type != 0) return static_cast<uint8_t>(ClassByte::SPECIAL | SpecialBits(type, a, b) | type);
    const ClassMaterial x = Decode(a), y = Decode(b);
    constexpr uint8_t NEUTRAL = 16;
    if (!x.exact || !y.exact || MinorCode(a) == 4 || MinorCode(b) == 4) return NEUTRAL;
    int correction = Correction(x, y);
    if (correction == NO_RULE) {
        const int reverse = Correction(y, x);
        correction = reverse == NO_RULE ? 0 : -reverse;
    }
    uint8_t byte = static_cast<uint8_t>(NEUTRAL + correction / 32);
    if (CannotEasilyWin(x, y)) byte |= ClassByte::SIDE_CANNOT_WIN;
    if (CannotEasilyWin(y, x)) byte |= ClassByte::OTHER_CANNOT_WIN;
    return byte;
}

constexpr std::array<uint8_t, MATERIAL_CLASS_ENTRIES> MakeMaterialClassTable() {
    std::array<uint8_t, MATERIAL_CLASS_ENTRIES> table{};
    for (int a = 0; a < MATERIAL_CLASS_COUNT; ++a) {
        for (int b = 0; b < MATERIAL_CLASS_COUNT; ++b) table[a * MATERIAL_CLASS_COUNT + b] = TableEntry(a, b);
    }
    return table;
}

}  // namespace

constinit const std::array<uint8_t, MATERIAL_CLASS_ENTRIES> MaterialClassTable = MakeMaterialClassTable();

uint8_t MaterialClassOf(uint32_t materialSignature) { return ClassOfCounts(materialSignature >> COUNT_SHIFT); }

uint8_t ClassifyMaterial(const Position& pos, Colour side) {
    return MaterialLookup(MaterialClassOf(pos.materialSignature[side]), MaterialClassOf(pos.materialSignature[side ^ 1]));
}

int32_t MaterialClassGain(const Position& pos, Colour side, PieceType capturedType) {
    const uint32_t own = pos.materialSignature[side] >> COUNT_SHIFT;
    const uint32_t other = pos.materialSignature[side ^ 1] >> COUNT_SHIFT;
    const uint32_t step = CountStep[capturedType & 7];
    if (step == 0) return 0;
    // The field of the captured type must hold a piece to take away.
    const uint32_t fieldMask = capturedType == PAWN ? PAWN_COUNT_MASK : step * 3;
    if ((other & fieldMask) == 0) return 0;
    const uint8_t now = MaterialLookup(ClassOfCounts(own), ClassOfCounts(other));
    const uint8_t after = MaterialLookup(ClassOfCounts(own), ClassOfCounts(other - step));
    return ClassCorrection(after) - ClassCorrection(now);
}

}  // namespace tavrix
