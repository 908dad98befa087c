// tavrix-tbgen [--emd] OUTDIR CLASS...: generates the tables of the named classes (both sides
// to move) by retrograde analysis and writes them in the engine's numbering. Progress goes to
// standard error: one line that rewrites itself on a terminal, a line every few seconds
// otherwise.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "tablebase/catalogue.h"
#include "tbgen/progress.h"
#include "tbgen/retrograde.h"

namespace {

using Clock = std::chrono::steady_clock;

tavrix::tbgen::ProgressDisplay Display;
const Clock::time_point Start = Clock::now();

double Now() { return std::chrono::duration<double>(Clock::now() - Start).count(); }

void OnProgress(const tavrix::tbgen::Progress& p) { tavrix::tbgen::ShowProgress(Display, p, Now()); }

}  // namespace

int main(int argc, char** argv) {
    using namespace tavrix;
    int first = 1;
    bool compressed = false;
    if (argc > 1 && std::strcmp(argv[1], "--emd") == 0) {
        compressed = true;
        ++first;
    }
    if (argc - first < 2) {
        std::fprintf(stderr, "usage: tavrix-tbgen [--emd] OUTDIR CLASS...\n");
        return 2;
    }
    RegisterTablebases("");
    Display = tbgen::MakeProgressDisplay(stderr, isatty(STDERR_FILENO) != 0);
    tbgen::SetProgressHandler(OnProgress);
    const char* directory = argv[first];
    for (int i = first + 1; i < argc; ++i) {
        const int c = FindTablebaseClass(argv[i]);
        if (c == 0 || Enumerations.shape[c].pieces > 5) {
            std::fprintf(stderr, "tavrix-tbgen: no class %s (3 to 5 men)\n", argv[i]);
            return 2;
        }
        const tbgen::ClassTables& t = tbgen::GenerateClass(c);
        tbgen::ShowText(Display, (std::string(argv[i]) + ": writing").c_str(), Now(), true);
        const bool written = tbgen::WriteTables(t, directory, compressed);
        tbgen::EndProgressLine(Display);
        if (!written) {
            std::fprintf(stderr, "tavrix-tbgen: cannot write %s into %s\n", argv[i], directory);
            return 1;
        }
        std::printf("%s: %zu", argv[i], t.value[0].size());
        if (t.tableCount > 1) std::printf(" / %zu", t.value[1].size());
        std::printf(" positions, longest mate %d%s\n", t.longestMate,
                    tbgen::NeedsWideValues(t) ? ", two bytes a position" : "");
        std::fflush(stdout);
    }
    return 0;
}
