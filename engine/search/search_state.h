// The process-wide variables of the running search.
#pragma once

#include <cstdint>

namespace tavrix {

struct SearchState {
    uint64_t nodes;          // one per make and per null move
    uint8_t tableAge;        // transposition-table generation, 1..7
    uint32_t hashfull;       // entries of another age refreshed or overwritten this search
};

extern SearchState Search;

void ResetSearchState();

}  // namespace tavrix
