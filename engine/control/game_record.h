// The game record: one 32-byte entry per ply of the game played on the game board.
#pragma once

#include <cstdint>

#include "board/game_entry.h"
#include "board/position.h"

namespace tavrix {

constexpr int MAX_GAME_PLIES = 397;       // beyond this the record is re-based
constexpr int GAME_RECORD_SIZE = MAX_GAME_PLIES + 4;

struct GameRecordState {
    GameEntry entries[GAME_RECORD_SIZE];
    int32_t length;           // index of the current (last) entry
    int32_t gameCounter;
    int32_t plyOffset;        // plies played before the set-up position
    bool ended;               // the game has been ended; the next set-up starts another
};

constexpr const char AUTOSAVE_FILE[] = "AutoSave.pgn";
constexpr const char ENGINE_PLAYER_NAME[] = "Player";
constexpr int SAN_TEXT_SIZE = 8;          // "Qa1xb2+" and "O-O-O+" with the terminator
constexpr int PGN_TEXT_SIZE = 65536;      // one whole game: headers, settings and 397 plies
constexpr int PGN_LINE_FLUSH = 60;        // movetext lines end once they pass this length
constexpr int32_t NO_ENGINE_COLOUR = -1;

const char* ResultText(int32_t result);

// Result thresholds on the engine's last score, from White's view.
constexpr int32_t WIN_SCORE = 256;
constexpr int32_t DRAW_SCORE = 96;

struct GameVerdict {
    int32_t result;           // GameResult code
    int32_t engineColour;     // NO_ENGINE_COLOUR when unknown
    uint16_t gameEnd;         // EntryFlag::CHECKMATE or STALEMATE when the final position is one, else 0
};

extern GameRecordState GameRecord;

void ResetGameRecord();

// Starts a record for a freshly set-up position: the sentinel entry alone.
void StartGameRecord(const Position& p, int32_t plyOffset);

// Makes `move` on the game position and appends its entry. Returns 0 (and takes the move back)
// when it leaves the mover's king attacked, else 1.
int RecordMove(Position& p, Move move);

// The engine's last move: the entry after the current one, when its search started from the
// current position and left a usable score.
bool HasEngineLastMove();
// The last entry of the game: the engine's last move when it has one, else the current entry.
int32_t LastGamePly();
// Judges the result: a final position that is mate or stalemate decides it, else the engine's
// last score does.
GameVerdict JudgeGame();
// The game has ended: judges it, runs book learning, counts it and appends it to `path`
// when "AutoSave PGN" is on and it has more than two plies. A game ends only once; one
// without a move is neither counted nor saved.
void EndGame(const char* path = AUTOSAVE_FILE);
// The whole game in PGN into `out`; returns its length (0 when it does not fit).
int32_t FormatGame(char* out, int32_t capacity, int32_t engineColour, int32_t result);
// Appends the game to `path` in one write; false when the file could not take it.
bool WriteGame(const char* path, int32_t engineColour, int32_t result);
// The PGN notation of one entry's move.
void SanText(const GameEntry& entry, char out[SAN_TEXT_SIZE]);

// The undo data of an entry as the make/unmake record it came from.
PlyRecord PlyRecordOf(const GameEntry& entry);

}  // namespace tavrix
