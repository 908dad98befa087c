#include "search/search_state.h"

namespace tavrix {

SearchState Search;

void ResetSearchState() {
    Search = SearchState{};
    Search.tableAge = 1;  // 0 would make a stored flags word look empty
}

}  // namespace tavrix
