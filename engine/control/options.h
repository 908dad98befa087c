// The option lines of "uci", "setoption", and the defaults loaded at start-up.
#pragma once

namespace tavrix {

// Flag word, threat depth, forward pruning, tablebase depth, draw value and the limits of "go".
void LoadDefaults();
// The option lines printed by "uci", UCI_EngineAbout last.
void PrintOptions();
// One "setoption": takes the text behind "name". Unknown names and bad values are ignored.
void SetOption(const char* cursor);

// Names of the style fields; out-of-range fields give an empty name.
const char* PlayingStyleName(int style);
const char* BookStyleName(int style);

}  // namespace tavrix
