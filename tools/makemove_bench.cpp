// Make/unmake speed: plays every legal move of a few positions and takes it back, many
// times over, and prints the cost of one make + unmake pair.
//   makemove_bench [rounds]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "board/makemove.h"
#include "board/position.h"

using namespace tavrix;

namespace {

struct BenchPosition {
    const char* placement;
    int side;
    uint32_t flags;
};

// Start position, a tactical middlegame with castling, an endgame, a promotion race.
constexpr BenchPosition POSITIONS[] = {
    {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR", WHITE, 0x3600},
    {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R", WHITE, 0x3600},
    {"8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8", WHITE, 0},
    {"n1n5/PPPk4/8/8/8/8/4Kppp/5N1N", BLACK, 0},
    {"r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1", WHITE, 0},
};

bool Load(Position& p, const BenchPosition& b) {
    std::memset(p.pieceType, NO_PIECE, sizeof p.pieceType);
    std::memset(p.pieceColour, EMPTY_COLOUR, sizeof p.pieceColour);
    int rank = 7, file = 0;
    for (const char* c = b.placement; *c; ++c) {
        if (*c == '/') { --rank; file = 0; continue; }
        if (*c >= '1' && *c <= '8') { file += *c - '0'; continue; }
        const int index = static_cast<int>(std::strchr(PIECE_LETTERS, *c) - PIECE_LETTERS);
        p.pieceType[MakeSquare(file, rank)] = static_cast<PieceType>(index > 6 ? index - 6 : index);
        p.pieceColour[MakeSquare(file, rank)] = index > 6 ? BLACK : WHITE;
        ++file;
    }
    return SetUpPosition(p, b.side, b.flags);
}

// All legal non-castling moves, found by trying every from/to pair with make: slow, but
// outside the timed loop, and it needs no generator.
std::vector<Move> LegalMoves(Position& p) {
    std::vector<Move> moves;
    const Colour c = p.sideToMove;
    for (int from = 0; from < 64; ++from) {
        if (p.pieceColour[from] != c) continue;
        for (int to = 0; to < 64; ++to) {
            if (p.pieceColour[to] == c) continue;
            const PieceType t = p.pieceType[from];
            const int df = FileOf(to) - FileOf(from), dr = RankOf(to) - RankOf(from);
            const int adf = std::abs(df), adr = std::abs(dr);
            bool reach = false;
            if (t == KNIGHT) reach = adf * adr == 2;
            else if (t == KING) reach = adf <= 1 && adr <= 1;
            else if (t == PAWN) {
                const int dir = c == WHITE ? 1 : -1;
                reach = (dr == dir && adf == 1 && p.pieceType[to] != NO_PIECE) ||
                        (dr == dir && df == 0 && p.pieceType[to] == NO_PIECE);
            } else {
                const bool straight = df == 0 || dr == 0, diagonal = adf == adr;
                if ((t == ROOK && straight) || (t == BISHOP && diagonal) || (t == QUEEN && (straight || diagonal))) {
                    const int step = (dr > 0 ? 8 : dr < 0 ? -8 : 0) + (df > 0 ? 1 : df < 0 ? -1 : 0);
                    reach = true;
                    for (int sq = from + step; sq != to; sq += step) reach &= p.pieceType[sq] == NO_PIECE;
                }
            }
            if (!reach) continue;
            const bool promotes = t == PAWN && (RankOf(to) == 0 || RankOf(to) == 7);
            const Move m = MakeMoveWord(from, to, promotes ? MoveKind::PROMOTE_QUEEN : MoveKind::QUIET);
            MakeMove(p, m);
            if (p.attackMap[p.sideToMove].square[KingSquare(p, c)].attackWeight == 0) moves.push_back(m);
            UnmakeMove(p);
        }
    }
    return moves;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 200000;
    struct Prepared { Position position; std::vector<Move> moves; };
    static Prepared prepared[std::size(POSITIONS)];
    size_t pairsPerRound = 0;
    for (size_t i = 0; i < std::size(POSITIONS); ++i) {
        if (!Load(prepared[i].position, POSITIONS[i])) {
            std::printf("position %zu refused\n", i);
            return 1;
        }
        prepared[i].moves = LegalMoves(prepared[i].position);
        pairsPerRound += prepared[i].moves.size();
    }
    uint64_t checksum = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < rounds; ++round) {
        for (Prepared& entry : prepared) {
            for (Move m : entry.moves) {
                MakeMove(entry.position, m);
                checksum += static_cast<uint32_t>(entry.position.hangingTotal[0]);
                UnmakeMove(entry.position);
            }
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double pairs = static_cast<double>(pairsPerRound) * rounds;
    std::printf("%zu moves per round, %d rounds: %.1f ns per make+unmake, %.2f M pairs/s (checksum %llu)\n",
                pairsPerRound, rounds, seconds * 1e9 / pairs, pairs / seconds / 1e6,
                static_cast<unsigned long long>(checksum));
    return 0;
}
