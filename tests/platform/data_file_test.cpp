#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/platform.h"

namespace tavrix::platform {
namespace {

namespace fs = std::filesystem;

TEST(DataFile, CandidatesRunFromWorkingDirectoryToInstalledShare) {
    char directory[PATH_SIZE];
    ASSERT_TRUE(ExecutableDirectory(directory, PATH_SIZE));
    const std::string here = directory;
    EXPECT_TRUE(fs::exists(here + "/" + fs::path(fs::read_symlink("/proc/self/exe")).filename().string()));

    const struct {
        std::string name;
        std::vector<std::string> expected;
    } cases[] = {
        {"T11Book.tbk", {"T11Book.tbk", here + "/T11Book.tbk", here + "/../share/tavrix/T11Book.tbk"}},
        {"books/a.tbk", {"books/a.tbk", here + "/books/a.tbk", here + "/../share/tavrix/books/a.tbk"}},
        {"/abs/a.tbk", {"/abs/a.tbk"}},
        {"", {""}},
        {std::string(PATH_SIZE, 'x'), {}},
    };
    static PathCandidates candidates;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.substr(0, 40));
        DataFileCandidates(c.name.c_str(), candidates);
        ASSERT_EQ(candidates.count, static_cast<int>(c.expected.size()));
        for (int i = 0; i < candidates.count; ++i) EXPECT_EQ(candidates.paths[i], c.expected[i]);
    }
}

TEST(DataFile, ResolvesTheFirstReadableCandidate) {
    char directory[PATH_SIZE];
    ASSERT_TRUE(ExecutableDirectory(directory, PATH_SIZE));
    const fs::path beside = fs::path(directory) / "tavrix-data-file-test.bin";
    std::FILE* file = std::fopen(beside.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    const fs::path local = fs::current_path() / beside.filename();

    char found[PATH_SIZE];
    // Beside the executable only.
    EXPECT_TRUE(ResolveDataFile("tavrix-data-file-test.bin", found, PATH_SIZE));
    EXPECT_TRUE(fs::equivalent(fs::path(found), beside));
    // A directory of that name is no file; nothing found leaves the name as given.
    EXPECT_FALSE(ResolveDataFile(".", found, PATH_SIZE));
    EXPECT_STREQ(found, ".");
    EXPECT_FALSE(ResolveDataFile("tavrix-no-such-file.bin", found, PATH_SIZE));
    EXPECT_STREQ(found, "tavrix-no-such-file.bin");
    // The working directory comes first.
    if (local != beside) {
        file = std::fopen(local.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fclose(file);
        EXPECT_TRUE(ResolveDataFile("tavrix-data-file-test.bin", found, PATH_SIZE));
        EXPECT_STREQ(found, "tavrix-data-file-test.bin");
        fs::remove(local);
    }
    fs::remove(beside);
}

}  // namespace
}  // namespace tavrix::platform
