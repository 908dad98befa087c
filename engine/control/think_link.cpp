// The think controller's answers to the search's calls (declared with the search).
#include "search/think_link.h"

#include "book/book.h"
#include "control/engine.h"
#include "control/think.h"
#include "control/timeman.h"
#include "control/uci.h"
#include "control/workers.h"
#include "search/root.h"
#include "search/search_state.h"

namespace tavrix {

namespace {
constexpr int LAST_BOOK_STATE = 4;   // normal thinking asks the book; pondering and analysis do not
}  // namespace

void SpaceInputLooks() {
    if (SearchThreads() > 1 && Search.pollCountdown > INPUT_LOOK_NODES) {
        // The same nodes until the next clock check, in short steps.
        ThinkControl.inputLooks = Search.pollCountdown / INPUT_LOOK_NODES;
        Search.pollCountdown -= ThinkControl.inputLooks * INPUT_LOOK_NODES;
        if (Search.pollCountdown == 0) {
            --ThinkControl.inputLooks;
            Search.pollCountdown = INPUT_LOOK_NODES;
        }
    } else {
        ThinkControl.inputLooks = 0;
    }
}

bool PollThink() {
    if (Search.helper) {
        HelperPoll();
        return true;
    }
    if (!IsSearching(Control.engineState)) return false;
    if (ThinkControl.inputLooks > 0) {
        --ThinkControl.inputLooks;
        PublishMainNodes(ThinkControl.position.nodes);
        const bool waiting = InputPollingActive() && SearchedNodes() >= Control.inputGateNodes && PollInput();
        const bool limitReached = Limits.nodeLimit != 0 && SearchedNodes() >= Limits.nodeLimit;
        if (!waiting && !limitReached) {
            Search.pollCountdown = INPUT_LOOK_NODES;
            return true;
        }
    }
    SearchPoll();
    SpaceInputLooks();
    return true;
}

void StopThink(uint8_t reason) {
    // A helper ends only its own search; the main one decides for the think.
    if (Search.helper) Search.stopReason = reason;
    else SetStopReason(reason);
}

int32_t ThinkMaximumTime() { return Time.maximum; }

Move RootBookMove(Position& pos, ScoredMove* begin, ScoredMove* end) {
    if (Limits.searchType == SearchType::FIXED || Control.engineState > LAST_BOOK_STATE) return NO_MOVE;
    return ProbeBook(pos, Search.searchFlags, begin, end);
}

int RootBestMoveChanged(int index) {
    if (Search.helper) return RaiseRootMove(Root.list, index);
    Time.failLow = Root.failLow != 0;
    return BestMoveChanged(Root.list, index, Search.iterationDepth, Search.boundKind,
                           (Root.mateStatus & MateStatus::BEING_MATED) != 0);
}

}  // namespace tavrix
