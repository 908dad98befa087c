// Operating-system services the engine needs, behind one small interface:
// console input polling, clocks, date, sleep and the single output routine.
#pragma once

#include <cstdint>

namespace tavrix::platform {

// Standard input.
bool StdinIsTerminal();
// Unbuffered output so that every line reaches the GUI at once.
void SetUnbufferedOutput();
// Blocks for one line (line end removed, at most capacity - 1 bytes kept, the rest of an
// over-long line discarded). Returns the length, or -1 at end of input.
int ReadLine(char* buffer, int capacity);
// True when a complete or partial line is waiting (in our own buffer or on the descriptor).
bool InputWaiting();

// Clocks.
uint32_t TickCount();           // milliseconds, monotonic
int64_t ProcessorClockMs();     // processor time used by this process, milliseconds
struct LocalDate { int year, month, day; };
LocalDate Today();
void SleepMs(int milliseconds);

// The one formatted-print routine all protocol output goes through.
void Print(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace tavrix::platform
