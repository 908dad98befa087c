// Tablebase index functions: the squares of a class's pieces to the position's number in
// that class's table, and back. Kings are reduced by symmetry (eight-fold without pawns,
// left-right with pawns); the other pieces are numbered group by group, identical pieces as
// unordered sets. The pieces of the side to move lead, each kept off the squares where it
// would give an unblockable check (the start-up "kind" tables), which keeps the tables short.
#pragma once

#include <cstdint>

#include "board/position.h"

namespace tavrix {

constexpr int TB_CLASS_COUNT = 440;
constexpr int TB_MAX_GROUPS = 4;             // at most four pieces besides the kings
constexpr uint64_t TB_NO_INDEX = ~uint64_t(0);
constexpr int TB_NO_EP = 127;                // "no en-passant square" for the index functions
constexpr uint16_t TB_NO_PAIR = 4000;
constexpr int PAWNLESS_PAIRS = 462;
constexpr int PAWN_PAIRS = 1806;
constexpr int EP_CODES = 14;                 // pawn file and neighbouring capturer file
constexpr int TB_MAX_LEAD_SHAPES = 160;

// Sixteen places per side: 0-2 pawns, 3-5 knights, 6-8 bishops, 9-11 rooks, 12-14 queens, 15 king.
struct SquareRecord {
    uint8_t place[16];
};
constexpr int RECORD_KING = 15;
constexpr int RecordPlace(int type) { return (type - PAWN) * 3; }

// Start-up kinds: 0 pawn squares, 1 pawn squares not touching the king from below, 2 no
// knight jump, 3 no diagonal neighbour, 4 no orthogonal neighbour, 5 no neighbour; 6 (plain)
// any square; 7 pawn squares not touching the king from above (the second side's pawns, which
// move down).
constexpr int KIND_COUNT = 8;
constexpr int KIND_PLAIN = 6;
constexpr int KIND_PAWN_FROM_ABOVE = 7;
constexpr int ExclusionKind[7] = {KIND_PLAIN, 1, 2, 3, 4, 5, KIND_PLAIN};

struct PieceGroup {
    uint8_t type;
    uint8_t count;
    uint8_t owner;                           // 0 the class's first side, 1 the second
};

// The groups that lead a numbering: each group on the squares of its kind table around the
// opponent's king, independently of the others.
struct LeadSpec {
    uint8_t groups;
    uint8_t kind[TB_MAX_GROUPS];
    uint8_t count[TB_MAX_GROUPS];
    bool pawns;                              // pawn king pairs
    uint8_t side;                            // the side to move
};

// The numbering of one table (class and side to move).
struct IndexLayout {
    bool pawns;
    bool enPassant;                          // pawns on both sides: a block of en-passant states
    uint8_t groupCount;
    PieceGroup group[TB_MAX_GROUPS];         // numbering order; the lead groups come first
    uint8_t leadGroupCount;
    uint8_t leadKind[TB_MAX_GROUPS];
    uint16_t leadShape;                      // row of EnumerationTables::leadPrefix
    uint8_t epGroupCount;
    PieceGroup epGroup[TB_MAX_GROUPS];       // the groups less the two en-passant pawns, lead first
    uint8_t epLeadGroupCount;
    uint8_t epLeadKind[TB_MAX_GROUPS];
    uint16_t epLeadShape;
    uint64_t restProduct;                    // positions of the groups after the lead
    uint64_t epRestProduct;
    uint64_t normalSize;                     // positions before the en-passant block
    uint64_t capacity;
};

struct TablebaseShape {
    char name[8];
    uint8_t firstCount[7];                   // pieces of the first side by type
    uint8_t secondCount[7];
    bool symmetric;
    bool pawns;
    int pieces;                              // men, kings included
};

// Decoded table slot, in the class's own orientation (first side's pawns move up).
struct DecodedPosition {
    uint8_t king[2];
    uint8_t groupCount;
    PieceGroup group[TB_MAX_GROUPS];
    uint8_t square[TB_MAX_GROUPS][3];
    int epSquare;                            // TB_NO_EP or the passed square
};

struct EnumerationTables {
    bool built;
    uint8_t kindNumber[KIND_COUNT][64][64];  // 255 where the piece may not stand
    uint8_t kindSquare[KIND_COUNT][64][64];  // inverse of kindNumber
    uint8_t kindCount[KIND_COUNT][64];
    uint16_t pawnlessPair[64][64];
    uint16_t pawnPair[64][64];
    uint8_t pawnlessPairKing[PAWNLESS_PAIRS][2];
    uint8_t pawnPairKing[PAWN_PAIRS][2];
    TablebaseShape shape[TB_CLASS_COUNT + 1];
    IndexLayout layout[TB_CLASS_COUNT + 1][2];
    // Lead placements before each king pair, one row per distinct lead (its groups' kinds and
    // sizes, pawn or pawnless king pairs, the king the kind tables are centred on).
    uint16_t leadShapeCount;
    LeadSpec leadSpec[TB_MAX_LEAD_SHAPES];
    uint32_t leadPrefix[TB_MAX_LEAD_SHAPES][PAWN_PAIRS + 1];
};
extern EnumerationTables Enumerations;

// Pawn classes are turned upside down by the flip flag, so that the first side's pawns move
// up whichever side is to move.
constexpr uint8_t RankFlipMask[2] = {0, 56};

// Builds every table above once per process (the catalogue names come from the catalogue).
void BuildEnumerations();
const char* TablebaseClassName(int classIndex);

// Index of a position: first-side and second-side records in the class's colours, the
// en-passant passed square or TB_NO_EP, flip = 1 when the first side is Black on the board.
// TB_NO_INDEX when the placement cannot be indexed (an illegal position).
uint64_t IndexFunction(int classIndex, int side, const SquareRecord& first, const SquareRecord& second, int epSquare,
                       int flip);
// The placement stored at an index of a table, false when the index names no placement.
bool DecodeIndex(int classIndex, int side, uint64_t index, DecodedPosition& out);
// True when the decoded placement is a legal position with `side` to move (no two pieces on
// one square, the side not to move not in check, a consistent en-passant state).
bool LegalPlacement(const DecodedPosition& d, int side);
// The table length: capacity less the trailing slots that hold no legal position.
uint64_t TableLength(int classIndex, int side);
// Square records of a decoded placement (first side, second side).
void RecordsOf(const DecodedPosition& d, SquareRecord& first, SquareRecord& second);
// Board of a decoded placement: piece types (0 empty) and owners (-1 empty) by square.
void PlacementBoard(const DecodedPosition& d, int8_t* type, int8_t* owner);
// Whether `target` is attacked by owner `by` on a board of types and owners (-1 empty); the
// first side's pawns move up.
bool SquareAttacked(const int8_t* type, const int8_t* owner, int target, int by);

}  // namespace tavrix
