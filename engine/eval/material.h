// Material classes and endgame knowledge: the class table that corrects small material
// balances and names the endgames with evaluators of their own.
#pragma once

#include <array>
#include <cstdint>

#include "board/position.h"

namespace tavrix {

constexpr int MATERIAL_CLASS_COUNT = 128;
constexpr int MATERIAL_CLASS_ENTRIES = MATERIAL_CLASS_COUNT * MATERIAL_CLASS_COUNT;
// The table is consulted only while both sides are within this material.
constexpr int32_t MATERIAL_CLASS_LIMIT = 1888;

// Class byte fields.
namespace ClassByte {
constexpr uint8_t SPECIAL = 0x80;         // bits 0-4 name an endgame type
constexpr uint8_t SIDE_CANNOT_WIN = 0x20;  // halve the side to move's positive scores
constexpr uint8_t OTHER_CANNOT_WIN = 0x40; // halve the side to move's negative scores
constexpr uint8_t SCALE_BITS = 0x60;
constexpr uint8_t LOW_BITS = 0x1F;         // correction + 16, or the endgame type
}  // namespace ClassByte

// Endgame types of special class bytes; ORDINARY for every other balance.
namespace EndgameType {
constexpr int32_t BISHOP_PAWNS = 1;        // K+P against K+B+P
constexpr int32_t QUEEN_VS_PAWN = 2;
constexpr int32_t ROOK_PAWN_VS_ROOK = 3;
constexpr int32_t ROOK_TWO_PAWNS_VS_ROOK = 4;
constexpr int32_t ORDINARY = 15;
constexpr int32_t LONE_KING = 16;
constexpr int32_t BISHOP_PAWNS_VS_KING = 17;
constexpr int32_t PAWN_ENDING = 18;
constexpr int32_t KING_PAWN_VS_KING = 19;
constexpr int32_t MINOR_DRAW = 20;         // drawn unless the lone king is cornered
constexpr int32_t DRAWN = 21;
}  // namespace EndgameType

// Indexed by class(side to move) * 128 + class(other side); constant data.
extern const std::array<uint8_t, MATERIAL_CLASS_ENTRIES> MaterialClassTable;

// Material correction of a class byte: 0 for special endgames.
constexpr int32_t ClassCorrection(uint8_t byte) {
    return (byte & ClassByte::SPECIAL) ? 0 : ((byte & ClassByte::LOW_BITS) - 16) * 32;
}

// The 7-bit material class of one side from its material signature.
uint8_t MaterialClassOf(uint32_t materialSignature);
// Class byte of a pair of classes.
inline uint8_t MaterialLookup(uint8_t classSide, uint8_t classOther) {
    return MaterialClassTable[classSide * MATERIAL_CLASS_COUNT + classOther];
}
// Class byte of (side, other side) in the position.
uint8_t ClassifyMaterial(const Position& pos, Colour side);
// Change of the material correction for `side` if it captured one enemy piece of the type.
int32_t MaterialClassGain(const Position& pos, Colour side, PieceType capturedType);

// ---------------------------------------------------------------- endgame evaluators
// Computes the king-and-pawn-against-king table; run once at start-up.
void InitEndgameTables();
bool IsPawnStalemate(const Position& pos, Colour side);
int32_t EvaluateRookPawnVsRook(const Position& pos, Colour stronger, int32_t& scale);
int32_t EvaluateQueenVsPawn(const Position& pos, Colour side, Colour stronger, int32_t& kind);
int32_t EvaluateBishopRookPawn(const Position& pos, Colour side, Colour stronger, int32_t& scale, int32_t& kind);
int32_t EvaluateLoneKing(const Position& pos, Colour side, Colour stronger);
int32_t EvaluatePawnEnding(const Position& pos, Colour side, int32_t base);
int32_t EvaluateKingPawnVsKing(const Position& pos, Colour side, Colour stronger, int32_t& kind,
                               const AttackMap& strongerAttacks);
int32_t ClassifyKingPawnVsKing(Colour pawnSide, int pawnKing, int otherKing, int pawn, int32_t& kind);

}  // namespace tavrix
