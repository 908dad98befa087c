// The transposition table's memory as the operating system sees it.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "e2e/engine_process.h"

namespace tavrix::testing {
namespace {

constexpr long long KB_PER_MB = 1024;
// Clearing 2 GB touches every page: seconds on a busy machine.
constexpr int HASH_READY_TIMEOUT_MS = 180000;

// VmRSS of a process in KB, -1 when unreadable.
long long ResidentKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string word;
    while (status >> word)
        if (word == "VmRSS:") {
            long long kb = -1;
            status >> kb;
            return kb;
        }
    return -1;
}

// Sets the hash size, waits for "readyok" and checks that a search still ends with a move.
long long ResidentAfterHash(EngineProcess& engine, int megabytes) {
    EXPECT_TRUE(SendText(engine, "uci\nsetoption name Hash value " + std::to_string(megabytes) + "\nisready\n"));
    EXPECT_TRUE(ReadUntil(engine, "readyok", nullptr, HASH_READY_TIMEOUT_MS));
    const long long resident = ResidentKb(engine.pid);
    std::vector<std::string> lines;
    EXPECT_TRUE(SendText(engine, "position startpos\ngo depth 4\n"));
    std::string line;
    bool moved = false;
    while (!moved && ReadLineWithin(engine, ANSWER_TIMEOUT_MS, line)) moved = line.rfind("bestmove ", 0) == 0;
    EXPECT_TRUE(moved);
    return resident;
}

// The sanitizers' shadow memory and address-space reservations distort both measures.
TEST(Memory, LargestHashIsResidentAndAnUnobtainableOneFallsBack) {
    if (TAVRIX_SANITIZED) GTEST_SKIP() << "sanitized build";
    struct Case {
        int hashMb;
        unsigned long long addressSpaceMb;  // 0 = no limit
        long long minResidentMb;
        long long maxResidentMb;
    };
    // Hash 2048 is all there (the table is cleared, so every page is touched) plus the program's
    // few MB; under a 700 MB address-space limit it settles on what fits, well above nothing.
    const Case cases[] = {
        {2048, 0, 2048, 2048 + 24},
        {2048, 700, 128, 700},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.hashMb) + " MB under limit " + std::to_string(c.addressSpaceMb));
        EngineProcess engine;
        EngineLaunch launch;
        launch.addressSpaceBytes = c.addressSpaceMb * 1024 * 1024;
        ASSERT_TRUE(StartEngine(engine, launch));
        const long long resident = ResidentAfterHash(engine, c.hashMb);
        EXPECT_GE(resident, c.minResidentMb * KB_PER_MB);
        EXPECT_LE(resident, c.maxResidentMb * KB_PER_MB);
        ASSERT_TRUE(SendText(engine, "quit\n"));
        int status = -2;
        EXPECT_TRUE(WaitForExit(engine, status));
        EXPECT_EQ(status, 0);
        StopEngine(engine);
    }
}

}  // namespace
}  // namespace tavrix::testing
