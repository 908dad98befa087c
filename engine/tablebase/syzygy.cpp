// Syzygy tablebases through the Fathom library.
#include "tablebase/syzygy.h"

#include <dirent.h>

#include <algorithm>
#include <bit>
#include <cstring>

#include "platform/platform.h"
#include "tablebase/probe.h"

#ifndef TAVRIX_SYZYGY
#define TAVRIX_SYZYGY 0
#endif
#if TAVRIX_SYZYGY
#include <dlfcn.h>
// Last: its macros (TB_WIN, TB_LOSS, ...) must not reach the engine's headers.
#include <tbprobe.h>
#endif

namespace tavrix {

SyzygyState Syzygy;

namespace {

constexpr const char WDL_SUFFIX[] = ".rtbw";
constexpr size_t MAX_TABLE_NAME = 13;           // seven men, the "v" and ".rtbw"
constexpr int PLACEMENT_TRIES = 4096;
constexpr uint64_t PLACEMENT_SEED = 0x9E3779B97F4A7C15ull;
constexpr uint32_t NO_LIBRARY_RESULT = 0xFFFFFFFFu;

// A folder list the library finds no table in: initialising it with that is how tables are
// let go (its own free cannot be followed by another initialisation).
constexpr const char NO_TABLES_PATH[] = "/dev/null";

bool libraryLoaded = false;

#if TAVRIX_SYZYGY
static_assert(TB_RESULT_FAILED == NO_LIBRARY_RESULT);
static_assert(TB_LOSS - 2 == SyzygyWdl::LOSS && TB_WIN - 2 == SyzygyWdl::WIN);

uint32_t PromotionCode(Move m) {
    switch (PromotedType(m)) {
        case QUEEN: return TB_PROMOTES_QUEEN;
        case ROOK: return TB_PROMOTES_ROOK;
        case BISHOP: return TB_PROMOTES_BISHOP;
        case KNIGHT: return TB_PROMOTES_KNIGHT;
        default: return TB_PROMOTES_NONE;
    }
}

bool SameMove(Move m, uint32_t result) {
    return TB_GET_FROM(result) == static_cast<uint32_t>(MoveFrom(m)) &&
           TB_GET_TO(result) == static_cast<uint32_t>(MoveTo(m)) && TB_GET_PROMOTES(result) == PromotionCode(m);
}

using InitFunction = bool (*)(const char*);

// Gaviota's probing library has a tb_init of its own: where both are loaded (the tests check
// generated tables with it) the name may bind to that one, so the function is taken from the
// library that holds the probes.
InitFunction LibraryInit() {
    static const InitFunction init = [] {
        Dl_info info{};
        if (dladdr(reinterpret_cast<void*>(&tb_probe_wdl_impl), &info) != 0 && info.dli_fname != nullptr)
            if (void* library = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD))
                if (void* own = dlsym(library, "tb_init")) return reinterpret_cast<InitFunction>(own);
        return &tb_init;
    }();
    return init;
}

// The library reports every table it lets go as a failed unmapping on standard error (it
// tests the call's result the wrong way round); those lines would only mislead.
bool InitialiseLibrary(const char* path) {
    const int saved = platform::SilenceErrorOutput();
    const bool ok = LibraryInit()(path);
    platform::RestoreErrorOutput(saved);
    return ok;
}

uint32_t ProbeWdl(const SyzygyBoard& b) {
    return tb_probe_wdl(b.white, b.black, b.kings, b.queens, b.rooks, b.bishops, b.knights, b.pawns, 0, 0, b.ep,
                        b.whiteToMove);
}

// ---------------------------------------------------------------- warming the tables
// The library reads a table's header and allocates its decoding state on the first probe of
// the table. Probing one position of every table at load time keeps that out of the search.

uint64_t NextRandom(uint64_t& state) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
}

PieceType TypeOfLetter(char c) {
    switch (c) {
        case 'P': return PAWN;
        case 'N': return KNIGHT;
        case 'B': return BISHOP;
        case 'R': return ROOK;
        case 'Q': return QUEEN;
        case 'K': return KING;
        default: return NO_PIECE;
    }
}

// A legal position of the table's material with `side` to move that has no capture, so
// that the probe reaches the table itself; false when none was found.
bool PlaceMaterial(const char* name, Colour side, Position& p, uint64_t& random) {
    for (int attempt = 0; attempt < PLACEMENT_TRIES; ++attempt) {
        std::memset(&p, 0, sizeof p);
        for (int sq = 0; sq < 64; ++sq) p.pieceColour[sq] = EMPTY_COLOUR;
        Colour colour = WHITE;
        bool placed = true;
        for (const char* c = name; *c != '\0' && *c != '.' && placed; ++c) {
            if (*c == 'v') {
                colour = BLACK;
                continue;
            }
            const PieceType type = TypeOfLetter(*c);
            if (type == NO_PIECE) return false;
            placed = false;
            for (int tries = 0; tries < 64 && !placed; ++tries) {
                const int sq = static_cast<int>(NextRandom(random) & 63);
                if (p.pieceType[sq] != NO_PIECE || (type == PAWN && (RankOf(sq) == 0 || RankOf(sq) == 7))) continue;
                p.pieceType[sq] = type;
                p.pieceColour[sq] = static_cast<uint8_t>(colour);
                placed = true;
            }
        }
        if (!placed || !SetUpPosition(p, side, 0)) continue;
        const Colour other = side ^ 1;
        bool quiet = p.attackMap[other].square[KingSquare(p, side)].attackWeight == 0;
        for (SlotMask m = p.liveSlots[other]; m != 0 && quiet; m &= m - 1)
            quiet = p.attackMap[side].square[p.slotSquare[other][std::countr_zero(m)]].attackWeight == 0;
        if (quiet) return true;
    }
    return false;
}

