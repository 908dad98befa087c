// The board's shared vocabulary: squares, colours, pieces, the move word and the
// Position record that move generation, make/unmake, search and evaluation share.
#pragma once

#include <cstdint>

namespace tavrix {

// ---------------------------------------------------------------- squares
using Square = uint8_t;                 // rank * 8 + file, a1 = 0, h8 = 63
constexpr Square NO_SQUARE = 255;       // in lists and ray tables
constexpr int FileOf(int sq) { return sq & 7; }
constexpr int RankOf(int sq) { return sq >> 3; }
constexpr int MakeSquare(int file, int rank) { return rank * 8 + file; }
constexpr bool IsDarkSquare(int sq) { return ((FileOf(sq) + RankOf(sq)) & 1) == 0; }
constexpr int FileDistance(int a, int b) { return FileOf(a) > FileOf(b) ? FileOf(a) - FileOf(b) : FileOf(b) - FileOf(a); }
constexpr int RankDistance(int a, int b) { return RankOf(a) > RankOf(b) ? RankOf(a) - RankOf(b) : RankOf(b) - RankOf(a); }
constexpr int KingDistance(int a, int b) {
    return FileDistance(a, b) > RankDistance(a, b) ? FileDistance(a, b) : RankDistance(a, b);
}

// ---------------------------------------------------------------- colours
using Colour = int;
constexpr Colour WHITE = 0;
constexpr Colour BLACK = 1;
constexpr uint8_t EMPTY_COLOUR = 2;     // per-square colour of an empty square

// ---------------------------------------------------------------- pieces
using PieceType = uint8_t;
constexpr PieceType NO_PIECE = 0;
constexpr PieceType PAWN = 1;
constexpr PieceType KNIGHT = 2;
constexpr PieceType BISHOP = 3;
constexpr PieceType ROOK = 4;
constexpr PieceType QUEEN = 5;
constexpr PieceType KING = 6;

constexpr char PIECE_LETTERS[] = ".PNBRQKpnbrqk";  // index type, or type + 6 for Black

constexpr int PAWN_VALUE = 128;
constexpr int KNIGHT_VALUE = 416;
constexpr int BISHOP_VALUE = 416;
constexpr int ROOK_VALUE = 640;
constexpr int QUEEN_VALUE = 1248;
// The king entry carries the queen's value; nothing may rely on it as material.
constexpr int PieceValue[8] = {0, PAWN_VALUE, KNIGHT_VALUE, BISHOP_VALUE, ROOK_VALUE, QUEEN_VALUE, QUEEN_VALUE, 0};
// What a promotion adds to the material of the promoting side.
constexpr int PromotionCredit[8] = {0, 0, 288, 288, 512, 1120, 0, 0};

// ---------------------------------------------------------------- scores
// Material units (a pawn is 128). Mated at ply p scores p - 8193; beyond the threshold a
// score counts as a mate score.
constexpr int32_t MATE = 8192;
constexpr int32_t MATE_THRESHOLD = 7800;

// ---------------------------------------------------------------- slots
using SlotMask = uint32_t;              // slot bits of one side, low 16 bits used
constexpr int SLOTS_PER_SIDE = 16;
constexpr int KING_SLOT = 0;

// ---------------------------------------------------------------- directions
// 0..3 rook lines, 4..7 bishop lines, 8..15 knight jumps.
constexpr int DIRECTION_COUNT = 16;
constexpr int DirectionStep[DIRECTION_COUNT] = {1, 8, -1, -8, 7, 9, -9, -7, -17, -10, 6, 15, 17, 10, -6, -15};

// ---------------------------------------------------------------- moves
using Move = uint16_t;
constexpr Move NO_MOVE = 0;
constexpr Move NULL_MOVE_WORD = 0xFFFF;  // a null move in the game record
constexpr Move SENTINEL_MOVE = 1;        // the game record's set-up entry

namespace MoveKind {
constexpr uint16_t QUIET = 0x0000;
constexpr uint16_t CASTLING = 0x1000;
constexpr uint16_t PROMOTE_QUEEN = 0x2000;
constexpr uint16_t PROMOTE_KNIGHT = 0x3000;
constexpr uint16_t CAPTURE = 0x4000;
constexpr uint16_t EN_PASSANT = 0x5000;
constexpr uint16_t PROMOTE_ROOK = 0x6000;
constexpr uint16_t PROMOTE_BISHOP = 0x7000;
constexpr uint16_t MASK = 0x7000;
constexpr uint16_t PROMOTION_BIT = 0x2000;
}  // namespace MoveKind
constexpr uint16_t CHECK_MARK = 0x8000;

constexpr Move MakeMoveWord(int from, int to, uint16_t kind = MoveKind::QUIET) {
    return static_cast<Move>(to | (from << 6) | kind);
}
constexpr int MoveTo(Move m) { return m & 63; }
constexpr int MoveFrom(Move m) { return (m >> 6) & 63; }
constexpr uint16_t KindOf(Move m) { return m & MoveKind::MASK; }
constexpr bool IsPromotion(Move m) { return (m & MoveKind::PROMOTION_BIT) != 0; }
constexpr bool IsCastling(Move m) { return KindOf(m) == MoveKind::CASTLING; }
constexpr bool IsEnPassant(Move m) { return KindOf(m) == MoveKind::EN_PASSANT; }
// Promotion kind -> piece type (kinds 2, 3, 6, 7); other kinds give NO_PIECE.
constexpr PieceType PromotedType(Move m) {
    constexpr PieceType byKind[8] = {NO_PIECE, NO_PIECE, QUEEN, KNIGHT, NO_PIECE, NO_PIECE, ROOK, BISHOP};
    return byKind[KindOf(m) >> 12];
}

struct ScoredMove {
    Move move;
    int16_t score;
};
static_assert(sizeof(ScoredMove) == 4);

// ---------------------------------------------------------------- attack maps
namespace AttackWeight {
constexpr uint16_t KING = 1;
constexpr uint16_t QUEEN = 2;
constexpr uint16_t ROOK = 16;
constexpr uint16_t BISHOP = 64;
constexpr uint16_t KNIGHT = 256;
constexpr uint16_t PAWN = 1024;
constexpr uint16_t ROOK_LINE_MASK = 0x3E;
constexpr uint16_t BISHOP_LINE_MASK = 0xCE;
constexpr uint16_t KNIGHT_MASK = 0x300;
constexpr uint16_t PAWN_MASK = 0xC00;
}  // namespace AttackWeight

struct AttackRecord {
    uint16_t attackWeight;   // packed direct attackers
    uint16_t attackerSlots;  // slot bits of direct attackers
    uint8_t xrayWeight;      // +2 per x-ray attacker
    uint8_t attackerCount;   // direct and x-ray
    uint16_t xraySlots;      // slot bits of x-ray attackers
};
static_assert(sizeof(AttackRecord) == 8);

struct AttackMap {
    AttackRecord square[64];
};

// ---------------------------------------------------------------- material signature
namespace SignatureStep {
constexpr uint32_t PAWN = 0x10000;
constexpr uint32_t KNIGHT = 0x100103;
constexpr uint32_t BISHOP = 0x400103;
constexpr uint32_t ROOK = 0x1000105;
constexpr uint32_t QUEEN = 0x400010A;
}  // namespace SignatureStep
constexpr uint32_t SignatureOf[8] = {0, SignatureStep::PAWN, SignatureStep::KNIGHT, SignatureStep::BISHOP,
                                     SignatureStep::ROOK, SignatureStep::QUEEN, 0, 0};

// ---------------------------------------------------------------- castling flags (set-up)
namespace CastleFlag {
constexpr uint32_t WHITE_KING_SIDE = 0x200;
constexpr uint32_t WHITE_QUEEN_SIDE = 0x400;
constexpr uint32_t BLACK_KING_SIDE = 0x1000;
constexpr uint32_t BLACK_QUEEN_SIDE = 0x2000;
constexpr uint32_t ROOK_FILES_GIVEN = 0x4000;
}  // namespace CastleFlag

// ---------------------------------------------------------------- ply record
struct PlyRecord {
    uint16_t move;
    uint16_t capturedSlot;
    uint8_t capturedType;
    uint8_t mover;
    uint8_t toSquareCount;
    uint8_t epSquare;
    uint16_t irreversiblePly;
    uint16_t searchWord;     // owned by the search
    uint32_t keyLow;
    uint32_t keyHigh;
    uint16_t checkFlag;      // 0x8000: side to move after the move is in check; other bits search/eval
    uint8_t searchBytes[8];  // owned by the search
    uint8_t swingByte;
    uint8_t gainByte;
    int16_t netGain;
    uint16_t searchTail;     // owned by the search
};
static_assert(sizeof(PlyRecord) == 36);

constexpr int UNDO_STACK_SIZE = 64;
constexpr uint16_t IN_CHECK_FLAG = 0x8000;

// What make saves for unmake: the attack maps and the hanging state before the move. Putting
// them back is far cheaper than undoing every ray and recomputing the hanging values.
struct alignas(64) MoveSnapshot {
    AttackMap attackMap[2];
    int32_t hangingValue[64];
    SlotMask hangingSlots[2];
    int32_t hangingTotal[2];
    SlotMask threatenedSlots[2];
};
static_assert(sizeof(MoveSnapshot) == 1344);

// ---------------------------------------------------------------- castling
constexpr int KING_SIDE = 0;
constexpr int QUEEN_SIDE = 1;
// The four corner squares whose keys stand for the castling rights, by [colour][wing].
constexpr Square CastleCorner[2][2] = {{7, 0}, {63, 56}};

// ---------------------------------------------------------------- position
// The type and line masks hold live pieces only: make clears a captured piece's bits and
// unmake sets them again, so no reader needs to intersect them with liveSlots.
struct Position {
    int32_t sideToMove;
    uint8_t pieceType[64];
    uint8_t pieceColour[64];
    uint8_t moveCount[64];
    uint8_t slotSquare[2][SLOTS_PER_SIDE];
    SlotMask liveSlots[2];
    SlotMask diagonalSlots[2];
    SlotMask straightSlots[2];
    SlotMask sliderSlots[2];
    SlotMask pawnRankSlots[2][8];
    uint64_t nodes;          // makes and null moves on this board: the search's node count
    int32_t undoTop;         // index into undoStack of the last move made
    int32_t ply;
    int32_t lastIrreversiblePly;
    int32_t threatSwing;
    int32_t threatSwingCoarse;
    int32_t gainCoarse;
    uint32_t hashKey[2];     // low, high
    uint8_t lastToSquare;
    uint8_t epSquare;        // 0 = none
    SlotMask pawnSlots[2];
    SlotMask knightSlots[2];
    SlotMask bishopSlots[2];
    SlotMask rookSlots[2];
    SlotMask queenSlots[2];
    uint32_t materialSignature[2];
    SlotMask hangingSlots[2];
    uint32_t squareSlot[64];
    alignas(16) int32_t hangingValue[64];  // aligned, like the maps, for the snapshot copies
    SlotMask attackedSlots[2];
    // Pieces (king aside) the other side may attack: every attacked one is in, and the hanging
    // recompute takes out the ones it finds unattacked, so a reader still tests the map.
    SlotMask threatenedSlots[2];
    int32_t hangingTotal[2];
    int32_t material[2];
    int32_t prevHangingTotal[2];
    int32_t ownSide;         // which attackMap entry is ownAttacks; swapped on make and unmake
    alignas(64) AttackMap attackMap[2];
    PlyRecord undoStack[UNDO_STACK_SIZE];
    int32_t moveGain;
    // Bit r of pawnFile[c][file + 1] is set when colour c has a pawn on that file and rank;
    // entries 0 and 9 are guards that stay 0 so neighbour-file reads need no edge test.
    uint8_t pawnFile[2][10];
    // Squares of the castling rooks recorded at set-up, [colour][KING_SIDE / QUEEN_SIDE].
    uint8_t castleRookSquare[2][2];
    uint8_t chess960;        // 1 when castling rights were given as rook files
    // [undoTop] of a move: the state unmake restores; scratch between moves.
    MoveSnapshot snapshot[UNDO_STACK_SIZE];
};

// ---------------------------------------------------------------- accessors
inline AttackMap& OwnAttacks(Position& p) { return p.attackMap[p.ownSide]; }
inline AttackMap& EnemyAttacks(Position& p) { return p.attackMap[p.ownSide ^ 1]; }
inline const AttackMap& OwnAttacks(const Position& p) { return p.attackMap[p.ownSide]; }
inline const AttackMap& EnemyAttacks(const Position& p) { return p.attackMap[p.ownSide ^ 1]; }
inline int KingSquare(const Position& p, Colour c) { return p.slotSquare[c][KING_SLOT]; }
inline uint64_t HashKey64(const Position& p) { return (uint64_t(p.hashKey[1]) << 32) | p.hashKey[0]; }
inline PlyRecord& UndoTop(Position& p) { return p.undoStack[p.undoTop]; }
inline const PlyRecord& UndoTop(const Position& p) { return p.undoStack[p.undoTop]; }
inline PieceType PieceOn(const Position& p, int sq) { return p.pieceType[sq]; }
inline const AttackRecord& AttackOf(const Position& p, Colour side, int sq) { return p.attackMap[side].square[sq]; }
inline uint8_t PawnFileBits(const Position& p, Colour c, int file) { return p.pawnFile[c][file + 1]; }

// Slot mask pair of a piece type (PAWN..QUEEN); the king has only slot 0.
inline SlotMask* TypeSlots(Position& p, PieceType t) {
    switch (t) {
        case PAWN: return p.pawnSlots;
        case KNIGHT: return p.knightSlots;
        case BISHOP: return p.bishopSlots;
        case ROOK: return p.rookSlots;
        default: return p.queenSlots;
    }
}
inline const SlotMask* TypeSlots(const Position& p, PieceType t) { return TypeSlots(const_cast<Position&>(p), t); }

// The pieces that move along a direction: straight lines, diagonals, knight jumps.
inline SlotMask* DirectionMovers(Position& p, int direction) {
    return direction < 4 ? p.straightSlots : direction < 8 ? p.diagonalSlots : p.knightSlots;
}
inline const SlotMask* DirectionMovers(const Position& p, int direction) {
    return DirectionMovers(const_cast<Position&>(p), direction);
}

// ---------------------------------------------------------------- set-up
// Rebuilds every field from pieceType and pieceColour. A side above BLACK asks for the
// standard start position. `flags` is the set-up flag word (castling rights, rook files,
// en passant). Returns false for a position that cannot be played: the side not to move
// in check, a side without exactly one king, more than 16 pieces of a side, or a pawn on
// the first or last rank.
bool SetUpPosition(Position& p, int side, uint32_t flags);

// Key term of the castling right whose rook stands on `square` for colour c, 0 if none.
uint32_t CastleKey(const Position& p, Colour c, int square);

}  // namespace tavrix
