// PGN import: tags, comments, variations and NAGs are skipped; each game's moves up to the
// maximum ply are tallied for the book, a game with an unreadable move is rejected whole.
#pragma once

#include <cstdio>
#include <string>

#include "bookbuild/builder.h"

namespace tavrix::bookbuild {

struct PgnOptions {
    int maxPly = 24;
    bool winnersOnly = false;   // keep only the moves of the side that won
    // Games read so far, reported while a file is read and once at its end (null: silent).
    // On a terminal one line is rewritten in place; elsewhere each report is a line of its own.
    FILE* progress = nullptr;
    bool progressInPlace = false;
};

constexpr int PROGRESS_GAMES = 10000;          // games between two reports as lines
constexpr int PROGRESS_GAMES_IN_PLACE = 1000;  // games between two rewrites of the line

struct PgnImport {
    int games = 0;       // games taken into the book
    int rejected = 0;    // games refused (reported on `errors`)
    int moves = 0;       // moves tallied
};

// The legal move a SAN (or coordinate) token names in p; NO_MOVE when none or ambiguous.
Move ParseSan(Position& p, const std::string& token);
// Imports the PGN text; `name` labels the error lines written to `errors` (may be null).
PgnImport ImportPgnText(BookBuilder& b, const std::string& text, const std::string& name, const PgnOptions& options,
                        FILE* errors);
bool ImportPgnFile(BookBuilder& b, const std::string& path, const PgnOptions& options, FILE* errors, PgnImport& result);

}  // namespace tavrix::bookbuild
