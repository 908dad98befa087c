// Small books the tests build with the builder's code, and probing them as the root does.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "board/movegen.h"
#include "book/book.h"
#include "bookbuild/builder.h"
#include "control/engine.h"
#include "control/options.h"
#include "board/repetition.h"

namespace tavrix::testing_support {

inline std::string TempPath(const std::string& name) { return ::testing::TempDir() + "tavrix_" + name; }

inline void WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    if (!bytes.empty()) ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    std::fclose(f);
}

inline std::vector<unsigned char> ReadBytes(const std::string& path) {
    std::vector<unsigned char> bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return bytes;
    for (int c; (c = std::fgetc(f)) != EOF;) bytes.push_back(static_cast<unsigned char>(c));
    std::fclose(f);
    return bytes;
}

// Writes the builder's book under `name` and opens it; the path is returned.
inline std::string OpenBuiltBook(const bookbuild::BookBuilder& b, const std::string& name) {
    const std::string path = TempPath(name);
    EXPECT_TRUE(bookbuild::WriteBookFile(path, bookbuild::FinishBook(b)));
    EXPECT_EQ(OpenBook(path.c_str()), 1);
    return path;
}

inline Position& FenPosition(const char* fen) {
    static Position p;
    EXPECT_TRUE(bookbuild::SetUpFen(p, fen)) << fen;
    return p;
}

// The legal move with the squares of a coordinate text such as "e2e4".
inline Move Coord(Position& p, const char* text) {
    return bookbuild::FindLegalMove(p, (text[0] - 'a') + 8 * (text[1] - '1'), (text[2] - 'a') + 8 * (text[3] - '1'),
                                    NO_PIECE);
}

inline uint32_t BookFlags(int style, bool learning) {
    return OptionFlag::OWN_BOOK | (uint32_t(style) << OptionFlag::BOOK_STYLE_SHIFT) |
           (learning ? OptionFlag::BOOK_LEARNING : 0u);
}

// The book's answer at the root of p, over its generated move list.
inline Move Probe(Position& p, uint32_t flags) {
    const int n = GenerateAllMoves(p, p.sideToMove, 1, 0);
    return ProbeBook(p, flags, ListBegin(1), ListBegin(1) + n);
}

// Every book test starts from a closed book, default settings and no game history.
struct BookTest : ::testing::Test {
    void SetUp() override {
        Book.Reset();
        ResetEngineSettings();
        LoadDefaults();
        ResetRepetitionState();
        SeedBookRandom(12345);
    }
    void TearDown() override { Book.Reset(); }
};

}  // namespace tavrix::testing_support
