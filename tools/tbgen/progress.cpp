// Progress text of the generator.
#include "tbgen/progress.h"

#include <string>

#include "tablebase/catalogue.h"

namespace tavrix::tbgen {

namespace {

std::string Duration(double seconds) {
    const long s = static_cast<long>(seconds + 0.5);
    char text[32];
    if (s >= 3600) std::snprintf(text, sizeof text, "%ldh%02ldm", s / 3600, s / 60 % 60);
    else if (s >= 60) std::snprintf(text, sizeof text, "%ldm%02lds", s / 60, s % 60);
    else std::snprintf(text, sizeof text, "%lds", s);
    return text;
}

// Time left in the retrograde phase: decisions still to come at the phase's rate so far. Wins
// and losses come in alternate passes, so passes are taken in pairs; once a pair decides
// clearly fewer positions than the pair before, the shrinking series is summed. Until then
// only the undecided positions (the draws among them) bound it.
std::string RetrogradeLeft(const OpenClass& c, const Progress& p, double worked) {
    constexpr double SHRINKING = 0.9;
    constexpr uint64_t MEANINGFUL = 1000;    // decisions in a pair of passes
    const uint64_t made = p.decided - c.decidedAtPhase;
    if (made == 0 || worked <= 0) return "time left not known yet";
    const double rate = static_cast<double>(made) / worked;
    const double undecided = static_cast<double>(p.used - p.decided);
    const uint64_t last = c.recent[0] + c.recent[1], before = c.recent[2] + c.recent[3];
    const double r = before > 0 ? static_cast<double>(last) / static_cast<double>(before) : 1;
    if (before >= MEANINGFUL && last > 0 && r < SHRINKING) {
        double tail = static_cast<double>(last) * r / (1 - r);
        if (tail > undecided) tail = undecided;
        return "about " + Duration(tail / rate) + " left";
    }
    return "at most " + Duration(undecided / rate) + " left";
}

}  // namespace

ProgressDisplay MakeProgressDisplay(std::FILE* out, bool terminal) {
    ProgressDisplay d{};
    d.out = out;
    d.terminal = terminal;
    d.lastShown = -1e9;
    return d;
}

void ShowText(ProgressDisplay& d, const char* text, double now, bool force) {
    if (!force && now - d.lastShown < (d.terminal ? TERMINAL_INTERVAL : LOG_INTERVAL)) return;
    d.lastShown = now;
    if (d.terminal) {
        std::fprintf(d.out, "\r%s\033[K", text);
        d.lineOpen = true;
    } else {
        std::fprintf(d.out, "%s\n", text);
    }
    std::fflush(d.out);
}

void EndProgressLine(ProgressDisplay& d) {
    if (d.terminal && d.lineOpen) std::fprintf(d.out, "\r\033[K");
    d.lineOpen = false;
    std::fflush(d.out);
}

void ShowProgress(ProgressDisplay& d, const Progress& p, double now) {
    if (p.depth < 1 || p.depth > PROGRESS_DEPTH) return;
    OpenClass& c = d.open[p.depth];
    if (p.stage == Progress::START) {
        c = OpenClass{};
        c.classIndex = p.classIndex;
        c.phase = Progress::SETUP;
        c.began = c.phaseBegan = now;
    }
    std::string name;
    for (int depth = 1; depth <= p.depth; ++depth) {
        if (depth > 1) name += " > ";
        name += TablebaseClassName(d.open[depth].classIndex);
    }
    char text[256];
    switch (p.stage) {
        case Progress::START:
            std::snprintf(text, sizeof text, "%s: started", name.c_str());
            ShowText(d, text, now, true);
            return;
        case Progress::SETUP: {
            const double worked = now - c.phaseBegan - c.nested;
            const double share = p.total > 0 ? static_cast<double>(p.done) / static_cast<double>(p.total) : 0;
            const std::string left =
                p.done > 0 && worked > 0 ? Duration(worked * (1 - share) / share) + " left" : "time left not known yet";
            std::snprintf(text, sizeof text, "%s: setup %.1f%%, %s", name.c_str(), 100 * share, left.c_str());
            ShowText(d, text, now, false);
            return;
        }
        case Progress::RETROGRADE: {
            const bool first = c.phase != Progress::RETROGRADE;
            if (first) {
                c.phase = Progress::RETROGRADE;
                c.phaseBegan = now;
                c.nested = 0;
                c.decidedAtPhase = c.decidedAtPass = p.decided;
                c.pass = p.pass;
            } else if (p.pass != c.pass) {
                for (int i = 3; i > 0; --i) c.recent[i] = c.recent[i - 1];
                c.recent[0] = p.decided - c.decidedAtPass;
                c.decidedAtPass = p.decided;
                c.pass = p.pass;
            }
            const double worked = now - c.phaseBegan - c.nested;
            const double share = p.total > 0 ? 100.0 * static_cast<double>(p.done) / static_cast<double>(p.total) : 100;
            const double decided = p.used > 0 ? 100.0 * static_cast<double>(p.decided) / static_cast<double>(p.used) : 0;
            std::snprintf(text, sizeof text, "%s: retrograde pass %d (%.0f%%), %.1f%% of positions decided, %s",
                          name.c_str(), p.pass, share, decided, RetrogradeLeft(c, p, worked).c_str());
            ShowText(d, text, now, first);
            return;
        }
        case Progress::DONE: {
            const double took = now - c.began;
            if (p.depth > 1) d.open[p.depth - 1].nested += took;
            std::snprintf(text, sizeof text, "%s: done in %s", name.c_str(), Duration(took).c_str());
            ShowText(d, text, now, true);
            return;
        }
    }
}

}  // namespace tavrix::tbgen
