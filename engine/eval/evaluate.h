// Static evaluation: the driver, its process-wide state and the interfaces of the
// evaluation terms (material classes and endgames, king safety and threats, pawns,
// piece placement).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "board/position.h"
#include "eval/king.h"
#include "eval/material.h"
#include "eval/pawns.h"

namespace tavrix {

// ---------------------------------------------------------------- score scale
constexpr int32_t HORIZON_DEPTH = 128;      // depth that forces a full evaluation
constexpr int32_t TEMPO_BONUS = 8;           // the side to move's credit for the move

// ---------------------------------------------------------------- result kinds
// A kind sits in bits 8..11 of a ply's checkFlag word; bit 3 of a kind marks a draw class.
namespace EvalKind {
constexpr int32_t ORDINARY = 0;
constexpr int32_t LOSS = 6;                  // decided loss for the side to move
constexpr int32_t WIN = 7;                   // decided win for the side to move
constexpr int32_t STALEMATE = 12;
constexpr int32_t DRAW = 13;                 // recognised draw
constexpr int32_t TABLEBASE_DRAW = 14;
constexpr int32_t DRAW_CLASS_BIT = 8;
}  // namespace EvalKind
constexpr bool IsDrawKind(int32_t kind) { return (kind & EvalKind::DRAW_CLASS_BIT) != 0; }
constexpr uint16_t KindFlag(int32_t kind) { return static_cast<uint16_t>(kind << 8); }

// Bits of a ply's checkFlag word written by the evaluation.
namespace EvalFlag {
constexpr uint16_t MATE_THREAT_WHITE = 0x0001;
constexpr uint16_t MATE_THREAT_BLACK = 0x0002;
constexpr uint16_t DANGER_WHITE = 0x0004;
constexpr uint16_t DANGER_BLACK = 0x0008;
constexpr uint16_t CHECK_THREAT_WHITE = 0x0010;
constexpr uint16_t CHECK_THREAT_BLACK = 0x0020;
constexpr uint16_t MATING_SQUARE = 0x0040;   // the king-safety word holds (from << 6) | to
constexpr uint16_t FULL = 0x0080;            // full evaluation (or from the cache)
constexpr uint16_t KIND_MASK = 0x0F00;
constexpr uint16_t DRAW_CLASS = 0x0800;
constexpr uint16_t AT_HORIZON = 0x1000;      // evaluated with depth 128
constexpr uint16_t CACHED_BITS = 0x1FFF;     // the bits an evaluation-cache entry keeps
}  // namespace EvalFlag
constexpr uint16_t MateThreatFlag(Colour c) { return c == WHITE ? EvalFlag::MATE_THREAT_WHITE : EvalFlag::MATE_THREAT_BLACK; }
constexpr uint16_t DangerFlag(Colour c) { return c == WHITE ? EvalFlag::DANGER_WHITE : EvalFlag::DANGER_BLACK; }
constexpr uint16_t CheckThreatFlag(Colour c) { return c == WHITE ? EvalFlag::CHECK_THREAT_WHITE : EvalFlag::CHECK_THREAT_BLACK; }
constexpr int32_t KindOfFlags(uint16_t checkFlag) { return (checkFlag & EvalFlag::KIND_MASK) >> 8; }

// ---------------------------------------------------------------- per-ply evaluation words
// The evaluation's words among a PlyRecord's eight search bytes: 0 score, 2 second threat,
// 3 king-safety word (word 1 belongs to the search).
enum class PlyEvalWord : int { SCORE = 0, THREAT = 2, KING = 3 };

inline int16_t ReadPlyWord(const PlyRecord& r, PlyEvalWord w) {
    int16_t v;
    std::memcpy(&v, r.searchBytes + 2 * static_cast<int>(w), sizeof v);
    return v;
}
inline void WritePlyWord(PlyRecord& r, PlyEvalWord w, int32_t value) {
    const int16_t v = static_cast<int16_t>(value);
    std::memcpy(r.searchBytes + 2 * static_cast<int>(w), &v, sizeof v);
}
inline int32_t PlyEvalScore(const PlyRecord& r) { return ReadPlyWord(r, PlyEvalWord::SCORE); }

// ---------------------------------------------------------------- options seen by the evaluation
enum class PlayingStyle : uint8_t { NORMAL = 0, AGGRESSIVE = 1, SOLID = 2 };

// The option values the evaluation reads when a search starts.
struct EvalOptions {
    PlayingStyle style = PlayingStyle::NORMAL;
    bool hyperModern = false;            // "Hyper-Modern Play"
    int32_t drawValue = 0;               // "Tavrix Draw Value" as stored: -(v x 128 / 100)
    bool useTablebases = false;          // "Use Tablebases"
    int32_t tablebaseDepth = 0;          // "Tablebase Depth"
    int32_t tablebaseMen = 0;            // largest registered tablebase (men, kings included)
};

// ---------------------------------------------------------------- process-wide state
constexpr int STYLE_SIDE_NONE = 0;       // otherwise colour + 1
constexpr int STORM_NONE = 4;            // storm level meaning no pawn storm
constexpr int LAZY_MARGIN_START = 100;
constexpr int PIECE_TABLE_TYPES = 7;     // indexed by PieceType, 0 unused

struct EvalState {
    // Working values of the current full evaluation.
    int32_t largestThreat[2];
    int32_t secondThreat[2];
    SlotMask threatSlots[2];             // pieces of a colour that take part in a threat on the other king
    uint8_t pawnShadeWeight[2][2];       // [colour][shade: 0 light, 1 dark], filled by EvaluatePawns
    uint8_t pawnFile[2][10];             // [colour][file + 1]: bit r = a pawn on rank r; guards at 0 and 9

