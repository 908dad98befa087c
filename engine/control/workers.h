// Helper threads of a parallel search (Lazy SMP). The main search runs on the command thread
// as it always has, with the clock, input, output, book and learning; each helper searches the
// same root at staggered depths, sharing only the transposition table, and stops with it.
#pragma once

#include <cstdint>

#include "board/position.h"

namespace tavrix {

constexpr int MAX_THREADS = 256;
constexpr int DEFAULT_THREADS = 1;

// Search threads, the main one included (1 until "Threads" asks for more).
int SearchThreads();
// Starts or ends helpers until `threads` search in all; each helper sizes its evaluation cache
// here, never during a search. Returns the number obtained (fewer when a thread cannot start).
int ResizeWorkers(int threads);
// After the table was resized or cleared: every helper's evaluation cache follows the main one's.
void PrepareHelpers();

// The main search has prepared its root (`pos`, and this thread's search records): the
// helpers copy it and search until StopHelpers.
void StartHelpers(const Position& pos);
// Tells the helpers to stop, without waiting for them.
void AskHelpersToStop();
// Stops the helpers; they are idle when this returns.
void StopHelpers();
// Nodes the helpers searched since the main search began.
uint64_t HelperNodes();
void ResetHelperNodes();
// The main search's nodes, for the helpers' view of a node limit.
void PublishMainNodes(uint64_t nodes);

// A helper's poll when its countdown runs out: publishes its nodes, takes up the stop.
void HelperPoll();

}  // namespace tavrix
