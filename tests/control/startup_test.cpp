#include <gtest/gtest.h>

#include "control/startup.h"
#include "eval/material.h"
#include "output_capture.h"

namespace tavrix {
namespace {

// The king-and-pawn table is computed by start-up, before the calibration search, so no
// search pays for it.
TEST(Startup, BuildsTheKingAndPawnTable) {
    testing::OutputCapture out;
    ASSERT_GT(StartupSequence(), 0);
    EXPECT_TRUE(EndgameTablesReady());
    Shutdown();
}

}  // namespace
}  // namespace tavrix
