// The generator's progress as text on standard error: one line rewritten in place on a
// terminal, plain lines every few seconds otherwise.
#pragma once

#include <cstdint>
#include <cstdio>

#include "tbgen/retrograde.h"

namespace tavrix::tbgen {

constexpr double TERMINAL_INTERVAL = 0.25;   // seconds between rewrites of the line
constexpr double LOG_INTERVAL = 10.0;        // seconds between plain lines
constexpr int PROGRESS_DEPTH = 8;            // classes open inside one another

// One open class: when it and its phase began, and how long the classes generated inside it
// took during that phase (their time is not this class's rate of work).
struct OpenClass {
    int classIndex;
    Progress::Stage phase;
    double began, phaseBegan;
    double nested;
    int pass;
    uint64_t decidedAtPhase, decidedAtPass;
    uint64_t recent[4];                       // decisions of the last four finished passes, latest first
};

struct ProgressDisplay {
    std::FILE* out;
    bool terminal;
    bool lineOpen;
    double lastShown;                         // seconds, on the clock the reports come with
    OpenClass open[PROGRESS_DEPTH + 1];
};

ProgressDisplay MakeProgressDisplay(std::FILE* out, bool terminal);
// One report of the generator at `now` seconds.
void ShowProgress(ProgressDisplay& d, const Progress& p, double now);
// A text of the tool's own; `force` shows it whenever the last line was.
void ShowText(ProgressDisplay& d, const char* text, double now, bool force);
// Clears the rewritten line, so that what follows starts on an empty one.
void EndProgressLine(ProgressDisplay& d);

}  // namespace tavrix::tbgen
