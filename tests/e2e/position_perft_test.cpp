#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "e2e/engine_process.h"

namespace tavrix {
namespace {

// Runs the engine with `input` on standard input and returns its standard output.
std::string RunEngine(const std::string& input, const char* name) {
    const std::string path = ::testing::TempDir() + name;
    std::ofstream(path) << input;
    // In a directory of its own: the games it ends leave their PGN there.
    const std::string directory = testing::MakeTempDirectory();
    const std::string command = "cd \"" + directory + "\" && \"" + std::string(TAVRIX_BINARY) + "\" < \"" + path + "\"";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return {};
    std::string out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
    std::remove(path.c_str());
    testing::RemoveDirectory(directory);
    return out;
}

std::string After(const std::string& out, const std::string& marker) {
    const size_t at = out.find(marker);
    return at == std::string::npos ? std::string() : out.substr(at + marker.size());
}

TEST(EndToEnd, PositionAndGoPerftOverPipes) {
    struct Case {
        const char* commands;
        const char* expected;   // must appear in the output
        const char* absent;     // must not appear ("" for none)
    };
    const Case cases[] = {
        {"position startpos\ngo perft 3\n", "e2e4: 600\n", ""},
        {"position startpos\ngo perft 3\n", "\n\nNodes searched: 8902\n", ""},
        // Moves in both notations; the unreadable and the illegal token are skipped.
        {"position startpos moves e4 zz e7e5 e1e3 Nf3\ngo perft 1\n", "Nodes searched: 29\n", ""},
        // A refused FEN keeps the previous position.
        {"position startpos moves e2e4\nposition fen 4k3/8/8/8/8/8/8/4K3 w KQkq\ngo perft 1\n",
         "Nodes searched: 20\n", ""},
        {"position fen r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1\ngo perft 1\n", "e1g1: 1\n", "e1h1"},
        {"position fen r3k2r/8/8/8/8/8/8/R3K2R w HAha - 0 1\ngo perft 1\n", "e1h1: 1\n", "e1g1"},
        {"position fen 3k4/4P3/8/8/8/8/8/4K3 w - - 0 1\ngo perft 1\n", "Nodes searched: 20\n", ""},  // refused: start position stays
        {"position fen 2k5/4P3/8/8/8/8/8/4K3 w - - 0 1 moves e7e8=N\ngo perft 1\n", "Nodes searched: 4\n", ""},  // the knight covers c7
    };
    int i = 0;
    for (const Case& c : cases) {
        const std::string out = RunEngine(std::string("uci\n") + c.commands + "quit\n", ("e2e_" + std::to_string(i++)).c_str());
        const std::string tail = After(out, "uciok\n");
        EXPECT_NE(tail.find(c.expected), std::string::npos) << c.commands << "\n---\n" << tail;
        if (c.absent[0] != '\0') {
            EXPECT_EQ(tail.find(c.absent), std::string::npos) << c.commands;
        }
    }
}

}  // namespace
}  // namespace tavrix
