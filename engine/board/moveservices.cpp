#include "board/moveservices.h"

#include <emmintrin.h>

#include <array>
#include <initializer_list>

#include "board/makemove.h"
#include "board/tables.h"
#include "board/movegen.h"

namespace tavrix {

namespace {

// The board seen after a move: up to two squares emptied and one filled.
struct Overlay {
    int vacated[2];
    int filled;
};

inline bool OccupiedAfter(const Position& p, const Overlay& o, int sq) {
    if (sq == o.filled) return true;
    if (sq == o.vacated[0] || sq == o.vacated[1]) return false;
    return p.pieceColour[sq] != EMPTY_COLOUR;
}

// First occupied square from `from` (exclusive) in direction d, or NO_SQUARE.
int FirstPieceAfter(const Position& p, const Overlay& o, int from, int d) {
    int sq = RayTable[d][from];
    while (sq != NO_SQUARE && !OccupiedAfter(p, o, sq)) sq = RayTable[d][sq];
    return sq;
}

inline bool SliderMovesAlong(PieceType type, int d) {
    return type == QUEEN || (type == ROOK && IsStraight(d)) || (type == BISHOP && IsDiagonal(d));
}

// Check given by a piece of `type` of `side` standing on `to` against the king on k.
int DirectCheck(const Position& p, const Overlay& o, PieceType type, Colour side, int to, int k) {
    const int d = DirectionTable[k][to];
    if (type == PAWN) {
        for (int i = 0; i < 2; ++i) {
            const int dir = PawnCaptureDirection[side][i];
            if (RayTable[dir][to] == k) return PAWN + 8 * dir;
        }
        return 0;
    }
    if (type == KNIGHT) return (d >= 8 && d < DIRECTION_COUNT) ? KNIGHT + 8 * d : 0;
    if (d >= 8 || !SliderMovesAlong(type, d)) return 0;
    return FirstPieceAfter(p, o, to, d) == k ? type + 8 * d : 0;
}

// Check by a slider of `side` uncovered when `vacated` empties.
int DiscoveredCheck(const Position& p, const Overlay& o, Colour side, int vacated, int k) {
    const int d = DirectionTable[vacated][k];  // from the king outward
    if (d >= 8) return 0;
    const int sq = FirstPieceAfter(p, o, k, d);
    if (sq == NO_SQUARE || sq == o.filled || p.pieceColour[sq] != side) return 0;
    const PieceType type = p.pieceType[sq];
    return SliderMovesAlong(type, d) ? type + 8 * OppositeDirection[d] : 0;
}

constexpr uint64_t Bit(int sq) { return uint64_t{1} << sq; }

// [colour][square]: where a pawn of that colour attacks the square from; and the knight jumps.
constexpr auto PawnCheckFrom = [] {
    std::array<std::array<uint64_t, 64>, 2> t{};
    for (int c = WHITE; c <= BLACK; ++c)
        for (int sq = 0; sq < 64; ++sq)
            for (int i = 0; i < 2; ++i) {
                const int rank = RankOf(sq) - (c == WHITE ? 1 : -1);
                const int file = FileOf(sq) + (PawnCaptureDirection[c][i] == 4 || PawnCaptureDirection[c][i] == 6 ? 1 : -1);
                if (rank >= 0 && rank < 8 && file >= 0 && file < 8) t[c][sq] |= Bit(MakeSquare(file, rank));
            }
    return t;
}();
constexpr auto KnightFrom = [] {
    std::array<uint64_t, 64> t{};
    constexpr int JUMPS[8][2] = {{1, 2}, {2, 1}, {2, -1}, {1, -2}, {-1, -2}, {-2, -1}, {-2, 1}, {-1, 2}};
    for (int sq = 0; sq < 64; ++sq)
        for (const auto& j : JUMPS) {
            const int f = FileOf(sq) + j[0], r = RankOf(sq) + j[1];
            if (f >= 0 && f < 8 && r >= 0 && r < 8) t[sq] |= Bit(MakeSquare(f, r));
        }
    return t;
}();

// The nearest of `squares` on a ray of direction d; with none, a corner square whose ray
// that way is empty (h8 for the rising directions, a1 for the falling ones).
inline int Nearest(int d, uint64_t squares) {
    return (d == 0 || d == 1 || d == 4 || d == 5) ? __builtin_ctzll(squares | Bit(63)) : 63 - __builtin_clzll(squares | 1);
}

// The squares whose colour byte is `colour`, sixteen bytes at a time (SSE2, in every x86-64).
inline uint64_t SquaresOf(const Position& p, uint8_t colour) {
    const __m128i wanted = _mm_set1_epi8(static_cast<char>(colour));
    uint64_t set = 0;
    for (int i = 0; i < 4; ++i) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p.pieceColour + 16 * i));
        set |= uint64_t(uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, wanted)))) << (16 * i);
    }
    return set;
}

}  // namespace

