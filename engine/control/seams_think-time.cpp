// Temporary until think-root lands; removed at merge.
#include "control/output.h"
#include "control/think.h"
#include "control/timeman.h"

namespace tavrix {

int32_t TimeCheck(bool) { return ElapsedMs(); }
void Ponderhit(int32_t) {}
void PrintPvLines(const RootMoveList&, int32_t, int32_t) {}

}  // namespace tavrix