    // Phase fields, recomputed whenever the material differs from phaseMaterial.
    int32_t phaseMaterial[2];
    int32_t nonPawnBalance;              // White's minus Black's non-pawn material
    int32_t tradeBonus;                  // from White's view
    int32_t gamePhase;                   // 1 bare endgame .. 16 full middle game
    int32_t phaseHalf;
    int32_t endWeight;                   // 17 - gamePhase
    int32_t endWeightHalf;
    int32_t endWeightQuarter;
    int32_t endWeightEighth;

    // Settings prepared at every search start.
    EvalOptions options;
    Colour rootSide;
    int32_t styleSide;                   // STYLE_SIDE_NONE or colour + 1
    int32_t threatShift[2];
    int32_t pawnThreatShift[2];
    int8_t kingEdgeTable[64];
    bool swindleActive;
    int32_t drawScore[2];
    int32_t rootMaterial[2];
    int32_t lazyMarginHigh[2];
    int32_t lazyMarginLow[2];

    // Search values the driver reads; the search keeps them current.
    int32_t iterationDepth;              // the current iteration number
    int32_t plyLimit;                    // from this ply on every evaluation is a full one

    // Piece-square tables and their root adjustments.
    int16_t pieceTables[PIECE_TABLE_TYPES][2][64];
    uint8_t developedMinors[2];
    int32_t knightBonus;
    int32_t bishopBonus;
    int32_t bishopWingBonus[2];
    uint8_t stormZone[2];                // file mask (bit = file) of a side's pawn-storm zone
    uint8_t stormLevel[2];               // 0 same wing, 2 opposite wings, STORM_NONE no storm
};

// Each search thread evaluates with its own working state.
extern thread_local constinit EvalState Eval;

// Back to the state before any search: default options, centre king-edge table,
// draw scores 0, unbuilt piece tables. The evaluation cache is not touched.
void ResetEvalState();

inline int32_t DrawScore(Colour c) { return Eval.drawScore[c]; }
inline const int16_t* KingTable(Colour c) { return Eval.pieceTables[KING][c]; }
inline int PawnFileBits(Colour c, int file) { return Eval.pawnFile[c][file + 1]; }
// Takes the position's pawn-file bytes into Eval.pawnFile.
void RefreshPawnFiles(const Position& pos);

// Phase fields for the position's material (no-op when unchanged).
void UpdatePhase(const Position& pos);

// The stored form of a "Tavrix Draw Value" v (hundredths of a pawn).
constexpr int32_t StoredDrawValue(int32_t v) { return -(v * PAWN_VALUE / 100); }
// The per-colour draw score from the stored draw value and the root side.
void SetDrawScore(int32_t storedDrawValue, Colour rootSide);

// ---------------------------------------------------------------- driver
// Static score for `side` (the side to move); writes score, kind and flags into undoTop.
int32_t Evaluate(Position& pos, Colour side, int32_t ply, int32_t depth, int32_t alpha, int32_t beta);
// Positional score for `side` without material; called only by Evaluate.
int32_t EvaluatePositional(Position& pos, Colour side, Colour strongerSide, int32_t endgameType);
// Per-search set-up from the root position: style, draw score, king-edge table, lazy
// margins, root material, piece tables.
void PrepareEvaluation(const Position& pos, Colour rootSide, const EvalOptions& options);
// The evaluation's options from the search's copy of the option flag word and the settings.
EvalOptions EvalOptionsFromSettings(uint32_t searchFlags, int32_t tablebaseMen);

// The "eval" command's text: the main terms and, last, "eval total N" (centipawns, White's view).
std::string EvalReport(Position& pos);

// ---------------------------------------------------------------- evaluation cache
// Sizes the two tables (White to move, Black to move) to `kilobytes` in all; zero-filled.
// Unchanged size: nothing happens. Returns false (cache off) when allocation fails.
bool AllocateEvalCache(int32_t kilobytes);
void FreeEvalCache();
void ClearEvalCache();

// ---------------------------------------------------------------- tablebase probing
// The probe conditions: option on, root or a capture/promotion deep enough, 3..max men.
bool WantsTablebaseProbe(const Position& pos, int32_t ply, int32_t depth);
// Score and kind of a found tablebase result at `ply` (not for a draw while swindling).
int32_t TablebaseScore(const Position& pos, Colour side, int32_t ply, int32_t distance, int32_t& kind);

// ---------------------------------------------------------------- piece placement
void BuildPieceTables(const Position& root);
void AdjustKingTablesForPawns(const Position& root, int square);
int32_t EvaluatePieces(const Position& pos);
// `occupied`: the board's occupied squares (geometry::OccupiedSet).
int32_t EvaluateBishopMobility(const Position& pos, int square, Colour side, uint64_t occupied);

}  // namespace tavrix
