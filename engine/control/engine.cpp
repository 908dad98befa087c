#include "control/engine.h"

namespace tavrix {

ControlState Control{};

void ResetControlState() {
    Control = ControlState{};
    Control.startupMode = STARTUP_MODE_DEFAULT;
}

}  // namespace tavrix
