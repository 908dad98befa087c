// Tablebase index functions and the start-up tables they read.
#include "tablebase/index.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "tablebase/catalogue.h"

namespace tavrix {

EnumerationTables Enumerations;

namespace {

constexpr uint8_t NOT_ALLOWED = 255;
constexpr int PAWN_SQUARES = 48;             // ranks 2 to 7
constexpr int FIRST_PAWN_SQUARE = 8;
constexpr int LAST_PAWN_SQUARE = 55;
// Where the pawn that passed and its capturer stand: the first side's pawns move up, so with
// the first side to move the second side's pawn has come down to row 4, else up to row 3.
constexpr int EP_PAWN_ROW[2] = {4, 3};
// The step of the pawn that passed, by side to move.
constexpr int EP_STEP[2] = {-8, 8};
constexpr uint64_t TAIL_SCAN_LIMIT = 1u << 22;
constexpr int TAKEN_MAX = 12;              // kings, en-passant squares and four men


constexpr std::array<uint8_t, 64> MakeQuadrantMask() {
    std::array<uint8_t, 64> t{};
    for (int s = 0; s < 64; ++s) t[s] = static_cast<uint8_t>((FileOf(s) > 3 ? 7 : 0) ^ (RankOf(s) > 3 ? 56 : 0));
    return t;
}
constexpr std::array<uint8_t, 64> MakeTranspose() {
    std::array<uint8_t, 64> t{};
    for (int s = 0; s < 64; ++s) t[s] = static_cast<uint8_t>(FileOf(s) * 8 + RankOf(s));
    return t;
}
constexpr std::array<uint8_t, 64> MakeFileMirror() {
    std::array<uint8_t, 64> t{};
    for (int s = 0; s < 64; ++s) t[s] = FileOf(s) > 3 ? 7 : 0;
    return t;
}
constexpr auto QUADRANT = MakeQuadrantMask();
constexpr auto TRANSPOSE = MakeTranspose();
constexpr auto FILE_MIRROR = MakeFileMirror();

// The diagonal reflection is left out when the first king is below the a1-h8 diagonal, or
// on it with the second king on or below it.
constexpr std::array<bool, 64> MakeBelow() {
    std::array<bool, 64> t{};
    for (int s = 0; s < 64; ++s) t[s] = FileOf(s) > RankOf(s);
    return t;
}
constexpr std::array<bool, 64> MakeOn() {
    std::array<bool, 64> t{};
    for (int s = 0; s < 64; ++s) t[s] = FileOf(s) == RankOf(s);
    return t;
}
constexpr std::array<bool, 64> MakeOnOrBelow() {
    std::array<bool, 64> t{};
    for (int s = 0; s < 64; ++s) t[s] = FileOf(s) >= RankOf(s);
    return t;
}
constexpr auto FIRST_KING_BELOW = MakeBelow();
constexpr auto FIRST_KING_ON = MakeOn();
constexpr auto SECOND_KING_ON_OR_BELOW = MakeOnOrBelow();

constexpr uint64_t Choose(int n, int k) {
    if (k < 0 || n < k) return 0;
    uint64_t r = 1;
    for (int i = 0; i < k; ++i) r = r * uint64_t(n - i) / uint64_t(i + 1);
    return r;
}

bool Excluded(int kind, int king, int s) {
    if (s == king) return true;
    const int df = FileOf(s) - FileOf(king), dr = RankOf(s) - RankOf(king);
    const int adf = df < 0 ? -df : df, adr = dr < 0 ? -dr : dr;
    switch (kind) {
        case 0: return s < FIRST_PAWN_SQUARE || s > LAST_PAWN_SQUARE;
        case 1: return s < FIRST_PAWN_SQUARE || s > LAST_PAWN_SQUARE || (dr == -1 && adf == 1);  // pawn below the king
        case KIND_PAWN_FROM_ABOVE: return s < FIRST_PAWN_SQUARE || s > LAST_PAWN_SQUARE || (dr == 1 && adf == 1);
        case 2: return (adf == 1 && adr == 2) || (adf == 2 && adr == 1);
        case 3: return adf == 1 && adr == 1;
        case 4: return adf + adr == 1;
        case 5: return adf <= 1 && adr <= 1;
        default: return false;
    }
}

// Colex number of up to three sorted values.
uint64_t Colex(const int* r, int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) v += Choose(r[i], i + 1);
    return v;
}
void Decolex(uint64_t v, int n, int* r) {
    for (int i = n - 1; i >= 0; --i) {
        int x = i;
        while (Choose(x + 1, i + 1) <= v) ++x;
        r[i] = x;
        v -= Choose(x, i + 1);
    }
}

void SortSmall(int* a, int n) {
    for (int i = 1; i < n; ++i)
        for (int j = i; j > 0 && a[j] < a[j - 1]; --j) std::swap(a[j], a[j - 1]);
}

// Number of square s among the squares of a range less a sorted exclusion list; -1 when s is
// outside the range or excluded.
int Reduce(int s, bool pawnRange, const int* excluded, int excludedCount) {
    if (pawnRange && (s < FIRST_PAWN_SQUARE || s > LAST_PAWN_SQUARE)) return -1;
    int r = pawnRange ? s - FIRST_PAWN_SQUARE : s;
    for (int i = 0; i < excludedCount; ++i) {
        if (excluded[i] == s) return -1;
        if (excluded[i] < s) --r;
    }
    return r;
}
int Unreduce(int r, bool pawnRange, const int* excluded, int excludedCount) {
    int s = pawnRange ? r + FIRST_PAWN_SQUARE : r;
    for (int i = 0; i < excludedCount; ++i)
        if (excluded[i] <= s) ++s;
    return s;
}
void InsertSorted(int* list, int& count, int v) {
    list[count++] = v;
    SortSmall(list, count);
}

struct EpCode {
    uint8_t pawnFile, capturerFile;
};
constexpr std::array<EpCode, EP_CODES> MakeEpCodes() {
    std::array<EpCode, EP_CODES> t{};
    int n = 0;
    for (int f = 0; f < 8; ++f) {
        if (f > 0) t[n++] = EpCode{uint8_t(f), uint8_t(f - 1)};
        if (f < 7) t[n++] = EpCode{uint8_t(f), uint8_t(f + 1)};
    }
    return t;
}
constexpr auto EP_CODE_LIST = MakeEpCodes();
int EpCodeOf(int pawnFile, int capturerFile) {
    for (int i = 0; i < EP_CODES; ++i)
        if (EP_CODE_LIST[i].pawnFile == pawnFile && EP_CODE_LIST[i].capturerFile == capturerFile) return i;
    return -1;
}

// Squares a lead piece of `kind` may take: the kind's squares around the opponent's king less
// the mover's own king.
int LeadRoom(const EnumerationTables& e, int kind, int around, int own) {
    return e.kindCount[kind][around] - (e.kindNumber[kind][around][own] != NOT_ALLOWED ? 1 : 0);
}

// Placements of a whole lead for one king pair: each group independently, so two groups may
// name one square (such slots hold no position).
uint64_t LeadPlacements(const EnumerationTables& e, const LeadSpec& lead, int around, int own) {
    uint64_t n = 1;
    for (int g = 0; g < lead.groups; ++g) n *= Choose(LeadRoom(e, lead.kind[g], around, own), lead.count[g]);
    return n;
}

const uint8_t* PairKings(const EnumerationTables& e, bool pawns, int pair) {
    return pawns ? e.pawnPairKing[pair] : e.pawnlessPairKing[pair];
}

// Finds or makes the prefix row of a lead.
uint16_t LeadShapeRow(EnumerationTables& e, const LeadSpec& lead) {
    for (uint16_t row = 0; row < e.leadShapeCount; ++row)
        if (std::memcmp(&e.leadSpec[row], &lead, sizeof lead) == 0) return row;
    if (e.leadShapeCount == TB_MAX_LEAD_SHAPES) std::abort();  // the class list outgrew the table
    const uint16_t row = e.leadShapeCount++;
    e.leadSpec[row] = lead;
    const int pairs = lead.pawns ? PAWN_PAIRS : PAWNLESS_PAIRS;
    uint32_t* prefix = e.leadPrefix[row];
    uint32_t sum = 0;
    for (int k = 0; k < pairs; ++k) {
        prefix[k] = sum;
        const uint8_t* kings = PairKings(e, lead.pawns, k);
        sum += static_cast<uint32_t>(LeadPlacements(e, lead, kings[lead.side ^ 1], kings[lead.side]));
    }
    prefix[pairs] = sum;
    return row;
}

LeadSpec MakeLead(const PieceGroup* g, int n, const uint8_t* kind, bool pawns, int side) {
    LeadSpec lead;
    std::memset(&lead, 0, sizeof lead);
    lead.groups = static_cast<uint8_t>(n);
    for (int i = 0; i < n; ++i) lead.kind[i] = kind[i], lead.count[i] = g[i].count;
    lead.pawns = pawns;
    lead.side = static_cast<uint8_t>(side);
    return lead;
}

void BuildShape(TablebaseShape& s, const char* name) {
    std::memset(&s, 0, sizeof s);
    std::strncpy(s.name, name, sizeof s.name - 1);
    int owner = -1;
    s.pieces = 0;
    for (const char* p = name; *p; ++p) {
        ++s.pieces;
        if (*p == 'k') {
            ++owner;
            continue;
        }
        const int type = *p == 'q' ? QUEEN : *p == 'r' ? ROOK : *p == 'b' ? BISHOP : *p == 'n' ? KNIGHT : PAWN;
        (owner == 0 ? s.firstCount : s.secondCount)[type]++;
        if (type == PAWN) s.pawns = true;
    }
    // Equal material shares one table, except pawn against pawn, which keeps two.
    s.symmetric = std::memcmp(s.firstCount, s.secondCount, sizeof s.firstCount) == 0 && !(s.pieces == 4 && s.pawns);
}

// Groups of one side in name order (strongest first).
int SideGroups(const TablebaseShape& s, int owner, PieceGroup* out) {
    const uint8_t* count = owner == 0 ? s.firstCount : s.secondCount;
    int n = 0;
    for (int type = QUEEN; type >= PAWN; --type)
        if (count[type] != 0) out[n++] = PieceGroup{uint8_t(type), count[type], uint8_t(owner)};
    return n;
}

// Pawn groups before piece groups; within each, the first side before the second.
int RestOrder(const PieceGroup* all, int n, PieceGroup* out) {
    int m = 0;
    for (int pass = 0; pass < 2; ++pass)
        for (int owner = 0; owner < 2; ++owner)
            for (int i = 0; i < n; ++i)
                if (all[i].owner == owner && (all[i].type == PAWN) == (pass == 0)) out[m++] = all[i];
    return m;
}

uint64_t GroupSizes(const PieceGroup* g, int n, int pawnsBefore, int piecesBefore, int pawnRoom, int pieceRoom) {
    uint64_t product = 1;
    for (int i = 0; i < n; ++i) {
        const int room = g[i].type == PAWN ? pawnRoom - pawnsBefore : pieceRoom - piecesBefore;
        product *= Choose(room, g[i].count);
        if (g[i].type == PAWN) pawnsBefore += g[i].count;
        piecesBefore += g[i].count;
    }
    return product;
}

void BuildLayout(EnumerationTables& e, int classIndex, int side) {
    const TablebaseShape& s = e.shape[classIndex];
    IndexLayout& L = e.layout[classIndex][side];
    std::memset(&L, 0, sizeof L);
    L.pawns = s.pawns;
    PieceGroup own[TB_MAX_GROUPS], other[TB_MAX_GROUPS], all[TB_MAX_GROUPS];
    const int ownCount = SideGroups(s, side, own);
    const int otherCount = SideGroups(s, side ^ 1, other);
    int n = SideGroups(s, 0, all);
    n += SideGroups(s, 1, all + n);
    if (n == 0) return;
    // A bare king to move: the opponent's first group leads, on any square of its range.
    PieceGroup rest[TB_MAX_GROUPS];
    int restCount = 0;
    if (ownCount > 0) {
        L.leadGroupCount = static_cast<uint8_t>(ownCount);
        for (int g = 0; g < ownCount; ++g) {
            L.group[g] = own[g];
            // A pawn of the side to move never attacks the other king.
            const bool down = own[g].type == PAWN && side == 1;
            L.leadKind[g] = static_cast<uint8_t>(down ? KIND_PAWN_FROM_ABOVE : ExclusionKind[own[g].type]);
        }
        for (int i = 0; i < otherCount; ++i) rest[restCount++] = other[i];
    } else {
        L.leadGroupCount = 1;
        L.group[0] = other[0];
        L.leadKind[0] = static_cast<uint8_t>(other[0].type == PAWN ? 0 : KIND_PLAIN);
        for (int i = 1; i < otherCount; ++i) rest[restCount++] = other[i];
    }
    L.groupCount = static_cast<uint8_t>(L.leadGroupCount + RestOrder(rest, restCount, L.group + L.leadGroupCount));
    int leadPawns = 0, leadMen = 0;
    for (int g = 0; g < L.leadGroupCount; ++g) {
        if (L.group[g].type == PAWN) leadPawns += L.group[g].count;
        leadMen += L.group[g].count;
    }
    L.restProduct = GroupSizes(L.group + L.leadGroupCount, L.groupCount - L.leadGroupCount, leadPawns, leadMen,
                               PAWN_SQUARES, 62);
    L.leadShape = LeadShapeRow(e, MakeLead(L.group, L.leadGroupCount, L.leadKind, s.pawns, side));
    const int pairs = s.pawns ? PAWN_PAIRS : PAWNLESS_PAIRS;
    L.normalSize = uint64_t(e.leadPrefix[L.leadShape][pairs]) * L.restProduct;
    L.capacity = L.normalSize;

    // En passant: the passed pawn and its capturer are named by the state code; the mover's
    // pieces lead as above, the other pawns and the opponent's pieces keep off the two squares
    // the passed pawn crossed.
    L.enPassant = s.firstCount[PAWN] > 0 && s.secondCount[PAWN] > 0;
    if (!L.enPassant) return;
    PieceGroup less[TB_MAX_GROUPS], epRest[TB_MAX_GROUPS];
    int m = 0, epRestCount = 0;
    for (int i = 0; i < n; ++i) {
        PieceGroup g = all[i];
        if (g.type == PAWN) --g.count;
        if (g.count == 0) continue;
        if (g.owner == side && g.type != PAWN) {
            L.epLeadKind[L.epLeadGroupCount] = static_cast<uint8_t>(ExclusionKind[g.type]);
            L.epGroup[L.epLeadGroupCount++] = g;
            m += g.count;
        } else {
            less[epRestCount++] = g;
        }
    }
    L.epGroupCount = static_cast<uint8_t>(L.epLeadGroupCount + RestOrder(less, epRestCount, epRest));
    for (int i = L.epLeadGroupCount; i < L.epGroupCount; ++i) L.epGroup[i] = epRest[i - L.epLeadGroupCount];
    L.epRestProduct = GroupSizes(L.epGroup + L.epLeadGroupCount, L.epGroupCount - L.epLeadGroupCount, 0, m,
                                 PAWN_SQUARES - 4, 58);
    L.epLeadShape = LeadShapeRow(e, MakeLead(L.epGroup, L.epLeadGroupCount, L.epLeadKind, true, side));
    L.capacity += uint64_t(e.leadPrefix[L.epLeadShape][PAWN_PAIRS]) * EP_CODES * L.epRestProduct;
}

// Squares of the pieces in canonical orientation, by group of the layout.
struct Placement {
    int king[2];
    int square[TB_MAX_GROUPS][3];
    int ep;
};

int FindGroup(const PieceGroup* g, int n, int type, int owner) {
    for (int i = 0; i < n; ++i)
        if (g[i].type == type && g[i].owner == owner) return i;
    return -1;
}

// Numbers the groups g[0..n) (none of them the lead) after the squares in `taken`.
bool NumberRest(const PieceGroup* g, int n, const int (*squares)[3], int* pawnTaken, int pawnCount, int* pieceTaken,
                int pieceCount, int pawnRoom, int pieceRoom, uint64_t& number) {
    for (int i = 0; i < n; ++i) {
        const bool pawnRange = g[i].type == PAWN;
        int r[3];
        for (int j = 0; j < g[i].count; ++j) {
            r[j] = pawnRange ? Reduce(squares[i][j], true, pawnTaken, pawnCount)
                             : Reduce(squares[i][j], false, pieceTaken, pieceCount);
            if (r[j] < 0) return false;
        }
        SortSmall(r, g[i].count);
        if (g[i].count > 1 && (r[0] == r[1] || (g[i].count > 2 && r[1] == r[2]))) return false;
        const int room = pawnRange ? pawnRoom - pawnCount : pieceRoom - (pieceCount - 2);
        number = number * Choose(room, g[i].count) + Colex(r, g[i].count);
        for (int j = 0; j < g[i].count; ++j) {
            if (pawnRange) InsertSorted(pawnTaken, pawnCount, squares[i][j]);
            InsertSorted(pieceTaken, pieceCount, squares[i][j]);
        }
    }
    return true;
}

// Number of a lead's placement within its king pair: a mixed-radix number over the groups.
// False when a piece stands off its kind table or two of a group coincide.
bool NumberLead(const EnumerationTables& e, const PieceGroup* g, const uint8_t* kind, int n, const int (*squares)[3],
                int around, int own, uint64_t& within) {
    within = 0;
    for (int i = 0; i < n; ++i) {
        const uint8_t* numberOf = e.kindNumber[kind[i]][around];
        int r[3];
        for (int j = 0; j < g[i].count; ++j) {
            const int v = numberOf[squares[i][j]];
            if (v == NOT_ALLOWED || squares[i][j] == own) return false;
            r[j] = v - (numberOf[own] != NOT_ALLOWED && numberOf[own] < v ? 1 : 0);
        }
        SortSmall(r, g[i].count);
        if (g[i].count > 1 && (r[0] == r[1] || (g[i].count > 2 && r[1] == r[2]))) return false;
        within = within * Choose(LeadRoom(e, kind[i], around, own), g[i].count) + Colex(r, g[i].count);
    }
    return true;
}

// The inverse: false when a lead piece meets another or a square in `taken`.
bool DecodeLead(const EnumerationTables& e, const PieceGroup* g, const uint8_t* kind, int n, uint64_t within,
                int around, int own, int (*squares)[3], const int* taken, int takenCount) {
    uint64_t digit[TB_MAX_GROUPS];
    for (int i = n - 1; i >= 0; --i) {
        const uint64_t room = Choose(LeadRoom(e, kind[i], around, own), g[i].count);
        if (room == 0) return false;
        digit[i] = within % room;
        within /= room;
    }
    uint64_t used = 0;
    for (int i = 0; i < takenCount; ++i) used |= uint64_t(1) << taken[i];
    for (int i = 0; i < n; ++i) {
        const int ownNumber = e.kindNumber[kind[i]][around][own];
        int r[3];
        Decolex(digit[i], g[i].count, r);
        for (int j = 0; j < g[i].count; ++j) {
            const int t = r[j] + (ownNumber != NOT_ALLOWED && ownNumber <= r[j] ? 1 : 0);
            if (t >= e.kindCount[kind[i]][around]) return false;
            const int sq = e.kindSquare[kind[i]][around][t];
            if (used >> sq & 1) return false;
            used |= uint64_t(1) << sq;
            squares[i][j] = sq;
        }
    }
    return true;
}

// Adds the groups' squares to the sorted taken lists; false when one was taken already.
bool TakeSquares(const PieceGroup* g, int n, const int (*squares)[3], int* pawnTaken, int& pawnCount, int* pieceTaken,
                 int& pieceCount) {
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < g[i].count; ++j) {
            if (Reduce(squares[i][j], false, pieceTaken, pieceCount) < 0) return false;
            if (g[i].type == PAWN) InsertSorted(pawnTaken, pawnCount, squares[i][j]);
            InsertSorted(pieceTaken, pieceCount, squares[i][j]);
        }
    return true;
}

}  // namespace

