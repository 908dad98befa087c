// What the fuzz harnesses share: one start-up per process, the engine back to its state
// after start-up before every input, and output that goes nowhere unless asked for.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "control/engine.h"
#include "control/options.h"
#include "control/setup.h"
#include "control/startup.h"
#include "control/think.h"
#include "control/timeman.h"
#include "platform/platform.h"
#include "search/root.h"
#include "search/ttable.h"

namespace tavrix::fuzz {

// Small enough that clearing it per input costs little.
constexpr int32_t FUZZ_HASH_KB = 1024;

// TAVRIX_FUZZ_SHOW=1 shows the engine's answers on standard error when replaying an input.
inline FILE* NullOutput() {
    static FILE* sink = std::getenv("TAVRIX_FUZZ_SHOW") != nullptr ? stderr : std::fopen("/dev/null", "w");
    return sink;
}

struct StartupRecord {
    EngineSettings settings;
    int32_t calibratedNodeRate;
};

inline StartupRecord& Startup() {
    static StartupRecord record;
    return record;
}

// The program's start-up (calibration included) once per process, with a small table.
inline void StartEngineOnce() {
    platform::RedirectOutput(NullOutput());
    ResetControlState();
    ResetEngineSettings();
    ResetThinkState();
    ResetRootState();
    ResetTimeState();
    if (StartupSequence() == 0) std::abort();
    Settings.hashSize = ResizeHashTable(FUZZ_HASH_KB);
    Startup().settings = Settings;
    Startup().calibratedNodeRate = ThinkControl.calibratedNodeRate;
}

// Everything a previous input may have changed, back to the state after start-up.
inline void FreshEngine() {
    ResetControlState();
    ResetThinkState();
    ResetRootState();
    ResetTimeState();
    const int32_t hashSize = Settings.hashSize;
    LoadDefaults();
    Settings = Startup().settings;
    Settings.hashSize = hashSize == FUZZ_HASH_KB ? hashSize : ResizeHashTable(FUZZ_HASH_KB);
    if (Settings.hashSize == 0) std::abort();
    ClearHashTableFully();
    ThinkControl.calibratedNodeRate = Startup().calibratedNodeRate;
    ThinkControl.nodeRate = Startup().calibratedNodeRate;
    NewGame();
    platform::ResetPlatformState();
    platform::RedirectOutput(NullOutput());
}

}  // namespace tavrix::fuzz
