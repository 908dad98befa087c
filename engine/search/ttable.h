// Transposition table: two halves (White to move, Black to move) of 16-byte entries
// in buckets of four.
#pragma once

#include <cstdint>

namespace tavrix {

// Sizes the table (and the evaluation cache carved from the same request) to at most
// `kilobytes`, halving on allocation failure. Returns the kilobytes obtained, 0 on failure.
int32_t ResizeHashTable(int32_t kilobytes);
// "Clear Hash": empties every entry except learned (permanent) ones and resets the
// move-ordering statistics.
void ClearHashTable();
// Releases both halves; the hash size becomes 0.
void FreeHashTable();

}  // namespace tavrix
