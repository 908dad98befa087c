// The match scripts as they start the opponents: tools/soak.sh through the match runner,
// tools/match.sh through XBoard. Stand-ins record the command lines instead of playing.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/engine_process.h"

namespace tavrix {
namespace {

const std::string TOOLS = std::string(TAVRIX_TEST_DATA) + "/../../tools";

void WriteScript(const std::string& path, const std::string& body) {
    std::ofstream(path) << "#!/usr/bin/env bash\n" << body;
    chmod(path.c_str(), 0755);
}

// The arguments each run of a stand-in got, one run per line, tab-separated.
std::vector<std::vector<std::string>> Runs(const std::string& log) {
    std::vector<std::vector<std::string>> runs;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> words;
        std::stringstream fields(line);
        for (std::string word; std::getline(fields, word, '\t');) words.push_back(word);
        runs.push_back(words);
    }
    return runs;
}

// The arguments behind the one at `from` up to the next that starts with "-".
std::vector<std::string> Group(const std::vector<std::string>& run, size_t from) {
    std::vector<std::string> group;
    for (size_t i = from + 1; i < run.size() && run[i][0] != '-'; ++i) group.push_back(run[i]);
    return group;
}

bool Has(const std::vector<std::string>& words, const std::string& word) {
    for (const std::string& w : words)
        if (w == word) return true;
    return false;
}

TEST(MatchScripts, GlaurungSearchesWithOneThread) {
    const std::string directory = testing::MakeTempDirectory();
    const std::string log = directory + "/runs.log";
    // Records its arguments and leaves the empty PGN file and output a finished run would.
    const std::string record = "printf '%s\\t' \"$@\" >>" + log + "; echo >>" + log + "\n";
    WriteScript(directory + "/fastchess", record +
                    "for a in \"$@\"; do case $a in file=*.pgn) : >\"${a#file=}\";; esac; done\n");
    WriteScript(directory + "/xboard", record +
                    "while [ $# -gt 0 ]; do [ \"$1\" = -sgf ] && : >\"$2\"; shift; done\n");
    WriteScript(directory + "/xvfb-run", "shift; exec \"$@\"\n");  // drops "-a"
    WriteScript(directory + "/polyglot", "");
    WriteScript(directory + "/glaurung", "");
    const std::string path = "PATH=" + directory + ":$PATH ";

    const std::string soak = "cd " + directory + " && FASTCHESS=" + directory + "/fastchess " + TOOLS +
                             "/soak.sh 2 2 >soak.out 2>&1";
    ASSERT_EQ(std::system(soak.c_str()), 0) << soak;
    // The soak names its working folder on its first line.
    std::string named;
    std::getline(std::ifstream(directory + "/soak.out"), named);
    const size_t at = named.find("/tmp/tavrix-soak-");
    ASSERT_NE(at, std::string::npos) << named;
    testing::RemoveDirectory(named.substr(at));
    int glaurungRuns = 0;
    for (const auto& run : Runs(log)) {
        for (size_t i = 0; i < run.size(); ++i) {
            if (run[i] != "-engine") continue;
            const std::vector<std::string> engine = Group(run, i);
            if (!Has(engine, "cmd=/usr/games/glaurung")) continue;
            ++glaurungRuns;
            EXPECT_TRUE(Has(engine, "option.Threads=1"));
        }
    }
    EXPECT_EQ(glaurungRuns, 2);  // the normal and the very fast games

    std::remove(log.c_str());
    const std::string match = "cd " + directory + " && " + path + TOOLS + "/match.sh -e " + TAVRIX_BINARY + " -o " +
                              directory + "/glaurung -n 2 -p " + directory + "/match.pgn -l " + directory +
                              "/work >match.out 2>&1";
    ASSERT_EQ(std::system(match.c_str()), 0) << match;
    const auto runs = Runs(log);
    ASSERT_EQ(runs.size(), 1u);
    bool oneCore = false;
    for (size_t i = 0; i + 1 < runs[0].size(); ++i) oneCore = oneCore || (runs[0][i] == "-smpCores" && runs[0][i + 1] == "1");
    EXPECT_TRUE(oneCore);
    testing::RemoveDirectory(directory);
}

}  // namespace
}  // namespace tavrix
