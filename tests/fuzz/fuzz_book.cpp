// libFuzzer harness for the book file reader and the book move choice: the input is a whole
// book file. When the first byte is odd every record is given the start position's key and
// check byte, so mutations reach the move matching, the styles and the learned weights.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "book/book.h"
#include "board/movegen.h"
#include "fuzz_support.h"

using namespace tavrix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    static const bool started = (fuzz::StartEngineOnce(), true);
    (void)started;
    if (size < 1) return 0;
    std::vector<uint8_t> file(input + 1, input + size);
    NewGame();
    Position& p = GameBoard.position;
    if ((input[0] & 1) != 0) {
        const uint32_t key = BookKey(p);
        for (size_t at = 4; at + 8 <= file.size(); at += 8) {
            for (int i = 0; i < 4; ++i) file[at + i] = static_cast<uint8_t>(key >> (8 * i));
            file[at + 7] = BookCheck(p);
        }
    }
    static char path[64];
    if (path[0] == '\0') std::snprintf(path, sizeof path, "/tmp/tavrix_fuzz_book_%d.tbk", static_cast<int>(getpid()));
    std::FILE* f = std::fopen(path, "wb");
    if (f == nullptr) return 0;
    const bool written = std::fwrite(file.data(), 1, file.size(), f) == file.size();
    std::fclose(f);
    if (written && OpenBook(path) != 0) {
        for (uint32_t style = 1; style <= 4; ++style) {
            ResetBookPly();
            const int n = GenerateAllMoves(p, p.sideToMove, 1, 0);
            const uint32_t flags = OptionFlag::OWN_BOOK | (style << OptionFlag::BOOK_STYLE_SHIFT);
            const Move m = ProbeBook(p, flags, ListBegin(1), ListBegin(1) + n);
            bool listed = m == NO_MOVE;
            for (int i = 0; i < n && !listed; ++i) listed = (ListBegin(1)[i].move & 0x7FFF) == (m & 0x7FFF);
            if (!listed) __builtin_trap();  // a book move must be one of the position's moves
        }
    }
    CloseBook();
    std::remove(path);
    return 0;
}
