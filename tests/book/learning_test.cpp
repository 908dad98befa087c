#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "book/learning.h"
#include "control/engine.h"
#include "control/options.h"
#include "e2e/engine_process.h"
#include "search/search_state.h"
#include "search/ttable.h"

namespace tavrix {
namespace {

constexpr int32_t HASH_KB = 4096;
constexpr Move LEARNED_MOVE = MakeMoveWord(12, 28);  // e2e4
constexpr int32_t DEPTH = 9;

std::vector<TTEntry> FileRecords(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<TTEntry> records(bytes.size() / sizeof(TTEntry));
    if (!records.empty()) std::memcpy(records.data(), bytes.data(), records.size() * sizeof(TTEntry));
    return records;
}

void WriteBytes(const std::string& path, const void* data, size_t size) {
    std::ofstream(path, std::ios::binary).write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

TTEntry Record(uint32_t key, uint16_t uses, Colour side = WHITE) {
    TTEntry r{};
    r.keyLow = key;
    r.keyHigh = ~key;
    r.move = LEARNED_MOVE;
    r.score = 100;
    r.flags = static_cast<uint16_t>(TTFlag::PERMANENT | TTFlag::EXACT | (DEPTH << TTFlag::DEPTH_SHIFT) |
                                    (side == BLACK ? LEARNED_SIDE_BIT : 0));
    r.moveDepth = uses;
    return r;
}

class LearningTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetTTState();
        ResetSearchState();
        ResetLearningState();
        ASSERT_EQ(ResizeHashTable(HASH_KB), HASH_KB);
        directory = testing::MakeTempDirectory();
        path = directory + "/" + LEARNING_FILE;
        holder = std::make_unique<Position>();
    }
    void TearDown() override {
        ResetTTState();
        testing::RemoveDirectory(directory);
    }
    void Learn(Colour side, uint32_t key, int32_t score, uint16_t uses = LEARNED_USE_START) {
        holder->hashKey[0] = key;
        holder->hashKey[1] = ~key;
        StoreEntry(side, *holder, TTFlag::EXACT | TTFlag::PERMANENT, score, uses, DEPTH, 1, LEARNED_MOVE);
    }
    // A copy of the table entry of the key in one half (and its index), or nullptr.
    static const TTEntry* Find(Colour side, uint32_t key, uint32_t* index = nullptr) {
        static TTEntry found;
        for (uint32_t i = 0; i < TT.entriesPerHalf + TT_BUCKET_SIZE; ++i) {
            const TTEntry e = ReadSlot(side, i);
            if (e.flags != 0 && e.keyLow == key && e.keyHigh == ~key) {
                if (index != nullptr) *index = i;
                found = e;
                return &found;
            }
        }
        return nullptr;
    }
    static int PermanentEntries() {
        int n = 0;
        for (Colour side = WHITE; side <= BLACK; ++side)
            for (uint32_t i = 0; i < TT.entriesPerHalf + TT_BUCKET_SIZE; ++i) n += (ReadSlot(side, i).flags & TTFlag::PERMANENT) != 0;
        return n;
    }
    void Reallocate() {
        ASSERT_EQ(ResizeHashTable(HASH_KB), HASH_KB);
        LoadLearning(path.c_str());
    }

