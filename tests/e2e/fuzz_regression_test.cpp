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
        std::string answerPrefix;  // a line that must come, within the answer time
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
        // "isready" is answered at once, also while "bench" runs: it follows the answer.
        ASSERT_TRUE(SendText(session.engine, "uci\n" + c.script));
        bool answered = false;
        std::string line;
        while (!answered && ReadLineWithin(session.engine, ANSWER_TIMEOUT_MS, line)) answered = line.rfind(c.answerPrefix, 0) == 0;
        EXPECT_TRUE(answered);
        ASSERT_TRUE(SendText(session.engine, "isready\n"));
        EXPECT_TRUE(ReadUntil(session.engine, "readyok"));
    }
}

}  // namespace
}  // namespace tavrix::testing