void PlacementBoard(const DecodedPosition& d, int8_t* type, int8_t* owner) {
    for (int s = 0; s < 64; ++s) type[s] = 0, owner[s] = -1;
    for (int c = 0; c < 2; ++c) type[d.king[c]] = KING, owner[d.king[c]] = static_cast<int8_t>(c);
    for (int i = 0; i < d.groupCount; ++i)
        for (int j = 0; j < d.group[i].count; ++j) {
            type[d.square[i][j]] = static_cast<int8_t>(d.group[i].type);
            owner[d.square[i][j]] = static_cast<int8_t>(d.group[i].owner);
        }
}

bool SquareAttacked(const int8_t* type, const int8_t* owner, int target, int by) {
    static constexpr int KING_STEP[8][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}};
    static constexpr int KNIGHT_STEP[8][2] = {{1, 2}, {2, 1}, {2, -1}, {1, -2}, {-1, -2}, {-2, -1}, {-2, 1}, {-1, 2}};
    const int tf = FileOf(target), tr = RankOf(target);
    for (int i = 0; i < 8; ++i) {
        const int f = tf + KING_STEP[i][0], r = tr + KING_STEP[i][1];
        if (f >= 0 && f < 8 && r >= 0 && r < 8 && owner[r * 8 + f] == by && type[r * 8 + f] == KING) return true;
        const int nf = tf + KNIGHT_STEP[i][0], nr = tr + KNIGHT_STEP[i][1];
        if (nf >= 0 && nf < 8 && nr >= 0 && nr < 8 && owner[nr * 8 + nf] == by && type[nr * 8 + nf] == KNIGHT)
            return true;
    }
    // A pawn of the first side moves up, so it attacks from one rank below.
    const int pawnRank = tr + (by == 0 ? -1 : 1);
    if (pawnRank >= 0 && pawnRank < 8)
        for (int df = -1; df <= 1; df += 2) {
            const int f = tf + df;
            if (f >= 0 && f < 8 && owner[pawnRank * 8 + f] == by && type[pawnRank * 8 + f] == PAWN) return true;
        }
    for (int i = 0; i < 8; ++i) {
        const bool diagonal = (i & 1) != 0;
        int f = tf + KING_STEP[i][0], r = tr + KING_STEP[i][1];
        while (f >= 0 && f < 8 && r >= 0 && r < 8) {
            const int s = r * 8 + f;
            if (type[s] != 0) {
                if (owner[s] == by &&
                    (type[s] == QUEEN || (diagonal ? type[s] == BISHOP : type[s] == ROOK)))
                    return true;
                break;
            }
            f += KING_STEP[i][0];
            r += KING_STEP[i][1];
        }
    }
    return false;
}

