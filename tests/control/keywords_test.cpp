#include <gtest/gtest.h>

#include <cstring>

#include "control/keywords.h"

namespace tavrix {
namespace {

TEST(MatchKeyword, MatchesWholeWordsInAnyCase) {
    struct Case {
        const char* text;
        const char* keyword;
        bool matches;
        const char* rest;   // where the cursor stands afterwards
    };
    const Case cases[] = {
        {"go", "go", true, ""},
        {"GO DEPTH 5", "go", true, "DEPTH 5"},
        {"Go   depth", "go", true, "depth"},
        {"gox", "go", false, "gox"},
        {"g", "go", false, "g"},
        {"", "go", false, ""},
        {" go", "go", false, " go"},            // the caller skips leading blanks
        {"go\tdepth", "go", true, "\tdepth"},   // a tab ends the word but is not skipped
        {"go\r", "go", true, "\r"},
        {"isready  ", "isready", true, ""},
        {"Book Style value Wide", "Book Style", true, "value Wide"},
        {"Book  Style", "Book Style", false, "Book  Style"},
        {"book style", "Book Style", true, ""},
        {"Hash value 32", "Hash", true, "value 32"},
        {"Hashx value 32", "Hash", false, "Hashx value 32"},
        {"UCI_Elo", "UCI_Elo", true, ""},
        {"uci_elo value 2000", "UCI_Elo", true, "value 2000"},
        {"ponderhit", "ponder", false, "ponderhit"},
    };
    for (const Case& c : cases) {
        const char* cursor = c.text;
        EXPECT_EQ(MatchKeyword(cursor, c.keyword), c.matches) << c.text << " / " << c.keyword;
        EXPECT_STREQ(cursor, c.rest) << c.text << " / " << c.keyword;
        if (!c.matches) {
            EXPECT_EQ(cursor, c.text);
        }
    }
}

TEST(ReadNumber, SignedDecimalsStopAtFirstNonDigit) {
    struct Case {
        const char* text;
        bool read;
        int32_t value;
        const char* rest;
    };
    const Case cases[] = {
        {"32", true, 32, ""},
        {"  17 rest", true, 17, " rest"},
        {"\t-5", true, -5, ""},
        {"+8x", true, 8, "x"},
        {"007", true, 7, ""},
        {"-0", true, 0, ""},
        {"2147483647", true, 2147483647, ""},
        {"2147483648", true, 2147483647, ""},
        {"99999999999999999999999", true, 2147483647, ""},
        {"-2147483648", true, INT32_MIN, ""},
        {"-99999999999999999999999", true, INT32_MIN, ""},
        {"abc", false, 0, "abc"},
        {"", false, 0, ""},
        {"-", false, 0, "-"},
        {"- 5", false, 0, "- 5"},
        {"+", false, 0, "+"},
    };
    for (const Case& c : cases) {
        const char* cursor = c.text;
        int32_t value = 12345;
        EXPECT_EQ(ReadNumber(cursor, value), c.read) << c.text;
        if (c.read) EXPECT_EQ(value, c.value) << c.text;
        else EXPECT_EQ(value, 12345) << c.text;
        EXPECT_STREQ(cursor, c.rest) << c.text;
    }
}

TEST(SkipToken, AlwaysMovesOnUntilTheEnd) {
    struct Case {
        const char* text;
        const char* rest;
    };
    const Case cases[] = {
        {"foo depth 3", "depth 3"},
        {"foo", ""},
        {"\tfoo  bar", "bar"},
        {"\t\t", ""},
        {"", ""},
        {"a\r\nb", "b"},
    };
    for (const Case& c : cases) EXPECT_STREQ(SkipToken(c.text), c.rest) << c.text;
}

TEST(FindText, FindsFirstOccurrenceInAnyCase) {
    const char* text = "8/8/8 w - - 0 1 MOVES e2e4 moves";
    EXPECT_EQ(FindText(text, "moves"), text + std::strlen("8/8/8 w - - 0 1 "));
    EXPECT_EQ(FindText("8/8/8 w - - 0 1", "moves"), nullptr);
    EXPECT_EQ(FindText("move", "moves"), nullptr);
}

TEST(CopyText, TruncatesAndTerminates) {
    char target[5];
    std::memset(target, '#', sizeof target);
    CopyText(target, "abcdefgh", sizeof target);
    EXPECT_STREQ(target, "abcd");
    CopyText(target, "", sizeof target);
    EXPECT_STREQ(target, "");
}

}  // namespace
}  // namespace tavrix
