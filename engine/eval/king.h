// King safety and threats: the king term, the threat term and the threat services of the
// quiescence search.
#pragma once

#include <cstdint>

#include "board/position.h"

namespace tavrix {

// White's king term minus Black's; writes the king marks into undoTop.
int32_t EvaluateKings(Position& pos);
// Attack penalty (<= 0) for `side`'s king zone, with its marks.
int32_t EvaluateKingZone(Position& pos, Colour side);
// Pawn shelter of `side`'s king (<= 0); 0 while the enemy has no rook or queen.
int32_t KingShelter(const Position& pos, Colour side);
// One side's king term (placement, shelter, zone attack) before the White-minus-Black sum.
int32_t KingTerm(Position& pos, Colour side);
// One side's threat term (<= 0) before the White-minus-Black sum.
int32_t ThreatTerm(Position& pos, Colour side);
// Hanging, trapped, pinned and overloaded pieces, from White's view; feeds the threat lists.
int32_t EvaluateThreats(Position& pos);
// Largest gain an enemy slider makes through the piece on `square`; adds its penalty.
int32_t XrayThreat(const Position& pos, Colour side, int square, int32_t& penalty);

// Quiescence services.
bool HasHangingThreat(const Position& pos, Colour side, int32_t margin);
int32_t EscapeLoss(const Position& pos, Colour side, int square, int32_t value);
bool MateThreatTest(Position& pos, Colour side);

}  // namespace tavrix
