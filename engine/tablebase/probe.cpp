// Tablebase probing. No tablebase files are read yet, so every position is "not found";
// the evaluation keeps its probe conditions and call site.
#include "eval/evaluate.h"

namespace tavrix {

TablebaseResult ProbeTablebase(const Position&, Colour) { return TablebaseResult{false, 0}; }

}  // namespace tavrix
