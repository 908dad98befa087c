// Test positions from FEN text: the engine's own FEN reader fills a caller's Position
// (not the game board), and the colour-flipped twin of a FEN for symmetry tests.
#pragma once

#include <cctype>
#include <cstring>
#include <sstream>
#include <string>

#include "board/position.h"
#include "control/setup.h"

namespace tavrix::testing_support {

// Sets p up from "board side [castling [en-passant [clocks]]]"; missing fields read as "-".
// False when the reader or the set-up refuses the text, or a king is missing.
inline bool LoadFen(Position& p, const std::string& fen) {
    std::istringstream words(fen);
    std::string word, text = fen;
    int fields = 0;
    while (words >> word) ++fields;
    for (; fields < 4; ++fields) text += " -";
    PieceList list{};
    uint32_t flags = 0;
    bool kingsFound = false;
    char normalised[FEN_TEXT_SIZE] = "";
    if (!ParseFen(text.c_str(), list, flags, kingsFound, normalised) || !kingsFound) return false;
    std::memset(&p, 0, sizeof p);
    for (int sq = 0; sq < 64; ++sq) p.pieceColour[sq] = EMPTY_COLOUR;
    for (int i = 0; i < list.count; ++i) {
        const PieceEntry& e = list.pieces[i];
        p.pieceType[e.square] = e.type;
        p.pieceColour[e.square] = e.colour;
    }
    return SetUpPosition(p, list.side, flags);
}

// The colour-flipped FEN: ranks mirrored, colours and castling letters exchanged, side to
// move swapped. The en passant field and the clocks are dropped.
inline std::string FlipFen(const std::string& fen) {
    auto swapCase = [](char c) {
        const unsigned char u = static_cast<unsigned char>(c);
        return static_cast<char>(std::isupper(u) ? std::tolower(u) : std::toupper(u));
    };
    std::istringstream words(fen);
    std::string board, side, castling;
    words >> board >> side >> castling;
    std::string ranks[8];
    int r = 0;
    for (const char c : board) {
        if (c == '/') ++r;
        else if (r < 8) ranks[r] += swapCase(c);
    }
    std::string out;
    for (int k = 7; k >= 0; --k) out += ranks[k] + (k ? "/" : "");
    out += side == "b" ? " w" : " b";
    if (!castling.empty()) {
        out += ' ';
        for (const char c : castling) out += c == '-' ? c : swapCase(c);
    }
    return out;
}

}  // namespace tavrix::testing_support
