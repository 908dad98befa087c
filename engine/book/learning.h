// Position learning: positions where the engine's own search changed its mind strongly are
// kept as permanent transposition-table entries and carried across runs in a file.
#pragma once

#include <cstdint>

#include "board/position.h"
#include "search/ttable.h"

namespace tavrix {

constexpr const char LEARNING_FILE[] = "Tavrix11.lrn";
constexpr int32_t LEARNING_CAPACITY = 4096;          // records the file holds at most
constexpr int32_t LEARNING_RECORD_SIZE = 16;         // a TTEntry, verbatim
constexpr uint16_t LEARNED_SIDE_BIT = 0x4000;        // in the file only: the table half
constexpr uint16_t LEARNED_USE_START = 0x4000;       // use counter of a fresh learned entry
constexpr int32_t LEARNING_PLY_WINDOW = 50;          // plies past the anchor that still learn
constexpr int32_t LEARNING_MARGIN = 48;              // score movement that is worth keeping
static_assert(sizeof(TTEntry) == LEARNING_RECORD_SIZE);

struct LearningState {
    TTEntry buffer[LEARNING_CAPACITY];  // the merge of file and table while saving
    int32_t count;
    bool changed;                       // a learned entry was stored since the last load or save
};

extern LearningState Learning;

void ResetLearningState();

// Whether a record read from a file can be a learned entry at all: permanent, with a bound
// and a score in range. Anything else (random bytes, a foreign file) is skipped.
bool IsLearnedRecord(const TTEntry& record);

// Stores every learned record of the file into the table (use counter cut to three
// quarters); a missing or unreadable file counts as empty. Clears the changed flag.
void LoadLearning(const char* path = LEARNING_FILE);
// Merges the table's permanent entries into the file's records and replaces the file as a
// whole. Clears the changed flag.
void SaveLearning(const char* path = LEARNING_FILE);
// Merges one permanent table entry of half `side` into the buffer.
void AddLearnedEntry(Colour side, const TTEntry& entry);

// Whether a search whose best score ranged over lowest..highest and ended at `final` moved
// enough to be learned.
bool ScoreMovedEnough(int32_t final, int32_t lowest, int32_t highest);
// Stores the root position `pos` (side to move `side`) as a learned entry. `depth` is the
// depth reached and `boundKind` the root result kind.
void StoreLearnedPosition(Colour side, const Position& pos, int32_t score, Move move, int32_t depth,
                          int32_t boundKind);

}  // namespace tavrix
