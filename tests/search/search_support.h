// Set-up shared by the search tests: every search-related record back to a clean state.
#pragma once

#include <cstdint>

namespace tavrix {

// Every search-related record back to its initial state, with a table of `hashKb`.
bool ResetForSearchTest(int32_t hashKb);
// "Clear Hash".
void ClearTableForTest();
// Empties every entry (learned ones too), as Clear Hash does on a table without learned
// positions, including the move-depth words that Clear Hash leaves behind.
void EmptyTableForTest();
void FreeTableForTest();

}  // namespace tavrix
