#include <gtest/gtest.h>

#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace tavrix::platform {
namespace {

// A line reader over a pipe that the test writes into.
struct PipeReader {
    int writer = -1;
    std::unique_ptr<LineReader> reader = std::make_unique<LineReader>();

    PipeReader() {
        int ends[2];
        EXPECT_EQ(pipe(ends), 0);
        writer = ends[1];
        ResetLineReader(*reader, ends[0]);
    }
    ~PipeReader() {
        CloseWriter();
        close(reader->fd);
    }
    void Write(const std::string& text) {
        ASSERT_EQ(write(writer, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    void CloseWriter() {
        if (writer >= 0) close(writer);
        writer = -1;
    }
};

std::vector<std::string> ReadAll(LineReader& reader, int capacity) {
    std::vector<std::string> lines;
    std::vector<char> line(capacity);
    for (int length; (length = ReadLineFrom(reader, line.data(), capacity)) >= 0;) {
        EXPECT_EQ(static_cast<size_t>(length), std::string(line.data()).size());
        lines.emplace_back(line.data(), length);
    }
    return lines;
}

TEST(LineReader, SplitsCleansAndCutsLines) {
    struct Case {
        std::string input;
        int capacity;
        std::vector<std::string> lines;
    };
    const std::string longLine(5000, 'x');
    const Case cases[] = {
        {"uci\nisready\n", 4096, {"uci", "isready"}},
        {"uci\r\nisready\r\n", 4096, {"uci", "isready"}},
        {"a\rb\n\r\n", 4096, {"a\rb", ""}},                   // only a CR right before LF is a line end
        {"\n\n", 4096, {"", ""}},
        {"quit", 4096, {"quit"}},                              // the last line needs no line end
        {"quit\r", 4096, {"quit"}},
        {"", 4096, {}},
        {std::string("is\0ready\n\0\n", 11), 4096, {"isready", ""}},
        {longLine + "\nisready\n", 4096, {std::string(4095, 'x'), "isready"}},
        {std::string(4095, 'y') + "\r\n", 4096, {std::string(4095, 'y')}},
        {"abcdefghij\nxy\n", 5, {"abcd", "xy"}},
        {"abcd\r\n", 5, {"abcd"}},
        {"abc\r\n", 5, {"abc"}},
    };
    for (const Case& c : cases) {
        PipeReader pipeReader;
        pipeReader.Write(c.input);
        pipeReader.CloseWriter();
        EXPECT_EQ(ReadAll(*pipeReader.reader, c.capacity), c.lines) << c.input.substr(0, 40);
    }
}

TEST(LineReader, LinesLongerThanTheBufferAreCutToo) {
    PipeReader pipeReader;
    const std::string text = std::string(LineReader::BUFFER_SIZE / 2, 'a') + "\n";
    // Written from a child so that the pipe never fills up against our own reads.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        for (int i = 0; i < 5; ++i) {
            if (write(pipeReader.writer, text.data(), text.size()) < 0) _exit(1);
        }
        const std::string huge(3 * LineReader::BUFFER_SIZE, 'b');
        if (write(pipeReader.writer, huge.data(), huge.size()) < 0) _exit(1);
        if (write(pipeReader.writer, "\nend\n", 5) < 0) _exit(1);
        _exit(0);
    }
    pipeReader.CloseWriter();
    const std::vector<std::string> lines = ReadAll(*pipeReader.reader, 4096);
    ASSERT_EQ(lines.size(), 7u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(lines[i], std::string(4095, 'a'));
    EXPECT_EQ(lines[5], std::string(4095, 'b'));
    EXPECT_EQ(lines[6], "end");
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(LineReader, WaitingInputIsExactAcrossOneWrite) {
    PipeReader pipeReader;
    LineReader& reader = *pipeReader.reader;
    char line[64];
    EXPECT_FALSE(InputWaitingOn(reader));
    pipeReader.Write("isready\nstop\n");          // two commands in one write
    EXPECT_TRUE(InputWaitingOn(reader));
    EXPECT_EQ(ReadLineFrom(reader, line, sizeof line), 7);
    EXPECT_STREQ(line, "isready");
    EXPECT_TRUE(InputWaitingOn(reader));         // "stop" sits in our buffer, not in the pipe
    EXPECT_EQ(ReadLineFrom(reader, line, sizeof line), 4);
    EXPECT_STREQ(line, "stop");
    EXPECT_FALSE(InputWaitingOn(reader));
    pipeReader.Write("go");                       // half a line is not yet a command
    EXPECT_FALSE(InputWaitingOn(reader));
    EXPECT_FALSE(InputWaitingOn(reader));
    pipeReader.Write(" dep");
    EXPECT_FALSE(InputWaitingOn(reader));
    pipeReader.Write("th 1\nisr");
    EXPECT_TRUE(InputWaitingOn(reader));
    EXPECT_EQ(ReadLineFrom(reader, line, sizeof line), 10);
    EXPECT_STREQ(line, "go depth 1");
    EXPECT_FALSE(InputWaitingOn(reader));
    pipeReader.CloseWriter();                     // end of input must be noticed by the poll
    EXPECT_TRUE(InputWaitingOn(reader));
    EXPECT_EQ(ReadLineFrom(reader, line, sizeof line), 3);   // the unfinished last line
    EXPECT_STREQ(line, "isr");
    EXPECT_EQ(ReadLineFrom(reader, line, sizeof line), -1);
    EXPECT_TRUE(InputWaitingOn(reader));
    EXPECT_EQ(ReadLineFrom(reader, line, sizeof line), -1);
}

TEST(LineReader, AnEndlessLineIsStillNoticed) {
    PipeReader pipeReader;
    LineReader& reader = *pipeReader.reader;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const std::string huge(2 * LineReader::BUFFER_SIZE, 'q');
        if (write(pipeReader.writer, huge.data(), huge.size()) < 0) _exit(1);
        if (write(pipeReader.writer, "\n", 1) < 0) _exit(1);
        _exit(0);
    }
    pipeReader.CloseWriter();
    // Polling never blocks; once our buffer is full the reader is asked to cut the line.
    while (!InputWaitingOn(reader)) {
        const timespec pause{0, 1000000L};
        nanosleep(&pause, nullptr);
    }
    char line[4096];
    EXPECT_EQ(ReadLineFrom(reader, line, sizeof line), 4095);
    EXPECT_EQ(ReadLineFrom(reader, line, sizeof line), -1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
}

TEST(Clocks, DateAndCountersAreSane) {
    const LocalDate today = Today();
    EXPECT_GE(today.year, 2024);
    EXPECT_GE(today.month, 1);
    EXPECT_LE(today.month, 12);
    EXPECT_GE(today.day, 1);
    EXPECT_LE(today.day, 31);
    // Only the direction is checked: both clocks never run backwards.
    const uint32_t tick = TickCount();
    const int64_t used = ProcessorClockMs();
    volatile uint64_t spin = 0;
    for (int i = 0; i < 1000000; ++i) spin = spin + static_cast<uint64_t>(i);
    SleepMs(2);
    EXPECT_GE(static_cast<uint32_t>(TickCount() - tick), 2u);
    EXPECT_GE(ProcessorClockMs(), used);
    EXPECT_GE(used, 0);
}

}  // namespace
}  // namespace tavrix::platform
