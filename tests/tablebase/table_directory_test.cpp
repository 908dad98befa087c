// The directories tests write tables into are gone when the test process ends.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "e2e/engine_process.h"

namespace tavrix::testing {
namespace {

TEST(TablebaseTestDirectories, ATestRemovesTheDirectoriesItMade) {
    const std::string root = MakeTempDirectory();
    ASSERT_FALSE(root.empty());
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, root.c_str(), IN_CREATE), 0);
    // One table test in a process of its own, with its temporary files under `root`.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        setenv("TEST_TMPDIR", root.c_str(), 1);
        execl("/proc/self/exe", "tavrix_tests", "--gtest_filter=TablebaseProbe.ReadFailureMarksOneSignatureAndSide",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    int tableDirectories = 0;
    alignas(inotify_event) char events[8192];
    for (ssize_t n; (n = read(watch, events, sizeof events)) > 0;)
        for (char* p = events; p < events + n; p += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(p)->len) {
            const inotify_event* e = reinterpret_cast<inotify_event*>(p);
            if (e->len > 0 && std::string(e->name).rfind("tavrix_tb_", 0) == 0) ++tableDirectories;
        }
    close(watch);
    EXPECT_GT(tableDirectories, 0);
    EXPECT_TRUE(std::filesystem::is_empty(root));
    RemoveDirectory(root);
}

}  // namespace
}  // namespace tavrix::testing
