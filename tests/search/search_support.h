// Set-up shared by the search tests (kept apart from the table header, whose score
// constants collide with the evaluation's).
#pragma once

#include <cstdint>

namespace tavrix {

// Every search-related record back to its initial state, with a table of `hashKb`.
bool ResetForSearchTest(int32_t hashKb);
// "Clear Hash".
void ClearTableForTest();
void FreeTableForTest();

}  // namespace tavrix
