#include "board/tables.h"

#include <array>

namespace tavrix {
namespace {

constexpr int FILE_STEP[DIRECTION_COUNT] = {1, 0, -1, 0, -1, 1, -1, 1, -1, -2, -2, -1, 1, 2, 2, 1};
constexpr int RANK_STEP[DIRECTION_COUNT] = {0, 1, 0, -1, 1, 1, -1, -1, -2, -1, 1, 2, 2, 1, -1, -2};

// File and rank steps must agree with the square steps of the shared vocabulary.
constexpr bool StepsAgree() {
    for (int d = 0; d < DIRECTION_COUNT; ++d)
        if (RANK_STEP[d] * 8 + FILE_STEP[d] != DirectionStep[d]) return false;
    return true;
}
static_assert(StepsAgree());

constexpr int Step(int sq, int d) {
    const int f = FileOf(sq) + FILE_STEP[d];
    const int r = RankOf(sq) + RANK_STEP[d];
    return (f < 0 || f > 7 || r < 0 || r > 7) ? NO_SQUARE : MakeSquare(f, r);
}

using RayArray = Table2<uint8_t, DIRECTION_COUNT, 64>;
constexpr RayArray BuildRays() {
    RayArray t{};
    for (int d = 0; d < DIRECTION_COUNT; ++d)
        for (int sq = 0; sq < 64; ++sq) t[d][sq] = static_cast<uint8_t>(Step(sq, d));
    return t;
}
constexpr RayArray RAYS = BuildRays();

constexpr Table2<uint8_t, 8, 64> BuildEdgeDistances() {
    Table2<uint8_t, 8, 64> t{};
    for (int d = 0; d < 8; ++d)
        for (int sq = 0; sq < 64; ++sq)
            for (int to = RAYS[d][sq]; to != NO_SQUARE; to = RAYS[d][to]) ++t[d][sq];
    return t;
}

using DirectionArray = Table2<uint8_t, 64, 64>;
constexpr DirectionArray BuildDirections() {
    DirectionArray t{};
    for (auto& row : t) row.fill(NO_DIRECTION);
    for (int origin = 0; origin < 64; ++origin) {
        for (int d = 0; d < 8; ++d)
            for (int sq = RAYS[d][origin]; sq != NO_SQUARE; sq = RAYS[d][sq]) t[sq][origin] = static_cast<uint8_t>(d);
        for (int d = 8; d < DIRECTION_COUNT; ++d)
            if (RAYS[d][origin] != NO_SQUARE) t[RAYS[d][origin]][origin] = static_cast<uint8_t>(d);
    }
    return t;
}

using TargetArray = std::array<Table2<Target, 64, MAX_TARGETS>, 8>;
constexpr TargetArray BuildTargets() {
    TargetArray t{};
    for (auto& byType : t)
        for (auto& list : byType) list.fill(Target{NO_SQUARE, 0});
    for (int sq = 0; sq < 64; ++sq) {
        int n = 0;
        for (int d = 8; d < DIRECTION_COUNT; ++d)
            if (RAYS[d][sq] != NO_SQUARE) t[KNIGHT][sq][n++] = Target{RAYS[d][sq], 0};
        n = 0;
        for (int d = 0; d < 8; ++d)
            if (RAYS[d][sq] != NO_SQUARE) t[KING][sq][n++] = Target{RAYS[d][sq], 0};
        struct Slider { PieceType type; int first, last; };
        constexpr Slider sliders[] = {{BISHOP, 4, 7}, {ROOK, 0, 3}, {QUEEN, 0, 7}};
        for (const Slider& s : sliders) {
            n = 0;
            for (int d = s.first; d <= s.last; ++d) {
                int length = 0;
                for (int to = RAYS[d][sq]; to != NO_SQUARE; to = RAYS[d][to]) ++length;
                int to = RAYS[d][sq];
                for (int i = 0; i < length; ++i, to = RAYS[d][to])
                    t[s.type][sq][n++] = Target{static_cast<uint8_t>(to), static_cast<uint8_t>(length - 1 - i)};
            }
        }
    }
    return t;
}

constexpr std::array<uint8_t, 64> BuildShades() {
    std::array<uint8_t, 64> t{};
    for (int sq = 0; sq < 64; ++sq) t[sq] = IsDarkSquare(sq) ? 1 : 0;
    return t;
}

constexpr std::array<uint8_t, 256> BuildHighestBit() {
    std::array<uint8_t, 256> t{};
    for (int b = 1; b < 256; ++b)
        for (int i = 7; i >= 0; --i)
            if (b & (1 << i)) { t[b] = static_cast<uint8_t>(i); break; }
    return t;
}

// Fixed-seed generator for the key tables; the values must never change, since book and
// learning files store keys made from them.
constexpr uint64_t KEY_SEED = 0x7A5C11D3B9E40F21ull;
constexpr uint64_t SplitMix(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}
struct KeyTables {
    Table2<uint64_t, 12, 64> piece{};
    std::array<uint32_t, 64> square{};
};
constexpr KeyTables BuildKeys() {
    KeyTables k{};
    uint64_t state = KEY_SEED;
    for (auto& row : k.piece)
        for (auto& key : row) key = SplitMix(state);
    for (auto& key : k.square) key = static_cast<uint32_t>(SplitMix(state) >> 32);
    return k;
}

// Capturer counts decoded from a packed weight sum.
struct Capturers { int king, queens, rooks, bishops, knights, pawns; };
constexpr Capturers Decode(int index) {
    return {index & 1, (index >> 1) & 7, (index >> 4) & 3, (index >> 6) & 3, (index >> 8) & 3, (index >> 10) & 3};
}

constexpr int CLASS_MAX = 127;
constexpr int Min(int a, int b) { return a < b ? a : b; }

constexpr int ClassOf(const Capturers& c) {
    const int minors = c.bishops + c.knights;
    const int tail = 4 * c.rooks + Min(3, c.queens + c.king);
    if (c.pawns == 0) return 16 * minors + tail;
    if (c.pawns == 1 && minors <= 3) return 64 + 16 * minors + tail;
    // Saturated sets: a second pawn reads as two more minors; a pawn with four or more
    // minors climbs by knights, since knights come before bishops in the capture order.
    if (c.pawns == 1) return Min(CLASS_MAX, 96 + 16 * (minors - 4) + 8 * c.knights + tail);
    return Min(CLASS_MAX, 64 + 16 * (minors + 2) + tail);
}

constexpr std::array<uint8_t, ATTACK_CLASS_SIZE> BuildAttackClass() {
    std::array<uint8_t, ATTACK_CLASS_SIZE> t{};
    for (int i = 0; i < ATTACK_CLASS_SIZE; ++i) t[i] = static_cast<uint8_t>(ClassOf(Decode(i)));
    return t;
}

// The capturer list a class stands for, cheapest first.
constexpr int MINOR = 416;
constexpr int QUEEN_CLASS = 1248;
struct CapturerList { int value[16]; int count; };
constexpr CapturerList ListOf(int cls) {
    CapturerList l{};
    int f = cls >> 4;
    if (f >= 4) { l.value[l.count++] = PAWN_VALUE; f -= 4; }
    for (int i = 0; i < f; ++i) l.value[l.count++] = MINOR;
    for (int i = 0; i < ((cls >> 2) & 3); ++i) l.value[l.count++] = ROOK_VALUE;
    for (int i = 0; i < (cls & 3); ++i) l.value[l.count++] = QUEEN_CLASS;
    return l;
}

// Gain of the side holding x (from xi on), with the other side's piece of value `victim`
// on the square and that side still holding y (from yi on).
constexpr int Exchange(const CapturerList& x, int xi, const CapturerList& y, int yi, int victim) {
    if (xi >= x.count) return 0;
    const int g = victim - Exchange(y, yi, x, xi + 1, x.value[xi]);
    return g > 0 ? g : 0;
}

constexpr std::array<uint8_t, CLASS_COUNT * CLASS_COUNT> BuildExchange() {
    std::array<uint8_t, CLASS_COUNT * CLASS_COUNT> t{};
    for (int a = 0; a < CLASS_COUNT; ++a) {
        const CapturerList attackers = ListOf(a);
        for (int d = 0; d < CLASS_COUNT; ++d) {
            int back = 0;
            if (attackers.count > 0)
                back = Exchange(ListOf(d), 0, attackers, 1, attackers.value[0]);
            t[d | a << 7] = static_cast<uint8_t>(back / EXCHANGE_UNIT);
        }
    }
    return t;
}

}  // namespace

constexpr Table2<uint8_t, DIRECTION_COUNT, 64> RayTable = RAYS;
constexpr Table2<uint8_t, 8, 64> EdgeDistance = BuildEdgeDistances();
constexpr Table2<uint8_t, 64, 64> DirectionTable = BuildDirections();
constexpr std::array<Table2<Target, 64, MAX_TARGETS>, 8> TargetList = BuildTargets();
constexpr std::array<uint8_t, 64> ShadeTable = BuildShades();
constexpr std::array<uint8_t, 256> HighestBit = BuildHighestBit();
constexpr Table2<uint64_t, 12, 64> PieceKeys = BuildKeys().piece;
constexpr std::array<uint32_t, 64> SquareKeys = BuildKeys().square;
constexpr std::array<uint8_t, ATTACK_CLASS_SIZE> AttackClass = BuildAttackClass();
constexpr std::array<uint8_t, CLASS_COUNT * CLASS_COUNT> ExchangeTable = BuildExchange();

}  // namespace tavrix