    std::string directory;
    std::string path;
    std::unique_ptr<Position> holder;
};

TEST_F(LearningTest, SaveAndLoadRoundsKeepTheHalfMergeInPlaceAndWearTheUseCounter) {
    constexpr uint32_t KEY = 0x2468ACE1;
    for (Colour side = WHITE; side <= BLACK; ++side) {
        SCOPED_TRACE(side);
        std::remove(path.c_str());
        Reallocate();
        Learn(side, KEY, 100);
        const uint16_t expectedUses[] = {16384, 12288, 9216};
        for (int round = 0; round < 3; ++round) {
            SCOPED_TRACE(round);
            const TTEntry* e = Find(side, KEY);
            ASSERT_NE(e, nullptr);
            EXPECT_EQ(Find(side ^ 1, KEY), nullptr);
            EXPECT_EQ(e->moveDepth, expectedUses[round]);
            EXPECT_EQ(e->move, LEARNED_MOVE);
            EXPECT_EQ(e->score, 100 + round);
            Learning.changed = true;
            SaveLearning(path.c_str());
            EXPECT_FALSE(Learning.changed);
            const std::vector<TTEntry> file = FileRecords(path);
            ASSERT_EQ(file.size(), 1u);  // merged in place, never added twice
            EXPECT_EQ(file[0].moveDepth, expectedUses[round]);
            EXPECT_EQ((file[0].flags & LEARNED_SIDE_BIT) != 0, side == BLACK);
            Reallocate();
            // A later search teaches the same position a new score.
            if (round < 2) {
                uint32_t index = 0;
                ASSERT_NE(Find(side, KEY, &index), nullptr);
                TTEntry loaded = *Find(side, KEY);
                loaded.score = static_cast<int16_t>(101 + round);
                WriteSlot(side, index, loaded);
            }
        }
    }
}

TEST_F(LearningTest, AFullFileGivesWayOnlyToAMoreUsedEntry) {
    struct Case {
        uint16_t newUses;
        uint16_t leastUses;  // of the 4096 records in the file
        bool replaced;
    };
    const Case cases[] = {{100, 50, true}, {50, 50, false}, {10, 50, false}};
    constexpr uint32_t NEW_KEY = 0x7777;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.newUses);
        std::vector<TTEntry> file;
        for (uint32_t i = 0; i < LEARNING_CAPACITY; ++i) file.push_back(Record(0x10000 + i, uint16_t(c.leastUses + 1 + i % 7)));
        file[1234].moveDepth = c.leastUses;
        WriteBytes(path, file.data(), file.size() * sizeof(TTEntry));
        ASSERT_EQ(ResizeHashTable(HASH_KB), HASH_KB);
        Learn(WHITE, NEW_KEY, 5, c.newUses);
        SaveLearning(path.c_str());
        const std::vector<TTEntry> saved = FileRecords(path);
        ASSERT_EQ(saved.size(), size_t(LEARNING_CAPACITY));
        EXPECT_EQ(saved[1234].keyLow == NEW_KEY, c.replaced);
        EXPECT_EQ(saved[1234].keyLow == 0x10000 + 1234, !c.replaced);
    }
}

TEST_F(LearningTest, DamagedFilesLoadTheirWholeLearnedRecordsAndTheNextSaveIsClean) {
    std::vector<TTEntry> valid;
    for (uint32_t i = 0; i < 4100; ++i) valid.push_back(Record(0x5000 + i * 977, 300, i % 2 ? BLACK : WHITE));
    std::vector<char> random(4000);
    std::mt19937 generator(11);
    for (char& b : random) b = static_cast<char>(generator());
    struct Case {
        const char* name;
        std::vector<char> bytes;
        int loaded;
    };
    auto bytesOf = [&valid](size_t records, size_t extra) {
        std::vector<char> b(records * sizeof(TTEntry) + extra, '\x5A');
        std::memcpy(b.data(), valid.data(), records * sizeof(TTEntry));
        return b;
    };
    const Case cases[] = {
        {"empty", {}, 0},
        {"truncated", bytesOf(3, 7), 3},
        {"over 4096 records", bytesOf(4100, 0), LEARNING_CAPACITY},
        {"random bytes", random, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteBytes(path, c.bytes.data(), c.bytes.size());
        Reallocate();
        if (c.loaded >= 0) EXPECT_EQ(PermanentEntries(), c.loaded);
        Learn(WHITE, 0xFEED, 1);
        SaveLearning(path.c_str());
        const std::vector<TTEntry> saved = FileRecords(path);
        std::ifstream in(path, std::ios::binary | std::ios::ate);
        EXPECT_EQ(static_cast<size_t>(in.tellg()), saved.size() * sizeof(TTEntry));
        EXPECT_LE(saved.size(), size_t(LEARNING_CAPACITY));
        for (const TTEntry& r : saved) EXPECT_TRUE(IsLearnedRecord(r));
        if (c.loaded >= 0) EXPECT_EQ(saved.size(), size_t(std::min(c.loaded + 1, LEARNING_CAPACITY)));
    }
    // A directory that does not exist: nothing to load, nothing written, no crash.
    const std::string nowhere = directory + "/missing/" + LEARNING_FILE;
    ASSERT_EQ(ResizeHashTable(HASH_KB), HASH_KB);
    LoadLearning(nowhere.c_str());
    EXPECT_EQ(PermanentEntries(), 0);
    Learn(WHITE, 0xFEED, 1);
    SaveLearning(nowhere.c_str());
    EXPECT_TRUE(FileRecords(nowhere).empty());
}

TEST_F(LearningTest, ASaveCutShortLeavesTheOldFileWhole) {
    std::vector<TTEntry> old;
    for (uint32_t i = 0; i < 64; ++i) old.push_back(Record(0x9000 + i, 500));
    WriteBytes(path, old.data(), old.size() * sizeof(TTEntry));
    for (uint32_t i = 0; i < 200; ++i) Learn(i % 2 ? BLACK : WHITE, 0x30000 + i * 131, 7);

    // The child dies of a full disk (the file size limit) half way through the save.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit limit{sizeof(TTEntry) * 100, sizeof(TTEntry) * 100};
        setrlimit(RLIMIT_FSIZE, &limit);
        SaveLearning(path.c_str());
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ);
    const std::vector<TTEntry> after = FileRecords(path);
    ASSERT_EQ(after.size(), old.size());
    EXPECT_EQ(std::memcmp(after.data(), old.data(), old.size() * sizeof(TTEntry)), 0);

    SaveLearning(path.c_str());
    EXPECT_EQ(FileRecords(path).size(), old.size() + 200);
}

