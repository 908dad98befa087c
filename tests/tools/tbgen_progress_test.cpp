// The generator's progress on standard error, as a user sees it: one line rewritten in place
// on a terminal, plain lines through a pipe or into a log.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "e2e/engine_process.h"
#include "tablebase/catalogue.h"
#include "tbgen/progress.h"
#include "tbgen/retrograde.h"

namespace tavrix::testing {
namespace {

// Runs the generator on kqk with standard error on a terminal or a pipe; what it wrote there.
std::string ProgressOfKqk(bool terminal, const std::string& directory, int& status) {
    int reader = -1, writer = -1;
    if (terminal) {
        if (openpty(&reader, &writer, nullptr, nullptr, nullptr) != 0) return "";
    } else {
        int ends[2];
        if (pipe(ends) != 0) return "";
        reader = ends[0], writer = ends[1];
    }
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(writer, 2);
        close(reader);
        execl(TAVRIX_TBGEN, "tavrix-tbgen", directory.c_str(), "kqk", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(writer);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(reader, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
    close(reader);
    waitpid(child, &status, 0);
    return text;
}

// The pieces of the text between separators.
std::vector<std::string> Pieces(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    size_t start = 0;
    for (size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + 1)
        pieces.push_back(text.substr(start, end - start));
    pieces.push_back(text.substr(start));
    return pieces;
}

TEST(TablebaseGeneratorProgress, RewrittenOnATerminalPlainLinesOtherwise) {
    const std::string directory = MakeTempDirectory();
    const std::string pass = "kqk: retrograde pass [0-9]+ \\([0-9]+%\\), [0-9.]+% of positions decided, .*";
    const struct {
        bool terminal;
        std::vector<std::string> shown;  // in this order, among others
    } cases[] = {
        {true, {"kqk: started", pass, "kqk: done in [0-9]+s", "kqk: writing"}},
        {false, {"kqk: started", pass, "kqk: done in [0-9]+s", "kqk: writing"}},
    };
    for (const auto& t : cases) {
        int status = -1;
        const std::string text = ProgressOfKqk(t.terminal, directory, status);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << t.terminal;
        // Each redraw goes back to the line's start and clears what a longer one left; the
        // last leaves the line empty for the result on standard output.
        std::vector<std::string> lines = Pieces(text, t.terminal ? '\r' : '\n');
        EXPECT_EQ(lines.back(), t.terminal ? "\x1b[K" : "") << text;
        lines.pop_back();
        if (t.terminal) {
            EXPECT_EQ(lines.front(), "") << text;
            lines.erase(lines.begin());
        }
        size_t next = 0;
        for (std::string& line : lines) {
            EXPECT_EQ(line.find(t.terminal ? '\n' : '\r'), std::string::npos) << line;
            if (t.terminal) {
                ASSERT_GE(line.size(), 3u);
                EXPECT_EQ(line.substr(line.size() - 3), "\x1b[K");
                line.resize(line.size() - 3);
            }
            if (next < t.shown.size() && std::regex_match(line, std::regex(t.shown[next]))) ++next;
        }
        EXPECT_EQ(next, t.shown.size()) << (next < t.shown.size() ? t.shown[next] : "") << " in\n" << text;
    }
    RemoveDirectory(directory);
}

TEST(TablebaseGeneratorProgress, ShareAndTimeLeftOfEachPhase) {
    // krpkr, which generates kqrkr for its promotions inside its setup. Times in seconds.
    using P = tbgen::Progress;
    const int krpkr = FindTablebaseClass("krpkr"), kqrkr = FindTablebaseClass("kqrkr");
    const struct {
        double at;
        P report;
        const char* shown;  // "" when the line waits for its interval
    } steps[] = {
        {0, {P::START, krpkr, 1, 0, 0, 0, 0, 0}, "krpkr: started"},
        {0.1, {P::SETUP, krpkr, 1, 0, 100, 0, 0, 0}, ""},
        {20, {P::SETUP, krpkr, 1, 25, 100, 0, 0, 0}, "krpkr: setup 25.0%, 1m00s left"},
        {21, {P::START, kqrkr, 2, 0, 0, 0, 0, 0}, "krpkr > kqrkr: started"},
        {51, {P::DONE, kqrkr, 2, 9, 9, 0, 5, 4}, "krpkr > kqrkr: done in 30s"},
        // 41 s of its own work for half the slots (kqrkr's 30 s are not krpkr's).
        {71, {P::SETUP, krpkr, 1, 50, 100, 0, 0, 0}, "krpkr: setup 50.0%, 41s left"},
        {71.1, {P::SETUP, krpkr, 1, 60, 100, 0, 0, 0}, ""},
        // Retrograde: the undecided positions at the rate so far bound what is left...
        {80, {P::RETROGRADE, krpkr, 1, 0, 50, 1, 100000, 10000},
         "krpkr: retrograde pass 1 (0%), 10.0% of positions decided, time left not known yet"},
        {90, {P::RETROGRADE, krpkr, 1, 0, 40, 2, 100000, 30000},
         "krpkr: retrograde pass 2 (0%), 30.0% of positions decided, at most 35s left"},
        {100, {P::RETROGRADE, krpkr, 1, 0, 30, 3, 100000, 50000},
         "krpkr: retrograde pass 3 (0%), 50.0% of positions decided, at most 25s left"},
        {110, {P::RETROGRADE, krpkr, 1, 10, 20, 4, 100000, 60000},
         "krpkr: retrograde pass 4 (50%), 60.0% of positions decided, at most 24s left"},
        // ...until a pair of passes decides clearly fewer than the pair before: passes 3 and
        // 4 made 15000, 1 and 2 made 40000, so 15000 * (r + r^2 + ...) with r = 3/8 are to
        // come, 9000 at 55000 in 40 s.
        {120, {P::RETROGRADE, krpkr, 1, 0, 20, 5, 100000, 65000},
         "krpkr: retrograde pass 5 (0%), 65.0% of positions decided, about 7s left"},
        {150, {P::DONE, krpkr, 1, 100, 100, 9, 100000, 70000}, "krpkr: done in 2m30s"},
    };
    for (const bool terminal : {false, true}) {
        char* buffer = nullptr;
        size_t size = 0;
        std::FILE* out = open_memstream(&buffer, &size);
        tbgen::ProgressDisplay display = tbgen::MakeProgressDisplay(out, terminal);
        for (const auto& s : steps) {
            tbgen::ShowProgress(display, s.report, s.at);
            std::fflush(out);
            const std::string text(buffer, size);
            const std::string expected =
                *s.shown == '\0' ? "" : terminal ? std::string("\r") + s.shown + "\x1b[K" : std::string(s.shown) + "\n";
            EXPECT_EQ(text, expected) << s.at;
            std::rewind(out);
            std::fflush(out);
            size = 0;
        }
        tbgen::EndProgressLine(display);
        std::fflush(out);
        EXPECT_EQ(std::string(buffer, size), terminal ? "\r\x1b[K" : "");
        std::fclose(out);
        std::free(buffer);
    }
}

}  // namespace
}  // namespace tavrix::testing
