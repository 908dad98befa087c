#include "search/search_state.h"

namespace tavrix {

thread_local constinit SearchState Search{};

void ResetSearchState() {
    Search = SearchState{};
    Search.tableAge = 1;  // 0 would make a stored flags word look empty
    Search.pollCountdown = DEFAULT_POLL_INTERVAL;
    Search.searchFlags = SearchOption::DEFAULT_FLAGS;
    Search.pruningThreshold = DEFAULT_PRUNING_THRESHOLD;
    Search.threatDepth = DEFAULT_THREAT_DEPTH;
}

}  // namespace tavrix
