// Times book probes on a book file: the key search alone and the whole move choice, for
// positions of the book and positions just out of it.
//   book_probe_bench [BOOK] [ROUNDS]      (default T11Book.tbk, 200 rounds)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "board/makemove.h"
#include "board/movegen.h"
#include "board/moveservices.h"
#include "book/book.h"
#include "control/engine.h"
#include "support/fen_position.h"

using namespace tavrix;

namespace {

constexpr int LINES = 100;
constexpr int LINE_PLIES = 16;
constexpr uint32_t WIDE = 2u << OptionFlag::BOOK_STYLE_SHIFT;

int GenerateRoot(Position& p) {
    uint32_t flags = 0;
    return InCheck(p) ? GenerateEvasions(p, p.sideToMove, 1, 0, flags) : GenerateAllMoves(p, p.sideToMove, 1, 0);
}

Move Probe(Position& p, uint32_t flags) {
    const int n = GenerateRoot(p);
    ResetBookPly();
    return ProbeBook(p, flags, ListBegin(1), ListBegin(1) + n);
}

double MicrosPer(std::chrono::steady_clock::duration d, long count) {
    return count == 0 ? 0.0 : std::chrono::duration<double, std::micro>(d).count() / double(count);
}

}  // namespace

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "T11Book.tbk";
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 200;
    SeedBookRandom(1);
    if (OpenBook(path) == 0) {
        std::fprintf(stderr, "cannot open the book %s\n", path);
        return 1;
    }
    const uint32_t flags = OptionFlag::OWN_BOOK | WIDE;

    // Book lines chosen by the "Wide" style; each ends with one position out of the book.
    static std::vector<Position> inBook, outOfBook;
    static Position p;
    for (int line = 0; line < LINES; ++line) {
        if (!testing_support::LoadFen(p, "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1")) return 1;
        for (int ply = 0; ply < LINE_PLIES; ++ply) {
            const Move m = Probe(p, flags);
            if (m == NO_MOVE) {
                outOfBook.push_back(p);
                break;
            }
            inBook.push_back(p);
            MakeMove(p, static_cast<Move>(m & ~CHECK_MARK));
        }
    }

    using Clock = std::chrono::steady_clock;
    Clock::duration findTime{}, inTime{}, outTime{};
    long finds = 0, ins = 0, outs = 0, answered = 0;
    for (int r = 0; r < rounds; ++r) {
        auto t0 = Clock::now();
        for (const Position& q : inBook) finds += FindBookKey(BookKey(q)).found ? 1 : 0;
        findTime += Clock::now() - t0;
        for (Position& q : inBook) {
            const int n = GenerateRoot(q);
            ResetBookPly();
            t0 = Clock::now();
            answered += ProbeBook(q, flags, ListBegin(1), ListBegin(1) + n) != NO_MOVE ? 1 : 0;
            inTime += Clock::now() - t0;
            ++ins;
        }
        for (Position& q : outOfBook) {
            const int n = GenerateRoot(q);
            ResetBookPly();
            t0 = Clock::now();
            ProbeBook(q, flags, ListBegin(1), ListBegin(1) + n);
            outTime += Clock::now() - t0;
            ++outs;
        }
    }
    std::printf("book %s: %d records, about %.0f single-record reads and one 40-record read per probe\n", path,
                Book.count, std::ceil(std::log2(double(Book.count) + 1)));
    std::printf("key search (in book):     %8.2f us over %ld searches, %ld found\n",
                MicrosPer(findTime, long(inBook.size()) * rounds), long(inBook.size()) * rounds, finds);
    std::printf("probe, position in book:  %8.2f us over %ld probes, %ld answered\n", MicrosPer(inTime, ins), ins,
                answered);
    std::printf("probe, position not in it: %6.2f us over %ld probes\n", MicrosPer(outTime, outs), outs);
    CloseBook();
    return 0;
}