void FindCheckSquares(const Position& p, Colour side, CheckSquares& cs) {
    const int k = KingSquare(p, side ^ 1);
    const uint64_t occupied = ~SquaresOf(p, EMPTY_COLOUR);
    const uint64_t own = SquaresOf(p, static_cast<uint8_t>(side));
    uint64_t lines[2] = {0, 0};  // straight, diagonal: the empty squares up to the first piece, and it
    uint8_t first[8];
    uint32_t ownFirst = 0;        // the directions whose first piece is the side's
#pragma GCC unroll 8
    for (int d = 0; d < 8; ++d) {
        const uint64_t ray = RaySquares[d][k];
        first[d] = static_cast<uint8_t>(Nearest(d, ray & occupied));
        const uint64_t reach = ray & ~RaySquares[d][first[d]];
        lines[d >> 2] |= reach;
        ownFirst |= static_cast<uint32_t>((reach & own) != 0) << d;
    }
    uint64_t discoverers = 0;
    for (; ownFirst != 0; ownFirst &= ownFirst - 1) {
        const int d = __builtin_ctz(ownFirst);
        const uint64_t beyond = RaySquares[d][first[d]];
        const int next = Nearest(d, beyond & occupied);
        if (((beyond & own) >> next & 1) && (LineBits[p.pieceType[next]] & DirectionOwnBit[d])) {
            discoverers |= Bit(first[d]);
            cs.shadow[d] = RaySquares[d][k] & ~RaySquares[d][next];
            cs.slider[d] = p.pieceType[next];
        }
    }
    cs.direct[NO_PIECE] = 0;
    cs.direct[PAWN] = PawnCheckFrom[side][k];
    cs.direct[KNIGHT] = KnightFrom[k];
    cs.direct[BISHOP] = lines[1];
    cs.direct[ROOK] = lines[0];
    cs.direct[QUEEN] = lines[0] | lines[1];
    cs.direct[KING] = 0;
    cs.direct[7] = 0;
    cs.discoverers = discoverers;
    cs.king = k;
}

int GivesCheck(const Position& p, Move move, Colour side) {
    const int from = MoveFrom(move);
    const int to = MoveTo(move);
    const int k = KingSquare(p, side ^ 1);
    if (IsCastling(move)) {
        // King and rook both move; the rook is the only piece that can check.
        const bool kingSide = p.chess960 ? FileOf(to) > FileOf(from) : to > from;
        const int rookFrom = p.chess960 ? to : (kingSide ? from + 3 : from - 4);
        const int base = from & 56;
        const int kingTo = base + (kingSide ? 6 : 2);
        const int rookTo = base + (kingSide ? 5 : 3);
        Overlay o{{from, rookFrom}, rookTo};
        // The king's new square blocks too; model it by checking the rook's line explicitly.
        const int d = DirectionTable[k][rookTo];
        if (d < 4) {
            int sq = RayTable[d][rookTo];
            while (sq != NO_SQUARE && sq != kingTo && !OccupiedAfter(p, o, sq)) sq = RayTable[d][sq];
            if (sq == k) return ROOK + 8 * d;
        }
        for (int v : {from, rookFrom}) {
            const int dv = DirectionTable[v][k];
            if (dv >= 8) continue;
            int sq = RayTable[dv][k];
            while (sq != NO_SQUARE && sq != kingTo && !OccupiedAfter(p, o, sq)) sq = RayTable[dv][sq];
            if (sq == NO_SQUARE || sq == kingTo || sq == rookTo || p.pieceColour[sq] != side) continue;
            if (SliderMovesAlong(p.pieceType[sq], dv)) return p.pieceType[sq] + 8 * OppositeDirection[dv];
        }
        return 0;
    }
    const PieceType type = IsPromotion(move) ? PromotedType(move) : p.pieceType[from];
    Overlay o{{from, IsEnPassant(move) ? to - PawnPush[side] : from}, to};
    if (const int code = DirectCheck(p, o, type, side, to, k)) return code;
    if (const int code = DiscoveredCheck(p, o, side, from, k)) return code;
    if (IsEnPassant(move)) return DiscoveredCheck(p, o, side, o.vacated[1], k);
    return 0;
}

