#include "control/keywords.h"

namespace tavrix {

namespace {

constexpr char LowerCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

const char* SkipSpaces(const char* cursor) {
    while (*cursor == ' ') ++cursor;
    return cursor;
}

bool MatchKeyword(const char*& cursor, const char* keyword) {
    const char* text = cursor;
    while (*keyword != '\0') {
        if (LowerCase(*text) != LowerCase(*keyword)) return false;
        ++text;
        ++keyword;
    }
    if (*text != '\0' && !IsWhiteSpace(*text)) return false;
    cursor = SkipSpaces(text);
    return true;
}

bool ReadNumber(const char*& cursor, int32_t& value) {
    const char* text = cursor;
    while (IsWhiteSpace(*text)) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = (*text == '-');
        ++text;
    }
    if (!IsDigit(*text)) return false;
    constexpr int64_t LIMIT = int64_t{1} << 31;   // saturate before the 64-bit value could overflow
    int64_t magnitude = 0;
    while (IsDigit(*text)) {
        if (magnitude <= LIMIT) magnitude = magnitude * 10 + (*text - '0');
        ++text;
    }
    if (negative) {
        value = magnitude >= LIMIT ? INT32_MIN : static_cast<int32_t>(-magnitude);
    } else {
        value = magnitude > INT32_MAX ? INT32_MAX : static_cast<int32_t>(magnitude);
    }
    cursor = text;
    return true;
}

const char* SkipWhiteSpace(const char* cursor) {
    while (IsWhiteSpace(*cursor)) ++cursor;
    return cursor;
}

const char* SkipToken(const char* cursor) {
    cursor = SkipWhiteSpace(cursor);
    while (*cursor != '\0' && !IsWhiteSpace(*cursor)) ++cursor;
    return SkipWhiteSpace(cursor);
}

const char* FindText(const char* cursor, const char* text) {
    for (; *cursor != '\0'; ++cursor) {
        int i = 0;
        while (text[i] != '\0' && LowerCase(cursor[i]) == LowerCase(text[i])) ++i;
        if (text[i] == '\0') return cursor;
    }
    return nullptr;
}

void CopyText(char* target, const char* source, int capacity) {
    int i = 0;
    for (; i < capacity - 1 && source[i] != '\0'; ++i) target[i] = source[i];
    target[i] = '\0';
}

}  // namespace tavrix