void WarmTable(const char* name) {
    static Position scratch;
    static unsigned results[TB_MAX_MOVES];
    uint64_t random = PLACEMENT_SEED;
    for (Colour side = WHITE; side <= BLACK; ++side) {
        if (!PlaceMaterial(name, side, scratch, random)) continue;
        const SyzygyBoard b = ToSyzygyBoard(scratch);
        ProbeWdl(b);
        tb_probe_root(b.white, b.black, b.kings, b.queens, b.rooks, b.bishops, b.knights, b.pawns, 0, 0, 0,
                      b.whiteToMove, results);
    }
}

void WarmFolder(const char* folder) {
    DIR* dir = opendir(folder);
    if (dir == nullptr) return;
    const size_t suffix = sizeof WDL_SUFFIX - 1;
    while (const dirent* entry = readdir(dir)) {
        const size_t n = std::strlen(entry->d_name);
        if (n <= suffix || n > MAX_TABLE_NAME || std::strcmp(entry->d_name + n - suffix, WDL_SUFFIX) != 0) continue;
        WarmTable(entry->d_name);
    }
    closedir(dir);
}
#endif

bool ReadableFolder(const char* folder) {
    DIR* dir = opendir(folder);
    if (dir == nullptr) return false;
    closedir(dir);
    return true;
}

}  // namespace

SyzygyBoard ToSyzygyBoard(const Position& pos) {
    SyzygyBoard b{};
    for (Colour c = WHITE; c <= BLACK; ++c) {
        uint64_t& own = c == WHITE ? b.white : b.black;
        for (SlotMask m = pos.liveSlots[c]; m != 0; m &= m - 1) {
            const int sq = pos.slotSquare[c][std::countr_zero(m)];
            const uint64_t bit = uint64_t(1) << sq;
            own |= bit;
            switch (pos.pieceType[sq]) {
                case PAWN: b.pawns |= bit; break;
                case KNIGHT: b.knights |= bit; break;
                case BISHOP: b.bishops |= bit; break;
                case ROOK: b.rooks |= bit; break;
                case QUEEN: b.queens |= bit; break;
                default: b.kings |= bit; break;
            }
        }
    }
    b.ep = pos.epSquare;
    b.whiteToMove = pos.sideToMove == WHITE;
    return b;
}

bool SyzygyBuiltIn() { return TAVRIX_SYZYGY != 0; }

void FreeSyzygy() {
#if TAVRIX_SYZYGY
    if (libraryLoaded) InitialiseLibrary(NO_TABLES_PATH);
#endif
    libraryLoaded = false;
    Syzygy.largest = 0;
}

void LoadSyzygyTables(const char* path) {
    Syzygy.largest = 0;
    if (path[0] == '\0' || std::strlen(path) >= static_cast<size_t>(SYZYGY_PATH_SIZE)) {
        FreeSyzygy();
        return;
    }
    if (!SyzygyBuiltIn()) {
        platform::Print("info string this build reads no Syzygy tables (no Fathom library)\n");
        return;
    }
    // The library is given only the folders that can be read; the others are told.
    static char readable[SYZYGY_PATH_SIZE];
    static char folder[SYZYGY_PATH_SIZE];
    readable[0] = '\0';
    size_t used = 0;
    for (const char* start = path; *start != '\0';) {
        const char* end = std::strchr(start, ':');
        if (end == nullptr) end = start + std::strlen(start);
        const size_t length = static_cast<size_t>(end - start);
        std::memcpy(folder, start, length);
        folder[length] = '\0';
        if (length > 0) {
            if (!ReadableFolder(folder)) {
                platform::Print("info string cannot read Syzygy folder %s\n", folder);
            } else {
                if (used > 0) readable[used++] = ':';
                std::memcpy(readable + used, folder, length + 1);
                used += length;
            }
        }
        start = *end == ':' ? end + 1 : end;
    }
#if TAVRIX_SYZYGY
    if (used == 0) {
        FreeSyzygy();
    } else {
        libraryLoaded = true;
        if (InitialiseLibrary(readable))
            Syzygy.largest = std::min<int32_t>(static_cast<int32_t>(TB_LARGEST), SYZYGY_MAX_MEN);
    }
    if (Syzygy.largest > 0) {
        for (const char* start = readable; *start != '\0';) {
            const char* end = std::strchr(start, ':');
            if (end == nullptr) end = start + std::strlen(start);
            const size_t length = static_cast<size_t>(end - start);
            std::memcpy(folder, start, length);
            folder[length] = '\0';
            WarmFolder(folder);
            start = *end == ':' ? end + 1 : end;
        }
    }
#endif
    if (Syzygy.largest > 0) platform::Print("info string Syzygy tables of up to %d men\n", Syzygy.largest);
    else platform::Print("info string no Syzygy tables found\n");
}

