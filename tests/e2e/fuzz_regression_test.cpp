// Scripts the fuzz harnesses found faults with, replayed over pipes as a GUI sends them:
// each must be answered in full and leave the engine answering "isready".
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/engine_process.h"

namespace tavrix::testing {
namespace {

TEST(FuzzRegression, ScriptsEndAnsweredAndReady) {
    const struct {
        const char* fault;
        std::string script;
        std::string answerPrefix;  // a line that must come before "readyok"
    } cases[] = {
        // "bench" ran at the strength limit's node rate: minutes per position, deaf to input.
        {"bench under UCI_LimitStrength",
         "setoption name UCI_LimitStrength value true\nsetoption name UCI_Elo value 1300\nbench 1\n",
         "Nodes searched: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        EngineSession session;
        ASSERT_TRUE(session.started);
        ASSERT_TRUE(SendText(session.engine, "uci\n" + c.script + "isready\n"));
        std::vector<std::string> before;
        ASSERT_TRUE(ReadUntil(session.engine, "readyok", &before));
        bool answered = false;
        for (const std::string& line : before) answered = answered || line.rfind(c.answerPrefix, 0) == 0;
        EXPECT_TRUE(answered);
    }
}

}  // namespace
}  // namespace tavrix::testing
