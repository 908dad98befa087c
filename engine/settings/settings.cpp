#include "settings/settings.h"

namespace tavrix {

EngineSettings Settings;
GoLimits Limits{};

void ResetGoLimits() {
    Limits = GoLimits{};
    Limits.moveTimeTarget = NO_TIME_LIMIT;
    Limits.depthLimit = MAX_DEPTH;
    Limits.secondDepthLimit = MAX_DEPTH;
    Limits.searchType = SearchType::FIXED;
    Limits.thinkMode = EngineStateValue::THINKING;
}

}  // namespace tavrix
