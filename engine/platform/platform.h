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
// Lowers the calling thread's scheduling priority by `steps` (nice levels); it then yields the
// processor to the process's other threads whenever there are more of them than processors.
void LowerThreadPriority(int steps);

// Files. Every write is all or nothing, so another process (or a crash) never sees half of it.
// Reads at most `capacity` bytes of the file; -1 when it cannot be opened or read.
int64_t ReadFileBytes(const char* path, void* buffer, int64_t capacity);
// Appends the bytes with a single write to the file opened for appending (created when
// missing), so appends of several processes never interleave. False when nothing was added.
bool AppendToFile(const char* path, const void* data, int64_t size);
// Replaces the file's contents: the bytes go to a temporary file in the same directory, are
// flushed to disk and renamed over the file. False leaves the old file as it was.
bool ReplaceFile(const char* path, const void* data, int64_t size);

// Zeroed memory for a large table, aligned to at least `alignment`, on huge pages where the
// system offers them: random probes then miss the address-translation cache far less.
// Released with std::free; nullptr when the memory is not there.
void* AllocateLarge(size_t bytes, size_t alignment);

// The one formatted-print routine all protocol output goes through.
void Print(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Sends output elsewhere (tests); nullptr restores standard output.
void RedirectOutput(FILE* stream);

// Files the engine reads by a relative name (the opening book).
constexpr int PATH_SIZE = 4096;
constexpr int MAX_PATH_CANDIDATES = 3;
struct PathCandidates {
    int count;
    char paths[MAX_PATH_CANDIDATES][PATH_SIZE];
};
// The directory of the running program, without a trailing slash; false when unknown.
bool ExecutableDirectory(char* out, int capacity);
// Where a file name is looked for, in order: as given (the working directory), beside the
// executable, and in the installed data directory (../share/tavrix/ from the executable).
// An absolute name, or one that does not fit, is its own only candidate.
void DataFileCandidates(const char* name, PathCandidates& out);
// The first candidate that names a readable regular file; false (out = the name) when none does.
bool ResolveDataFile(const char* name, char* out, int capacity);

// Back to the state at program start: standard input unread, output to stdout, buffered.
void ResetPlatformState();

}  // namespace tavrix::platform
