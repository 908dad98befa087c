// Temporary until eval-material and eval-king-pawn land (and the tablebase probe); removed at merge.
#include "eval/evaluate.h"

namespace tavrix {

// eval-king-pawn
int32_t EvaluateKings(Position&) { return 0; }
int32_t EvaluateThreats(Position&) { return 0; }
int32_t EvaluatePawns(Position&, int32_t, int32_t) { return 0; }


}  // namespace tavrix
