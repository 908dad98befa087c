// Position set-up from protocol text: the game board, the FEN reader, move texts.
#pragma once

#include <cstdint>

#include "board/position.h"

namespace tavrix {

// Set-up flag word handed to SetUpPosition.
namespace SetupFlag {
constexpr uint32_t EP_SQUARE_MASK = 0x3F;
constexpr uint32_t EP_GIVEN = 0x800;
constexpr uint32_t WHITE_KING_SIDE = 0x200;
constexpr uint32_t WHITE_QUEEN_SIDE = 0x400;
constexpr uint32_t BLACK_KING_SIDE = 0x1000;
constexpr uint32_t BLACK_QUEEN_SIDE = 0x2000;
constexpr uint32_t ROOK_FILES = 0x4000;
constexpr uint32_t WHITE_KING_FILE = 0x08000000;   // file in bits 24..26
constexpr uint32_t WHITE_QUEEN_FILE = 0x80000000;  // file in bits 28..30
constexpr uint32_t BLACK_KING_FILE = 0x00080000;   // file in bits 16..18
constexpr uint32_t BLACK_QUEEN_FILE = 0x00800000;  // file in bits 20..22
constexpr uint32_t ALL_RIGHTS = 0x3600;
}  // namespace SetupFlag

constexpr int STANDARD_START = 2;       // side value asking SetUpPosition for the start array
constexpr int FEN_TEXT_SIZE = 128;
constexpr int MOVE_TEXT_SIZE = 6;       // "e7e8q" and its terminator

// The hand-over from the FEN reader to the board builder.
struct PieceEntry {
    uint8_t square;
    uint8_t type;
    uint8_t colour;
};
struct PieceList {
    int32_t count;
    PieceEntry pieces[64];
    int32_t fullMove;
    int32_t side;
};

// The protocol layer's game: the one Position (its board arrays are the game board) and
// what set-up keeps beside it.
struct GameBoardState {
    Position position;
    int32_t engineColour;
    bool fromFen;
    char startFen[FEN_TEXT_SIZE];   // the FEN of the set-up position, for the game's PGN
};

extern GameBoardState GameBoard;

// An empty game (no position set up).
void ResetGameBoard();

// The standard start position with all four castling rights.
void NewGame();

// Reads the text behind "fen". Returns 1 when a position was set up (or the text named no
// two kings, which changes nothing), 0 when the text was refused; a refusal changes nothing.
int ReadFen(const char* text);

// The first stage of ReadFen: the text into a piece list and a set-up flag word.
// Returns false for a refused text; `kingsFound` tells whether both kings were named.
bool ParseFen(const char* text, PieceList& list, uint32_t& flags, bool& kingsFound, char* normalised);

// Builds the game board from a piece list; 0 when the position is refused (nothing changed).
int BuildBoard(const PieceList& list, uint32_t flags);

// One move token in coordinate or short algebraic form for the side to move of `p`;
// NO_MOVE when unreadable. The caller tests legality.
Move ParseMoveText(const Position& p, const char* token);
inline Move ParseMoveText(const char* token) { return ParseMoveText(GameBoard.position, token); }

// Coordinate text of a move: "e2e4", "e7e8q"; Chess960 castling as king to own rook.
void MoveToText(Move move, char out[MOVE_TEXT_SIZE]);

// Parses, validates and records one move token on the game board; 1 when it was made.
int PlayMoveText(const char* token);
// Plays every space-separated token of `text`, skipping unreadable or illegal ones.
// Returns the number of moves made.
int PlayMoveList(const char* text);

}  // namespace tavrix
