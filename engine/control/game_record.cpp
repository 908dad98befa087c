#include "control/game_record.h"

#include <cstring>

#include "board/makemove.h"
#include "board/tables.h"

namespace tavrix {

GameRecordState GameRecord;

void ResetGameRecord() { GameRecord = GameRecordState{}; }

void StartGameRecord(const Position& p, int32_t plyOffset) {
    GameEntry& sentinel = GameRecord.entries[FIRST_ENTRY];
    sentinel = GameEntry{};
    sentinel.move = SENTINEL_MOVE;
    if (p.attackMap[p.sideToMove ^ 1].square[KingSquare(p, p.sideToMove)].attackWeight != 0) sentinel.move |= CHECK_MARK;
    sentinel.mover = static_cast<uint8_t>(p.sideToMove ^ 1);
    sentinel.capturedSlot = NO_CAPTURED_SLOT;
    sentinel.keyLow = p.hashKey[0];
    sentinel.keyHigh = p.hashKey[1];
    sentinel.irreversiblePly = static_cast<uint16_t>(p.lastIrreversiblePly);
    GameRecord.length = FIRST_ENTRY;
    GameRecord.plyOffset = plyOffset;
}

namespace {

uint8_t DisambiguationCode(const Position& p, Move move) {
    const int from = MoveFrom(move);
    const int to = MoveTo(move);
    const PieceType type = p.pieceType[from];
    uint8_t code = type;
    if (type == PAWN || type == KING || IsCastling(move)) return code;
    const Colour side = p.pieceColour[from];
    for (SlotMask others = p.attackMap[side].square[to].attackerSlots & ~p.squareSlot[from]; others; others &= others - 1) {
        const int sq = p.slotSquare[side][LowestSlot(others)];
        if (p.pieceType[sq] != type) continue;
        code |= FileOf(sq) != FileOf(from) ? SAN_FILE : SAN_RANK;
    }
    return code;
}

// Keeps the record inside its array: drops the plies before the last irreversible move,
// and when that is not enough, the oldest plies.
void Rebase(Position& p) {
    int keepFrom = p.lastIrreversiblePly;  // entry index of the last capture or pawn move
    if (keepFrom <= FIRST_ENTRY || GameRecord.length - keepFrom >= MAX_GAME_PLIES)
        keepFrom = GameRecord.length - MAX_GAME_PLIES / 2;
    const int shift = keepFrom - FIRST_ENTRY;
    if (shift <= 0) return;
    std::memmove(&GameRecord.entries[FIRST_ENTRY], &GameRecord.entries[keepFrom],
                 sizeof(GameEntry) * static_cast<size_t>(GameRecord.length - keepFrom + 1));
    GameRecord.length -= shift;
    GameRecord.plyOffset += shift;
    p.ply -= shift;
    p.lastIrreversiblePly = p.lastIrreversiblePly > shift ? p.lastIrreversiblePly - shift : FIRST_ENTRY;
}

}  // namespace

PlyRecord PlyRecordOf(const GameEntry& e) {
    PlyRecord r{};
    r.move = e.move & ~CHECK_MARK;
    r.capturedSlot = e.capturedSlot == NO_CAPTURED_SLOT ? 0 : static_cast<uint16_t>(1u << e.capturedSlot);
    r.capturedType = e.capturedType;
    r.mover = e.mover;
    r.toSquareCount = e.toSquareCount;
    r.epSquare = e.epSquare;
    r.irreversiblePly = e.irreversiblePly;
    r.keyLow = e.keyLow;
    r.keyHigh = e.keyHigh;
    r.checkFlag = (e.move & CHECK_MARK) ? IN_CHECK_FLAG : 0;
    r.swingByte = e.swingByte;
    r.gainByte = e.gainByte;
    return r;
}

int RecordMove(Position& p, Move move) {
    const Colour mover = p.sideToMove;
    const uint8_t code = DisambiguationCode(p, move);
    p.undoTop = 0;
    MakeMove(p, move & ~CHECK_MARK);
    const PlyRecord& r = p.undoStack[p.undoTop];
    if (p.attackMap[mover ^ 1].square[KingSquare(p, mover)].attackWeight != 0) {
        UnmakeMove(p);
        return 0;
    }
    if (GameRecord.length + 1 >= GAME_RECORD_SIZE) Rebase(p);
    GameEntry& e = GameRecord.entries[GameRecord.length + 1];
    e.move = static_cast<uint16_t>((move & ~CHECK_MARK) | ((r.checkFlag & IN_CHECK_FLAG) ? CHECK_MARK : 0));
    e.capturedSlot = r.capturedSlot != 0 ? static_cast<uint8_t>(__builtin_ctz(r.capturedSlot))
                                         : NO_CAPTURED_SLOT;
    e.capturedType = r.capturedType;
    e.mover = static_cast<uint8_t>(mover);
    e.toSquareCount = r.toSquareCount;
    e.epSquare = r.epSquare;
    e.sanCode = code;
    e.irreversiblePly = r.irreversiblePly;
    e.swingByte = r.swingByte;
    e.gainByte = r.gainByte;
    e.keyLow = r.keyLow;
    e.keyHigh = r.keyHigh;
    ++GameRecord.length;
    if (GameRecord.length > MAX_GAME_PLIES) Rebase(p);
    return 1;
}

}  // namespace tavrix