void BuildEnumerations() {
    EnumerationTables& e = Enumerations;
    if (e.built) return;
    for (int kind = 0; kind < KIND_COUNT; ++kind)
        for (int king = 0; king < 64; ++king) {
            int n = 0;
            for (int s = 0; s < 64; ++s) {
                e.kindNumber[kind][king][s] = NOT_ALLOWED;
                e.kindSquare[kind][king][s] = NOT_ALLOWED;
            }
            for (int s = 0; s < 64; ++s)
                if (!Excluded(kind, king, s)) {
                    e.kindSquare[kind][king][n] = static_cast<uint8_t>(s);
                    e.kindNumber[kind][king][s] = static_cast<uint8_t>(n++);
                }
            e.kindCount[kind][king] = static_cast<uint8_t>(n);
        }
    int pawnless = 0, pawn = 0;
    for (int a = 0; a < 64; ++a)
        for (int b = 0; b < 64; ++b) {
            e.pawnlessPair[a][b] = TB_NO_PAIR;
            e.pawnPair[a][b] = TB_NO_PAIR;
            if (KingDistance(a, b) <= 1) continue;
            if (FileOf(a) <= 3) {
                e.pawnPairKing[pawn][0] = static_cast<uint8_t>(a);
                e.pawnPairKing[pawn][1] = static_cast<uint8_t>(b);
                e.pawnPair[a][b] = static_cast<uint16_t>(pawn++);
            }
            if (FileOf(a) <= 3 && RankOf(a) <= FileOf(a) &&
                (!FIRST_KING_ON[a] || SECOND_KING_ON_OR_BELOW[b])) {
                e.pawnlessPairKing[pawnless][0] = static_cast<uint8_t>(a);
                e.pawnlessPairKing[pawnless][1] = static_cast<uint8_t>(b);
                e.pawnlessPair[a][b] = static_cast<uint16_t>(pawnless++);
            }
        }
    e.leadShapeCount = 0;
    for (int c = 1; c <= TB_CLASS_COUNT; ++c) {
        BuildShape(e.shape[c], TablebaseClassName(c));
        BuildLayout(e, c, 0);
        BuildLayout(e, c, 1);
    }
    e.built = true;
}

