// The think controller's answers to the search's calls (declared with the search).
#include "search/think_link.h"

#include "book/book.h"
#include "control/engine.h"
#include "control/think.h"
#include "control/timeman.h"
#include "search/root.h"
#include "search/search_state.h"

namespace tavrix {

namespace {
constexpr int LAST_BOOK_STATE = 4;   // normal thinking asks the book; pondering and analysis do not
}  // namespace

bool PollThink() {
    if (!IsSearching(Control.engineState)) return false;
    SearchPoll();
    return true;
}

void StopThink(uint8_t reason) { SetStopReason(reason); }

int32_t ThinkMaximumTime() { return Time.maximum; }

Move RootBookMove(Position& pos, ScoredMove* begin, ScoredMove* end) {
    if (Limits.searchType == SearchType::FIXED || Control.engineState > LAST_BOOK_STATE) return NO_MOVE;
    return ProbeBook(pos, Search.searchFlags, begin, end);
}

int RootBestMoveChanged(int index) {
    Time.failLow = Root.failLow != 0;
    return BestMoveChanged(Root.list, index, Search.iterationDepth, Search.boundKind,
                           (Root.mateStatus & MateStatus::BEING_MATED) != 0);
}

}  // namespace tavrix
