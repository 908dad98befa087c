// The option lines of "uci", "setoption", and the defaults loaded at start-up.
#pragma once

#include <cstdint>

namespace tavrix {

// Flag word, threat depth, forward pruning, tablebase depth, draw value and the limits of "go".
void LoadDefaults();
// The option lines printed by "uci", UCI_EngineAbout last.
void PrintOptions();
// One "setoption": takes the text behind "name". Unknown names and bad values are ignored.
void SetOption(const char* cursor);

// Sizes the transposition table and, with "Position Learning" on, loads the learned positions
// into it again (those learned since the last save are saved first, so a resize keeps them). Returns the kilobytes obtained, 0 when no table could be allocated.
int32_t AllocateHashTable(int32_t kilobytes);

// Names of the style fields; out-of-range fields give an empty name.
const char* PlayingStyleName(int style);
const char* BookStyleName(int style);

}  // namespace tavrix
