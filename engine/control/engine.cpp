#include "control/engine.h"

namespace tavrix {

ControlState Control{};
GoLimits Limits{};

void ResetControlState() {
    Control = ControlState{};
    Control.startupMode = STARTUP_MODE_DEFAULT;
}

void ResetGoLimits() {
    Limits = GoLimits{};
    Limits.moveTimeTarget = NO_TIME_LIMIT;
    Limits.depthLimit = MAX_DEPTH;
    Limits.secondDepthLimit = MAX_DEPTH;
    Limits.searchType = SearchType::FIXED;
    Limits.thinkMode = EngineStateValue::THINKING;
}

}  // namespace tavrix
