#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "book/book.h"
#include "book/book_learning.h"
#include "control/engine.h"
#include "control/game_record.h"
#include "control/setup.h"
#include "e2e/engine_process.h"
#include "support/suite.h"

namespace tavrix {
namespace {

// White, the engine, plays its first three moves from the book, then six scored moves.
constexpr const char* GAME =
    "e2e4 e7e5 g1f3 b8c6 f1c4 f8c5 c2c3 g8f6 d2d3 d7d6 e1g1 e8g8 b1d2 a7a6 a2a4 h7h6 h2h3 c8e6 c4e6 f7e6";
constexpr int32_t BOOK_ENTRIES[] = {2, 4, 6};
constexpr Move ALTERNATIVES[] = {MakeMoveWord(11, 27), MakeMoveWord(1, 18), MakeMoveWord(5, 33)};  // d4, Nc3, Bb5
constexpr int32_t OTHER_WEIGHT = 16;

struct BookFile {
    std::vector<BookRecord> records;  // sorted as on disk
    std::vector<char> bytes;
};

class BookLearningTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing_support::ResetBoardState();
        ResetEngineSettings();
        Book.Reset();
        directory = testing::MakeTempDirectory();
        path = directory + "/learn.tbk";
    }
    void TearDown() override {
        CloseBook();
        testing::RemoveDirectory(directory);
    }

    // Plays the game, books its moves, and writes a book holding the engine's book moves
    // (weight `weight`) and one alternative for each.
    void SetUpGame(int32_t laterScore, int32_t weight) {
        NewGame();
        ASSERT_EQ(PlayMoveList(GAME), 20);
        for (int32_t i = FIRST_ENTRY + 1; i <= GameRecord.length; i += 2) {
            GameEntry& e = GameRecord.entries[i];
            e.score = static_cast<int16_t>(laterScore);
            e.flags = EntryFlag::SCORE_USABLE;
        }
        std::vector<BookRecord> records;
        for (int k = 0; k < 3; ++k) {
            GameEntry& e = GameRecord.entries[BOOK_ENTRIES[k]];
            e.flags |= EntryFlag::BOOK_MOVE;
            e.score = 20;
            const uint32_t key = BookKeyFrom(e.keyLow, e.mover);
            const uint16_t check = static_cast<uint16_t>(BookCheckFrom(e.keyHigh) << BookBits::CHECK_SHIFT);
            records.push_back({key, static_cast<uint16_t>((e.move & BookBits::SQUARES) | 0x3000), static_cast<uint16_t>(check | weight)});
            records.push_back({key, static_cast<uint16_t>(ALTERNATIVES[k] | 0x3000), static_cast<uint16_t>(check | OTHER_WEIGHT)});
        }
        std::stable_sort(records.begin(), records.end(), [](const BookRecord& a, const BookRecord& b) { return a.key < b.key; });
        const int32_t count = static_cast<int32_t>(records.size());
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(&count), sizeof count);
        out.write(reinterpret_cast<const char*>(records.data()), static_cast<std::streamsize>(records.size() * sizeof(BookRecord)));
        out.close();
        ASSERT_EQ(OpenBook(path.c_str()), 1);
        before = Disk();
    }
    BookFile Disk() const {
        std::ifstream in(path, std::ios::binary);
        BookFile f;
        f.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        f.records.resize((f.bytes.size() - BOOK_HEADER_SIZE) / sizeof(BookRecord));
        std::memcpy(f.records.data(), f.bytes.data() + BOOK_HEADER_SIZE, f.records.size() * sizeof(BookRecord));
        return f;
    }
    // The record of the engine's book move at game entry `index`.
    static BookRecord RecordOf(const BookFile& f, int32_t index) {
        const GameEntry& e = GameRecord.entries[index];
        for (const BookRecord& r : f.records)
            if (r.key == BookKeyFrom(e.keyLow, e.mover) && (r.move & BookBits::SQUARES) == (e.move & BookBits::SQUARES)) return r;
        ADD_FAILURE() << "no record for entry " << index;
        return {};
    }

    std::string directory;
    std::string path;
    BookFile before;
};

TEST_F(BookLearningTest, ResultsAndLaterScoresMoveTheWeightsAndMarks) {
    enum Expect { UNCHANGED, RAISED_GOOD, LOWERED_BAD, TO_MINIMUM, TO_MAXIMUM };
    struct Case {
        const char* name;
        int32_t result;
        int32_t laterScore;
        int32_t weight;
        uint32_t bookStyle;     // field value
        bool writable;
        Expect expect;
    };
    const Case cases[] = {
        {"won", GameResult::WHITE_WON, 200, 20, 4, true, RAISED_GOOD},
        {"lost", GameResult::BLACK_WON, -200, 20, 4, true, LOWERED_BAD},
        {"won from the top", GameResult::WHITE_WON, 200, 30, 4, true, TO_MAXIMUM},
        {"scored badly from below the floor", GameResult::DRAW, -200, 5, 4, true, TO_MINIMUM},
        {"neutral draw", GameResult::DRAW, 40, 20, 4, true, UNCHANGED},  // inside both thresholds
        {"not Tournament", GameResult::WHITE_WON, 200, 20, 3, true, UNCHANGED},
        {"read-only book", GameResult::WHITE_WON, 200, 20, 4, false, UNCHANGED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUpGame(c.laterScore, c.weight);
        Settings.optionFlags = (Settings.optionFlags & ~OptionFlag::BOOK_STYLE) | (c.bookStyle << OptionFlag::BOOK_STYLE_SHIFT);
        Book.writable = c.writable;
        LearnFromGame(GameRecord.entries, LastGamePly(), c.result, WHITE);
        const BookFile after = Disk();
        // The alternatives and the header never change.
        for (size_t i = 0; i < after.records.size(); ++i)
            if (LearnedWeightOf(before.records[i]) == OTHER_WEIGHT) EXPECT_EQ(after.records[i].learning, before.records[i].learning);
        if (c.expect == UNCHANGED) {
            EXPECT_EQ(after.bytes, before.bytes);
            continue;
        }
        for (int32_t index : BOOK_ENTRIES) {
            SCOPED_TRACE(index);
            const int32_t w = LearnedWeightOf(RecordOf(after, index));
            const uint16_t marks = RecordOf(after, index).learning & (BookBits::LEARNED_GOOD | BookBits::LEARNED_BAD);
            EXPECT_GE(w, LEARNED_WEIGHT_MIN);
            EXPECT_LE(w, LEARNED_WEIGHT_MAX);
            EXPECT_NE(GameRecord.entries[index].learning, 0);  // the code it was given
            switch (c.expect) {
                case RAISED_GOOD:
                    EXPECT_GE(w, c.weight + (index == 6 ? 2 : 1));
                    EXPECT_EQ(marks, BookBits::LEARNED_GOOD);
                    break;
                case LOWERED_BAD:
                    EXPECT_LT(w, c.weight);
                    EXPECT_EQ(marks, BookBits::LEARNED_BAD);
                    break;
                case TO_MAXIMUM: EXPECT_EQ(w, LEARNED_WEIGHT_MAX); break;
                case TO_MINIMUM:
                    if (index == 6) EXPECT_EQ(w, LEARNED_WEIGHT_MIN);  // only the last book move is judged
                    break;
                default: break;
            }
        }
        CloseBook();
    }
}

}  // namespace
}  // namespace tavrix
