#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "e2e/engine_process.h"

namespace tavrix::testing {
namespace {

std::vector<std::string> DEFAULT_OPTION_LINES = {
    "option name Ponder type check default true",
    "option name OwnBook type check default false",
    "option name Book File type string default T11Book.tbk",
    "option name Book Positions type combo default 0 var 0",
    "option name Book Style type combo default Tournament var Wild var Wide var Varied var Tournament",
    "option name Book Learning type check default true",
    "option name Position Learning type check default true",
    "option name Hash type spin min 1 max 2048 default 16",
    "option name Clear Hash type button",
    "option name Retain Hash type check default true",
    "option name Use Tablebases type check default true",
    "option name Tablebase Depth type spin min 0 max 7 default 2",
    "option name NalimovCache type spin min 1 max 256 default 1",
    "option name NalimovPath type string default ",
    "option name Tavrix Draw Value type spin min -100 max 100 default 0",
    "option name UCI_Elo type spin min 1250 max ",  // the maximum comes from the measured speed
    "option name UCI_LimitStrength type check default false",
    "option name UCI_Chess960 type check default false",
    "option name Playing Style type combo default Normal var Normal var Aggressive var Solid",
    "option name Selectivity type spin min 0 max 7 default 7",
    "option name Forward Pruning type spin min 0 max 15 default 10",
    "option name Threat Depth type spin min 0 max 7 default 3",
    "option name Smart Search type check default true",
    "option name Futility type check default true",
    "option name Steady Search type check default false",
    "option name Combinations type check default false",
    "option name Hyper-Modern Play type check default false",
    "option name Swindle type check default true",
    "option name GUI Time Lag type check default false",
    "option name Verbose UCI type check default false",
    "option name AutoSave PGN type check default true",
    "option name MultiPV type spin min 1 max 127 default 1",
};

// Options beyond the classic set come after UCI_EngineAbout, in this order.
const std::vector<std::string> LATER_OPTION_LINES = {
    "option name Threads type spin default 1 min 1 max 256",
};

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

// The engine opens the default book beside it when the build made one: "OwnBook" is then on
// and "Book Positions" is the record count of its header.
void ExpectDefaultBook() {
    FILE* f = std::fopen(TAVRIX_DEFAULT_BOOK, "rb");
    if (f == nullptr) return;
    unsigned char header[4] = {};
    const bool read = std::fread(header, 1, 4, f) == 4;
    std::fclose(f);
    if (!read) return;
    const int32_t count = static_cast<int32_t>(header[0] | header[1] << 8 | header[2] << 16 | uint32_t(header[3]) << 24);
    DEFAULT_OPTION_LINES[1] = "option name OwnBook type check default true";
    DEFAULT_OPTION_LINES[3] = "option name Book Positions type combo default " + std::to_string(count) + " var " +
                              std::to_string(count);
}

TEST(UciSession, FreshEngineAnswersUciIsreadyQuit) {
    ExpectDefaultBook();
    EngineSession session;
    ASSERT_TRUE(session.started);
    ASSERT_TRUE(SendText(session.engine, "uci\nisready\nquit\n"));
    const std::vector<std::string> lines = ReadToEnd(session.engine);
    int status = -2;
    ASSERT_TRUE(WaitForExit(session.engine, status));
    EXPECT_EQ(status, 0);

    const size_t expectedCount = 2 + 2 + DEFAULT_OPTION_LINES.size() + 1 + LATER_OPTION_LINES.size() + 2;
    ASSERT_EQ(lines.size(), expectedCount);
    EXPECT_TRUE(StartsWith(lines[0], "TAVRIX 11 UCI by ")) << lines[0];
    EXPECT_GT(lines[0].size(), std::string("TAVRIX 11 UCI by ").size());
    EXPECT_FALSE(lines[1].empty());
    EXPECT_EQ(lines[2], "id name TAVRIX 11 UCI");
    EXPECT_TRUE(StartsWith(lines[3], "id author ")) << lines[3];
    for (size_t i = 0; i < DEFAULT_OPTION_LINES.size(); ++i) {
        if (DEFAULT_OPTION_LINES[i] == "option name UCI_Elo type spin min 1250 max ") {
            const std::string& line = lines[4 + i];
            ASSERT_TRUE(StartsWith(line, DEFAULT_OPTION_LINES[i])) << line;
            const int maximum = std::atoi(line.c_str() + DEFAULT_OPTION_LINES[i].size());
            EXPECT_GT(maximum, 1925) << line;   // any machine searches more than 128 nodes per second
            EXPECT_LE(maximum, 3025) << line;
            EXPECT_TRUE(line.size() > 13 && line.compare(line.size() - 13, 13, " default 1925") == 0) << line;
            continue;
        }
        EXPECT_EQ(lines[4 + i], DEFAULT_OPTION_LINES[i]);
    }
    const size_t about = 4 + DEFAULT_OPTION_LINES.size();
    EXPECT_TRUE(StartsWith(lines[about], "option name UCI_EngineAbout type string default TAVRIX 11 UCI"))
        << lines[about];
    for (size_t i = 0; i < LATER_OPTION_LINES.size(); ++i) EXPECT_EQ(lines[about + 1 + i], LATER_OPTION_LINES[i]);
    const size_t uciok = about + 1 + LATER_OPTION_LINES.size();
    EXPECT_EQ(lines[uciok], "uciok");
    EXPECT_EQ(lines[uciok + 1], "readyok");
}

TEST(UciSession, SilentBeforeUci) {
    EngineSession session;
    ASSERT_TRUE(session.started);
    ASSERT_TRUE(SendText(session.engine, "isready\ngox\n\nposition startpos\nuci\n"));
    std::vector<std::string> before;
    ASSERT_TRUE(ReadUntil(session.engine, "id name TAVRIX 11 UCI", &before));
    EXPECT_EQ(before.size(), 2u);   // the banner only
}

// After "uci", each input is followed by a marker command: the lines before its report are the answer.
TEST(UciSession, LoopAndOptionEdgeCases) {
    struct Case {
        std::string input;
        std::vector<std::string> answer;
    };
    const std::string longLine(5000, 'z');
    const Case cases[] = {
        {"gox\n", {"info string unknown UCI <gox> command"}},
        {"GOX\n", {"info string unknown UCI <GOX> command"}},
        {"stop \n", {"info string unknown UCI <stop > command"}},
        {"stop\n", {}},
        {"\n", {"info string unknown UCI <> command"}},
        {"   \n", {"info string unknown UCI <> command"}},
        {"uci\n", {"info string unknown UCI <uci> command"}},
        {"quitx\n", {"info string unknown UCI <quitx> command"}},
        {"ISREADY\n", {"readyok"}},
        {"  isready\r\n", {"readyok"}},
        {std::string("is\0ready\n", 9), {"readyok"}},
        {"isready\nisready\nisready\n", {"readyok", "readyok", "readyok"}},
        {"setoption foo\n", {"info string unknown UCI <foo> command"}},
        {"setoption name Tavrix Draw Value value 129\n", {}},
        {"setoption name Hash value 2049\n", {}},
        {"setoption name MultiPV value 128\n", {}},
        {"setoption name hash value 32\n", {}},
        {"setoption name Nonsense value 3\n", {}},
        {"ucinewgame\n", {}},
        {"ponderhit\n", {}},
        {longLine + "\n", {"info string unknown UCI <" + std::string(4095, 'z') + "> command"}},
        {"gox\r\nfoo\n", {"info string unknown UCI <gox> command", "info string unknown UCI <foo> command"}},
    };
    const std::string marker = "info string unknown UCI <end-of-case> command";
    EngineSession session;
    ASSERT_TRUE(session.started);
    ASSERT_TRUE(SendText(session.engine, "uci\n"));
    ASSERT_TRUE(ReadUntil(session.engine, "uciok"));
    for (const Case& c : cases) {
        ASSERT_TRUE(SendText(session.engine, c.input + "end-of-case\n"));
        std::vector<std::string> answer;
        ASSERT_TRUE(ReadUntil(session.engine, marker, &answer)) << c.input.substr(0, 40);
        EXPECT_EQ(answer, c.answer) << c.input.substr(0, 40);
    }
    ASSERT_TRUE(SendText(session.engine, "quit\n"));
    int status = -2;
    ASSERT_TRUE(WaitForExit(session.engine, status));
    EXPECT_EQ(status, 0);
}

TEST(UciSession, GoReportsUnknownParametersAndGoesOn) {
    EngineSession session;
    ASSERT_TRUE(session.started);
    ASSERT_TRUE(SendText(session.engine, "uci\nposition startpos\ngo foo depth 3\n"));
    ASSERT_TRUE(ReadUntil(session.engine, "uciok"));
    std::string line;
    ASSERT_TRUE(ReadLineWithin(session.engine, ANSWER_TIMEOUT_MS, line));
    EXPECT_EQ(line, "info string unknown UCI go <foo depth 3> command");
    ASSERT_TRUE(SendText(session.engine, "isready\nquit\n"));
    EXPECT_TRUE(ReadUntil(session.engine, "readyok"));
    int status = -2;
    ASSERT_TRUE(WaitForExit(session.engine, status));
    EXPECT_EQ(status, 0);
}

TEST(UciSession, EndOfInputShutsDownCleanly) {
    struct Case {
        std::string input;
        std::vector<std::string> tail;   // last lines before the output ends
    };
    const Case cases[] = {
        {"", {}},
        {"uci\n", {"uciok"}},
        {"uci\nisready", {"uciok", "readyok"}},   // a last line without a line end still counts
        {"uci\nquit\nisready\n", {"uciok"}},      // nothing runs after "quit"
        {"uci\r\nisready\r\n", {"uciok", "readyok"}},
    };
    for (const Case& c : cases) {
        EngineSession session;
        ASSERT_TRUE(session.started);
        ASSERT_TRUE(SendText(session.engine, c.input));
        CloseInput(session.engine);
        const std::vector<std::string> lines = ReadToEnd(session.engine);
        int status = -2;
        ASSERT_TRUE(WaitForExit(session.engine, status)) << c.input;
        EXPECT_EQ(status, 0) << c.input;
        ASSERT_GE(lines.size(), c.tail.size() + 2) << c.input;
        const std::vector<std::string> tail(lines.end() - static_cast<std::ptrdiff_t>(c.tail.size()), lines.end());
        EXPECT_EQ(tail, c.tail) << c.input;
    }
}

TEST(UciSession, SwitchesDoNotDisturbTheProtocol) {
    const std::vector<std::vector<std::string>> argumentLists = {
        {"-q"}, {"-x"}, {"-x", "12"}, {"-x", "foo", "-s", "5"}, {"-s"}, {"--unknown", "-Q"},
    };
    for (const std::vector<std::string>& arguments : argumentLists) {
        EngineSession session(arguments);
        ASSERT_TRUE(session.started);
        ASSERT_TRUE(SendText(session.engine, "uci\nisready\nquit\n"));
        EXPECT_TRUE(ReadUntil(session.engine, "uciok")) << arguments[0];
        EXPECT_TRUE(ReadUntil(session.engine, "readyok")) << arguments[0];
        int status = -2;
        ASSERT_TRUE(WaitForExit(session.engine, status));
        EXPECT_EQ(status, 0) << arguments[0];
    }
}

TEST(UciSession, ArbitraryBytesNeitherCrashNorBlock) {
    EngineSession session;
    ASSERT_TRUE(session.started);
    ASSERT_TRUE(SendText(session.engine, "uci\n"));
    ASSERT_TRUE(ReadUntil(session.engine, "uciok"));
    // A fixed pseudo-random stream: every byte value, NULs, CRs, short and very long lines.
    uint32_t state = 12345;
    std::string noise;
    for (int i = 0; i < 200000; ++i) {
        state = state * 1103515245u + 12345u;
        const uint32_t pick = (state >> 16) & 0x7FFF;
        if (pick % 97 == 0) noise += '\n';
        else if (pick % 89 == 0) noise += '\r';
        else if (pick % 83 == 0) noise += '\0';
        else noise += static_cast<char>(pick & 0xFF);
    }
    std::string lower = noise;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    ASSERT_EQ(lower.find("quit"), std::string::npos);
    ASSERT_TRUE(SendText(session.engine, noise + "\nisready\n"));
    ASSERT_TRUE(ReadUntil(session.engine, "readyok"));
    ASSERT_TRUE(SendText(session.engine, "quit\n"));
    int status = -2;
    ASSERT_TRUE(WaitForExit(session.engine, status));
    EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace tavrix::testing
