// Generated tables for the tablebase tests: written once per process into a fresh directory.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "board/position.h"
#include "eval/evaluate.h"
#include "support/fen_position.h"
#include "tablebase/catalogue.h"
#include "tablebase/probe.h"
#include "tbgen/retrograde.h"

namespace tavrix::testing {

// Directories made for tables go when the test process ends (some tables live for the
// whole process).
struct MadeDirectories {
    std::vector<std::string> paths;
    ~MadeDirectories() {
        std::error_code ignored;
        for (const std::string& p : paths) std::filesystem::remove_all(p, ignored);
    }
};

inline std::string FreshDirectory() {
    static MadeDirectories made;
    std::string name = ::testing::TempDir() + "tavrix_tb_XXXXXX";
    if (mkdtemp(name.data()) == nullptr) return std::string();
    made.paths.push_back(name);
    return made.paths.back();
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