namespace {

// Gathers the squares of a layout's groups from the records and brings them into canonical
// orientation. Returns the king-pair number or TB_NO_PAIR.
int Canonical(const EnumerationTables& e, const TablebaseShape& shape, const IndexLayout& L,
              const SquareRecord* record, int ep, int flip, Placement& p) {
    p.king[0] = record[0].place[RECORD_KING];
    p.king[1] = record[1].place[RECORD_KING];
    for (int i = 0; i < L.groupCount; ++i)
        for (int j = 0; j < L.group[i].count; ++j)
            p.square[i][j] = record[L.group[i].owner].place[RecordPlace(L.group[i].type) + j];
    p.ep = ep;
    if (p.king[0] > 63 || p.king[1] > 63) return TB_NO_PAIR;
    if (shape.pawns) {
        // Left-right by the first king; upside down when the colours were exchanged.
        const int m = FILE_MIRROR[p.king[0]] ^ RankFlipMask[flip & 1];
        p.king[0] ^= m;
        p.king[1] ^= m;
        for (int i = 0; i < L.groupCount; ++i)
            for (int j = 0; j < L.group[i].count; ++j) p.square[i][j] ^= m;
        if (p.ep != TB_NO_EP) p.ep ^= m;
        return e.pawnPair[p.king[0]][p.king[1]];
    }
    const int q = QUADRANT[p.king[0]];
    p.king[0] ^= q;
    p.king[1] ^= q;
    for (int i = 0; i < L.groupCount; ++i)
        for (int j = 0; j < L.group[i].count; ++j) p.square[i][j] ^= q;
    if (!(FIRST_KING_BELOW[p.king[0]] || (FIRST_KING_ON[p.king[0]] && SECOND_KING_ON_OR_BELOW[p.king[1]]))) {
        p.king[0] = TRANSPOSE[p.king[0]];
        p.king[1] = TRANSPOSE[p.king[1]];
        for (int i = 0; i < L.groupCount; ++i)
            for (int j = 0; j < L.group[i].count; ++j) p.square[i][j] = TRANSPOSE[p.square[i][j]];
    }
    return e.pawnlessPair[p.king[0]][p.king[1]];
}

}  // namespace

