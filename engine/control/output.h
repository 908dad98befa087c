// Search output: the info lines, "bestmove" and the score and move notation on the wire.
#pragma once

#include <cstdint>

#include "search/root.h"

namespace tavrix {

// The PV line(s) after a new best move, when output is due: with MultiPV 1 one line for
// entry 0 with the root result's bound kind; otherwise one line per MultiPV entry.
void PrintPvLines(const RootMoveList& list, int32_t boundKind, int32_t depth);

}  // namespace tavrix
