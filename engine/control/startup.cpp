#include "control/startup.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "book/book.h"
#include "book/learning.h"
#include "control/engine.h"
#include "control/options.h"
#include "tablebase/probe.h"
#include "control/setup.h"
#include "control/think.h"
#include "control/timeman.h"
#include "control/uci.h"
#include "control/workers.h"
#include "eval/material.h"
#include "search/root.h"
#include "platform/platform.h"
#include "search/ttable.h"

namespace tavrix {

namespace {

constexpr int EXIT_OK = 0;
constexpr int EXIT_STARTUP_FAILED = 1;

// Reads a leading decimal number as "%ld" would; false when the text holds none.
bool ParseLong(const char* text, int32_t& value) {
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text, &end, 10);
    if (end == text) return false;
    if (parsed > INT32_MAX) value = INT32_MAX;
    else if (parsed < INT32_MIN) value = INT32_MIN;
    else value = static_cast<int32_t>(parsed);
    return true;
}

}  // namespace

bool BenchRequested(int argc, const char* const* argv) { return argc >= 2 && std::strcmp(argv[1], "bench") == 0; }

int32_t BenchDepth(int argc, const char* const* argv) {
    int32_t depth = DEFAULT_BENCH_DEPTH;
    if (argc >= 3 && !ParseLong(argv[2], depth)) depth = DEFAULT_BENCH_DEPTH;
    return depth;
}

void PrintBanner() {
    platform::Print("%s by %s\n", ENGINE_NAME, ENGINE_AUTHOR);
    platform::Print("UCI chess engine: waiting for a graphical interface (\"uci\" starts, \"quit\" ends)\n");
}

void ReadSwitches(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (std::strcmp(argument, "-q") == 0) {
            Control.startupMode = STARTUP_MODE_QUIET;
        } else if (std::strcmp(argument, "-x") == 0) {
            if (i + 1 < argc) {
                if (ParseLong(argv[i + 1], Control.startupNumber)) ++i;  // a non-number is the next switch
                else Control.startupNumber = 0;
            }
            Control.startupMode = STARTUP_MODE_X;
        } else if (std::strcmp(argument, "-s") == 0) {
            if (i + 1 < argc) {
                ParseLong(argv[i + 1], Control.startupNumber);  // consumed whatever it holds
                ++i;
            }
        }
    }
}

int32_t StartupSequence() {
    // Still to come with its subsystem: the search work tables.
    ResetTimeState();  // also takes the clock base
    SeedBookRandom(platform::TickCount());
    if (InitialiseTablebases(true, Settings.tablebasePath, Settings.tablebaseCache) == 0) return 0;
    LoadDefaults();
    InitEndgameTables();
    Settings.hashSize = AllocateHashTable(DEFAULT_HASH_KB);
    if (Settings.hashSize == 0) return 0;
    NewGame();
    CalibrationSearch();
    OpenBook(Settings.bookFileName);  // without one "OwnBook" is off and "Book Positions" 0
    return Settings.hashSize;
}

void SetInputMode() {
    if (platform::StdinIsTerminal()) {
        Control.inputMode = InputModeValue::TERMINAL;
        return;
    }
    platform::SetUnbufferedOutput();
    Control.inputMode = InputModeValue::POLLED;
}

void IdleLoop() {
    while (Control.quitRequested == 0) {
        Control.engineState = EngineStateValue::IDLE;
        ReadAndDispatch();
    }
}

void Shutdown() {
    ResizeWorkers(1);
    if (Learning.changed) SaveLearning();
    FreeTablebases();
    FreeHashTable();
    Settings.hashSize = 0;
    CloseBook();
}

int RunEngine(int argc, const char* const* argv) {
    ResetControlState();
    ResetEngineSettings();
    ResetThinkState();
    ResetRootState();
    ResetTimeState();
    PrintBanner();
    ReadSwitches(argc, argv);
    if (StartupSequence() == 0) return EXIT_STARTUP_FAILED;
    if (BenchRequested(argc, argv)) {
        Bench(BenchDepth(argc, argv));
    } else {
        SetInputMode();
        IdleLoop();
    }
    Shutdown();
    return EXIT_OK;
}

}  // namespace tavrix
