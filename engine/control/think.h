// Think control: one search from "go" to "bestmove", the clock and input check, pondering.
#pragma once

#include <cstdint>

namespace tavrix {

// The search's clock and input check; keepRate forbids updating the node rate.
// Returns the elapsed milliseconds.
int32_t TimeCheck(bool keepRate);
// Switches a running ponder search to normal thinking; ponderTime: the time spent pondering.
void Ponderhit(int32_t ponderTime);

}  // namespace tavrix
