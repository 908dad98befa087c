// Engine control: the controller's state record, the option settings and the limits of "go".
#pragma once

#include <cstdint>

#include "board/position.h"
#include "settings/settings.h"

namespace tavrix {

constexpr const char ENGINE_NAME[] = "TAVRIX 11 UCI";
constexpr const char ENGINE_AUTHOR[] = "the Tavrix developers";

constexpr int COMMAND_LINE_SIZE = 4096;       // one line holds at most 4095 characters

// ---------------------------------------------------------------- controller state

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

// Every option setting to its value before start-up (no hash table, no book).
void ResetEngineSettings();

}  // namespace tavrix