int32_t SyzygyProbeMen() { return std::min(Syzygy.largest, Settings.syzygyProbeLimit); }

int32_t MenOnBoard(const Position& pos) {
    return std::popcount(pos.liveSlots[WHITE]) + std::popcount(pos.liveSlots[BLACK]);
}

bool HasCastlingRights(const Position& pos) {
    for (Colour c = WHITE; c <= BLACK; ++c) {
        if (pos.moveCount[KingSquare(pos, c)] != 0) continue;
        for (int wing = KING_SIDE; wing <= QUEEN_SIDE; ++wing) {
            const int rook = pos.castleRookSquare[c][wing];
            if (rook < 64 && pos.pieceType[rook] == ROOK && pos.pieceColour[rook] == c && pos.moveCount[rook] == 0)
                return true;
        }
    }
    return false;
}

bool ProbeSyzygyWdl(const Position& pos, int32_t& wdl) {
#if TAVRIX_SYZYGY
    const uint32_t result = ProbeWdl(ToSyzygyBoard(pos));
    if (result == NO_LIBRARY_RESULT) return false;
    AddTablebaseHits(1);
    wdl = static_cast<int32_t>(result) - 2;
    return true;
#else
    (void)pos;
    (void)wdl;
    return false;
#endif
}

SyzygyScore ScoreOfWdl(int32_t wdl, int32_t ply, int32_t drawScore, bool fiftyMoveRule) {
    if (wdl == SyzygyWdl::WIN || (wdl == SyzygyWdl::CURSED_WIN && !fiftyMoveRule)) return {TABLE_WIN - ply, 1};
    if (wdl == SyzygyWdl::LOSS || (wdl == SyzygyWdl::BLESSED_LOSS && !fiftyMoveRule)) return {ply - TABLE_WIN, -1};
    // A cursed win a unit above the draw: the opponent may still go wrong.
    return {drawScore + wdl, 0};
}

int32_t SyzygyRootRank(int32_t wdl, int32_t dtz, int32_t fiftyCount, bool repeated) {
    const int32_t plies = dtz + fiftyCount;
    if (wdl > 0) return plies <= SYZYGY_CONVERSION_PLIES && !repeated ? SYZYGY_RANK_TOP : SYZYGY_RANK_TOP - plies;
    if (wdl < 0) return dtz - SYZYGY_RANK_TOP;
    return 0;
}

bool ProbeSyzygyRoot(const Position& pos, int32_t fiftyCount, bool repeated, const Move* moves, int count,
                     SyzygyRootMove* out) {
#if TAVRIX_SYZYGY
    static unsigned results[TB_MAX_MOVES];
    const SyzygyBoard b = ToSyzygyBoard(pos);
    const unsigned root = tb_probe_root(b.white, b.black, b.kings, b.queens, b.rooks, b.bishops, b.knights, b.pawns,
                                        static_cast<unsigned>(fiftyCount), 0, b.ep, b.whiteToMove, results);
    if (root == TB_RESULT_FAILED || root == TB_RESULT_CHECKMATE || root == TB_RESULT_STALEMATE) return false;
    int32_t bestRank = 0;
    int found = 0;
    for (int i = 0; i < count; ++i) {
        SyzygyRootMove& r = out[i];
        r = SyzygyRootMove{moves[i], 0, 0, 0, false, false};
        for (int j = 0; j < TB_MAX_MOVES && results[j] != TB_RESULT_FAILED; ++j) {
            if (!SameMove(moves[i], results[j])) continue;
            r.wdl = static_cast<int32_t>(TB_GET_WDL(results[j])) - 2;
            r.dtz = static_cast<int32_t>(TB_GET_DTZ(results[j]));
            r.rank = SyzygyRootRank(r.wdl, r.dtz, fiftyCount, repeated);
            r.found = true;
            bestRank = found == 0 ? r.rank : std::max(bestRank, r.rank);
            ++found;
            break;
        }
    }
    if (found == 0) return false;
    for (int i = 0; i < count; ++i) out[i].best = out[i].found && out[i].rank == bestRank;
    AddTablebaseHits(static_cast<uint32_t>(found));
    return true;
#else
    (void)pos;
    (void)fiftyCount;
    (void)repeated;
    (void)moves;
    (void)count;
    (void)out;
    return false;
#endif
}

}  // namespace tavrix
