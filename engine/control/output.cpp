#include "control/output.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "control/engine.h"
#include "control/setup.h"
#include "control/think.h"
#include "control/timeman.h"
#include "control/workers.h"
#include "eval/evaluate.h"
#include "platform/platform.h"
#include "search/root.h"
#include "search/search_state.h"
#include "search/root_table.h"
#include "tablebase/probe.h"

namespace tavrix {

namespace {

constexpr int32_t CENTIPAWNS = 100;

// Suffix of a centipawn score by bound kind. Kinds 0 and 1 (never reported by the root) get
// the spaced text too, so the score can never run into the word.
constexpr const char* BOUND_SUFFIX[8] = {" upperbound ", " upperbound ", " upperbound ", "", "", "",
                                         " lowerbound ", " lowerbound "};

// Appends formatted text to a line buffer, never past its end.
void Append(char* line, size_t& used, const char* format, ...) __attribute__((format(printf, 3, 4)));
void Append(char* line, size_t& used, const char* format, ...) {
    if (used >= OUTPUT_LINE_SIZE) return;
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(line + used, OUTPUT_LINE_SIZE - used, format, args);
    va_end(args);
    if (n > 0) used = std::min<size_t>(used + static_cast<size_t>(n), OUTPUT_LINE_SIZE - 1);
}

uint32_t Hashfull() { return static_cast<uint32_t>(RootHashfull()); }

// Over the whole search: the clock restarts at "ponderhit", the node count does not.
uint32_t NodesPerSecond(int32_t elapsed) {
    const int64_t spent = static_cast<int64_t>(elapsed) + Time.ponderCredit;
    return static_cast<uint32_t>(SearchedNodes() * 1000 / (static_cast<uint64_t>(spent < 0 ? 0 : spent) + 1));
}

// The wire text of a move without the trailing space, for the "bestmove" line.
void BareMoveText(Move move, char out[WIRE_MOVE_TEXT_SIZE]) {
    MoveText(move, out);
    const size_t n = std::strlen(out);
    if (n > 0 && out[n - 1] == ' ') out[n - 1] = '\0';
}

}  // namespace

bool OutputAllowed() {
    if (Search.helper) return false;
    const int32_t level = static_cast<int32_t>(Search.searchFlags & OptionFlag::OUTPUT_LEVEL);
    return Control.engineState - 3 <= level;
}

void ScoreText(int32_t score, int32_t boundKind, char out[SCORE_TEXT_SIZE]) {
    if (score > MATE_THRESHOLD) {
        std::snprintf(out, SCORE_TEXT_SIZE, "mate %d", (MATE + 1 - score) >> 1);
    } else if (score < -MATE_THRESHOLD) {
        std::snprintf(out, SCORE_TEXT_SIZE, "mate %d", -((score + MATE) >> 1));
    } else {
        // The threshold itself is no mate: it prints as centipawns like every other score.
        std::snprintf(out, SCORE_TEXT_SIZE, "cp %d%s", score * CENTIPAWNS / PAWN_VALUE, BOUND_SUFFIX[boundKind & 7]);
    }
}

void MoveText(Move move, char out[WIRE_MOVE_TEXT_SIZE]) {
    if ((move & ~CHECK_MARK) == NO_MOVE) {
        std::snprintf(out, WIRE_MOVE_TEXT_SIZE, "0000 ");
        return;
    }
    char text[MOVE_TEXT_SIZE];
    MoveToText(move & ~CHECK_MARK, text);
    std::snprintf(out, WIRE_MOVE_TEXT_SIZE, "%s ", text);
}

void PrintPv(int32_t multiPV, const Move* line, int32_t boundKind, int32_t score, int32_t depth,
             int32_t selectiveDepth) {
    if (Control.engineState == EngineStateValue::CALIBRATING) return;
    char text[OUTPUT_LINE_SIZE];
    size_t used = 0;
    char multi[24] = "";
    if (multiPV != 0) std::snprintf(multi, sizeof multi, "multipv %d ", multiPV);
    char scoreText[SCORE_TEXT_SIZE];
    ScoreText(score, boundKind, scoreText);
    Append(text, used, "info %sdepth %d seldepth %d time %d nodes %" PRIu64 " score %s", multi, depth,
           selectiveDepth, ElapsedMs(), SearchedNodes(), scoreText);
    if (TablebaseHits() != 0) Append(text, used, " tbhits %lu", static_cast<unsigned long>(TablebaseHits()));
    Append(text, used, " pv ");
    for (int i = 0; i < ROOT_LINE_SIZE && line[i] != NO_MOVE; ++i) {
        char move[WIRE_MOVE_TEXT_SIZE];
        MoveText(line[i], move);
        Append(text, used, "%s", move);
    }
    platform::Print("%s\n", text);
}

void PrintCurrmove(int32_t number, Move move) {
    char text[WIRE_MOVE_TEXT_SIZE];
    MoveText(move, text);
    platform::Print("info currmove %s currmovenumber %d depth %d seldepth %d nps %u\n", text, number,
                    Search.iterationDepth, Search.selectiveDepth, NodesPerSecond(ElapsedMs()));
}

void PrintNodes() {
    // The clock check measures the main search's rate; with helpers the sum is the rate.
    const int64_t nps = SearchThreads() > 1 ? NodesPerSecond(ElapsedMs()) : ThinkControl.nodeRate;
    platform::Print("info nodes %" PRIu64 " nps %d hashfull %u\n", SearchedNodes(), static_cast<int32_t>(nps), Hashfull());
    ThinkControl.pollCount = 0;
}

void PrintDepth() { platform::Print("info depth %d seldepth %d\n", Search.iterationDepth, Search.selectiveDepth); }

void PrintBestmove(Move move, Move ponder) {
    const int32_t elapsed = ElapsedMs();
    platform::Print("info nps %u nodes %" PRIu64 " hashfull %u time %d\n", NodesPerSecond(elapsed), SearchedNodes(),
                    Hashfull(), elapsed + 1);
    PrintBestmoveLine(move, ponder);
}

void PrintBestmoveLine(Move move, Move ponder) {
    char text[OUTPUT_LINE_SIZE];
    size_t used = 0;
    char best[WIRE_MOVE_TEXT_SIZE];
    BareMoveText(move, best);
    Append(text, used, "bestmove %s", best);
    if (ponder != NO_MOVE) {
        char reply[WIRE_MOVE_TEXT_SIZE];
        BareMoveText(ponder, reply);
        Append(text, used, " ponder %s", reply);
    }
    platform::Print("%s\n", text);
}

void PrintRootPv() {
    const RootMoveList& list = Root.list;
    if (list.count <= 0) return;
    if (Root.multiPV <= 1) {
        PrintPv(0, RootLine(list.entries[0]) + 1, Search.boundKind, list.entries[0].score, Search.iterationDepth,
                Search.selectiveDepth);
        return;
    }
    const int32_t lines = std::min<int32_t>(Root.multiPV, list.count);
    for (int32_t k = 0; k < lines; ++k) {
        const RootMove& e = list.entries[k];
        PrintPv(k + 1, RootLine(e) + 1, BoundKind::NEW_BEST, e.score, e.depth, e.depth);
    }
}

}  // namespace tavrix
