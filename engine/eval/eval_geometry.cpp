#include "eval/eval_geometry.h"

#include <algorithm>

#include "board/tables.h"

namespace tavrix::geometry {

int ExchangeReturn(int defenderIndex, int attackerIndex) {
    // A removed or added attacker can push an index past the packed fields' range.
    const int def = AttackClass[std::clamp(defenderIndex, 0, ATTACK_CLASS_SIZE - 1)];
    const int att = AttackClass[std::clamp(attackerIndex, 0, ATTACK_CLASS_SIZE - 1)];
    return EXCHANGE_UNIT * ExchangeTable[def | att << 7];
}

}  // namespace tavrix::geometry