uint64_t IndexFunction(int classIndex, int side, const SquareRecord& first, const SquareRecord& second, int epSquare,
                       int flip) {
    const EnumerationTables& e = Enumerations;
    if (classIndex < 1 || classIndex > TB_CLASS_COUNT || !e.built) return TB_NO_INDEX;
    const TablebaseShape& shape = e.shape[classIndex];
    SquareRecord record[2] = {first, second};
    if (shape.symmetric && side == 1) {
        // Both sides to move share the first side's table: exchange the colours.
        std::swap(record[0], record[1]);
        flip ^= 1;
        side = 0;
    }
    const IndexLayout& L = e.layout[classIndex][side];
    Placement p{};
    const int pair = Canonical(e, shape, L, record, epSquare, flip, p);
    if (pair == TB_NO_PAIR) return TB_NO_INDEX;
    const int around = p.king[side ^ 1], own = p.king[side];

    // En passant: the opponent's pawn has just passed p.ep and a pawn of the side to move
    // stands beside it.
    if (L.enPassant && p.ep != TB_NO_EP) {
        const int step = EP_STEP[side];
        const int passed = p.ep + step;
        const int pawnGroup = FindGroup(L.group, L.groupCount, PAWN, side ^ 1);
        const int ownPawns = FindGroup(L.group, L.groupCount, PAWN, side);
        int passedAt = -1, capturerAt = -1;
        if (RankOf(passed) == EP_PAWN_ROW[side])
            for (int j = 0; j < L.group[pawnGroup].count; ++j)
                if (p.square[pawnGroup][j] == passed) passedAt = j;
        if (passedAt >= 0)
            for (int j = 0; j < L.group[ownPawns].count; ++j) {
                const int s = p.square[ownPawns][j];
                if (RankOf(s) == EP_PAWN_ROW[side] && (s == passed - 1 || s == passed + 1) &&
                    (capturerAt < 0 || s < p.square[ownPawns][capturerAt]))
                    capturerAt = j;
            }
        if (capturerAt >= 0) {
            const int capturer = p.square[ownPawns][capturerAt];
            const int code = EpCodeOf(FileOf(passed), FileOf(capturer));
            int squares[TB_MAX_GROUPS][3];
            for (int i = 0; i < L.epGroupCount; ++i) {
                const int g = FindGroup(L.group, L.groupCount, L.epGroup[i].type, L.epGroup[i].owner);
                int n = 0;
                for (int j = 0; j < L.group[g].count; ++j) {
                    if (g == pawnGroup && j == passedAt) continue;
                    if (g == ownPawns && j == capturerAt) continue;
                    squares[i][n++] = p.square[g][j];
                }
            }
            const int leads = L.epLeadGroupCount;
            uint64_t within = 0;
            if (!NumberLead(e, L.epGroup, L.epLeadKind, leads, squares, around, own, within)) return TB_NO_INDEX;
            int pawnTaken[TAKEN_MAX] = {capturer, passed, p.ep, p.ep - step};
            int pieceTaken[TAKEN_MAX] = {p.king[0], p.king[1], capturer, passed, p.ep, p.ep - step};
            int pawnCount = 4, pieceCount = 6;
            SortSmall(pawnTaken, pawnCount);
            SortSmall(pieceTaken, pieceCount);
            if (!TakeSquares(L.epGroup, leads, squares, pawnTaken, pawnCount, pieceTaken, pieceCount))
                return TB_NO_INDEX;
            uint64_t number = 0;
            if (!NumberRest(L.epGroup + leads, L.epGroupCount - leads, squares + leads, pawnTaken, pawnCount,
                            pieceTaken, pieceCount, PAWN_SQUARES, 62, number))
                return TB_NO_INDEX;
            const uint32_t* prefix = e.leadPrefix[L.epLeadShape];
            const uint64_t placements = prefix[pair + 1] - prefix[pair];
            const uint64_t lead = uint64_t(prefix[pair]) * EP_CODES + uint64_t(code) * placements + within;
            return L.normalSize + lead * L.epRestProduct + number;
        }
    }

    // The lead groups, each numbered in its kind table centred on the opponent's king.
    const int leads = L.leadGroupCount;
    uint64_t within = 0;
    if (!NumberLead(e, L.group, L.leadKind, leads, p.square, around, own, within)) return TB_NO_INDEX;
    int pawnTaken[TAKEN_MAX], pieceTaken[TAKEN_MAX];
    int pawnCount = 0, pieceCount = 0;
    InsertSorted(pieceTaken, pieceCount, p.king[0]);
    InsertSorted(pieceTaken, pieceCount, p.king[1]);
    if (!TakeSquares(L.group, leads, p.square, pawnTaken, pawnCount, pieceTaken, pieceCount)) return TB_NO_INDEX;
    const uint64_t leadNumber = e.leadPrefix[L.leadShape][pair] + within;
    uint64_t number = 0;
    if (!NumberRest(L.group + leads, L.groupCount - leads, p.square + leads, pawnTaken, pawnCount, pieceTaken,
                    pieceCount, PAWN_SQUARES, 62, number))
        return TB_NO_INDEX;
    return leadNumber * L.restProduct + number;
}

