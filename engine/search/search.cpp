#include "search/search.h"

#include <algorithm>

#include "search/quiesce.h"
#include "search/root_table.h"
#include "search/search_internal.h"
#include "search/think_link.h"

namespace tavrix {

static_assert(SEARCH_PLY_LIMIT + 2 <= MOVE_LIST_PLIES, "every ply the search reaches has a list bound");

namespace {

constexpr int32_t MateThreatDepthBonus = 16;   // 1/32 ply
constexpr int32_t PawnPushBonus = 16;
constexpr int32_t PawnPushControlBonus = 8;
constexpr int32_t MinNullPiecePoints = 4;
constexpr int32_t StrongPiecePoints = 9;
constexpr int32_t VerifyReduction = 4;
constexpr int32_t VerifyBelowDepth = 5;
constexpr int32_t IidReduction = 2;
constexpr int32_t IidMinDepth = 3;
constexpr int32_t FutilityMaxDepth = 3;
constexpr int32_t ReducedAfterMoves = 3;
constexpr uint16_t CUTOFF_MOVE_MARK = 1;
// A picked move that was not searched (pruned or illegal) must never read as searched (0).
constexpr int16_t NOT_SEARCHED_MARK = INT16_MIN;

inline int32_t PiecePoints(const Position& pos, Colour c) { return pos.materialSignature[c] & 0xFF; }
inline int32_t PieceCount(const Position& pos, Colour c) { return (pos.materialSignature[c] >> 8) & 0xFF; }
inline int16_t NetGain(const PlyRecord& r) { return r.netGain; }
// The move of the record lost material and its node was not entered by the hash move.
inline bool LostMaterialBlindly(const PlyRecord& r) { return r.netGain < 0 && !(r.checkFlag & PlyMark::HASH_MOVE); }

// A pawn move of `side` to its 6th, 7th or 8th rank.
inline bool IsAdvancedPawnMove(const Position& pos, Move m, Colour side) {
    return pos.pieceType[MoveFrom(m)] == PAWN && SideRank(MoveTo(m), side) >= 5;
}

bool SameMove(Move a, Move b) {
    return (a & 0x0FFF) == (b & 0x0FFF) && PromotedType(a) == PromotedType(b);
}

// Null-move reduction for the side to move at depth d.
int32_t NullReduction(const Position& pos, int32_t depth, Colour side) {
    const int32_t selectivity = Selectivity(Search);
    const bool smart = (Search.searchFlags & SearchOption::SMART_SEARCH) != 0;
    const int32_t points = PiecePoints(pos, side);
    const bool ownNullBefore = pos.undoStack[pos.undoTop - 1].move == NO_MOVE;
    int32_t r = 1;
    if ((selectivity & 4) && !ownNullBefore && (depth >= 3 || points >= StrongPiecePoints || !smart)) {
        r = 2;
        if (selectivity >= 6 && (depth >= 8 || (depth >= 6 && points >= StrongPiecePoints) || !smart)) r = 3;
    }
    return r;
}

// Extension credit of the pawn that the opponent has just pushed far up the board.
int32_t PawnPushCredit(const Position& pos, Colour side) {
    const Colour other = side ^ 1;
    const int to = pos.lastToSquare;
    if (pos.pieceType[to] != PAWN || pos.pieceColour[to] != other || pos.hangingValue[to] != 0) return 0;
    const int rank = SideRank(to, other);
    if (rank != 5 && rank != 6) return 0;
    const int front = to + ForwardStep(other);
    if (pos.pieceType[front] == PAWN) return 0;
    int32_t credit = PawnPushBonus;
    if (pos.attackMap[other].square[front].attackerCount >= pos.attackMap[side].square[front].attackerCount)
        credit += PawnPushControlBonus;
    return credit;
}

constexpr int32_t MAX_EARLIER_QUIETS = 256;

// Killers, history and cutoff statistics after a quiet move cut off at this node; the
// quiet moves searched before it are the list entries marked searched (score 0); pruned and
// illegal ones carry NOT_SEARCHED_MARK.
void RecordCutoff(const Position& pos, int32_t ply, int32_t depth, Colour side, const ScoredMove* begin,
                  const ScoredMove* cutoff) {
    Move earlier[MAX_EARLIER_QUIETS];
    int32_t count = 0;
    for (const ScoredMove* m = begin; m < cutoff && count < MAX_EARLIER_QUIETS; ++m)
        if (m->score == 0 && !IsCaptureOrPromotion(m->move)) earlier[count++] = m->move;
    RecordQuietCutoff(pos, side, ply, depth, cutoff->move, earlier, count);
}

}  // namespace

void PollSearch() {
    // A search run by the think controller polls its clock and input there.
    if (PollThink()) return;
    Search.pollCountdown = DEFAULT_POLL_INTERVAL;
}

bool EnterNode(int32_t ply) {
    Search.pv[ply][0] = NO_MOVE;
    // Until this node generates, a list made below it (the null-move child's) must start
    // where the parent's list ends, not at a stale bound inside an ancestor's list.
    MoveLists.listBegin[ply + 1] = MoveLists.listBegin[ply];
    if (Search.pollCountdown-- <= 1 && !Search.noPolling) PollSearch();
    return Search.stopReason != 0;
}

int32_t SearchNode(Position& pos, int32_t ply, int32_t depth, int32_t fraction, int32_t alpha, int32_t beta,
                   uint32_t flags) {
    const Colour side = pos.sideToMove;
    const Colour other = side ^ 1;

    // 1. Node entry; the ply guard turns the node into a leaf before anything overruns.
    if (EnterNode(ply)) return StoppedScore(pos);
    if (ply >= SEARCH_PLY_LIMIT || pos.undoTop >= SEARCH_PLY_LIMIT)
        return Evaluate(pos, side, ply, HORIZON_DEPTH, alpha, beta);

    PlyRecord& rec = UndoTop(pos);
    const PlyRecord& parent = ParentRecord(pos);
    const bool inCheck = InCheck(rec);
    const bool pvNode = (flags & NodeFlag::PV_NODE) != 0;

    // 2. Evasions.
    int32_t evasions = 0;
    const int32_t moveNumber = (ply - 1) / 2;
    if (inCheck) {
        uint32_t evasionFlags = 0;
        evasions = GenerateOrderedEvasions(pos, side, ply, GenMode::FULL, evasionFlags);
        if (evasions == 0) return ply - MATED_BASE;
        Search.checkMask[side] |= 1u << moveNumber;
    } else {
        Search.checkMask[side] &= ~(1u << moveNumber);
    }

    // 3. Fifty-move rule.
    if (IsFiftyMoveDraw(pos)) return DrawScore(side);

    // 4. Mate distance.
    if (int32_t cut; MateDistanceCut(ply, alpha, beta, cut)) return cut;
    const int32_t alphaAtEntry = alpha;

    int32_t best = NO_SCORE_YET;
    int32_t lower = -MATE;   // estimates of the node's score
    int32_t upper = MATE;
    bool lowerFromTable = false, upperFromTable = false;

    // 5. Table probe and first cutoff.
    NodeEntry hit{};
    uint16_t found = 0;
    if (TablePresent()) found = ProbeNodeEntry(side, pos, ply, hit);
    Move hashMove = found ? hit.move : NO_MOVE;
    uint16_t bound = found & EntryFlag::BOUND_MASK;
    bool mateEntry = (found & EntryFlag::MATE) != 0;
    bool nodeMateThreat = (found & EntryFlag::MATE_THREAT) != 0;
    uint16_t permanent = found & EntryFlag::PERMANENT;
    auto tableCutoff = [&](bool usable, int32_t& result) {
        if (!usable) return false;
        if (bound == EntryFlag::EXACT) {
            SetLine(ply, hit.move);
            result = hit.score;
            return true;
        }
        if (bound == EntryFlag::LOWER) {
            SetLine(ply, hit.move);
            if (hit.score >= beta) {
                result = hit.score;
                return true;
            }
            alpha = std::max(alpha, hit.score);
            best = lower = hit.score;
            lowerFromTable = true;
        } else if (bound == EntryFlag::UPPER) {
            if (hit.score <= alpha) {
                result = hit.score;
                return true;
            }
            beta = std::min(beta, hit.score);
            upper = hit.score;
            upperFromTable = true;
        }
        return false;
    };
    int32_t cutScore = 0;
    if (!pvNode && found && tableCutoff(mateEntry || (bound != 0 && hit.depth > depth), cutScore)) return cutScore;

    // 6. Static evaluation.
    const int32_t e = Evaluate(pos, side, ply, depth, alpha, beta);
    if (rec.checkFlag & EVAL_DECIDED_BITS) return e;

    // 7. Hints from the hash move.
    if (found) {
        const PieceType victim = hashMove ? CapturedOn(pos, hashMove) : NO_PIECE;
        const bool capture = victim != NO_PIECE;
        if (capture && pos.hangingValue[MoveTo(hashMove)] == 0 && hit.score - e >= 1) {
            pos.threatSwingCoarse -= std::min(PieceValue[victim], hit.score - e) / 32;
        } else if (!(hashMove & CHECK_MARK) && pos.threatSwingCoarse < 0) {
            pos.threatSwingCoarse = 0;
        }
    }

    // 8. Lazy estimates.
    if (!pvNode) {
        if (!lowerFromTable) {
            lower = e - LAZY_MARGIN_PER_PLY * depth - pos.hangingTotal[side];
            if (HasPromotionCandidate(pos, other, depth)) lower -= PromotionThreat(pos, side, depth, 0);
        }
        if (!upperFromTable) {
            upper = e + LAZY_MARGIN_PER_PLY * depth + pos.hangingTotal[other];
            if (HasPromotionCandidate(pos, side, depth)) upper += PromotionThreat(pos, other, depth, 0);
        }
        if (found && hit.depth <= depth) {
            if (bound == EntryFlag::UPPER) upper = std::max(upper, hit.score + LAZY_MARGIN_PER_PLY * (depth - hit.depth));
            if (bound == EntryFlag::LOWER) lower = std::min(lower, hit.score - LAZY_MARGIN_PER_PLY * (depth - hit.depth));
        }
        if (inCheck) lower = -MATE;
        if (upper < lower) lower = upper;
        if (rec.checkFlag & MateMark(side)) lower = -MATE;
        if (rec.checkFlag & MateMark(other)) upper = MATE;
    }

    // 9. Without "Combinations" the credits fade by half at every node.
    if (!(Search.searchFlags & SearchOption::COMBINATIONS)) {
        pos.threatSwingCoarse >>= 1;
        pos.gainCoarse >>= 1;
    }

    // 10. Extensions in 1/32 ply.
    if (lower < beta && alpha < upper) {
        if (pvNode || (rec.checkFlag & PlyMark::HASH_MOVE)) {
            if (pos.threatSwingCoarse < 0) pos.threatSwingCoarse = 0;
        } else if (pos.threatSwingCoarse > 0 && (e < alpha || NetGain(rec) < 0 || alpha < e + pos.threatSwing)) {
            pos.threatSwingCoarse = 0;
        }
        int32_t w = pos.threatSwingCoarse;
        if (inCheck) {
            w += FULL_EXTENSION;
        } else if (nodeMateThreat ||
                   ((rec.checkFlag & MateMark(side)) && !(parent.checkFlag & MateMark(side)))) {
            w += MateThreatDepthBonus;
        }
        w += PawnPushCredit(pos, side);
        if (ply >= 3 && rec.capturedType != NO_PIECE && MoveTo(rec.move) == MoveTo(parent.move) &&
            (parent.capturedType != NO_PIECE || IsPromotion(parent.move))) {
            if (pvNode) {
                w += FULL_EXTENSION;
            } else {
                const bool lostBlind = LostMaterialBlindly(rec) || LostMaterialBlindly(parent);
                if (!lostBlind && e < beta && alpha < e + PieceValue[rec.capturedType]) w += FULL_EXTENSION;
            }
        }
        if (ply > 2 * Search.iterationDepth) w /= 2;
        w = std::min(w, FULL_EXTENSION);
        fraction += w;  // a negative carry only delays later extensions
        if (fraction >= FULL_EXTENSION) {
            ++depth;
            fraction -= FULL_EXTENSION;
        }
    }

    // 11. Second cutoff at the possibly extended depth.
    if (!pvNode && found && tableCutoff(mateEntry || (bound != 0 && hit.depth >= depth), cutScore)) return cutScore;

    // 12. Null move.
    const int32_t selectivity = Selectivity(Search);
    if (!inCheck && !(rec.checkFlag & DangerMark(side)) && !(flags & (NodeFlag::PV_NODE | NodeFlag::VERIFY_NODE)) &&
        selectivity != 0 &&
        (!(flags & NodeFlag::NULL_SUBTREE) || ((selectivity & 1) && rec.move != NO_MOVE)) &&
        PiecePoints(pos, side) >= MinNullPiecePoints) {
        int32_t risk = pos.hangingTotal[side];
        if (HasPromotionCandidate(pos, other, depth)) risk += PromotionThreat(pos, side, depth, 0);
        const int32_t r = NullReduction(pos, depth, side);
        const bool tablePredictsFail = bound == EntryFlag::UPPER && hit.score < beta && hit.depth >= depth - r - 1;
        if (e - risk >= beta && !tablePredictsFail) {
            if (depth <= r && selectivity != 1 && !(rec.checkFlag & CheckThreatMark(side))) {
                ++Search.nullShortcuts;
                return e;
            }
            ++Search.nullMoves;
            PrefetchAfterNull(pos);
            MakeNullMove(pos);
            const uint32_t nullFlags = (flags & NodeFlag::NULL_CHILD_MASK) | NodeFlag::NULL_SUBTREE;
            const int32_t nullScore =
                r + 1 < depth ? -SearchNode(pos, ply + 1, depth - r - 1, fraction, -beta, -beta + 1, nullFlags)
                              : -Quiesce(pos, ply + 1, 0, -beta, -beta + 1, nullFlags);
            UnmakeNullMove(pos);
            if (Search.stopReason != 0) return StoppedScore(pos);
            if (nullScore < -MATE_THRESHOLD) nodeMateThreat = true;
            if (nullScore >= beta) {
                if (PieceCount(pos, side) >= 2 || depth < VerifyBelowDepth) {
                    if (TablePresent()) StoreNodeEntry(side, pos, ply, depth, EntryFlag::LOWER, nullScore, NO_MOVE, e);
                    return nullScore;
                }
                const int32_t verified = SearchNode(pos, ply, depth - VerifyReduction, fraction, alpha, beta,
                                                    (flags & NodeFlag::CHILD_MASK) | NodeFlag::VERIFY_NODE);
                if (Search.stopReason != 0) return StoppedScore(pos);
                if (verified >= beta) return verified;
            }
        }
    }

    // 13. Frontier futility.
    const bool futile = (Search.searchFlags & SearchOption::FUTILITY) && depth < FutilityMaxDepth && !inCheck &&
                        !(rec.checkFlag & DangerMark(other)) && alpha >= e + (FUTILITY_MARGIN << (depth - 1));

    if (futile) ++Search.futileNodes;

    // 14. Internal iterative deepening.
    bool listSpoiled = false;
    if (pvNode && depth >= IidMinDepth && hashMove == NO_MOVE && TablePresent()) {
        int32_t r = SearchNode(pos, ply, depth - IidReduction, fraction, alpha, beta, flags);
        if (Search.stopReason == 0 && r <= alpha) r = SearchNode(pos, ply, depth - IidReduction, fraction, -MATE, beta, flags);
        if (Search.stopReason != 0) return StoppedScore(pos);
        hashMove = Search.pv[ply][0];
        Search.pv[ply][0] = NO_MOVE;
        // The entry the shallower search left: its flags, score and depth from now on.
        Move stored = NO_MOVE;
        found = RootProbe(side, pos, ply, hit.score, hit.depth, stored);
        bound = found & EntryFlag::BOUND_MASK;
        mateEntry = (found & EntryFlag::MATE) != 0;
        nodeMateThreat = (found & EntryFlag::MATE_THREAT) != 0;
        permanent = found & EntryFlag::PERMANENT;
        listSpoiled = true;
    }

    // 15. Move list.
    if (!inCheck) {
        if (hashMove == NO_MOVE && (rec.checkFlag & EvalFlag::MATING_SQUARE)) {
            Move suggested = static_cast<Move>(ReadPlyWord(rec, PlyEvalWord::KING));
            if (ValidateMove(side, pos, suggested)) hashMove = suggested;
        }
        if (GenerateOrderedMoves(pos, side, ply, GenMode::FULL) == 0) return DrawScore(side);
    } else if (listSpoiled) {
        uint32_t evasionFlags = 0;
        GenerateOrderedEvasions(pos, side, ply, GenMode::FULL, evasionFlags);
    }
    ScoredMove* const begin = ListBegin(ply);
    ScoredMove* const end = ListEnd(ply);
    bool hashFirst = false;
    if (hashMove != NO_MOVE) {
        for (ScoredMove* m = begin; m < end; ++m) {
            if (SameMove(m->move, hashMove)) {
                m->move = static_cast<Move>((m->move & ~CHECK_MARK) | (hashMove & CHECK_MARK));
                m->score = HASH_MOVE_SCORE;
                hashFirst = true;
                break;
            }
        }
    }

    // 16. Move loop.
    uint32_t childFlags = flags & NodeFlag::CHILD_MASK;
    int32_t searched = 0;
    bool pruned = false;
    ScoredMove* cutoffEntry = nullptr;
    for (ScoredMove* entry = begin; entry < end; ++entry) {
        PickBest(entry, end);
        const Move m = entry->move;
        const bool isHashMove = hashFirst && entry == begin;
        const bool tactical = IsCaptureOrPromotion(m);
        if (futile && !isHashMove && !tactical && !(m & CHECK_MARK) && !IsAdvancedPawnMove(pos, m, side) &&
            !GivesCheck(pos, m, side)) {
            pruned = true;
            entry->score = NOT_SEARCHED_MARK;
            continue;
        }
        PrefetchChild(pos, m, true);
        const bool advancedPush =
            IsAdvancedPawnMove(pos, m, side) &&
            (SideRank(MoveTo(m), side) == 7 || pos.pieceType[MoveTo(m) + ForwardStep(side)] != PAWN);
        const int code = PieceDestCode(pos.pieceType[MoveFrom(m)], MoveTo(m), side);

        MakeMove(pos, m);
        if (MoverLeftInCheck(pos, side)) {
            UnmakeMove(pos);
            entry->score = NOT_SEARCHED_MARK;
            continue;
        }
        PlyRecord& child = UndoTop(pos);
        const bool childInCheck = InCheck(child);
        if (isHashMove) child.checkFlag |= PlyMark::HASH_MOVE;

        int32_t score = NO_SCORE_YET;
        if (pos.ply - pos.lastIrreversiblePly >= 4 && IsRepetition(pos)) {
            score = DrawScore(side);
            Search.pv[ply + 1][0] = NO_MOVE;
        } else if (depth - 1 < 1) {
            if (searched == 0) {
                score = -Quiesce(pos, ply + 1, 0, -beta, -alpha, childFlags);
            } else {
                score = -Quiesce(pos, ply + 1, 0, -alpha - 1, -alpha, childFlags);
                if (alpha < score && score < beta) score = -Quiesce(pos, ply + 1, 0, -beta, -score, childFlags);
            }
        } else if (searched == 0) {
            int32_t childFraction = fraction;
            if (inCheck && (nodeMateThreat || evasions == 1) && alpha < upper && lower < beta)
                childFraction += HALF_EXTENSION;
            score = -SearchNode(pos, ply + 1, depth - 1, childFraction, -beta, -alpha, childFlags ^ NodeFlag::CUT_NODE);
        } else {
            bool done = false;
            const uint32_t scoutFlags = (childFlags & ~NodeFlag::PV_NODE) | NodeFlag::CUT_NODE;
            if (Ordering.cutoff.ratio[code] < Search.pruningThreshold && searched >= ReducedAfterMoves && !inCheck &&
                !childInCheck && !tactical && !IsCastling(m) && !(m & CHECK_MARK) && !pvNode && !advancedPush) {
                ++Search.reducedMoves;
                child.checkFlag |= PlyMark::REDUCED;
                score = depth - 1 < 2 ? -Quiesce(pos, ply + 1, 0, -alpha - 1, -alpha, childFlags)
                                      : -SearchNode(pos, ply + 1, depth - 2, fraction, -alpha - 1, -alpha, scoutFlags);
                child.checkFlag &= ~PlyMark::REDUCED;
                done = score <= alpha;
            }
            if (!done && Search.stopReason == 0) {
                score = -SearchNode(pos, ply + 1, depth - 1, fraction, -alpha - 1, -alpha, scoutFlags);
                if (alpha < score && score < beta && Search.stopReason == 0) {
                    if (pos.threatSwingCoarse < 0) pos.threatSwingCoarse = 0;
                    score = -SearchNode(pos, ply + 1, depth - 1, fraction, -beta, -score,
                                        (childFlags & ~NodeFlag::CUT_NODE) | NodeFlag::PV_NODE);
                }
            }
        }
        ++searched;
        entry->score = 0;
        if (score < -MATE_THRESHOLD && inCheck) --evasions;
        if (score > best) {
            best = score;
            if (score > alpha) {
                alpha = score;
                CopyLine(ply, childInCheck ? Move(m | CHECK_MARK) : m);
                if (score >= beta) {
                    entry->score = CUTOFF_MOVE_MARK;
                    cutoffEntry = entry;
                }
            }
        }
        UnmakeMove(pos);
        if (Search.stopReason != 0) return StoppedScore(pos);
        if (best >= beta) break;
        childFlags &= ~(NodeFlag::PV_NODE | NodeFlag::CUT_NODE);
    }

    // 17. Futility bound; no legal move.
    if (pruned) best = std::max(best, e + (FUTILITY_MARGIN << (depth - 1)));
    // No legal move searched and no bound from the table: mate or stalemate.
    if (best == NO_SCORE_YET) return inCheck ? ply - MATED_BASE : DrawScore(side);

    // 18. Store.
    const Move bestMove = Search.pv[ply][0];
    if (TablePresent()) {
        uint16_t storeFlags = best >= beta ? EntryFlag::LOWER : best > alphaAtEntry ? EntryFlag::EXACT : EntryFlag::UPPER;
        if ((inCheck && evasions == 1) || nodeMateThreat) storeFlags |= EntryFlag::MATE_THREAT;
        StoreNodeEntry(side, pos, ply, depth, static_cast<uint16_t>(storeFlags | permanent), best, bestMove, e);
    }

    // 19. Killers, history and cutoff statistics.
    if (best >= beta && cutoffEntry != nullptr && !IsCaptureOrPromotion(cutoffEntry->move))
        RecordCutoff(pos, ply, depth, side, begin, cutoffEntry);
    return best;
}

}  // namespace tavrix
