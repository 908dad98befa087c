// Engine control: the controller's state record, the option settings and the limits of "go".
#pragma once

#include <cstdint>

#include "board/position.h"

namespace tavrix {

constexpr const char ENGINE_NAME[] = "TAVRIX 11 UCI";
constexpr const char ENGINE_AUTHOR[] = "the Tavrix developers";

constexpr int MAX_DEPTH = 62;                 // iterations of one search
constexpr int32_t NO_TIME_LIMIT = 2000000000; // move-time target of an unlimited search
constexpr int COMMAND_LINE_SIZE = 4096;       // one line holds at most 4095 characters

// ---------------------------------------------------------------- controller state
namespace EngineStateValue {
constexpr int IDLE = 0;
constexpr int THINKING = 4;
constexpr int PONDERING = 6;
constexpr int CALIBRATING = 7;
constexpr int SEARCHING_BIT = 0x04;           // any state with this bit is a running search
}  // namespace EngineStateValue

namespace StopReasonValue {
constexpr uint8_t NONE = 0;
constexpr uint8_t STOP_COMMAND = 0x40;        // "stop", or a command that must wait for the search
}  // namespace StopReasonValue

namespace InputModeValue {
constexpr uint8_t UNKNOWN = 0;
constexpr uint8_t TERMINAL = 1;
constexpr uint8_t POLLED = 2;
}  // namespace InputModeValue

namespace ProtocolStateValue {
constexpr uint8_t BEFORE_UCI = 0;
constexpr uint8_t READY = 2;
}  // namespace ProtocolStateValue

constexpr uint8_t STARTUP_MODE_DEFAULT = 1;
constexpr uint8_t STARTUP_MODE_QUIET = 0x80;  // "-q"
constexpr uint8_t STARTUP_MODE_X = 4;         // "-x"

struct ControlState {
    int engineState;
    uint8_t stopReason;
    uint16_t quitRequested;
    uint8_t protocolState;
    uint8_t inputMode;
    uint8_t startupMode;
    int32_t startupNumber;
    bool linePending;          // dispatch commandLine again instead of reading
    bool newGameFlag;          // set by "ucinewgame", cleared by the next "position"
    // Nodes a search runs before it looks at waiting input, and at most between two looks
    // (0: from its first check on). A driver that queues a whole script of commands at once
    // (the fuzzing harness) sets it so that its searches still search.
    uint32_t inputGateNodes;
    bool benchRunning;         // "bench" reads input as a search does; end of input lets it finish
    char commandLine[COMMAND_LINE_SIZE];
    char lastPositionCommand[COMMAND_LINE_SIZE];
};

extern ControlState Control;

void ResetControlState();

constexpr bool IsSearching(int engineState) { return (engineState & EngineStateValue::SEARCHING_BIT) != 0; }

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

// Every field to its value before start-up (no hash table, no book).
void ResetEngineSettings();

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
};

extern GoLimits Limits;

// No limit: maximum depth, no move-time target, fixed search, normal think mode.
void ResetGoLimits();

}  // namespace tavrix