TEST_F(LearningTest, ANewHashSizeKeepsThePositionsLearnedInThisRun) {
    struct Case {
        bool positionLearning;
        bool kept;
    };
    for (const Case c : {Case{true, true}, Case{false, false}}) {
        SCOPED_TRACE(c.positionLearning);
        ResetEngineSettings();
        if (!c.positionLearning) Settings.optionFlags &= ~OptionFlag::POSITION_LEARNING;
        std::remove(LEARNING_FILE);  // the working directory's file, as the engine uses it
        ASSERT_EQ(AllocateHashTable(HASH_KB), HASH_KB);
        StoreLearnedPosition(WHITE, *holder, 90, LEARNED_MOVE, DEPTH, 4);
        ASSERT_EQ(AllocateHashTable(HASH_KB * 2), HASH_KB * 2);
        EXPECT_EQ(PermanentEntries(), c.kept ? 1 : 0);
        EXPECT_FALSE(Learning.changed);
    }
    std::remove(LEARNING_FILE);
}

TEST(PositionLearning, OnlyAStrongChangeOfMindIsLearned) {
    struct Case {
        int32_t final, lowest, highest;
        bool learned;
    };
    const Case cases[] = {
        {0, 0, 49, true},        // fell by more than 48
        {0, 0, 48, false},
        {0, -49, 0, true},       // rose
        {400, 300, 400, false},  // a rise of 100 is not above a quarter of 400
        {400, 299, 400, true},
        {-400, -400, -298, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.final) + " " + std::to_string(c.lowest) + " " + std::to_string(c.highest));
        EXPECT_EQ(ScoreMovedEnough(c.final, c.lowest, c.highest), c.learned);
    }
}

TEST_F(LearningTest, ALearnedEntryTakesOverTheSearchEntryOfItsPosition) {
    struct Case {
        int32_t boundKind;
        uint16_t bound;
        int32_t depth;  // stored
    };
    const Case cases[] = {{2, TTFlag::UPPER, DEPTH - 1}, {4, TTFlag::EXACT, DEPTH - 1}, {5, TTFlag::EXACT, DEPTH},
                          {6, TTFlag::LOWER, DEPTH - 1}};
    uint32_t key = 0xABC0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.boundKind);
        ++key;
        holder->hashKey[0] = key;
        holder->hashKey[1] = ~key;
        // The search left a deeper entry with another move for the same position.
        StoreTable(BLACK, *holder, 1, 20, TTFlag::LOWER, 30, MakeMoveWord(52, 36), 0);
        Learning.changed = false;
        StoreLearnedPosition(BLACK, *holder, -250, LEARNED_MOVE, DEPTH, c.boundKind);
        EXPECT_TRUE(Learning.changed);
        const TTEntry* e = Find(BLACK, key);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->move, LEARNED_MOVE);
        EXPECT_EQ(e->moveDepth, LEARNED_USE_START);
        EXPECT_EQ(e->score, -250);
        EXPECT_EQ(e->flags & (TTFlag::PERMANENT | TTFlag::BOUND_MASK), TTFlag::PERMANENT | c.bound);
        EXPECT_EQ((e->flags & TTFlag::DEPTH_MASK) >> TTFlag::DEPTH_SHIFT, c.depth);
    }
}

}  // namespace
}  // namespace tavrix
