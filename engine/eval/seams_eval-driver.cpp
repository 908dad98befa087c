// Temporary until eval-material and eval-king-pawn land (and the tablebase probe); removed at merge.
#include "eval/evaluate.h"

namespace tavrix {

// eval-material
void BuildMaterialClassTable() {}
uint8_t ClassifyMaterial(const Position&, Colour) { return 16; }
bool IsPawnStalemate(const Position&, Colour) { return false; }
int32_t EvaluateRookPawnVsRook(const Position&, Colour, int32_t&) { return 0; }
int32_t EvaluateQueenVsPawn(const Position&, Colour, Colour, int32_t&) { return 0; }
int32_t EvaluateBishopRookPawn(const Position&, Colour, Colour, int32_t&, int32_t&) { return 0; }
int32_t EvaluateLoneKing(const Position&, Colour, Colour) { return 0; }
int32_t EvaluatePawnEnding(const Position&, Colour, int32_t base) { return base; }
int32_t EvaluateKingPawnVsKing(const Position&, Colour, Colour, int32_t&, const AttackMap&) { return 0; }

// tablebase probing
TablebaseResult ProbeTablebase(const Position&, Colour) { return TablebaseResult{false, 0}; }

}  // namespace tavrix
