// Program entry: banner, command-line switches, start-up, idle loop and shutdown.
#pragma once

#include <cstdint>

namespace tavrix {

void PrintBanner();
// "-q", "-x [number]" and "-s number"; each argument is compared whole.
void ReadSwitches(int argc, const char* const* argv);
// Allocates and initialises everything; returns the hash size in KB obtained, 0 on failure.
int32_t StartupSequence();
// Terminal or polled pipe; unbuffered output for a pipe.
void SetInputMode();
// Reads and carries out commands until "quit".
void IdleLoop();
// Releases every table.
void Shutdown();
// "tavrix bench [depth]": the bench runs instead of the command loop.
bool BenchRequested(int argc, const char* const* argv);
int32_t BenchDepth(int argc, const char* const* argv);
// The whole program; returns the exit status.
int RunEngine(int argc, const char* const* argv);

}  // namespace tavrix
