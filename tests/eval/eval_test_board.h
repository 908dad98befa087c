// Evaluation test positions from FEN text (board, side to move and castling rights).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "board/position.h"

namespace tavrix::evaltest {

inline int PieceIndex(char ch) {
    for (int i = 1; i < 13; ++i) {
        if (PIECE_LETTERS[i] == ch) return i;
    }
    return 0;
}

// Builds the position of a FEN (board, side to move, castling field; the rest ignored).
inline Position MakePosition(const std::string& fen) {
    Position p;
    std::memset(&p, 0, sizeof p);
    for (int sq = 0; sq < 64; ++sq) p.pieceColour[sq] = EMPTY_COLOUR;
    for (auto& row : p.slotSquare) {
        for (auto& s : row) s = NO_SQUARE;
    }
    size_t i = 0;
    int rank = 7, file = 0;
    for (; i < fen.size() && fen[i] != ' '; ++i) {
        const char ch = fen[i];
        if (ch == '/') {
            --rank;
            file = 0;
        } else if (ch >= '1' && ch <= '8') {
            file += ch - '0';
        } else {
            const int idx = PieceIndex(ch);
            const int sq = MakeSquare(file, rank);
            p.pieceType[sq] = static_cast<uint8_t>(idx > 6 ? idx - 6 : idx);
            p.pieceColour[sq] = static_cast<uint8_t>(idx > 6 ? BLACK : WHITE);
            ++file;
        }
    }
    p.sideToMove = (i + 1 < fen.size() && fen[i + 1] == 'b') ? BLACK : WHITE;
    std::string castling;
    {
        size_t j = fen.find(' ', i + 1);
        if (j != std::string::npos) {
            size_t k = fen.find(' ', j + 1);
            castling = fen.substr(j + 1, k == std::string::npos ? std::string::npos : k - j - 1);
        }
    }

    uint32_t flags = 0;
    if (castling.find('K') != std::string::npos) flags |= CastleFlag::WHITE_KING_SIDE;
    if (castling.find('Q') != std::string::npos) flags |= CastleFlag::WHITE_QUEEN_SIDE;
    if (castling.find('k') != std::string::npos) flags |= CastleFlag::BLACK_KING_SIDE;
    if (castling.find('q') != std::string::npos) flags |= CastleFlag::BLACK_QUEEN_SIDE;
    SetUpPosition(p, p.sideToMove, flags);
    // The search's root sits in the second record, with the set-up record below it.
    p.undoStack[1] = p.undoStack[0];
    p.undoStack[1].move = SENTINEL_MOVE;
    p.undoTop = 1;
    return p;
}

// The FEN of the colour-flipped twin: board mirrored top to bottom, colours and the side
// to move exchanged, castling rights exchanged.
inline std::string FlipFen(const std::string& fen) {
    const size_t sp = fen.find(' ');
    const std::string board = fen.substr(0, sp);
    std::string ranks[8];
    int r = 0;
    for (char ch : board) {
        if (ch == '/') ++r;
        else ranks[r] += ch;
    }
    std::string out;
    for (int k = 7; k >= 0; --k) {
        for (char ch : ranks[k]) {
            if (ch >= 'a' && ch <= 'z') out += char(ch - 'a' + 'A');
            else if (ch >= 'A' && ch <= 'Z') out += char(ch - 'A' + 'a');
            else out += ch;
        }
        if (k) out += '/';
    }
    const bool white = sp != std::string::npos && fen[sp + 1] == 'w';
    out += white ? " b " : " w ";
    std::string castling = "-";
    const size_t c0 = fen.find(' ', sp + 1);
    if (c0 != std::string::npos) {
        const size_t c1 = fen.find(' ', c0 + 1);
        castling = fen.substr(c0 + 1, c1 == std::string::npos ? std::string::npos : c1 - c0 - 1);
    }
    std::string flipped;
    for (char ch : std::string("KQkq")) {
        const char from = ch >= 'a' ? char(ch - 'a' + 'A') : char(ch - 'A' + 'a');
        if (castling.find(from) != std::string::npos) flipped += ch;
    }
    out += flipped.empty() ? "-" : flipped;
    return out;
}

}  // namespace tavrix::evaltest
