// Tablebase generation by retrograde analysis in the engine's own index numbering: every
// slot of a class's tables gets its distance to mate, captures and promotions leading into
// smaller classes that are generated first.
#pragma once

#include <cstdint>
#include <vector>

#include "tablebase/index.h"

namespace tavrix {
// The catalogue index of a class named like "kqk"; 0 when there is none.
int FindTablebaseClass(const char* name);
}  // namespace tavrix

namespace tavrix::tbgen {

// Slot values while generating: +p a win in p plies, -(p + 1) a loss in p plies, 0 a draw,
// BROKEN an illegal or unused slot.
constexpr int16_t BROKEN = INT16_MIN;

struct ClassTables {
    int classIndex = 0;
    int tableCount = 0;                       // 1 for a class whose sides share a table
    std::vector<int16_t> value[2];
    int longestMate = 0;                      // moves
};

// A legal position of a class: squares by owner (0 the class's first side) and side to move.
struct GenPosition {
    int8_t type[64];
    int8_t owner[64];
    int side;
    int ep;                                   // passed square or TB_NO_EP
};

// What the generator is working on, for a progress display. A class's captures and
// promotions lead into smaller classes, which are generated inside it when first needed
// (`depth` counts the classes open).
struct Progress {
    enum Stage { START, SETUP, RETROGRADE, DONE };
    Stage stage;
    int classIndex;
    int depth;
    uint64_t done, total;                     // slots scanned (setup), or the pass's work
    int pass;                                 // retrograde pass: the distance in plies
    uint64_t used;                            // slots that hold a position (known after setup)
    uint64_t decided;                         // of them, slots whose value is final
};
using ProgressHandler = void (*)(const Progress&);
// Called now and then while generating; none by default.
void SetProgressHandler(ProgressHandler handler);

// Generates a class (and what it depends on); the result stays cached for the process.
const ClassTables& GenerateClass(int classIndex);
// Value of a position of any class from the generated tables (generating as needed); the
// position's pieces are owned 0 = White, 1 = Black, White's pawns moving up.
int16_t LookUpPosition(const GenPosition& p);
// Writes the tables of a class as ".nbw"/".nbb" into a directory, or compressed as
// ".nbw.emd"/".nbb.emd"; false on a write error.
bool WriteTables(const ClassTables& t, const char* directory, bool compressed = false);
// The longest distances, in moves, one byte holds; longer ones take two bytes a position.
constexpr int ONE_BYTE_LONGEST_WIN = 127;
constexpr int ONE_BYTE_LONGEST_LOSS = 126;
// Stored value of a slot as the probe decodes it: a signed byte, or a 16-bit value when wide.
int32_t EncodedValue(int16_t v, bool wide);
// True when some slot's distance does not fit in one byte: the tables are written two bytes
// a position (a class that is not split reads either).
bool NeedsWideValues(const ClassTables& t);
// Mate distance in moves of a slot value seen from the side to move: > 0 mates, < 0 is mated,
// 0 draw; `found` false for a broken slot or a position already mated.
int32_t MovesOf(int16_t v, bool& found);
// Slots of a generated class whose value is not the one its best move proves (0 when the
// tables are consistent).
uint64_t InconsistentSlots(int classIndex);
// The placement of a used slot as a FEN text (White the class's first side).
bool SlotFen(int classIndex, int side, uint64_t index, char* fen, int capacity);
// Drops every cached class.
void ResetGenerator();

}  // namespace tavrix::tbgen