int ValidateMove(Colour side, const Position& p, Move& move) {
    const int from = MoveFrom(move);
    const int to = MoveTo(move);
    const Colour enemy = side ^ 1;
    if (from == to || p.pieceColour[from] != side) return 0;
    const PieceType type = p.pieceType[from];
    const uint16_t checkBit = move & CHECK_MARK;
    const uint16_t promotion = IsPromotion(move) ? KindOf(move) : 0;
    auto set = [&](uint16_t kind) {
        move = static_cast<Move>(MakeMoveWord(from, to, kind) | checkBit);
        return 1;
    };
    if (promotion != 0 && type != PAWN) return 0;

    if (type == KING) {
        if (p.chess960) {
            if (p.pieceColour[to] == side) {
                for (int wing = KING_SIDE; wing <= QUEEN_SIDE; ++wing)
                    if (to == p.castleRookSquare[side][wing] && p.pieceType[to] == ROOK && p.moveCount[to] == 0 &&
                        p.moveCount[from] == 0 && p.attackMap[enemy].square[from].attackWeight == 0 &&
                        CastlingAllowed(p, side, wing))
                        return set(MoveKind::CASTLING);
                return 0;
            }
        } else if (RankOf(from) == RankOf(to) && (to == from + 2 || to == from - 2)) {
            const int wing = to > from ? KING_SIDE : QUEEN_SIDE;
            return CastlingAllowed(p, side, wing) ? set(MoveKind::CASTLING) : 0;
        }
        if (p.pieceColour[to] == side) return 0;
        if ((p.attackMap[side].square[to].attackerSlots & 1u) == 0) return 0;  // not a king step
        if (p.attackMap[enemy].square[to].attackWeight != 0) return 0;
        return set(p.pieceColour[to] == enemy ? MoveKind::CAPTURE : MoveKind::QUIET);
    }
    if (p.pieceColour[to] == side) return 0;

    if (type == PAWN) {
        const int step = PawnPush[side];
        const bool lastRank = RankOf(to) == PromotionRank(side);
        if (promotion != 0 && !lastRank) return 0;
        const uint16_t promoteKind = promotion != 0 ? promotion : MoveKind::PROMOTE_QUEEN;
        if (FileOf(from) == FileOf(to)) {
            if (p.pieceColour[to] != EMPTY_COLOUR) return 0;
            if (to == from + step) return set(lastRank ? promoteKind : MoveKind::QUIET);
            if (to == from + 2 * step && RankOf(from) == PawnStartRank(side) && p.pieceColour[from + step] == EMPTY_COLOUR)
                return set(MoveKind::QUIET);
            return 0;
        }
        if (RayTable[PawnCaptureDirection[side][0]][from] != to && RayTable[PawnCaptureDirection[side][1]][from] != to) return 0;
        if (p.pieceColour[to] == enemy) return set(lastRank ? promoteKind : MoveKind::CAPTURE);
        const int behind = to - step;
        if (to == p.epSquare && p.epSquare != 0 && side == p.sideToMove && p.pieceType[behind] == PAWN &&
            p.pieceColour[behind] == enemy)
            return set(MoveKind::EN_PASSANT);
        return 0;
    }

    if ((p.attackMap[side].square[to].attackerSlots & p.squareSlot[from]) == 0) return 0;
    return set(p.pieceColour[to] == enemy ? MoveKind::CAPTURE : MoveKind::QUIET);
}

bool IsLegalAfterMake(Position& p, Move move) {
    const Colour mover = p.sideToMove;
    MakeMove(p, move);
    const bool legal = p.attackMap[mover ^ 1].square[KingSquare(p, mover)].attackWeight == 0;
    UnmakeMove(p);
    return legal;
}

}  // namespace tavrix
