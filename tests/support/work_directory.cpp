// Every test process works in a directory of its own, so what the engine writes to its
// working directory (the PGN file, the learning file) never lands in the build tree or
// leaks from one test into another.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "e2e/engine_process.h"

namespace tavrix::testing {
namespace {

class WorkDirectory : public ::testing::Environment {
public:
    void SetUp() override {
        directory_ = MakeTempDirectory();
        ASSERT_FALSE(directory_.empty());
        ASSERT_EQ(chdir(directory_.c_str()), 0);
    }
    void TearDown() override {
        if (chdir("/") == 0) RemoveDirectory(directory_);
    }

private:
    std::string directory_;
};

[[maybe_unused]] ::testing::Environment* const registered = ::testing::AddGlobalTestEnvironment(new WorkDirectory);

}  // namespace
}  // namespace tavrix::testing
