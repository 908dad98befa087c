// "cmake --install" into a fresh prefix, and the installed engine run from elsewhere.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e/engine_process.h"

namespace tavrix::testing {
namespace {

namespace fs = std::filesystem;

TEST(Install, PutsProgramsAndBookUnderThePrefix) {
    char pattern[] = "/tmp/tavrix-install-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path prefix = pattern;
    const std::string command = std::string("\"") + TAVRIX_CMAKE + "\" --install \"" + TAVRIX_BUILD_DIR +
                                "\" --prefix \"" + prefix.string() + "\" > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);

    const bool bookBuilt = fs::exists(fs::path(TAVRIX_BUILD_DIR) / "T11Book.tbk");
    const struct {
        fs::path path;
        bool expected;
    } files[] = {
        {prefix / "bin/tavrix", true},
        {prefix / "bin/perft_bench", true},
        {prefix / "bin/tavrix-book", true},
        {prefix / "share/tavrix/T11Book.tbk", bookBuilt},
    };
    for (const auto& file : files) {
        SCOPED_TRACE(file.path.string());
        EXPECT_EQ(fs::exists(file.path), file.expected);
        if (file.expected && file.path.parent_path().filename() == "bin") {
            EXPECT_EQ(access(file.path.c_str(), X_OK), 0);
        }
    }

    // Started from another directory, as a GUI does, the installed engine answers and finds
    // the installed default book.
    EngineProcess engine;
    EngineLaunch launch;
    launch.program = (prefix / "bin/tavrix").string();
    launch.workingDirectory = "/";
    ASSERT_TRUE(StartEngine(engine, launch));
    ASSERT_TRUE(SendText(engine, "uci\nisready\nquit\n"));
    std::vector<std::string> lines;
    EXPECT_TRUE(ReadUntil(engine, "readyok", &lines));
    const bool bookOn = std::find(lines.begin(), lines.end(), "option name OwnBook type check default true") != lines.end();
    EXPECT_EQ(bookOn, bookBuilt);
    int status = -2;
    EXPECT_TRUE(WaitForExit(engine, status));
    EXPECT_EQ(status, 0);
    StopEngine(engine);
    fs::remove_all(prefix);
}

}  // namespace
}  // namespace tavrix::testing