namespace {

// Decodes the groups g[0..n) from a mixed-radix number.
bool DecodeRest(const PieceGroup* g, int n, uint64_t number, int (*squares)[3], int* pawnTaken, int pawnCount,
                int* pieceTaken, int pieceCount, int pawnRoom, int pieceRoom) {
    uint64_t digit[TB_MAX_GROUPS];
    uint64_t room[TB_MAX_GROUPS];
    int pawnsBefore = pawnCount, piecesBefore = pieceCount - 2;
    for (int i = 0; i < n; ++i) {
        const bool pawnRange = g[i].type == PAWN;
        room[i] = Choose(pawnRange ? pawnRoom - pawnsBefore : pieceRoom - piecesBefore, g[i].count);
        if (pawnRange) pawnsBefore += g[i].count;
        piecesBefore += g[i].count;
    }
    for (int i = n - 1; i >= 0; --i) {
        if (room[i] == 0) return false;
        digit[i] = number % room[i];
        number /= room[i];
    }
    for (int i = 0; i < n; ++i) {
        const bool pawnRange = g[i].type == PAWN;
        int r[3];
        Decolex(digit[i], g[i].count, r);
        for (int j = 0; j < g[i].count; ++j)
            squares[i][j] = pawnRange ? Unreduce(r[j], true, pawnTaken, pawnCount)
                                      : Unreduce(r[j], false, pieceTaken, pieceCount);
        for (int j = 0; j < g[i].count; ++j) {
            if (squares[i][j] > 63) return false;
            if (pawnRange) InsertSorted(pawnTaken, pawnCount, squares[i][j]);
            InsertSorted(pieceTaken, pieceCount, squares[i][j]);
        }
    }
    return true;
}

}  // namespace

