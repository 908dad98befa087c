#include "book/learning.h"

#include <cstdlib>

#include "platform/platform.h"

namespace tavrix {

LearningState Learning;

namespace {

constexpr int32_t EXACT_KIND_LOW = 3;   // root result kinds 3..5 are exact
constexpr int32_t EXACT_KIND_HIGH = 5;
constexpr int32_t FULL_DEPTH_KIND = 5;  // the one kind stored at the depth reached
constexpr uint16_t LOAD_MASK = TTFlag::PROBE_MASK;

// Only the key words matter to the store; the rest of the position is never read.
Position KeyHolder;

int32_t ReadRecords(const char* path) {
    const int64_t bytes = platform::ReadFileBytes(path, Learning.buffer, sizeof Learning.buffer);
    if (bytes <= 0) return 0;
    // A torn last record is ignored; so is every record that cannot be a learned one.
    const int32_t whole = static_cast<int32_t>(bytes / LEARNING_RECORD_SIZE);
    int32_t kept = 0;
    for (int32_t i = 0; i < whole; ++i)
        if (IsLearnedRecord(Learning.buffer[i])) Learning.buffer[kept++] = Learning.buffer[i];
    return kept;
}

}  // namespace

void ResetLearningState() { Learning = LearningState{}; }

bool IsLearnedRecord(const TTEntry& r) {
    return (r.flags & TTFlag::PERMANENT) != 0 && (r.flags & TTFlag::BOUND_MASK) != 0 && r.score >= -MATE &&
           r.score <= MATE;
}

void LoadLearning(const char* path) {
    const int32_t count = ReadRecords(path);
    for (int32_t i = 0; i < count; ++i) {
        const TTEntry& r = Learning.buffer[i];
        KeyHolder.hashKey[0] = r.keyLow;
        KeyHolder.hashKey[1] = r.keyHigh;
        const uint16_t uses = static_cast<uint16_t>(r.moveDepth / 4 + r.moveDepth / 2);
        const Colour side = (r.flags & LEARNED_SIDE_BIT) != 0 ? BLACK : WHITE;
        // The stored move is not trusted here: every probe validates it before use.
        StoreEntry(side, KeyHolder, static_cast<uint16_t>(r.flags & LOAD_MASK), r.score, uses,
                   (r.flags & TTFlag::DEPTH_MASK) >> TTFlag::DEPTH_SHIFT, 1, r.move);
    }
    Learning.count = 0;
    Learning.changed = false;
}

void AddLearnedEntry(Colour side, const TTEntry& entry) {
    TTEntry e = entry;
    e.flags = static_cast<uint16_t>((e.flags & ~LEARNED_SIDE_BIT) | (side == BLACK ? LEARNED_SIDE_BIT : 0));
    TTEntry* weakest = nullptr;
    for (int32_t i = 0; i < Learning.count; ++i) {
        TTEntry& r = Learning.buffer[i];
        if (r.keyLow == e.keyLow && r.keyHigh == e.keyHigh) {
            r.moveDepth = e.moveDepth;
            r.move = e.move;
            r.score = e.score;
            r.flags = e.flags;
            return;
        }
        if (r.moveDepth < e.moveDepth && (weakest == nullptr || r.moveDepth < weakest->moveDepth)) weakest = &r;
    }
    if (Learning.count < LEARNING_CAPACITY) Learning.buffer[Learning.count++] = e;
    else if (weakest != nullptr) *weakest = e;
}

void SaveLearning(const char* path) {
    Learning.count = ReadRecords(path);
    if (TT.sizeKb != 0) {
        for (Colour side = WHITE; side <= BLACK; ++side) {
            for (uint32_t i = 0; i < TT.entriesPerHalf + TT_BUCKET_SIZE; ++i) {
                const TTEntry e = ReadSlot(side, i);
                if ((e.flags & TTFlag::PERMANENT) != 0) AddLearnedEntry(side, e);
            }
        }
    }
    // A file that cannot be replaced keeps its old contents.
    if (Learning.count > 0)
        platform::ReplaceFile(path, Learning.buffer, int64_t{Learning.count} * LEARNING_RECORD_SIZE);
    Learning.changed = false;
}

bool ScoreMovedEnough(int32_t final, int32_t lowest, int32_t highest) {
    const int32_t quarter = std::abs(final) / 4;
    const int32_t fall = highest - final;
    const int32_t rise = final - lowest;
    return (fall > LEARNING_MARGIN && fall > quarter) || (rise > LEARNING_MARGIN && rise > quarter);
}

void StoreLearnedPosition(Colour side, const Position& pos, int32_t score, Move move, int32_t depth,
                          int32_t boundKind) {
    uint16_t bound = TTFlag::EXACT;
    if (boundKind < EXACT_KIND_LOW) bound = TTFlag::UPPER;
    else if (boundKind > EXACT_KIND_HIGH) bound = TTFlag::LOWER;
    const int32_t stored = boundKind == FULL_DEPTH_KIND ? depth : depth - 1;
    StoreEntry(side, pos, static_cast<uint16_t>(bound | TTFlag::PERMANENT), score, LEARNED_USE_START, stored, 1, move);
    Learning.changed = true;
}

}  // namespace tavrix
