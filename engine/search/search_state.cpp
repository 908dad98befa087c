#include "search/search_state.h"

namespace tavrix {

SearchState Search;

void ResetSearchState() { Search = SearchState{}; }

}  // namespace tavrix