bool DecodeIndex(int classIndex, int side, uint64_t index, DecodedPosition& out) {
    const EnumerationTables& e = Enumerations;
    if (classIndex < 1 || classIndex > TB_CLASS_COUNT || !e.built || side < 0 || side > 1) return false;
    const TablebaseShape& shape = e.shape[classIndex];
    if (shape.symmetric && side == 1) return false;
    const IndexLayout& L = e.layout[classIndex][side];
    if (index >= L.capacity) return false;
    std::memset(&out, 0, sizeof out);
    out.groupCount = L.groupCount;
    for (int i = 0; i < L.groupCount; ++i) out.group[i] = L.group[i];
    out.epSquare = TB_NO_EP;
    int square[TB_MAX_GROUPS][3] = {};
    int king[2];
    int ep = TB_NO_EP;
    if (index >= L.normalSize) {
        const uint32_t* prefix = e.leadPrefix[L.epLeadShape];
        const uint64_t lead = (index - L.normalSize) / L.epRestProduct;
        const int pair =
            static_cast<int>(std::upper_bound(prefix, prefix + PAWN_PAIRS + 1, lead / EP_CODES) - prefix) - 1;
        if (pair < 0 || pair >= PAWN_PAIRS) return false;
        const uint64_t placements = prefix[pair + 1] - prefix[pair];
        const uint64_t local = lead - uint64_t(prefix[pair]) * EP_CODES;
        const int code = static_cast<int>(local / placements);
        king[0] = e.pawnPairKing[pair][0];
        king[1] = e.pawnPairKing[pair][1];
        const int step = EP_STEP[side];
        const int passed = 8 * EP_PAWN_ROW[side] + EP_CODE_LIST[code].pawnFile;
        const int capturer = 8 * EP_PAWN_ROW[side] + EP_CODE_LIST[code].capturerFile;
        ep = passed - step;
        int pawnTaken[TAKEN_MAX] = {capturer, passed, passed - step, passed - 2 * step};
        int pieceTaken[TAKEN_MAX] = {king[0], king[1], capturer, passed, passed - step, passed - 2 * step};
        int pawnCount = 4, pieceCount = 6;
        SortSmall(pawnTaken, pawnCount);
        SortSmall(pieceTaken, pieceCount);
        const int leads = L.epLeadGroupCount;
        int epSquares[TB_MAX_GROUPS][3];
        if (!DecodeLead(e, L.epGroup, L.epLeadKind, leads, local % placements, king[side ^ 1], king[side], epSquares,
                        pieceTaken, pieceCount))
            return false;
        TakeSquares(L.epGroup, leads, epSquares, pawnTaken, pawnCount, pieceTaken, pieceCount);
        if (!DecodeRest(L.epGroup + leads, L.epGroupCount - leads, (index - L.normalSize) % L.epRestProduct,
                        epSquares + leads, pawnTaken, pawnCount, pieceTaken, pieceCount, PAWN_SQUARES, 62))
            return false;
        int filled[TB_MAX_GROUPS] = {};
        for (int i = 0; i < L.epGroupCount; ++i) {
            const int g = FindGroup(L.group, L.groupCount, L.epGroup[i].type, L.epGroup[i].owner);
            for (int j = 0; j < L.epGroup[i].count; ++j) square[g][filled[g]++] = epSquares[i][j];
        }
        const int own = FindGroup(L.group, L.groupCount, PAWN, side);
        const int other = FindGroup(L.group, L.groupCount, PAWN, side ^ 1);
        square[own][filled[own]++] = capturer;
        square[other][filled[other]++] = passed;
    } else {
        const uint64_t leadNumber = index / L.restProduct;
        const uint32_t* prefix = e.leadPrefix[L.leadShape];
        const int pairs = shape.pawns ? PAWN_PAIRS : PAWNLESS_PAIRS;
        const int pair = static_cast<int>(std::upper_bound(prefix, prefix + pairs + 1, leadNumber) - prefix) - 1;
        if (pair < 0 || pair >= pairs) return false;
        const uint8_t* kings = PairKings(e, shape.pawns, pair);
        king[0] = kings[0];
        king[1] = kings[1];
        int pawnTaken[TAKEN_MAX], pieceTaken[TAKEN_MAX];
        int pawnCount = 0, pieceCount = 0;
        InsertSorted(pieceTaken, pieceCount, king[0]);
        InsertSorted(pieceTaken, pieceCount, king[1]);
        const int leads = L.leadGroupCount;
        if (!DecodeLead(e, L.group, L.leadKind, leads, leadNumber - prefix[pair], king[side ^ 1], king[side], square,
                        pieceTaken, pieceCount))
            return false;
        TakeSquares(L.group, leads, square, pawnTaken, pawnCount, pieceTaken, pieceCount);
        if (!DecodeRest(L.group + leads, L.groupCount - leads, index % L.restProduct, square + leads, pawnTaken,
                        pawnCount, pieceTaken, pieceCount, PAWN_SQUARES, 62))
            return false;
    }
    // The numbering's orientation is the class's own: the first side's pawns move up.
    out.king[0] = static_cast<uint8_t>(king[0]);
    out.king[1] = static_cast<uint8_t>(king[1]);
    for (int i = 0; i < L.groupCount; ++i)
        for (int j = 0; j < L.group[i].count; ++j) out.square[i][j] = static_cast<uint8_t>(square[i][j]);
    out.epSquare = ep;
    return true;
}

