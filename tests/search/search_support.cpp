#include "search/search_support.h"

#include "board/movegen.h"
#include "search/ordering.h"
#include "search/repetition.h"
#include "search/search_state.h"
#include "search/ttable.h"

namespace tavrix {

void ResetEvalState();

bool ResetForSearchTest(int32_t hashKb) {
    ResetSearchState();
    ResetEvalState();
    ResetRepetitionState();
    ResetOrderingState();
    ResetMoveLists();
    ResetTTState();
    return ResizeHashTable(hashKb) > 0;
}

void ClearTableForTest() { ClearHashTable(); }
void FreeTableForTest() { FreeHashTable(); }

}  // namespace tavrix
