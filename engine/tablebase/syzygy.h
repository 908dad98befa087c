// Syzygy tablebases (win/draw/loss and distance to zeroing, up to seven men), read through
// Debian's Fathom library. Nalimov tables keep answering where they have the class.
#pragma once

#include <cstdint>

#include "board/position.h"
#include "settings/settings.h"

namespace tavrix {

// Fifty-move plies a converting win must finish within, as the rank of root moves counts.
constexpr int32_t SYZYGY_CONVERSION_PLIES = 99;
constexpr int32_t SYZYGY_RANK_TOP = 1 << 16;     // above any distance to zeroing

// Result of the side to move; the cursed win and the blessed loss are decided by the
// fifty-move rule.
namespace SyzygyWdl {
constexpr int32_t LOSS = -2;
constexpr int32_t BLESSED_LOSS = -1;
constexpr int32_t DRAW = 0;
constexpr int32_t CURSED_WIN = 1;
constexpr int32_t WIN = 2;
}  // namespace SyzygyWdl

struct SyzygyState {
    int32_t largest;               // men of the largest table loaded, 0 = none
};
extern SyzygyState Syzygy;

// The position in the library's terms: bitboards with a1 as bit 0 and h8 as bit 63, the
// en-passant target square (0 = none) and the side to move.
struct SyzygyBoard {
    uint64_t white, black, kings, queens, rooks, bishops, knights, pawns;
    uint32_t ep;
    bool whiteToMove;
};
SyzygyBoard ToSyzygyBoard(const Position& pos);

// False when the engine was built without the library.
bool SyzygyBuiltIn();
// Loads the tables along the path ("SyzygyPath"; empty unloads them). Folders that cannot
// be read and the size of the largest table are told in "info string" lines.
void LoadSyzygyTables(const char* path);
void FreeSyzygy();

// Most men the search may probe: the largest table within "SyzygyProbeLimit" (0 = none).
int32_t SyzygyProbeMen();
int32_t MenOnBoard(const Position& pos);
bool HasCastlingRights(const Position& pos);

// Win/draw/loss of the side to move (SyzygyWdl), for a position after a capture or pawn
// move without castling rights; false when no table answers. Counts a hit. Thread-safe and
// allocation-free once the path is loaded.
bool ProbeSyzygyWdl(const Position& pos, int32_t& wdl);

// A table result as a search score at `ply`; `bound` > 0: the score is a lower bound (a
// mate may still be found), < 0 an upper bound, 0 exact.
struct SyzygyScore {
    int32_t score;
    int32_t bound;
};
SyzygyScore ScoreOfWdl(int32_t wdl, int32_t ply, int32_t drawScore, bool fiftyMoveRule);

// Rank of a root move by its result (SyzygyWdl) and distance to zeroing in plies, given the
// root's fifty-move count: a win that converts within the rule ranks first (any of them;
// after a repetition the quickest), then slower wins by distance, cursed wins, draws,
// blessed losses and losses, the longest resistance first.
int32_t SyzygyRootRank(int32_t wdl, int32_t dtz, int32_t fiftyCount, bool repeated);

struct SyzygyRootMove {
    Move move;
    int32_t wdl;
    int32_t dtz;        // plies to the next capture or pawn move with best play
    int32_t rank;
    bool found;         // the library listed the move (an illegal one is never listed)
    bool best;          // of the best rank: the moves the search keeps
};
// The distance-to-zero probe of the root: one entry per move of `moves`. The main search
// only (the library's root probe is not thread-safe). False when the tables cannot answer.
bool ProbeSyzygyRoot(const Position& pos, int32_t fiftyCount, bool repeated, const Move* moves, int count,
                     SyzygyRootMove* out);

}  // namespace tavrix
