// The text behind "position": start position or FEN, then move texts. Whatever is accepted
// must be a position the board code can play on, and every legal move's text must read back.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "board/perft.h"
#include "board/moveservices.h"
#include "control/uci.h"
#include "fuzz_support.h"

using namespace tavrix;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::StartEngineOnce();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // One protocol line as the reader delivers it: no line end, no NUL, at most 4095 bytes.
    static char line[COMMAND_LINE_SIZE];
    int length = 0;
    for (size_t i = 0; i < size && data[i] != '\n' && length < COMMAND_LINE_SIZE - 1; ++i)
        if (data[i] != '\0') line[length++] = static_cast<char>(data[i]);
    line[length] = '\0';

    fuzz::FreshEngine();
    CommandPosition(line);

    Position& p = GameBoard.position;
    static PerftDivision legal;
    PerftDivide(p, 1, legal);
    char text[MOVE_TEXT_SIZE];
    for (int i = 0; i < legal.count; ++i) {
        MoveToText(legal.moves[i], text);
        Move back = ParseMoveText(p, text);
        if (MoveFrom(back) != MoveFrom(legal.moves[i]) || MoveTo(back) != MoveTo(legal.moves[i]) ||
            ValidateMove(p.sideToMove, p, back) == 0)
            std::abort();  // the engine could not read its own "bestmove"
    }
    Perft(p, 2);
    return 0;
}
