#include "search/root.h"

#include <algorithm>
#include <cstdlib>

#include "board/makemove.h"
#include "board/moveservices.h"
#include "eval/evaluate.h"
#include "search/ordering.h"
#include "search/quiesce.h"
#include "board/repetition.h"
#include "search/search.h"
#include "search/search_state.h"
#include "search/root_table.h"
#include "search/search_table.h"
#include "search/think_link.h"
#include "settings/settings.h"
#include "tablebase/probe.h"

namespace tavrix {

thread_local constinit RootState Root{};

namespace {

constexpr int32_t ROOT_PLY = 1;
constexpr int32_t CHILD_PLY = 2;
constexpr int32_t WIDE_WINDOW = 16384;        // the static evaluations of the root stay inside
constexpr int32_t FIRST_DEPTH_MARGIN = 192;   // depth 1 gives every move a usable score
constexpr int32_t DOUBTFUL_SCORE = -7799;     // a first move at or below loses to mate
constexpr int32_t MAX_FAIL_HIGH_PASSES = 3;
constexpr int32_t SWINDLE_MATERIAL = PAWN_VALUE;
constexpr int32_t SWINDLE_MIN_TIME = 30;
constexpr int32_t TABLEBASE_WIN = 7700;
constexpr uint32_t RANDOM_MULTIPLIER = 328474821;
constexpr int32_t PV_COMPLETION_MIN_PLIES = 3;

// A from/to match against the searchmoves of "go".
bool Listed(Move move) {
    for (int i = 0; i < Limits.searchMoveCount; ++i)
        if ((Limits.searchMoves[i] & 0x0FFF) == (move & 0x0FFF)) return true;
    return false;
}


bool MoverIsInCheckAfterMake(const Position& pos, Colour mover) {
    return OwnAttacks(pos).square[KingSquare(pos, mover)].attackWeight != 0;
}

// Makes a line move on the way down a stored line; false (nothing made) when the position
// cannot play it.
bool MakeLineMove(Position& pos, Move move) {
    Move m = static_cast<Move>(move & ~CHECK_MARK);
    const Colour side = pos.sideToMove;
    if (m == NO_MOVE || !ValidateMove(side, pos, m)) return false;
    MakeMove(pos, m);
    if (MoverIsInCheckAfterMake(pos, side)) {
        UnmakeMove(pos);
        return false;
    }
    return true;
}

int32_t Child(Position& pos, int32_t depth, int32_t lower, int32_t upper, uint32_t flags) {
    if (depth < 2) return -Quiesce(pos, CHILD_PLY, 0, -upper, -lower, flags);
    return -SearchNode(pos, CHILD_PLY, depth - 1, 0, -upper, -lower, flags);
}

void SetScoreSlots(Colour side, int32_t score) {
    Search.scoreSlot[side] = score;
    Search.scoreSlot[side ^ 1] = -score;
}

// Stores the previous line of a root move where the table holds nothing, so that the next
// iteration follows it first. The root move has been made.
void SeedLine(Position& pos, const Move* line, int32_t depth) {
    int32_t made = 0;
    for (int32_t index = 2; index < depth && index <= ROOT_LINE_LAST && line[index] != NO_MOVE; ++index) {
        const Colour side = pos.sideToMove;
        int32_t score = 0, entryDepth = 0;
        Move stored = NO_MOVE;
        if (RootProbe(side, pos, index, score, entryDepth, stored) == 0)
            RootSeed(side, pos, index, depth - index - 1, Search.scoreSlot[side],
                     static_cast<Move>(line[index] & ~CHECK_MARK));
        if (!MakeLineMove(pos, line[index])) break;
        ++made;
    }
    while (made-- > 0) UnmakeMove(pos);
}

// Copies the child's line behind the root move, then extends it from the table.
void CompleteLine(Position& pos, Move* line, bool stopped) {
    int32_t length = 2;
    for (const Move* m = Search.pv[CHILD_PLY]; *m != NO_MOVE && length <= ROOT_LINE_LAST; ++m) line[length++] = *m;
    line[length] = NO_MOVE;
    if (stopped || !TableExists()) return;

    int32_t made = 0;
    int32_t index = 2;
    while (index < length && MakeLineMove(pos, line[index])) {
        ++made;
        ++index;
    }
    if (index < length) {
        // A line move the board refuses ends the line there.
        line[index] = NO_MOVE;
        length = index;
    }
    while (length <= ROOT_LINE_LAST && !IsFiftyMoveDraw(pos)) {
        if (pos.ply - pos.lastIrreversiblePly > PV_COMPLETION_MIN_PLIES && IsRepetition(pos)) break;
        int32_t score = 0, depth = 0;
        Move move = NO_MOVE;
        const uint16_t flags = RootProbe(pos.sideToMove, pos, length, score, depth, move);
        if (!HasLowerBound(flags) || move == NO_MOVE) break;
        if (!MakeLineMove(pos, move)) break;
        ++made;
        line[length++] = move;
        line[length] = NO_MOVE;
    }
    while (made-- > 0) UnmakeMove(pos);
}

void ResetEntry(RootMove& entry, int32_t row, Move move) {
    entry = RootMove{};
    entry.line = static_cast<uint32_t>(row);
    Root.lines[row][0] = NO_MOVE;
    Root.lines[row][1] = move;
    Root.lines[row][2] = NO_MOVE;
}

// The first decided entry after `from` whose score is the best decided score.
int32_t FindDecidedBest(int32_t from) {
    for (int32_t j = from + 1; j < Root.list.count; ++j) {
        const RootMove& e = Root.list.entries[j];
        if (IsDecided(e) && e.score == Root.bestDecidedScore) return j;
    }
    return 0;
}

bool IsQuiet(Move move) { return (move & (MoveKind::CAPTURE | MoveKind::PROMOTION_BIT)) == 0; }

}  // namespace

void ResetRootState() {
    Root = RootState{};
    Root.multiPV = 1;
    Root.bestDecidedScore = ROOT_NO_SCORE;
}

void PrepareRootRecord(Position& pos) {
    if (pos.undoTop != ROOT_PLY) {
        pos.undoStack[ROOT_PLY] = pos.undoStack[pos.undoTop];
        pos.undoTop = ROOT_PLY;
    }
    PlyRecord& root = UndoTop(pos);
    root.checkFlag = InCheck(pos) ? IN_CHECK_FLAG : 0;
}

void SortRootMoves(int32_t first) {
    RootMove* entries = Root.list.entries;
    const int32_t end = std::max(Root.list.generated, Root.list.count);
    for (int32_t i = first; i < end; ++i) {
        int32_t best = i;
        for (int32_t j = i + 1; j < end; ++j)
            if (entries[j].score > entries[best].score) best = j;
        if (best != i) std::swap(entries[i], entries[best]);
        entries[i].flags &= static_cast<uint16_t>(~RootFlag::EXACT);
    }
}

int RaiseRootMove(RootMoveList& list, int index) {
    const int limit = std::min(index, std::max(Settings.multiPV - 1, 0));
    const RootMove moving = list.entries[index];
    int to = 0;
    while (to < limit && list.entries[to].score >= moving.score) ++to;
    for (int i = index; i > to; --i) list.entries[i] = list.entries[i - 1];
    list.entries[to] = moving;
    return to;
}

bool OnlyFirstUndecided() {
    for (int32_t i = 1; i < Root.list.count; ++i)
        if (!IsDecided(Root.list.entries[i])) return false;
    return true;
}

int BeginSearch(Position& pos) {
    const Colour side = pos.sideToMove;
    const bool retainHash = (Search.searchFlags & OptionFlag::RETAIN_HASH) != 0;
    Eval.plyLimit = SEARCH_PLY_LIMIT;
    PrepareEvaluation(pos, side, EvalOptionsFromSettings(Search.searchFlags, TablebaseMaxPieces()));
    ResetTablebaseHits();
    RootBeginTable(retainHash);
    if (Limits.searchType != 0) AgeOrderingStats(retainHash);

    Repetition.searchStartPly = pos.ply;
    uint32_t evasionFlags = 0;
    const int generated =
        InCheck(pos) ? GenerateOrderedEvasions(pos, side, ROOT_PLY, GenMode::FULL, evasionFlags)
                     : GenerateOrderedMoves(pos, side, ROOT_PLY, GenMode::FULL);
    const int32_t count = std::min(generated, MAX_ROOT_MOVES);
    // A searchmoves list that names no legal move would leave nothing to play: then it is
    // ignored rather than reporting a mate or stalemate that is not on the board.
    bool anyListed = false;
    if (Limits.searchMoveCount > 0)
        for (int32_t i = 0; i < count && !anyListed; ++i) {
            const Move move = ListBegin(ROOT_PLY)[i].move;
            anyListed = Listed(move) && IsLegalAfterMake(pos, move);
        }
    for (int32_t i = 0; i < count; ++i) {
        Move move = ListBegin(ROOT_PLY)[i].move;
        if (anyListed && !Listed(move)) move = NO_MOVE;
        ResetEntry(Root.list.entries[i], i, move);
    }
    Root.list.generated = count;
    Root.list.count = count;

    // A searchmoves list asks for analysis of those moves, not for the book.
    if (!anyListed) {
        const Move book = RootBookMove(pos, ListBegin(ROOT_PLY), ListBegin(ROOT_PLY) + count);
        if (book != NO_MOVE) {
            pos.nodes = 0;  // the probe's makes searched nothing
            ResetEntry(Root.list.entries[0], 0, book);
            Root.list.entries[0].score = 2;
            Root.list.entries[0].depth = 1;
            Root.list.entries[0].flags = RootFlag::BOOK | RootFlag::DECIDED;
            Search.iterationDepth = 1;
            return 1;
        }
    }

    pos.nodes = 0;
    Search.selectiveDepth = 0;
    Search.nullMoves = Search.nullShortcuts = Search.reducedMoves = Search.futileNodes = 0;
    Search.checkMask[WHITE] = Search.checkMask[BLACK] = 0;
    Root.mateStatus = 0;
    Root.gameEnd = 0;
    ResetHashfull();
    return 0;
}

void PrepareRootMoves(Position& pos) {
    const Colour side = pos.sideToMove;
    const Colour other = side ^ 1;
    for (;;) {
        Eval.swindleActive = false;
        Root.bestDecidedScore = ROOT_NO_SCORE;
        Root.rootEval = Evaluate(pos, side, ROOT_PLY, HORIZON_DEPTH, -WIDE_WINDOW, WIDE_WINDOW);
        const bool drawClass = (UndoTop(pos).checkFlag & EvalFlag::DRAW_CLASS) != 0;
        if (pos.material[side] >= pos.material[other] + SWINDLE_MATERIAL &&
            (Search.searchFlags & OptionFlag::SWINDLE) != 0 && drawClass && ThinkMaximumTime() > SWINDLE_MIN_TIME)
            Eval.swindleActive = true;

        int32_t legal = 0;
        for (int32_t i = 0; i < Root.list.generated; ++i) {
            RootMove& e = Root.list.entries[i];
            Move move = RootMoveOf(e);
            ResetEntry(e, static_cast<int32_t>(e.line), move);
            if (move == NO_MOVE) {
                e.flags = RootFlag::DECIDED;
                e.score = ROOT_NO_SCORE;
                continue;
            }
            MakeMove(pos, move);
            if (MoverIsInCheckAfterMake(pos, side)) {
                e.flags = RootFlag::DECIDED;
                e.score = ROOT_NO_SCORE;
                UnmakeMove(pos);
                continue;
            }
            ++legal;
            const bool check = InCheck(pos);
            if (check) RootLine(e)[1] = static_cast<Move>(move | CHECK_MARK);
            const bool noReply = HasNoLegalMove(pos, other);
            int32_t score;
            uint16_t flags = 0;
            const int32_t draw = DrawScore(side);
            const int32_t repetitions = RepetitionCount(pos);
            if (check && noReply) {
                flags = RootFlag::MATE | RootFlag::DECIDED;
                score = MATE_IN_ONE;
            } else if (noReply) {
                flags = RootFlag::STALEMATE | RootFlag::DECIDED;
                score = draw;
            } else if (repetitions >= 2) {
                flags = RootFlag::REPETITION | RootFlag::DECIDED;
                score = draw;
            } else if (IsFiftyMoveDraw(pos)) {
                flags = RootFlag::FIFTY_MOVES | RootFlag::DECIDED;
                score = draw;
            } else if (repetitions == 1) {
                score = draw;
                if (Limits.searchType == 0) flags = RootFlag::DECIDED;
            } else {
                score = -Evaluate(pos, other, CHILD_PLY, HORIZON_DEPTH, -WIDE_WINDOW, WIDE_WINDOW);
                const int32_t kind = KindOfFlags(UndoTop(pos).checkFlag);
                if (kind != 0) {
                    flags = static_cast<uint16_t>(KindFlag(kind) | RootFlag::DECIDED);
                } else if (Limits.searchType == 0) {
                    Root.random = Root.random * RANDOM_MULTIPLIER + 1;
                    score += static_cast<int32_t>(Root.random & 7) - 4;
                }
            }
            e.score = static_cast<int16_t>(std::clamp(score, -MATE, MATE));
            e.flags = flags;
            if ((flags & RootFlag::DECIDED) && e.score > Root.bestDecidedScore) Root.bestDecidedScore = e.score;
            UnmakeMove(pos);
        }

        if (legal == 0) {
            const bool mated = InCheck(pos);
            Root.gameEnd = static_cast<uint16_t>((mated ? RootFlag::MATE : RootFlag::STALEMATE) | RootFlag::DECIDED);
            Root.list.count = 0;
            if (Root.list.generated == 0) ResetEntry(Root.list.entries[0], 0, NO_MOVE);
            Root.list.entries[0].score = static_cast<int16_t>(mated ? ROOT_NO_SCORE : DrawScore(side));
            return;
        }
        Root.list.count = legal;
        SortRootMoves(0);
        Root.list.count = legal;

        // A tablebase win the search cannot confirm: trust the search and probe no more.
        if (Eval.options.tablebaseMen != 0 && Root.rootEval > TABLEBASE_WIN &&
            Root.list.entries[0].score < Root.rootEval) {
            Eval.options.tablebaseMen = 0;
            RootClearTable();
            continue;
        }
        return;
    }
}

int32_t SearchRoot(Position& pos, int32_t depth) {
    const Colour side = pos.sideToMove;
    RootMoveList& list = Root.list;
    int32_t alpha = Root.alpha;
    int32_t beta = Root.beta;
    if (Root.multiPV >= 2) alpha = ROOT_NO_SCORE;

    int32_t best = ROOT_NO_SCORE;
    for (;;) {
        best = ROOT_NO_SCORE;
        int32_t bound = ROOT_NO_SCORE;   // what later moves must beat
        uint32_t moveFlags = NodeFlag::PV_NODE;
        int32_t swapTo = 0;
        for (int32_t i = 0; i < list.count;) {
            Root.currentIndex = i;
            if (Search.stopReason != 0) break;
            if (depth >= 2 && OutputAllowed()) Search.outputStatus |= 0x01;

            RootMove* e = &list.entries[i];
            int32_t score = e->score;
            const bool searched = !IsDecided(*e) && e->depth != depth;
            if (searched) {
                const uint64_t nodesBefore = pos.nodes;
                Move* line = RootLine(*e);
                MakeMove(pos, static_cast<Move>(line[1] & ~CHECK_MARK));
                SetScoreSlots(side, e->score);
                if (TableExists() && line[2] != NO_MOVE) SeedLine(pos, line, depth);

                const bool openWindow = bound == ROOT_NO_SCORE;
                int32_t lower = alpha, upper = beta;
                if (!openWindow) {
                    if (bound >= alpha) {
                        lower = depth == 1 ? alpha - FIRST_DEPTH_MARGIN : bound;
                        upper = bound + 1;
                    } else {
                        lower = alpha;
                        upper = alpha + 1;
                    }
                }
                score = Child(pos, depth, lower, upper, moveFlags ^ NodeFlag::CUT_NODE);
                e->score = static_cast<int16_t>(score);
                e->nodes = static_cast<uint32_t>(pos.nodes - nodesBefore);

                if (Search.stopReason == 0) {
                    const bool firstFailsLow = openWindow && score <= alpha;
                    if (firstFailsLow) {
                        Search.boundKind = BoundKind::FAIL_LOW;
                        Root.failLow = 1;
                    }
                    int32_t decided = 0;
                    if (firstFailsLow && Root.multiPV == 1 && score < Root.bestDecidedScore)
                        decided = FindDecidedBest(i);
                    if (decided != 0) {
                        // A decided move is known to be better: take it instead of re-searching.
                        alpha = Root.bestDecidedScore - 1;
                        swapTo = decided;
                    } else {
                        bool again = openWindow ? (score <= alpha || score >= beta) && score >= DOUBTFUL_SCORE
                                                : score > alpha;
                        int32_t passes = 0;
                        while (again && Search.stopReason == 0) {
                            const int32_t old = score;
                            const bool failHigh = !openWindow || score >= beta;
                            if (failHigh) {
                                if (score >= beta) {
                                    Search.boundKind = BoundKind::FAIL_HIGH;
                                    beta = score >= MATE_THRESHOLD ? MATE : MATE_THRESHOLD;
                                }
                                lower = alpha;
                                upper = beta;
                            } else {
                                Search.boundKind = BoundKind::FAIL_LOW;
                                Root.failLow = 1;
                                lower = score <= -MATE_THRESHOLD ? -MATE : -MATE_THRESHOLD;
                                upper = score + (score <= -MATE_THRESHOLD ? 1 : 0);
                                alpha = lower;
                            }
                            line[2] = NO_MOVE;
                            i = RootBestMoveChanged(i);
                            e = &list.entries[i];
                            SetScoreSlots(side, e->score);
                            const uint64_t before = pos.nodes;
                            score = Child(pos, depth, lower, upper,
                                          (moveFlags | NodeFlag::PV_NODE) & ~NodeFlag::CUT_NODE);
                            const uint32_t spent = static_cast<uint32_t>(pos.nodes - before);
                            e->nodes = failHigh ? e->nodes + spent : spent;
                            if (Search.stopReason != 0) break;
                            if ((failHigh && score <= old) || (!failHigh && score >= old)) {
                                score = old;
                                Root.failLow = 2;
                            }
                            e->score = static_cast<int16_t>(score);
                            ++passes;
                            again = failHigh ? score >= beta && passes < MAX_FAIL_HIGH_PASSES
                                             : score == -MATE_THRESHOLD && passes < MAX_FAIL_HIGH_PASSES;
                        }
                    }
                }
                CompleteLine(pos, line, Search.stopReason != 0);
                UnmakeMove(pos);
                if (Search.stopReason != 0) break;
            }

            if (swapTo != 0) {
                e->depth = static_cast<int16_t>(depth);
                std::swap(list.entries[i], list.entries[swapTo]);
                swapTo = 0;
                e = &list.entries[i];
                score = e->score;
            }
            moveFlags &= ~NodeFlag::PV_NODE;
            if (alpha < score && score < beta) {
                e->flags |= RootFlag::EXACT;
                if (std::abs(score) > MATE_THRESHOLD && score > Root.bestDecidedScore) Root.bestDecidedScore = score;
            }
            e->depth = static_cast<int16_t>(depth);
            if (score > bound) {
                if (score > best) {
                    best = score;
                    if (alpha < score && score < beta) Search.boundKind = BoundKind::NEW_BEST;
                }
                i = RootBestMoveChanged(i);
                const int32_t kth = std::min<int32_t>(Root.multiPV, list.count) - 1;
                if (list.entries[kth].depth == depth) {
                    bound = list.entries[kth].score;
                    if (bound > alpha) alpha = bound;
                }
            }
            ++i;
        }

        // Every move loses to mate: search again for the longest defence. The pass after a
        // restart cannot fail low again (nothing scores at or below -8192), so this ends.
        if (Search.stopReason != 0) break;
        if (Search.boundKind == BoundKind::FAIL_LOW && best < DOUBTFUL_SCORE) {
            alpha = -MATE;
            beta = best + 1;
            for (int32_t i = 0; i < list.count; ++i) list.entries[i].depth = static_cast<int16_t>(depth - 1);
            Root.mateStatus |= MateStatus::MATE_REPORTED;
            MarkRootMate();
            continue;
        }
        break;
    }

    // A stopped iteration still credits its best move so far and reports what is left.
    const Move first = RootMoveOf(list.entries[0]);
    if (list.count > 0 && first != NO_MOVE && IsQuiet(first))
        AddHistory(PieceDestCode(pos.pieceType[MoveFrom(first)], MoveTo(first), side), depth);
    if (Search.stopReason != 0) return list.entries[0].score;
    if (list.count > 0 && IsDecided(list.entries[0]) && OnlyFirstUndecided() == true)
        StopThink(StopCode::ALL_DECIDED);
    return best;
}

}  // namespace tavrix
