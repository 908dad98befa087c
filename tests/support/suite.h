// Shared helpers of the board tests: setting up FEN positions and reading the perft suite.
#pragma once

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "board/movegen.h"
#include "control/setup.h"
#include "search/search_state.h"

namespace tavrix::testing_support {

struct SuiteEntry {
    int line;                      // 1-based line of the suite file
    std::string fen;
    std::vector<uint64_t> counts;  // counts[d - 1] = published leaves at depth d
};

inline std::vector<SuiteEntry> LoadPerftSuite() {
    std::vector<SuiteEntry> suite;
    std::ifstream in(std::string(TAVRIX_TEST_DATA) + "/perftsuite.epd");
    std::string text;
    int line = 0;
    while (std::getline(in, text)) {
        ++line;
        const size_t cut = text.find(';');
        if (cut == std::string::npos) continue;
        SuiteEntry e{line, text.substr(0, cut), {}};
        std::istringstream rest(text.substr(cut));
        std::string tag;
        uint64_t value = 0;
        while (rest >> tag >> value) e.counts.push_back(value);
        suite.push_back(e);
    }
    return suite;
}

// Every process-wide record the board code touches, back to its start.
inline void ResetBoardState() {
    ResetGameBoard();
    ResetMoveLists();
    ResetSearchState();
}

// Sets the game board up from a FEN; false when the text is refused.
inline bool SetUpFen(const std::string& fen) {
    ResetBoardState();
    return ReadFen(fen.c_str()) == 1 && GameBoard.position.liveSlots[WHITE] != 0;
}

}  // namespace tavrix::testing_support
