// Reading protocol text: keywords, numbers and tokens.
#pragma once

#include <cstdint>

namespace tavrix {

constexpr bool IsWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Skips space characters only (tabs are not blanks in the protocol).
const char* SkipSpaces(const char* cursor);

// Matches when the text at the cursor equals the keyword without regard to case and is
// followed by white space or the end; then the cursor moves past the keyword and any spaces.
// On no match the cursor stays.
bool MatchKeyword(const char*& cursor, const char* keyword);

// A decimal integer with optional sign; leading white space is skipped and reading stops at the
// first non-digit. Values beyond the 32-bit range saturate. Without a digit: false, cursor stays.
bool ReadNumber(const char*& cursor, int32_t& value);

// Skips every kind of white space.
const char* SkipWhiteSpace(const char* cursor);

// Moves past one token (a run of non-white-space characters) and the white space around it;
// always makes progress unless the text has ended.
const char* SkipToken(const char* cursor);

// Finds the keyword anywhere at or after the cursor (any case); nullptr when it is absent.
const char* FindText(const char* cursor, const char* text);

// Copies at most capacity - 1 characters and terminates the copy.
void CopyText(char* target, const char* source, int capacity);

}  // namespace tavrix
