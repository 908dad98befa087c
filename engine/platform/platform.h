// Operating-system services the engine needs, behind one small interface:
// console input polling, clocks, date, sleep and the single output routine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace tavrix::platform {

// Longest line kept, line end excluded; the rest of a longer line is discarded.
constexpr int MAX_LINE_LENGTH = 4095;

// A line reader over a file descriptor with its own buffer, so that a line already read
// from the descriptor still counts as waiting input (stdio buffering would hide it from poll).
struct LineReader {
    static constexpr int BUFFER_SIZE = 65536;
    int fd;
    int start;                 // first unread byte in buffer
    int end;                   // one past the last byte read
    bool endOfInput;           // the descriptor reported end of input (or a hard error)
    char buffer[BUFFER_SIZE];
};

void ResetLineReader(LineReader& reader, int fd);
// Blocks for one line. The line end (LF, and a CR in front of it) is removed, NUL bytes are
// dropped, at most capacity - 1 bytes are kept and the rest of the line is discarded.
// A last line without a line end is returned as a line. Returns the length, or -1 at end of input.
int ReadLineFrom(LineReader& reader, char* line, int capacity);
// True when a whole line is waiting (in our buffer or on the descriptor) or end of input is
// pending; a partial line is taken into the buffer and does not count yet, so a caller that
// sees true never blocks in ReadLineFrom.
bool InputWaitingOn(LineReader& reader);

// Standard input.
bool StdinIsTerminal();
// Unbuffered output so that every line reaches the GUI at once.
void SetUnbufferedOutput();
// Blocks for one line of standard input (see ReadLineFrom). Returns the length, or -1 at end of input.
int ReadLine(char* buffer, int capacity);
// True when a whole line (or end of input) is waiting on standard input (see InputWaitingOn).
bool InputWaiting();

// Clocks.
uint32_t TickCount();           // milliseconds, monotonic
int64_t ProcessorClockMs();     // processor time used by this process, milliseconds
struct LocalDate { int year, month, day; };
LocalDate Today();
void SleepMs(int milliseconds);

// Zeroed memory for a large table, aligned to at least `alignment`, on huge pages where the
// system offers them: random probes then miss the address-translation cache far less.
// Released with std::free; nullptr when the memory is not there.
void* AllocateLarge(size_t bytes, size_t alignment);

// The one formatted-print routine all protocol output goes through.
void Print(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Sends output elsewhere (tests); nullptr restores standard output.
void RedirectOutput(FILE* stream);

// Back to the state at program start: standard input unread, output to stdout, buffered.
void ResetPlatformState();

}  // namespace tavrix::platform
