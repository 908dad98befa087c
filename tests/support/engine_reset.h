// Searches in tools and tests run on the engine's own state, as the program does after start-up.
#pragma once

#include <cstdint>
#include <cstdio>

#include "board/movegen.h"
#include "board/repetition.h"
#include "control/engine.h"
#include "control/game_record.h"
#include "control/options.h"
#include "control/setup.h"
#include "control/think.h"
#include "control/timeman.h"
#include "eval/eval_cache.h"
#include "eval/evaluate.h"
#include "search/ordering.h"
#include "search/root.h"
#include "search/root_table.h"
#include "search/search_state.h"
#include "search/ttable.h"

namespace tavrix::testing_support {

// Every process-wide record back to its start and a table of `hashKb`; false when that
// table cannot be had.
inline bool ResetEngine(uint32_t hashKb) {
    ResetControlState();
    ResetEngineSettings();
    LoadDefaults();
    ResetSearchState();
    ResetEvalState();
    ResetRepetitionState();
    ResetOrderingState();
    ResetMoveLists();
    ResetRootState();
    ResetThinkState();
    ResetTimeState();
    ResetGameBoard();
    ResetGameRecord();
    ResetTTState();
    if (ResizeHashTable(hashKb) == 0) {
        std::fprintf(stderr, "no table\n");
        return false;
    }
    return true;
}

}  // namespace tavrix::testing_support
