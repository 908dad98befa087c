#include "board/repetition.h"

#include "board/tables.h"

namespace tavrix {

thread_local constinit RepetitionState Repetition{};

namespace {

struct Key {
    uint32_t low, high;
};

int32_t HistorySlot(int32_t ply) { return ply & (GAME_KEY_HISTORY - 1); }

// Key of the earlier position at `ply` (the record of a move saves the key from before it).
bool KeyAtPly(const Position& pos, int32_t ply, Key& key) {
    if (ply >= Repetition.searchStartPly) {
        const int32_t index = pos.undoTop - (pos.ply - 1 - ply);
        if (index >= 0 && index <= pos.undoTop) {
            key = {pos.undoStack[index].keyLow, pos.undoStack[index].keyHigh};
            return true;
        }
    }
    const int32_t slot = HistorySlot(ply);
    if (ply <= 0 || Repetition.gameKeyPly[slot] != ply) return false;
    key = {Repetition.gameKeyLow[slot], Repetition.gameKeyHigh[slot]};
    return true;
}

// Counts the positions 4, 6, 8, ... plies before `current` back to the last irreversible
// move whose key is `key`; stops at the first one unless `countAll`.
int32_t ScanBack(const Position& pos, int32_t current, Key key, bool countAll) {
    // The ring forgets older game positions; never look past it.
    int32_t oldest = pos.lastIrreversiblePly;
    if (oldest < current - (GAME_KEY_HISTORY - 2)) oldest = current - (GAME_KEY_HISTORY - 2);
    int32_t found = 0;
    for (int32_t ply = current - REPETITION_MIN_PLIES; ply >= oldest; ply -= 2) {
        Key k;
        if (!KeyAtPly(pos, ply, k)) break;
        if (k.low == key.low && k.high == key.high) {
            ++found;
            if (!countAll) break;
        }
    }
    return found;
}

}  // namespace

void ResetRepetitionState() { Repetition = RepetitionState{}; }

void RecordGameKey(const Position& pos) {
    const int32_t slot = HistorySlot(pos.ply);
    Repetition.gameKeyLow[slot] = pos.hashKey[0];
    Repetition.gameKeyHigh[slot] = pos.hashKey[1];
    Repetition.gameKeyPly[slot] = pos.ply;
}

bool IsRepetition(const Position& pos) {
    return ScanBack(pos, pos.ply, {pos.hashKey[0], pos.hashKey[1]}, false) != 0;
}

bool MoveRepeatsPosition(Move move, const Position& pos) {
    const int from = MoveFrom(move), to = MoveTo(move);
    // Anything but a plain piece move is irreversible or changes more than two key terms.
    if (KindOf(move) != MoveKind::QUIET || pos.pieceType[from] == PAWN || pos.pieceType[from] == NO_PIECE) return false;
    const uint64_t delta = PieceKey(pos.pieceType[from], pos.pieceColour[from], from) ^
                           PieceKey(pos.pieceType[from], pos.pieceColour[from], to);
    const Key after{pos.hashKey[0] ^ uint32_t(delta), pos.hashKey[1] ^ uint32_t(delta >> 32)};
    // The position after the move sits one ply further on; its predecessors are the
    // records already on the stack, so nothing needs to be made.
    return ScanBack(pos, pos.ply + 1, after, false) != 0;
}

int32_t RepetitionCount(const Position& pos) {
    if (pos.ply - pos.lastIrreversiblePly < REPETITION_MIN_PLIES) return 0;
    return ScanBack(pos, pos.ply, {pos.hashKey[0], pos.hashKey[1]}, true);
}

}  // namespace tavrix
