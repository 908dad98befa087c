// Test-only position loader for the king and pawn terms: FEN board, side and castling
// rights, set up through the board's own set-up, with the evaluation state prepared.
#pragma once

#include <cctype>
#include <cstring>
#include <memory>
#include <string>

#include "board/position.h"
#include "eval/evaluate.h"

namespace tavrix::testing_support {

inline int SquareOf(const char* name) { return (name[1] - '1') * 8 + (name[0] - 'a'); }

// Places the pieces of "board side [castling]" and runs the set-up. Returns false on bad input
// or when the set-up refuses the position.
inline bool PlacePieces(Position& pos, const std::string& fen) {
    std::memset(&pos, 0, sizeof pos);
    for (int sq = 0; sq < 64; ++sq) pos.pieceColour[sq] = EMPTY_COLOUR;
    int rank = 7, file = 0;
    size_t i = 0;
    for (; i < fen.size() && fen[i] != ' '; ++i) {
        const char c = fen[i];
        if (c == '/') {
            --rank;
            file = 0;
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            file += c - '0';
        } else {
            const char* p = std::strchr(PIECE_LETTERS, c);
            if (p == nullptr || file > 7 || rank < 0) return false;
            const int index = static_cast<int>(p - PIECE_LETTERS);
            const int sq = rank * 8 + file++;
            pos.pieceType[sq] = static_cast<uint8_t>(index > 6 ? index - 6 : index);
            pos.pieceColour[sq] = static_cast<uint8_t>(index > 6 ? BLACK : WHITE);
        }
    }
    const int side = (i + 1 < fen.size() && fen[i + 1] == 'b') ? BLACK : WHITE;
    uint32_t flags = 0;
    const size_t castling = fen.find(' ', i + 1);
    if (castling != std::string::npos) {
        for (size_t j = castling + 1; j < fen.size() && fen[j] != ' '; ++j) {
            if (fen[j] == 'K') flags |= CastleFlag::WHITE_KING_SIDE;
            if (fen[j] == 'Q') flags |= CastleFlag::WHITE_QUEEN_SIDE;
            if (fen[j] == 'k') flags |= CastleFlag::BLACK_KING_SIDE;
            if (fen[j] == 'q') flags |= CastleFlag::BLACK_QUEEN_SIDE;
        }
    }
    return SetUpPosition(pos, side, flags) != 0;
}

// A position with the evaluation prepared for a search from it (root side = side to move).
struct Board {
    std::unique_ptr<Position> pos = std::make_unique<Position>();
    bool ok = false;

    explicit Board(const std::string& fen, EvalOptions options = {}) {
        ResetEvalState();
        ok = PlacePieces(*pos, fen);
        if (!ok) return;
        PrepareEvaluation(*pos, pos->sideToMove, options);
        UpdatePhase(*pos);
        RefreshPawnFiles(*pos);
        ClearMarks();
    }
    void ClearMarks() {
        UndoTop(*pos).checkFlag &= IN_CHECK_FLAG;
        for (int c = 0; c < 2; ++c) Eval.largestThreat[c] = Eval.secondThreat[c] = 0;
    }
    uint16_t Flags() const { return UndoTop(*pos).checkFlag; }
    Position& operator*() { return *pos; }
};

// The colour-flipped FEN: ranks mirrored, colours exchanged, side to move swapped.
inline std::string FlipFen(const std::string& fen) {
    const size_t space = fen.find(' ');
    const std::string board = fen.substr(0, space);
    std::string ranks[8];
    int r = 0;
    for (char c : board) {
        if (c == '/') ++r;
        else ranks[r] += std::isalpha(static_cast<unsigned char>(c)) ? static_cast<char>(std::isupper(c) ? std::tolower(c) : std::toupper(c)) : c;
    }
    std::string out;
    for (int k = 7; k >= 0; --k) out += ranks[k] + (k ? "/" : "");
    const char side = (space != std::string::npos && fen[space + 1] == 'b') ? 'w' : 'b';
    out += ' ';
    out += side;
    const size_t castling = space == std::string::npos ? std::string::npos : fen.find(' ', space + 1);
    if (castling != std::string::npos) {
        out += ' ';
        for (size_t j = castling + 1; j < fen.size() && fen[j] != ' '; ++j)
            out += static_cast<char>(std::isupper(static_cast<unsigned char>(fen[j])) ? std::tolower(fen[j]) : std::toupper(fen[j]));
    }
    return out;
}

}  // namespace tavrix::testing_support
