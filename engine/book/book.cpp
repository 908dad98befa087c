// The book file: opening, record reads through the 40-record window, the binary
// search for a key, record writes for learning, and finding the file on disk.
#include "book/book.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "settings/settings.h"
#include "platform/platform.h"

namespace tavrix {

BookState Book = {nullptr, false, 0, {}, 0, 0, -1, 0};

void BookState::Reset() {
    if (file != nullptr) std::fclose(file);
    file = nullptr;
    writable = false;
    count = 0;
    std::memset(window, 0, sizeof(window));
    windowFirst = 0;
    windowEnd = 0;
    lastBookPly = -1;
    random = 0;
}

namespace {

uint32_t Read32(const unsigned char* b) {
    return uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
}
uint16_t Read16(const unsigned char* b) { return static_cast<uint16_t>(b[0] | (b[1] << 8)); }

BookRecord DecodeRecord(const unsigned char* b) { return BookRecord{Read32(b), Read16(b + 4), Read16(b + 6)}; }

void EncodeRecord(const BookRecord& r, unsigned char* b) {
    for (int i = 0; i < 4; ++i) b[i] = static_cast<unsigned char>(r.key >> (8 * i));
    b[4] = static_cast<unsigned char>(r.move);
    b[5] = static_cast<unsigned char>(r.move >> 8);
    b[6] = static_cast<unsigned char>(r.learning);
    b[7] = static_cast<unsigned char>(r.learning >> 8);
}

bool SeekTo(int64_t offset) { return Book.file != nullptr && fseeko(Book.file, static_cast<off_t>(offset), SEEK_SET) == 0; }

int64_t RecordOffset(int32_t index) { return BOOK_HEADER_SIZE + int64_t(BOOK_RECORD_SIZE) * index; }

void SetBookOptions(bool open) {
    if (open) Settings.optionFlags |= OptionFlag::OWN_BOOK;
    else Settings.optionFlags &= ~OptionFlag::OWN_BOOK;
    Settings.bookPositions = open ? Book.count : 0;
}

}  // namespace

// A relative name: the working directory, beside the executable, then the installed data directory.
bool ResolveBookPath(const char* name, char* path, int pathSize) {
    if (name == nullptr || name[0] == '\0' || pathSize <= 0) return false;
    return platform::ResolveDataFile(name, path, pathSize);
}

int OpenBook(const char* name) {
    CloseBook();
    char path[FILE_NAME_SIZE * 5];
    bool ok = ResolveBookPath(name, path, sizeof(path));
    if (ok) {
        Book.file = std::fopen(path, "r+b");
        Book.writable = Book.file != nullptr;
        if (Book.file == nullptr) Book.file = std::fopen(path, "rb");
        ok = Book.file != nullptr;
        // Every read follows a seek: a buffer of one window keeps each read small.
        if (ok) std::setvbuf(Book.file, nullptr, _IOFBF, BOOK_WINDOW * BOOK_RECORD_SIZE);
    }
    int64_t fileSize = 0;
    unsigned char header[BOOK_HEADER_SIZE];
    if (ok) ok = fseeko(Book.file, 0, SEEK_END) == 0 && (fileSize = ftello(Book.file)) >= 0;
    if (ok) ok = SeekTo(0) && std::fread(header, 1, sizeof(header), Book.file) == sizeof(header);
    if (ok) {
        // A negative count is garbage; a count beyond the file holds only the whole records present.
        const int32_t count = static_cast<int32_t>(Read32(header));
        const int64_t present = (fileSize - BOOK_HEADER_SIZE) / BOOK_RECORD_SIZE;
        ok = count >= 0;
        if (ok) Book.count = static_cast<int32_t>(std::min<int64_t>(count, present));
    }
    if (!ok) CloseBook();
    SetBookOptions(ok);
    return ok ? 1 : 0;
}

int ReadBookRecords(int32_t first, int32_t count) {
    Book.windowFirst = first;
    Book.windowEnd = 0;
    if (Book.file == nullptr || first < 0 || first >= Book.count || count <= 0) return 0;
    count = std::min({count, Book.count - first, BOOK_WINDOW});
    if (!SeekTo(RecordOffset(first))) return 0;
    unsigned char bytes[BOOK_WINDOW * BOOK_RECORD_SIZE];
    const size_t read = std::fread(bytes, BOOK_RECORD_SIZE, static_cast<size_t>(count), Book.file);
    for (size_t i = 0; i < read; ++i) Book.window[i] = DecodeRecord(bytes + i * BOOK_RECORD_SIZE);
    Book.windowEnd = static_cast<int32_t>(read);
    return Book.windowEnd;
}

BookFind FindBookKey(uint32_t key) {
    int64_t lo = 0;
    int64_t hi = Book.count;
    while (hi >= lo) {
        const int64_t mid = (lo + hi) / 2;
        if (mid >= Book.count) break;
        if (ReadBookRecords(static_cast<int32_t>(mid), 1) != 1) break;
        const uint32_t found = Book.window[0].key;
        if (found == key) {
            const int32_t first = static_cast<int32_t>(std::max<int64_t>(0, mid - BOOK_WINDOW / 2));
            ReadBookRecords(first, BOOK_WINDOW);
            int32_t pos = static_cast<int32_t>(mid) - first;
            if (pos >= Book.windowEnd) return BookFind{false, static_cast<int32_t>(lo), -1};
            while (pos > 0 && Book.window[pos - 1].key == key) --pos;
            return BookFind{true, first + pos, pos};
        }
        if (key < found) hi = mid - 1;
        else lo = mid + 1;
    }
    Book.windowEnd = 0;
    return BookFind{false, static_cast<int32_t>(std::min<int64_t>(lo, Book.count)), -1};
}

void WriteBookRecord(int32_t index, const BookRecord& record) {
    if (Book.file == nullptr || !Book.writable || index < 0 || index >= Book.count) return;
    if (!SeekTo(RecordOffset(index))) return;
    unsigned char bytes[BOOK_RECORD_SIZE];
    EncodeRecord(record, bytes);
    std::fwrite(bytes, 1, sizeof(bytes), Book.file);
    std::fflush(Book.file);
    // Keep a window that holds this record in step with the file.
    const int32_t pos = index - Book.windowFirst;
    if (pos >= 0 && pos < Book.windowEnd) Book.window[pos] = record;
}

void CloseBook() {
    if (Book.file != nullptr) std::fclose(Book.file);
    Book.file = nullptr;
    Book.writable = false;
    Book.count = 0;
    Book.windowFirst = 0;
    Book.windowEnd = 0;
}

}  // namespace tavrix
