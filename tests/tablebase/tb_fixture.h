// Generated tables for the tablebase tests: written once per process into a fresh directory.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <initializer_list>
#include <string>

#include "board/position.h"
#include "eval/evaluate.h"
#include "support/fen_position.h"
#include "tablebase/catalogue.h"
#include "tablebase/probe.h"
#include "tbgen/retrograde.h"

namespace tavrix::testing {

inline std::string FreshDirectory() {
    char name[] = "/tmp/tavrix_tb_XXXXXX";
    const char* made = mkdtemp(name);
    return made != nullptr ? std::string(made) : std::string();
}

// Writes the tables of the classes into `directory`, plain or compressed.
inline bool WriteTables(const std::string& directory, std::initializer_list<const char*> classes,
                        bool compressed = false) {
    for (const char* name : classes) {
        const int c = FindTablebaseClass(name);
        if (c == 0 || !tbgen::WriteTables(tbgen::GenerateClass(c), directory.c_str(), compressed)) return false;
    }
    return true;
}

// The small tables most tests read: every 3-man class.
inline const std::string& ThreeManDirectory() {
    static const std::string directory = [] {
        std::string d = FreshDirectory();
        RegisterTablebases(d.c_str());  // builds the catalogue
        WriteTables(d, {"kpk", "knk", "kbk", "krk", "kqk"});
        return d;
    }();
    return directory;
}

// Registers the directory with a 1 MB cache.
inline int UseTables(const std::string& path) {
    int32_t cache = TB_MINIMUM_CACHE;
    InitialiseTablebases(true, path.c_str(), cache);
    return TablebaseMaxPieces();
}

inline TablebaseResult ProbeFen(const std::string& fen) {
    Position p;
    if (!testing_support::LoadFen(p, fen)) return TablebaseResult{false, -9999};
    return ProbeTablebase(p, p.sideToMove);
}

}  // namespace tavrix::testing
