#include "search/search_support.h"

#include "board/movegen.h"
#include "control/engine.h"
#include "control/game_record.h"
#include "control/options.h"
#include "control/setup.h"
#include "control/think.h"
#include "control/timeman.h"
#include "search/ordering.h"
#include "search/root.h"
#include "board/repetition.h"
#include "search/search_state.h"
#include "search/ttable.h"

namespace tavrix {

void ResetEvalState();
void ClearEvalCache();

bool ResetForSearchTest(int32_t hashKb) {
    ResetControlState();
    ResetEngineSettings();
    LoadDefaults();
    ResetGoLimits();
    ResetRootState();
    ResetThinkState();
    ResetTimeState();
    ResetGameBoard();
    ResetGameRecord();
    ResetSearchState();
    ResetEvalState();
    ResetRepetitionState();
    ResetOrderingState();
    ResetMoveLists();
    ResetTTState();
    Search.searchFlags = Settings.optionFlags;
    Search.pruningThreshold = Settings.forwardPruning;
    Search.threatDepth = Settings.threatDepth;
    return ResizeHashTable(hashKb) > 0;
}

void ClearTableForTest() {
    ClearHashTable();
    ClearEvalCache();
}
void EmptyTableForTest() {
    ClearHashTableFully();
    ClearEvalCache();
}

void FreeTableForTest() { FreeHashTable(); }

}  // namespace tavrix
