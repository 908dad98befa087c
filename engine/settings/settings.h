// The option settings and the limits of "go": written by the command loop, read by every
// layer (search, evaluation, book, tablebases), so they live below all of them.
#pragma once

#include <cstdint>

#include "board/position.h"

namespace tavrix {

constexpr int MAX_DEPTH = 62;                 // iterations of one search
constexpr int32_t NO_TIME_LIMIT = 2000000000; // move-time target of an unlimited search

// Controller states that the limits and the lower layers name.
namespace EngineStateValue {
constexpr int IDLE = 0;
constexpr int THINKING = 4;
constexpr int PONDERING = 6;
constexpr int CALIBRATING = 7;
constexpr int SEARCHING_BIT = 0x04;           // any state with this bit is a running search
}  // namespace EngineStateValue

// ---------------------------------------------------------------- option settings
namespace OptionFlag {
constexpr uint32_t OUTPUT_LEVEL = 0x00000003;
constexpr uint32_t VERBOSE_UCI = 0x00000004;
constexpr uint32_t GUI_TIME_LAG = 0x00000008;
constexpr uint32_t STEADY_SEARCH = 0x00000010;
constexpr uint32_t BOOK_STYLE = 0x000000E0;
constexpr int BOOK_STYLE_SHIFT = 5;
constexpr uint32_t PLAYING_STYLE = 0x00000300;
constexpr int PLAYING_STYLE_SHIFT = 8;
constexpr uint32_t RETAIN_HASH = 0x00000400;
constexpr uint32_t RESERVED_800 = 0x00000800;  // always set, no option
constexpr uint32_t SELECTIVITY = 0x00007000;
constexpr int SELECTIVITY_SHIFT = 12;
constexpr uint32_t SMART_SEARCH = 0x00008000;
constexpr uint32_t OWN_BOOK = 0x00010000;
constexpr uint32_t FUTILITY = 0x00040000;
constexpr uint32_t LIMIT_STRENGTH = 0x00100000;
constexpr uint32_t PONDER = 0x00200000;
constexpr uint32_t SWINDLE = 0x02000000;
constexpr uint32_t CHESS960 = 0x04000000;      // set by the position set-up
constexpr uint32_t USE_TABLEBASES = 0x08000000;
constexpr uint32_t BOOK_LEARNING = 0x10000000;
constexpr uint32_t POSITION_LEARNING = 0x20000000;
constexpr uint32_t COMBINATIONS = 0x40000000;
constexpr uint32_t HYPER_MODERN = 0x80000000;

constexpr uint32_t DEFAULT_WORD = 0x3A24FC83;
constexpr uint32_t CALIBRATION_KEEP = 0x05DB000C;  // bits a calibration search keeps from the user
}  // namespace OptionFlag

constexpr uint32_t AUTOSAVE_PGN = 0x01000000;     // bit of the autosave word

constexpr int FILE_NAME_SIZE = 160;               // names up to 159 characters
constexpr int32_t DEFAULT_HASH_KB = 16384;
constexpr int32_t MAX_HASH_MB = 2048;
constexpr int32_t MEGABYTE = 1048576;
constexpr const char DEFAULT_BOOK_FILE[] = "T11Book.tbk";
constexpr int32_t DEFAULT_ELO = 1925;             // EloFromNodeRate(128)
constexpr int32_t DEFAULT_ELO_MINIMUM = 1250;     // EloFromNodeRate(16)
constexpr int32_t DEFAULT_ELO_MAXIMUM = 3025;     // top of the curve until the machine is measured

struct EngineSettings {
    uint32_t optionFlags;
    int32_t hashSize;                  // KB actually allocated
    char bookFileName[FILE_NAME_SIZE];
    int32_t bookPositions;
    char tablebasePath[FILE_NAME_SIZE];
    int32_t tablebaseCache;            // bytes
    uint32_t tablebaseDepth;
    int32_t threatDepth;               // stored negated
    int32_t forwardPruning;            // option x 16
    int32_t drawValue;                 // -(option x 128 / 100)
    int32_t elo;
    int32_t eloMinimum;
    int32_t eloMaximum;
    int32_t strengthLimit;             // node rate, 0 = off
    uint8_t multiPV;
    uint32_t autosaveFlags;
};

extern EngineSettings Settings;


// ---------------------------------------------------------------- limits of "go"
constexpr int MAX_SEARCH_MOVES = 128;

namespace SearchType {
constexpr uint8_t FIXED = 3;
constexpr uint8_t TIMED = 4;
}  // namespace SearchType

struct GoLimits {
    Move searchMoves[MAX_SEARCH_MOVES];
    int searchMoveCount;
    int32_t moveTimeTarget;            // ms
    int32_t depthLimit;                // set by "depth"
    int32_t secondDepthLimit;          // stays at the maximum depth
    uint8_t searchType;
    uint8_t thinkMode;                 // 4 normal, 6 ponder
    bool infinite;                     // "infinite": "bestmove" only after "stop"
    uint64_t nodeLimit;                // "nodes": the search stops after this many (0 = none)
};

extern GoLimits Limits;

// No limit: maximum depth, no move-time target, fixed search, normal think mode.
void ResetGoLimits();

}  // namespace tavrix
