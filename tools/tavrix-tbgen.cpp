// tavrix-tbgen [--emd] OUTDIR CLASS...: generates the tables of the named classes (both sides
// to move) by retrograde analysis and writes them in the engine's numbering.
#include <cstdio>
#include <cstring>

#include "tablebase/catalogue.h"
#include "tbgen/retrograde.h"

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
    const char* directory = argv[first];
    for (int i = first + 1; i < argc; ++i) {
        const int c = FindTablebaseClass(argv[i]);
        if (c == 0 || Enumerations.shape[c].pieces > 5) {
            std::fprintf(stderr, "tavrix-tbgen: no class %s (3 to 5 men)\n", argv[i]);
            return 2;
        }
        const tbgen::ClassTables& t = tbgen::GenerateClass(c);
        if (!tbgen::WriteTables(t, directory, compressed)) {
            std::fprintf(stderr, "tavrix-tbgen: cannot write %s into %s\n", argv[i], directory);
            return 1;
        }
        std::printf("%s: %zu", argv[i], t.value[0].size());
        if (t.tableCount > 1) std::printf(" / %zu", t.value[1].size());
        std::printf(" positions, longest mate %d\n", t.longestMate);
    }
    return 0;
}
