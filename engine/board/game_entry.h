// One ply of a played game as the game record keeps it and book learning reads it.
#pragma once

#include <cstdint>

#include "board/position.h"

namespace tavrix {

// One ply of the game: the move's undo data (so a game move can be taken back), the SAN
// disambiguation code, and what time management books for it.
struct GameEntry {
    uint16_t move;            // bit 15 set when the move gives check
    uint8_t capturedSlot;     // slot index of the captured piece, NO_CAPTURED_SLOT when none
    uint8_t capturedType;
    uint8_t mover;
    uint8_t toSquareCount;
    uint8_t epSquare;         // before the move
    uint8_t sanCode;          // piece type in bits 0..2, SAN_FILE, SAN_RANK
    uint16_t irreversiblePly; // before the move
    uint8_t swingByte;
    uint8_t gainByte;
    uint32_t keyLow;          // before the move
    uint32_t keyHigh;
    int32_t clockTime;        // mover's cumulative clock, ms
    int16_t score;
    uint16_t depthWord;       // depth in bits 10..15
    uint16_t flags;
    uint16_t learning;        // written and read by book learning only
};
static_assert(sizeof(GameEntry) == 32);

constexpr uint8_t NO_CAPTURED_SLOT = 0xFF;
constexpr uint8_t SAN_FILE = 0x08;
constexpr uint8_t SAN_RANK = 0x10;

namespace EntryFlag {
constexpr uint16_t SCORE_USABLE = 0x10;
constexpr uint16_t BOOK_MOVE = 0x2000;
constexpr uint16_t CHECKMATE = 0x580;
constexpr uint16_t STALEMATE = 0xC80;
constexpr uint16_t GAME_END_MASK = 0x0F00;
}  // namespace EntryFlag

constexpr int FIRST_ENTRY = 1;            // the set-up sentinel; the first move is entry 2
// Result codes as book learning takes them.
namespace GameResult {
constexpr int32_t OPEN = 0;       // "*"
constexpr int32_t DRAW = 1;       // "1/2-1/2"
constexpr int32_t WHITE_WON = 2;  // "1-0"
constexpr int32_t BLACK_WON = 3;  // "0-1"
}  // namespace GameResult
}  // namespace tavrix
