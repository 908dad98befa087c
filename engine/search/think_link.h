// What a search asks of the think controller that runs it. The controller sits above the
// search, so the search only declares these calls; control defines them. None is on the node
// path: they run when the poll countdown ends, at root moves and once per search.
#pragma once

#include <cstdint>

#include "board/position.h"

namespace tavrix {

// The clock-and-input check when the poll countdown runs out. False when no think
// controller runs this search (a bare search polls nothing).
bool PollThink();
// Whether the search's output level lets it print during this think.
bool OutputAllowed();
// Ends the think with `reason` (the search unwinds once its stop reason is set).
void StopThink(uint8_t reason);
// The longest the controller may think on this move, ms.
int32_t ThinkMaximumTime();
// The book's move for the root position among the generated moves [begin, end), or NO_MOVE
// when the book has none or this think must not play from it.
Move RootBookMove(Position& pos, ScoredMove* begin, ScoredMove* end);

}  // namespace tavrix
