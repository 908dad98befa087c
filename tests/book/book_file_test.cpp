// The book file: lookup by key, the 40-record window, record writes and damaged files.
#include <gtest/gtest.h>

#include <set>

#include "book/book_support.h"

namespace tavrix {
namespace {

using namespace testing_support;
using bookbuild::AddRecord;
using bookbuild::BookBuilder;
using bookbuild::START_FEN;

constexpr const char* MANY_MOVES_FEN = "R6R/3Q4/1Q4Q1/4Q3/2Q4Q/Q4Q2/pp1Q4/kBNN1KB1 w - - 0 1";  // 218 moves

using BookFileTest = BookTest;

TEST_F(BookFileTest, EmptyBookOpensAndFindsNothing) {
    OpenBuiltBook(BookBuilder{}, "empty.tbk");
    EXPECT_EQ(Book.count, 0);
    EXPECT_NE(Settings.optionFlags & OptionFlag::OWN_BOOK, 0u);
    EXPECT_FALSE(FindBookKey(0).found);
    EXPECT_EQ(Probe(FenPosition(START_FEN), BookFlags(4, true)), NO_MOVE);
}

// Keys below and above every record are not found; a record lying behind the count in the
// file is never read.
TEST_F(BookFileTest, KeysOutsideTheRecordsAreNotFound) {
    BookBuilder b;
    for (uint32_t key : {100u, 200u, 300u}) AddRecord(b, key, 0, MakeMoveWord(12, 28), 5);
    const std::string path = OpenBuiltBook(b, "outside.tbk");
    CloseBook();
    std::vector<unsigned char> bytes = ReadBytes(path);
    for (unsigned char c : {0xFF, 0xFF, 0xFF, 0xFF, 0x1C, 0x73, 0x14, 0x00}) bytes.push_back(c);  // key 0xFFFFFFFF
    WriteBytes(path, bytes);
    ASSERT_EQ(OpenBook(path.c_str()), 1);
    ASSERT_EQ(Book.count, 3);
    const struct {
        uint32_t key;
        bool found;
        int32_t index;
    } cases[] = {{0, false, 0}, {99, false, 0}, {150, false, 1}, {200, true, 1}, {301, false, 3}, {0xFFFFFFFF, false, 3}};
    for (const auto& c : cases) {
        const BookFind f = FindBookKey(c.key);
        EXPECT_EQ(f.found, c.found) << c.key;
        EXPECT_EQ(f.index, c.index) << c.key;
    }
}

// A position with more book moves than the window holds offers only those inside the 40
// records read around the first probe hit.
TEST_F(BookFileTest, OnlyTheFortyRecordWindowIsOffered) {
    Position& p = FenPosition(MANY_MOVES_FEN);
    Move legal[bookbuild::MAX_LEGAL_MOVES];
    const int n = bookbuild::LegalMoves(p, legal);
    ASSERT_GT(n, 2 * BOOK_WINDOW);
    BookBuilder b;
    for (int i = 0; i < n; ++i) AddRecord(b, p, legal[i], 7);
    OpenBuiltBook(b, "window.tbk");

    const BookFind f = FindBookKey(BookKey(p));
    ASSERT_TRUE(f.found);
    const int32_t first = n / 2 - BOOK_WINDOW / 2;  // the binary search hits the middle record first
    EXPECT_EQ(f.index, first);
    std::set<int> inside;
    for (int32_t i = f.windowPos; i < Book.windowEnd && Book.window[i].key == BookKey(p); ++i)
        inside.insert(Book.window[i].move & BookBits::SQUARES);
    EXPECT_EQ(static_cast<int>(inside.size()), BOOK_WINDOW);

    std::set<int> chosen;
    for (int probe = 0; probe < 200; ++probe) {
        ResetBookPly();
        const Move m = Probe(p, BookFlags(3, true));
        ASSERT_NE(m, NO_MOVE);
        chosen.insert(m & BookBits::SQUARES);
    }
    for (int squares : chosen) EXPECT_TRUE(inside.count(squares)) << squares;
    EXPECT_GT(chosen.size(), 1u);
}

// Learning rewrites one record in place; writes outside the records change nothing.
TEST_F(BookFileTest, RecordWritesLandInPlace) {
    Position& p = FenPosition(START_FEN);
    BookBuilder b;
    AddRecord(b, p, Coord(p, "e2e4"), 7);
    AddRecord(b, p, Coord(p, "d2d4"), 5);
    const std::string path = OpenBuiltBook(b, "write.tbk");
    const size_t size = ReadBytes(path).size();
    ASSERT_TRUE(Book.writable);
    BookFind f = FindBookKey(BookKey(p));
    ASSERT_TRUE(f.found);
    BookRecord r = Book.window[f.windowPos + 1];
    r.learning = static_cast<uint16_t>((r.learning & 0xFF00) | 31 | BookBits::LEARNED_GOOD);
    WriteBookRecord(f.index + 1, r);
    WriteBookRecord(Book.count, r);
    WriteBookRecord(-1, r);
    CloseBook();
    EXPECT_EQ(ReadBytes(path).size(), size);
    ASSERT_EQ(OpenBook(path.c_str()), 1);
    f = FindBookKey(BookKey(p));
    EXPECT_EQ(Book.window[f.windowPos + 1].learning, r.learning);
    EXPECT_EQ(Book.window[f.windowPos].learning & BookBits::LEARNED_WEIGHT, 28);
}

// Damaged files: absent when the count cannot be read or is negative, otherwise only the
// whole records present; never a crash or a read past them.
TEST_F(BookFileTest, DamagedFilesAreAbsentOrTruncated) {
    Position& start = FenPosition(START_FEN);
    BookBuilder b;
    AddRecord(b, start, Coord(start, "e2e4"), 7);
    AddRecord(b, 0x40000000u, 1, MakeMoveWord(12, 28), 7);
    AddRecord(b, 0x80000000u, 2, MakeMoveWord(12, 28), 7);
    bookbuild::WriteBookFile(TempPath("whole.tbk"), bookbuild::FinishBook(b));
    const std::vector<unsigned char> whole = ReadBytes(TempPath("whole.tbk"));

    std::vector<unsigned char> negative = whole, oversized = whole, random;
    negative[0] = negative[1] = negative[2] = negative[3] = 0xFF;
    oversized[0] = 0xE8, oversized[1] = 0x03;  // 1000 records claimed, 3 present
    for (unsigned char c : {1, 2, 3, 4, 5}) oversized.push_back(c);
    uint32_t state = 7;
    for (int i = 0; i < 1003; ++i) random.push_back(static_cast<unsigned char>((state = state * 1103515245u + 12345u) >> 24));

    const struct {
        const char* name;
        std::vector<unsigned char> bytes;
        int opened;
        int32_t count;  // -1: any count the file can hold
    } cases[] = {
        {"no bytes", {}, 0, 0},
        {"three bytes", {3, 0, 0}, 0, 0},
        {"negative count", negative, 0, 0},
        {"count beyond the file", oversized, 1, 3},
        {"random bytes", random, -1, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = TempPath("damaged.tbk");
        WriteBytes(path, c.bytes);
        const int opened = OpenBook(path.c_str());
        if (c.opened >= 0) EXPECT_EQ(opened, c.opened);
        if (c.count >= 0) EXPECT_EQ(Book.count, c.count);
        EXPECT_LE(Book.count, (static_cast<int32_t>(c.bytes.size()) - BOOK_HEADER_SIZE) / BOOK_RECORD_SIZE + 1);
        EXPECT_EQ(Settings.bookPositions, Book.count);
        EXPECT_EQ((Settings.optionFlags & OptionFlag::OWN_BOOK) != 0, opened == 1);
        for (uint32_t key : {0u, BookKey(start), 0x7FFFFFFFu, 0xFFFFFFFFu}) {
            const BookFind f = FindBookKey(key);
            EXPECT_LE(Book.windowEnd, BOOK_WINDOW);
            EXPECT_TRUE(!f.found || f.index < Book.count);
        }
        Settings.optionFlags |= OptionFlag::OWN_BOOK;
        ResetBookPly();
        const Move m = Probe(start, BookFlags(1, false));
        if (c.count == 3) EXPECT_EQ(m & BookBits::SQUARES, Coord(start, "e2e4"));
        if (opened == 0) EXPECT_EQ(m, NO_MOVE);
        CloseBook();
    }
}

}  // namespace
}  // namespace tavrix