void RecordsOf(const DecodedPosition& d, SquareRecord& first, SquareRecord& second) {
    std::memset(&first, 0, sizeof first);
    std::memset(&second, 0, sizeof second);
    SquareRecord* record[2] = {&first, &second};
    record[0]->place[RECORD_KING] = d.king[0];
    record[1]->place[RECORD_KING] = d.king[1];
    for (int i = 0; i < d.groupCount; ++i)
        for (int j = 0; j < d.group[i].count; ++j)
            record[d.group[i].owner]->place[RecordPlace(d.group[i].type) + j] = d.square[i][j];
}

bool LegalPlacement(const DecodedPosition& d, int side) {
    uint64_t used = 0;
    auto take = [&used](int s) {
        if (s < 0 || s > 63 || (used >> s & 1)) return false;
        used |= uint64_t(1) << s;
        return true;
    };
    if (!take(d.king[0]) || !take(d.king[1]) || KingDistance(d.king[0], d.king[1]) <= 1) return false;
    for (int i = 0; i < d.groupCount; ++i)
        for (int j = 0; j < d.group[i].count; ++j) {
            const int s = d.square[i][j];
            if (!take(s)) return false;
            if (d.group[i].type == PAWN && (s < FIRST_PAWN_SQUARE || s > LAST_PAWN_SQUARE)) return false;
        }
    int8_t type[64], owner[64];
    PlacementBoard(d, type, owner);
    if (SquareAttacked(type, owner, d.king[side ^ 1], side)) return false;
    if (d.epSquare != TB_NO_EP) {
        // The pawn that just passed came from two ranks behind; both squares are empty.
        const int step = side == 0 ? 8 : -8;
        if (type[d.epSquare] != 0 || type[d.epSquare + step] != 0) return false;
    }
    return true;
}

uint64_t TableLength(int classIndex, int side) {
    const EnumerationTables& e = Enumerations;
    if (!e.built || classIndex < 1 || classIndex > TB_CLASS_COUNT) return 0;
    if (e.shape[classIndex].symmetric) side = 0;
    const uint64_t capacity = e.layout[classIndex][side].capacity;
    for (uint64_t steps = 0, i = capacity; i > 0 && steps < TAIL_SCAN_LIMIT; --i, ++steps) {
        DecodedPosition d;
        if (!DecodeIndex(classIndex, side, i - 1, d) || !LegalPlacement(d, side)) continue;
        SquareRecord first, second;
        RecordsOf(d, first, second);
        if (IndexFunction(classIndex, side, first, second, d.epSquare, 0) == i - 1) return i;
    }
    return capacity;
}

}  // namespace tavrix
