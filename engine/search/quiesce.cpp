#include "search/quiesce.h"

#include <algorithm>

#include "eval/material.h"
#include "search/search_internal.h"

namespace tavrix {

namespace {

constexpr int32_t QueenPromotionGain = 1120;
constexpr int32_t PromotionCost = 64;
constexpr int32_t CaptureGainBonus = 64;
constexpr int32_t PromotionThreatReach = 1120;  // the most a promotion threat can be worth
constexpr int32_t MateThreatPenalty = 416;
constexpr int32_t MinPiecePointsForMateProbe = 13;
constexpr int32_t MinPhaseForMateTest = 2;

constexpr int DepthIndex(int32_t depth) { return std::min<int32_t>(-depth, 6); }

// How much the move can win at best (the gain test of the move loop).
int32_t MoveGain(const Position& pos, Move m) {
    const PieceType victim = pos.pieceType[MoveTo(m)];
    if (IsPromotion(m)) {
        return (KindOf(m) == MoveKind::PROMOTE_QUEEN ? QueenPromotionGain : 0) + PieceValue[victim] - PromotionCost;
    }
    if (IsEnPassant(m)) return PAWN_VALUE + CaptureGainBonus;
    if (victim != NO_PIECE) return PieceValue[victim] + CaptureGainBonus;
    return 0;
}


// Whether the material-class table still judges the balance once `victim` is taken from
// `other`: both sides within its limit and neither with two rooks or two queens.
bool InClassRange(const Position& pos, Colour side, Colour other, PieceType victim) {
    auto fits = [](uint32_t signature, int32_t material) {
        const uint32_t rooks = (signature >> 24) & 3;
        const uint32_t queens = signature >> 26;
        return material <= MATERIAL_CLASS_LIMIT && rooks < 2 && queens < 2;
    };
    return fits(pos.materialSignature[side], pos.material[side]) &&
           fits(pos.materialSignature[other] - SignatureOf[victim], pos.material[other] - PieceValue[victim]);
}

}  // namespace

int32_t Quiesce(Position& pos, int32_t ply, int32_t depth, int32_t alpha, int32_t beta, uint32_t flags) {
    const Colour side = pos.sideToMove;
    const Colour other = side ^ 1;

    if (EnterNode(ply)) return StoppedScore(pos);
    if (ply >= SEARCH_PLY_LIMIT || pos.undoTop >= SEARCH_PLY_LIMIT)
        return Evaluate(pos, side, ply, HORIZON_DEPTH, alpha, beta);

    PlyRecord& rec = UndoTop(pos);
    const PlyRecord& parent = ParentRecord(pos);
    const bool inCheck = InCheck(rec);
    uint32_t forced = 0;
    int32_t evasions = 0;

    // 2. Evasions, the check mask and the perpetual-check pattern.
    const int32_t moveNumber = (ply - 1) / 2;
    if (inCheck) {
        uint32_t evasionFlags = 0;
        evasions = GenerateOrderedEvasions(pos, side, ply, QuiesceMode::CAPTURES, evasionFlags);
        if (evasions == 0) return ply - MATED_BASE;
        Search.checkMask[side] |= 1u << moveNumber;
        forced |= evasionFlags & (ForcedMark::DOUBLE_CHECK | ForcedMark::DISCOVERED);
        if (IsPerpetualCheck(Search.checkMask[side], moveNumber)) forced |= ForcedMark::PERPETUAL;
    } else {
        Search.checkMask[side] &= ~(1u << moveNumber);
    }

    // 3. Fifty-move rule.
    if (IsFiftyMoveDraw(pos)) return DrawScore(side);

    // 4. Mate distance.
    if (int32_t cut; MateDistanceCut(ply, alpha, beta, cut)) return cut;
    const int32_t alphaAtEntry = alpha;
    Search.selectiveDepth = std::max(Search.selectiveDepth, ply);

    // 5. Table probe at the first two quiescence plies.
    uint16_t permanent = 0;
    if (depth >= -1 && TablePresent()) {
        NodeEntry hit{};
        const uint16_t found = ProbeNodeEntry(side, pos, ply, hit);
        if (found != 0) {
            permanent = found & EntryFlag::PERMANENT;
            const uint16_t bound = found & EntryFlag::BOUND_MASK;
            if (bound == EntryFlag::EXACT) {
                SetLine(ply, hit.move);
                return hit.score;
            }
            if (bound == EntryFlag::LOWER) {
                SetLine(ply, hit.move);
                if (hit.score >= beta) return hit.score;
                alpha = std::max(alpha, hit.score);
            } else if (bound == EntryFlag::UPPER) {
                if (hit.score <= alpha) return hit.score;
                beta = std::min(beta, hit.score);
            }
        }
    }

    // 6. Static evaluation.
    int32_t e = Evaluate(pos, side, ply, depth, alpha, beta);
    if (rec.checkFlag & EVAL_DECIDED_BITS) return e;
    const bool fullEval = (rec.checkFlag & EvalFlag::FULL) != 0;

    // 7. Threats against the side to move.
    if (!inCheck && e > alpha) {
        if (!fullEval) {
            int32_t threat = 0;
            if (e - PromotionThreatReach < beta && HasPromotionPawn(pos, other))
                threat = PromotionThreat(pos, side, depth, 0);
            if (pos.hangingSlots[side] != 0 && e - pos.hangingTotal[side] < beta &&
                HasHangingThreat(pos, side, e - beta))
                threat = std::max(threat, 1);
            WritePlyWord(rec, PlyEvalWord::THREAT, threat);
            if (Eval.gamePhase >= MinPhaseForMateTest && !(parent.checkFlag & MateMark(side)))
                MateThreatTest(pos, side);
        }
        const int32_t threat = ReadPlyWord(rec, PlyEvalWord::THREAT);
        const bool mateThreat = (rec.checkFlag & MateMark(side)) != 0;
        const bool newMateThreat = mateThreat && !(parent.checkFlag & MateMark(side));
        if (newMateThreat || (threat != 0 && e - threat < beta)) {
            if (flags & (AnswerMark(side) | NodeFlag::THREATS_HANDLED)) {
                e -= threat / 4;
                if (mateThreat) e -= MateThreatPenalty;
            } else {
                flags |= NodeFlag::SEARCH_ALL;
            }
        }
    }

    int32_t best = NO_SCORE_YET;
    int32_t standBase = FORCED_LOSS_BASE;
    bool skipRecaptureMode = false;
    if (inCheck) {
        // 8. Evasion node.
        if (e <= alpha) {
            bool threatened = false;
            if (!(flags & (AnswerMark(other) | NodeFlag::THREATS_HANDLED))) {
                threatened = ((rec.checkFlag | parent.checkFlag) & MateMark(other)) != 0 ||
                             PromotionThreat(pos, other, depth, alpha - e) > alpha - e ||
                             (pos.hangingSlots[other] != 0 && alpha < e + pos.hangingTotal[other] &&
                              HasHangingThreat(pos, other, alpha - e + 1)) ||
                             (Eval.gamePhase >= MinPhaseForMateTest && MateThreatTest(pos, other));
            }
            if (threatened) {
                forced = (forced & ~ForcedMark::COUNT_MASK) | 2;
                standBase = FORCED_LOSS_BASE;
                best = NO_SCORE_YET;
            } else {
                standBase = best = e - pos.hangingTotal[side] - 1;
            }
        } else {
            forced = (forced & ~ForcedMark::COUNT_MASK) | 1;
            standBase = FORCED_LOSS_BASE;
            best = NO_SCORE_YET;
        }
        // Threat answers: a single check by the last moved piece with many replies.
        if (!(flags & AnswerMark(side)) && evasions > EVASION_LIMIT[DepthIndex(depth)] &&
            !(forced & (ForcedMark::DOUBLE_CHECK | ForcedMark::DISCOVERED)) && !(rec.checkFlag & MateMark(side))) {
            if ((pos.materialSignature[other] & 0xFF) >= static_cast<uint32_t>(MinPiecePointsForMateProbe) &&
                !fullEval && MateThreatTest(pos, side)) {
                skipRecaptureMode = true;
            } else if (depth < -4 || !(rec.checkFlag & DangerMark(side))) {
                flags |= AnswerMark(side);
            }
        }
    } else {
        // 9. Capture node: choose the generation mode.
        int mode = QuiesceMode::CAPTURES;
        bool checks = false;
        if ((flags & AnswerMark(other)) || pos.material[side] > Eval.rootMaterial[side]) {
            checks = false;
        } else if (depth >= -3) {
            checks = true;
        } else if (depth >= -5 && (rec.checkFlag & DangerMark(other))) {
            checks = true;
        } else if (depth < -7) {
            checks = false;
        } else {
            checks = (rec.checkFlag & MateMark(other)) != 0 || (!fullEval && MateThreatTest(pos, other));
        }
        if (checks) {
            Ordering.checkBonusBase = CHECK_BONUS_BASE[DepthIndex(depth)];
            mode = (flags & NodeFlag::THREATS_HANDLED) ? QuiesceMode::CHECKS : QuiesceMode::CHECKS_AND_PUSHES;
        }

        if (flags & NodeFlag::SEARCH_ALL) {
            if (GenerateOrderedMoves(pos, side, ply, mode) == 0) return DrawScore(side);
            forced = (forced & ~ForcedMark::COUNT_MASK) | 1;
            standBase = FORCED_LOSS_BASE;
            best = NO_SCORE_YET;
            flags += NodeFlag::THREAT_STEP;
        } else {
            best = e;
            if (e >= beta || GenerateOrderedCaptures(pos, side, ply, mode) == 0) goto finish;
            if (e > alpha) {
                alpha = e;
                flags |= AnswerMark(side);
            }
            standBase = e;
        }
    }

    // 10. Recapture mode after a mate threat against the opponent was just parried.
    if (!skipRecaptureMode && !(flags & AnswerMark(other)) && !(rec.checkFlag & MateMark(other)) &&
        (parent.checkFlag & MateMark(other)))
        forced |= ForcedMark::RECAPTURE;

    {
        // 11-14. Move loop.
        uint32_t childFlags = flags & NodeFlag::CHILD_MASK;
        bool firstSearched = true;
        const int32_t sinceIrreversible = pos.ply - pos.lastIrreversiblePly;
        ScoredMove* const end = ListEnd(ply);
        for (ScoredMove* entry = ListBegin(ply); entry < end; ++entry) {
            PickBest(entry, end);
            const Move m = entry->move;
            int32_t s = entry->score;
            const bool checks = (m & CHECK_MARK) != 0;
            const bool forcedMove = (forced & ForcedMark::COUNT_MASK) != 0;

            bool search = forcedMove || ((forced & ForcedMark::RECAPTURE) && MoveTo(m) == pos.lastToSquare) ||
                          ((s >= 0 || inCheck) && (alpha < e + s || checks));
            if (!search && depth >= Search.threatDepth) {
                int32_t v = MoveGain(pos, m);
                const PieceType victim = IsPromotion(m) ? NO_PIECE : CapturedOn(pos, m);
                if (victim != NO_PIECE && InClassRange(pos, side, other, victim)) {
                    // In small endings a capture may change the material class for the better.
                    const int32_t classGain = MaterialClassGain(pos, side, victim);
                    if (classGain > 0) {
                        s += classGain;
                        v += classGain;
                    }
                }
                if (alpha < e + v || checks) {
                    int32_t w = std::min(v, s + pos.hangingValue[MoveFrom(m)] + pos.hangingTotal[other] -
                                                pos.hangingValue[MoveTo(m)] - pos.hangingTotal[side]);
                    w = std::max(w, s);
                    search = w >= 0 && (alpha < e + w || checks);
                }
            }
            if (!search && !IsCaptureOrPromotion(m) && !IsCastling(m) && pos.pieceType[MoveTo(m)] == NO_PIECE &&
                sinceIrreversible >= 3 && best < DrawScore(side) && MoveRepeatsPosition(m, pos))
                search = true;

            if (!search) {
                // 13. A move left out still bounds the result by its estimate.
                if (standBase >= FORCED_SCORE_FLOOR) best = std::max(best, std::min(alpha, standBase + s));
            } else {
                // 12. Search the move.
                PrefetchChild(pos, m, depth >= 0);
                MakeMove(pos, m);
                if (MoverLeftInCheck(pos, side)) {
                    UnmakeMove(pos);
                    continue;
                }
                const bool givesCheck = InCheck(UndoTop(pos));
                int32_t score;
                if (pos.ply - pos.lastIrreversiblePly > 3 && IsRepetition(pos)) {
                    score = DrawScore(side);
                    Search.pv[ply + 1][0] = NO_MOVE;
                } else if (firstSearched) {
                    score = -Quiesce(pos, ply + 1, depth - 1, -beta, -alpha, childFlags);
                } else {
                    score = -Quiesce(pos, ply + 1, depth - 1, -alpha - 1, -alpha, childFlags);
                    if (alpha < score && score < beta)
                        score = -Quiesce(pos, ply + 1, depth - 1, -beta, -score, childFlags);
                }
                firstSearched = false;
                UnmakeMove(pos);
                if (Search.stopReason != 0) return StoppedScore(pos);

                if (score > best) {
                    best = score;
                    if (score > alpha) {
                        alpha = score;
                        if (score >= FORCED_SCORE_FLOOR) forced &= ~ForcedMark::COUNT_MASK;
                        childFlags |= AnswerMark(side);
                        CopyLine(ply, givesCheck ? Move(m | CHECK_MARK) : m);
                    } else if (forcedMove && score >= FORCED_SCORE_FLOOR) {
                        --forced;
                    }
                }
            }
            if (best >= beta) break;
        }
    }

finish:
    // 15. Ending.
    if (best == NO_SCORE_YET) return DrawScore(side);
    if ((forced & ForcedMark::PERPETUAL) && DrawScore(side) < best && best < PERPETUAL_CEILING) return best / 2;
    if (depth != 0) return best;
    if (Search.pv[ply][0] != NO_MOVE && TablePresent()) {
        const uint16_t bound = best >= beta ? EntryFlag::LOWER : best > alphaAtEntry ? EntryFlag::EXACT : EntryFlag::UPPER;
        StoreNodeEntry(side, pos, ply, 0, static_cast<uint16_t>(bound | permanent), best, Search.pv[ply][0], e);
    }
    return best;
}

}  // namespace tavrix
