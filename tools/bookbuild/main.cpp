// tavrix-book: builds the engine's book files from PGN games and Polyglot books, and shows
// the book moves of a position.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "book/book.h"
#include "bookbuild/builder.h"
#include "bookbuild/pgn.h"
#include "bookbuild/polyglot.h"

namespace tavrix::bookbuild {
namespace {

constexpr int DEFAULT_POLYGLOT_PLY = MAX_WALK_PLIES;
constexpr int EXIT_USAGE = 2;

int Usage() {
    std::fprintf(stderr,
                 "usage: tavrix-book build OUTPUT [options] INPUT...\n"
                 "         INPUT: PGN files, or Polyglot books (.bin)\n"
                 "         --max-ply N       PGN plies taken per game (default 24, at most %d)\n"
                 "         --min-games N     games a PGN move needs (default 1)\n"
                 "         --winners-only    only the moves of the side that won\n"
                 "         --polyglot-ply N  depth of the walk through a Polyglot book (default %d)\n"
                 "       tavrix-book show BOOK [FEN]\n",
                 MAX_WALK_PLIES, DEFAULT_POLYGLOT_PLY);
    return EXIT_USAGE;
}

bool EndsWith(const std::string& text, const char* suffix) {
    const size_t n = std::strlen(suffix);
    return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

bool ReadCount(const char* text, int& value) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < 0 || v > 1000000) return false;
    value = static_cast<int>(v);
    return true;
}

int Build(int argc, char** argv) {
    if (argc < 4) return Usage();
    const std::string output = argv[2];
    BookBuilder builder;
    PgnOptions pgn;
    int polyglotPly = DEFAULT_POLYGLOT_PLY;
    std::vector<std::string> inputs;
    for (int i = 3; i < argc; ++i) {
        const std::string a = argv[i];
        int value = 0;
        if (a == "--winners-only") pgn.winnersOnly = true;
        else if ((a == "--max-ply" || a == "--min-games" || a == "--polyglot-ply") && i + 1 < argc && ReadCount(argv[i + 1], value)) {
            if (a == "--max-ply") pgn.maxPly = value;
            else if (a == "--min-games") builder.minGames = static_cast<uint32_t>(value);
            else polyglotPly = value;
            ++i;
        } else if (a.rfind("--", 0) == 0) return Usage();
        else inputs.push_back(a);
    }
    if (inputs.empty()) return Usage();
    // A large PGN takes minutes: the games read so far go to standard error.
    pgn.progress = stderr;
    pgn.progressInPlace = isatty(fileno(stderr)) != 0;
    for (const std::string& input : inputs) {
        if (EndsWith(input, ".bin")) {
            std::vector<PolyglotEntry> entries;
            if (!ReadPolyglotFile(input, entries)) {
                std::fprintf(stderr, "tavrix-book: cannot read %s\n", input.c_str());
                return EXIT_FAILURE;
            }
            const PolyglotImport r = ImportPolyglot(builder, entries, polyglotPly);
            std::printf("%s: %zu entries, %d positions and %d moves reached from the start, %d moves not legal\n",
                        input.c_str(), entries.size(), r.positions, r.moves, r.skipped);
        } else {
            PgnImport r;
            if (!ImportPgnFile(builder, input, pgn, stderr, r)) {
                std::fprintf(stderr, "tavrix-book: cannot read %s\n", input.c_str());
                return EXIT_FAILURE;
            }
            std::printf("%s: %d games, %d rejected, %d moves\n", input.c_str(), r.games, r.rejected, r.moves);
        }
    }
    const std::vector<BookRecord> records = FinishBook(builder);
    if (!WriteBookFile(output, records)) {
        std::fprintf(stderr, "tavrix-book: cannot write %s\n", output.c_str());
        return EXIT_FAILURE;
    }
    std::printf("%s: %zu records\n", output.c_str(), records.size());
    return EXIT_SUCCESS;
}

int Show(int argc, char** argv) {
    if (argc < 3) return Usage();
    std::string fen = START_FEN;
    if (argc > 3) {
        fen.clear();
        for (int i = 3; i < argc; ++i) fen += std::string(i > 3 ? " " : "") + argv[i];
    }
    static Position p;
    if (!SetUpFen(p, fen.c_str())) {
        std::fprintf(stderr, "tavrix-book: cannot set up the FEN \"%s\"\n", fen.c_str());
        return EXIT_FAILURE;
    }
    if (OpenBook(argv[2]) == 0) {
        std::fprintf(stderr, "tavrix-book: cannot open the book %s\n", argv[2]);
        return EXIT_FAILURE;
    }
    std::printf("book %s: %d records%s\n", argv[2], Book.count, Book.writable ? "" : " (read-only)");
    std::printf("position %s: key %08x check %02x\n", fen.c_str(), BookKey(p), BookCheck(p));
    const BookFind find = FindBookKey(BookKey(p));
    int shown = 0;
    for (int32_t i = find.windowPos; find.found && i < Book.windowEnd && Book.window[i].key == BookKey(p); ++i) {
        const BookRecord& r = Book.window[i];
        if (CheckByteOf(r) != BookCheck(p)) continue;
        const Move move = FindLegalMove(p, MoveFrom(r.move), MoveTo(r.move), NO_PIECE);
        std::printf("  %-6s static %d  learned %2d%s%s%s\n", MoveName(r.move & BookBits::SQUARES).c_str(), StaticWeightOf(r),
                    LearnedWeightOf(r), (r.learning & BookBits::LEARNED_GOOD) ? "  good" : "",
                    (r.learning & BookBits::LEARNED_BAD) ? "  bad" : "", move == NO_MOVE ? "  (not legal here)" : "");
        ++shown;
    }
    if (shown == 0) std::printf("  no book moves\n");
    CloseBook();
    return EXIT_SUCCESS;
}

}  // namespace
}  // namespace tavrix::bookbuild

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "build") == 0) return tavrix::bookbuild::Build(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "show") == 0) return tavrix::bookbuild::Show(argc, argv);
    return tavrix::bookbuild::Usage();
}
