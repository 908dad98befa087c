#include "board/movegen.h"

#include "board/attacks.h"
#include "board/tables.h"
#include "board/moveservices.h"

namespace tavrix {

thread_local constinit MoveListState MoveLists{};

void ResetMoveLists() { MoveLists = MoveListState{}; }

namespace {

static_assert(MAX_LIST_MOVES >= 15 * 27 + 10, "one list must hold every pseudo-legal move of a position");

inline ScoredMove* Put(ScoredMove* list, Move move, int score) {
    list->move = move;
    list->score = static_cast<int16_t>(score);
    return list + 1;
}

inline bool IsEmpty(const Position& p, int sq) { return p.pieceColour[sq] == EMPTY_COLOUR; }

inline bool Attacked(const Position& p, Colour by, int sq) { return p.attackMap[by].square[sq].attackWeight != 0; }

inline int CaptureScore(const Position& p, int to) {
    return PieceValue[p.pieceType[to]] + (to == p.lastToSquare ? BaseScore::RECAPTURE_BONUS : 0);
}

// Field of the materialSignature holding the count of one piece kind (at most three).
inline int KindCount(const Position& p, Colour side, PieceType type) {
    switch (type) {
        case KNIGHT: return (p.materialSignature[side] >> 20) & 3;
        case BISHOP: return (p.materialSignature[side] >> 22) & 3;
        case ROOK: return (p.materialSignature[side] >> 24) & 3;
        default: return 0;
    }
}

inline bool HasKind(const Position& p, Colour side, PieceType type) {
    switch (type) {
        case PAWN: return p.pawnSlots[side] != 0;
        case KNIGHT: return p.knightSlots[side] != 0;
        case BISHOP: return p.bishopSlots[side] != 0;
        case ROOK: return p.rookSlots[side] != 0;
        default: return p.queenSlots[side] != 0;
    }
}

// Direction range [first, last) of each piece type's moves.
constexpr int FirstDirection[8] = {0, 0, 8, 4, 0, 0, 0, 0};
constexpr int EndDirection[8] = {0, 0, 16, 8, 4, 8, 8, 0};

inline bool MovesAlong(PieceType type, int direction) {
    return direction >= FirstDirection[type] && direction < EndDirection[type] && type != KNIGHT && type != KING &&
           type != PAWN;
}

ScoredMove* WriteCaptures(const Position& p, Colour c, ScoredMove* l, int mode, bool quiescence) {
    const Colour o = c ^ 1;
    // An unattacked piece has no capturers; the threatened set holds every attacked one.
    for (SlotMask victims = p.liveSlots[o] & p.threatenedSlots[o] & ~1u; victims; victims &= victims - 1) {
        const int to = p.slotSquare[o][LowestSlot(victims)];
        SlotMask capturers = p.attackMap[c].square[to].attackerSlots & p.liveSlots[c];
        if (Attacked(p, o, to)) capturers &= ~1u;
        while (capturers) {
            const int slot = HighestSlot(capturers);
            capturers &= ~(1u << slot);
            const int from = p.slotSquare[c][slot];
            if (p.pieceType[from] == PAWN && RankOf(to) == PromotionRank(c)) {
                if (quiescence)
                    l = Put(l, MakeMoveWord(from, to, MoveKind::PROMOTE_QUEEN), PieceValue[p.pieceType[to]] + BaseScore::QUEEN_PUSH);
                else
                    l = GeneratePromotions(l, from, to, p, c, mode);
            } else {
                l = Put(l, MakeMoveWord(from, to, MoveKind::CAPTURE), CaptureScore(p, to));
            }
        }
    }
    return l;
}

ScoredMove* WriteEnPassant(const Position& p, Colour c, ScoredMove* l) {
    const int ep = p.epSquare;
    if (ep == 0 || c != p.sideToMove) return l;
    for (SlotMask pawns = p.attackMap[c].square[ep].attackerSlots & p.pawnSlots[c]; pawns;) {
        const int slot = HighestSlot(pawns);
        pawns &= ~(1u << slot);
        l = Put(l, MakeMoveWord(p.slotSquare[c][slot], ep, MoveKind::EN_PASSANT), BaseScore::EN_PASSANT);
    }
    return l;
}

ScoredMove* WritePawnPushes(const Position& p, Colour c, int from, ScoredMove* l, int mode) {
    const int step = PawnPush[c];
    const int to = from + step;
    if (!IsEmpty(p, to)) return l;
    if (RankOf(to) == PromotionRank(c)) return GeneratePromotions(l, from, to, p, c, mode);
    l = Put(l, MakeMoveWord(from, to), 0);
    if (RankOf(from) == PawnStartRank(c) && IsEmpty(p, to + step)) l = Put(l, MakeMoveWord(from, to + step), 0);
    return l;
}

// The target lists run ray by ray in direction order, as the ray table does; a blocked
// square skips the rest of its ray.
ScoredMove* WriteSliderQuiet(const Position& p, int from, PieceType type, ScoredMove* l) {
    const Target* t = TargetList[type][from].data();
    while (t->square != NO_SQUARE) {
        if (IsEmpty(p, t->square)) {
            l = Put(l, MakeMoveWord(from, t->square), 0);
            ++t;
        } else {
            t += t->skip + 1;
        }
    }
    return l;
}

ScoredMove* WriteCastling(const Position& p, Colour c, ScoredMove* l) {
    const int k = KingSquare(p, c);
    if (p.moveCount[k] != 0) return l;
    for (int wing = KING_SIDE; wing <= QUEEN_SIDE; ++wing) {
        if (!CastlingAllowed(p, c, wing)) continue;
        int to;
        if (p.chess960)
            to = p.castleRookSquare[c][wing];
        else
            to = wing == KING_SIDE ? k + 2 : k - 2;
        l = Put(l, MakeMoveWord(k, to, MoveKind::CASTLING), 0);
    }
    return l;
}

ScoredMove* WriteQuietMoves(const Position& p, Colour c, ScoredMove* l, int mode) {
    const Colour o = c ^ 1;
    for (SlotMask pieces = p.liveSlots[c]; pieces;) {
        const int slot = HighestSlot(pieces);
        pieces &= ~(1u << slot);
        const int from = p.slotSquare[c][slot];
        const PieceType type = p.pieceType[from];
        switch (type) {
            case PAWN: l = WritePawnPushes(p, c, from, l, mode); break;
            case KNIGHT:
                for (const Target* t = TargetList[KNIGHT][from].data(); t->square != NO_SQUARE; ++t)
                    if (IsEmpty(p, t->square)) l = Put(l, MakeMoveWord(from, t->square), 0);
                break;
            case KING:
                for (const Target* t = TargetList[KING][from].data(); t->square != NO_SQUARE; ++t)
                    if (IsEmpty(p, t->square) && !Attacked(p, o, t->square)) l = Put(l, MakeMoveWord(from, t->square), 0);
                l = WriteCastling(p, c, l);
                break;
            default: l = WriteSliderQuiet(p, from, type, l); break;
        }
    }
    return l;
}

// A quiet (or promoting) pawn push onto an empty square in front of it, when unpinned.
ScoredMove* WriteBlockingPush(const Position& p, Colour c, int to, ScoredMove* l, int mode) {
    const int step = PawnPush[c];
    const int one = to - step;
    if (one < 0 || one > 63) return l;
    if (p.pieceType[one] == PAWN && p.pieceColour[one] == c) {
        if (IsPinned(p, one, c ^ 1)) return l;
        if (RankOf(to) == PromotionRank(c)) return GeneratePromotions(l, one, to, p, c, mode);
        return Put(l, MakeMoveWord(one, to), 0);
    }
    const int two = one - step;
    if (IsEmpty(p, one) && two >= 0 && two < 64 && RankOf(two) == PawnStartRank(c) && p.pieceType[two] == PAWN &&
        p.pieceColour[two] == c && !IsPinned(p, two, c ^ 1))
        l = Put(l, MakeMoveWord(two, to), 0);
    return l;
}

ScoredMove* WriteEvasions(Position& p, Colour c, ScoredMove* l, int mode, uint32_t& outFlags) {
    const Colour o = c ^ 1;
    const int k = KingSquare(p, c);
    const AttackRecord& atKing = p.attackMap[o].square[k];
    const SlotMask checkers = atKing.attackerSlots & p.liveSlots[o];
    uint32_t forbidden = 0;
    uint32_t flags = 0;
    if ((atKing.attackWeight & 0xFF) >= AttackWeight::QUEEN) {
        for (SlotMask sliders = checkers & p.sliderSlots[o]; sliders; sliders &= sliders - 1) {
            const int from = p.slotSquare[o][LowestSlot(sliders)];
            const int d = DirectionTable[k][from];
            if (d >= 8) continue;
            forbidden |= 1u << d;                          // straight on, away from the checker
            if (RayTable[d][from] != k) forbidden |= 1u << OppositeDirection[d];
            if (from != p.lastToSquare) flags |= EvasionFlag::DISCOVERED;
        }
    }
    const int checkerCount = SlotCount(checkers);
    if (checkerCount >= 2) flags |= EvasionFlag::DOUBLE_CHECK;

    int kingMoves = 0;
    for (int d = 0; d < 8; ++d) {
        if (forbidden & (1u << d)) continue;
        const int to = RayTable[d][k];
        if (to == NO_SQUARE || p.pieceColour[to] == c || Attacked(p, o, to)) continue;
        if (p.pieceColour[to] == o)
            l = Put(l, MakeMoveWord(k, to, MoveKind::CAPTURE), CaptureScore(p, to));
        else
            l = Put(l, MakeMoveWord(k, to), 0);
        ++kingMoves;
    }
    outFlags = flags | static_cast<uint32_t>(kingMoves);
    if (checkerCount != 1) return l;

    const int checker = p.slotSquare[o][LowestSlot(checkers)];
    const PieceType checkerType = p.pieceType[checker];
    const int ep = p.epSquare;
    if (checkerType == PAWN && ep != 0 && c == p.sideToMove && ep == checker + PawnPush[c]) {
        for (SlotMask pawns = p.attackMap[c].square[ep].attackerSlots & p.pawnSlots[c]; pawns;) {
            const int slot = HighestSlot(pawns);
            pawns &= ~(1u << slot);
            const int from = p.slotSquare[c][slot];
            if (!IsPinned(p, from, o)) l = Put(l, MakeMoveWord(from, ep, MoveKind::EN_PASSANT), BaseScore::EN_PASSANT);
        }
    }

    // The checker's square, then the squares between it and the king when it is a slider.
    const int lineDirection = DirectionTable[k][checker];
    const bool slides = lineDirection < 8 && MovesAlong(checkerType, lineDirection);
    for (int sq = checker; sq != k && sq != NO_SQUARE; sq = slides ? RayTable[lineDirection][sq] : k) {
        SlotMask movers = p.attackMap[c].square[sq].attackerSlots & p.liveSlots[c] & ~1u;
        if (sq != checker) movers &= ~p.pawnSlots[c];
        while (movers) {
            const int slot = HighestSlot(movers);
            movers &= ~(1u << slot);
            const int from = p.slotSquare[c][slot];
            if (IsPinned(p, from, o)) continue;
            if (sq != checker)
                l = Put(l, MakeMoveWord(from, sq), 0);
            else if (p.pieceType[from] == PAWN && RankOf(sq) == PromotionRank(c))
                l = GeneratePromotions(l, from, sq, p, c, mode);
            else
                l = Put(l, MakeMoveWord(from, sq, MoveKind::CAPTURE), CaptureScore(p, sq));
        }
    }
    if (slides && p.pawnSlots[c] != 0)
        for (int sq = RayTable[lineDirection][checker]; sq != k; sq = RayTable[lineDirection][sq])
            l = WriteBlockingPush(p, c, sq, l, mode);
    return l;
}

// Whether the piece of `type` standing on `to` (board as it is now) would attack the king on `e`.
bool WouldAttackKing(const Position& p, PieceType type, Colour c, int to, int e) {
    const int line = DirectionTable[e][to];
    if (type == PAWN) return RayTable[PawnCaptureDirection[c][0]][to] == e || RayTable[PawnCaptureDirection[c][1]][to] == e;
    if (type == KNIGHT) return line >= 8 && line < DIRECTION_COUNT;
    if (line >= 8 || !MovesAlong(type, line)) return false;
    int sq = RayTable[line][to];
    while (sq != e && IsEmpty(p, sq)) sq = RayTable[line][sq];
    return sq == e;
}

int FinishList(int plyIndex, ScoredMove* begin, ScoredMove* end) {
    MoveLists.listBegin[plyIndex + 1] = static_cast<int32_t>(end - MoveLists.moves);
    return static_cast<int>(end - begin);
}

inline bool PlyInRange(int plyIndex) { return plyIndex >= 0 && plyIndex < MOVE_LIST_PLIES; }

}  // namespace

bool CastlingAllowed(const Position& p, Colour c, int wing) {
    const Colour o = c ^ 1;
    const int k = KingSquare(p, c);
    if (p.moveCount[k] != 0 || RankOf(k) != (c == WHITE ? 0 : 7)) return false;
    const int base = k & 56;
    const int kf = FileOf(k);
    if (!p.chess960) {
        // The rook stands three files right of the king or four files left of it.
        const int dir = wing == KING_SIDE ? 1 : -1;
        const int rookFile = wing == KING_SIDE ? kf + 3 : kf - 4;
        if (rookFile < 0 || rookFile > 7) return false;
        const int rook = base + rookFile;
        if (p.pieceType[rook] != ROOK || p.pieceColour[rook] != c || p.moveCount[rook] != 0) return false;
        for (int sq = k + dir; sq != rook; sq += dir)
            if (!IsEmpty(p, sq)) return false;
        for (int i = 0; i <= 2; ++i)
            if (Attacked(p, o, k + i * dir)) return false;
        return true;
    }
    const int rook = p.castleRookSquare[c][wing];
    if (rook < 0 || rook > 63 || (rook & 56) != base) return false;
    if (p.pieceType[rook] != ROOK || p.pieceColour[rook] != c || p.moveCount[rook] != 0) return false;
    const int rf = FileOf(rook);
    auto freeOrRook = [&](int sq) { return IsEmpty(p, sq) || sq == rook; };
    if (wing == KING_SIDE) {
        if (rf <= kf) return false;
        if (kf >= 6) return freeOrRook(base + 5);
        for (int sq = k + 1; sq <= base + 6; ++sq)
            if (!freeOrRook(sq) || Attacked(p, o, sq)) return false;
        return true;
    }
    if (rf >= kf) return false;
    if (kf > 2) {
        for (int sq = k - 1; sq >= base + 2; --sq)
            if (!freeOrRook(sq) || Attacked(p, o, sq)) return false;
    } else if (kf == 1) {
        if (!IsEmpty(p, base + 2) || Attacked(p, o, base + 2) || !IsEmpty(p, base + 3)) return false;
    } else if (kf == 2) {
        if (!freeOrRook(base + 3)) return false;
    }
    // The rook passes the b-file on its way from the a-file (the king may stand there).
    if (rf == 0 && !IsEmpty(p, base + 1) && base + 1 != k) return false;
    return true;
}

ScoredMove* GeneratePromotions(ScoredMove* list, int from, int to, const Position& p, Colour side, int shortFlag) {
    const PieceType victim = p.pieceType[to];
    int queenScore = BaseScore::SET_QUEEN;
    if (victim != NO_PIECE) queenScore += PieceValue[victim] + (to == p.lastToSquare ? BaseScore::RECAPTURE_BONUS : 0);
    list = Put(list, MakeMoveWord(from, to, MoveKind::PROMOTE_QUEEN), queenScore);
    if (KindCount(p, side, KNIGHT) < 3) list = Put(list, MakeMoveWord(from, to, MoveKind::PROMOTE_KNIGHT), BaseScore::SET_KNIGHT);
    if (shortFlag == 0) {
        if (KindCount(p, side, ROOK) < 3) list = Put(list, MakeMoveWord(from, to, MoveKind::PROMOTE_ROOK), BaseScore::SET_ROOK);
        if (KindCount(p, side, BISHOP) < 3)
            list = Put(list, MakeMoveWord(from, to, MoveKind::PROMOTE_BISHOP), BaseScore::SET_BISHOP);
    }
    return list;
}

int GenerateAllMoves(Position& p, Colour side, int plyIndex, int mode) {
    if (!PlyInRange(plyIndex)) return 0;
    ScoredMove* const begin = ListBegin(plyIndex);
    ScoredMove* l = WriteCaptures(p, side, begin, mode, false);
    l = WriteEnPassant(p, side, l);
    l = WriteQuietMoves(p, side, l, mode);
    return FinishList(plyIndex, begin, l);
}

int GenerateCaptures(Position& p, Colour side, int plyIndex, int mode) {
    if (!PlyInRange(plyIndex)) return 0;
    const Colour o = side ^ 1;
    const int step = PawnPush[side];
    ScoredMove* const begin = ListBegin(plyIndex);
    ScoredMove* l = begin;
    const int seventh = PromotionRank(side) - (side == WHITE ? 1 : -1);
    for (SlotMask pawns = p.pawnRankSlots[side][seventh] & p.pawnSlots[side]; pawns;) {
        const int slot = HighestSlot(pawns);
        pawns &= ~(1u << slot);
        const int from = p.slotSquare[side][slot];
        if (IsEmpty(p, from + step)) l = Put(l, MakeMoveWord(from, from + step, MoveKind::PROMOTE_QUEEN), BaseScore::QUEEN_PUSH);
    }
    if (mode == GenMode::NEAR_PROMOTIONS) {
        const int sixth = seventh - (side == WHITE ? 1 : -1);
        for (SlotMask pawns = p.pawnRankSlots[side][sixth] & p.pawnSlots[side]; pawns;) {
            const int slot = HighestSlot(pawns);
            pawns &= ~(1u << slot);
            const int from = p.slotSquare[side][slot];
            const int to = from + step;
            if (!IsEmpty(p, to)) continue;
            bool worth = IsEmpty(p, to + step);
            for (int i = 0; i < 2 && !worth; ++i) {
                const int target = RayTable[PawnCaptureDirection[side][i]][to];
                worth = target != NO_SQUARE && p.pieceColour[target] == o;
            }
            const Move push = MakeMoveWord(from, to);
            if (worth && GivesCheck(p, push, side) == 0) l = Put(l, push, BaseScore::NEAR_PROMOTION);
        }
    }
    l = WriteCaptures(p, side, l, mode, true);
    l = WriteEnPassant(p, side, l);
    if (mode & GenMode::CHECKS_BIT) l = GenerateChecks(p, side, KingSquare(p, o), l);
    return FinishList(plyIndex, begin, l);
}

int GenerateEvasions(Position& p, Colour side, int plyIndex, int mode, uint32_t& outFlags) {
    outFlags = 0;
    if (!PlyInRange(plyIndex)) return 0;
    ScoredMove* const begin = ListBegin(plyIndex);
    return FinishList(plyIndex, begin, WriteEvasions(p, side, begin, mode, outFlags));
}

ScoredMove* GenerateChecks(const Position& p, Colour c, int e, ScoredMove* l) {
    const AttackMap& own = p.attackMap[c];
    const bool diagonals = p.diagonalSlots[c] != 0;
    const bool straights = p.straightSlots[c] != 0;
    for (int d = 0; d < 8; ++d) {
        if (IsStraight(d) ? !straights : !diagonals) continue;
        const SlotMask lineMovers = IsStraight(d) ? p.straightSlots[c] : p.diagonalSlots[c];
        for (int sq = RayTable[d][e]; sq != NO_SQUARE; sq = RayTable[d][sq]) {
            if (IsEmpty(p, sq)) {
                for (SlotMask movers = own.square[sq].attackerSlots & lineMovers; movers;) {
                    const int slot = HighestSlot(movers);
                    movers &= ~(1u << slot);
                    l = Put(l, MakeMoveWord(p.slotSquare[c][slot], sq) | CHECK_MARK, 0);
                }
                continue;
            }
            if (p.pieceColour[sq] != c) break;
            if (IsStraight(d) && (d & 1) && p.pieceType[sq] == PAWN) break;  // its push stays on the file
            for (SlotMask behind = own.square[sq].attackerSlots & lineMovers; behind; behind &= behind - 1) {
                const int slider = p.slotSquare[c][LowestSlot(behind)];
                if (DirectionTable[slider][sq] == d && p.hangingValue[slider] == 0) {
                    l = GeneratePieceQuiet(l, p, c, sq, e);
                    break;
                }
            }
            break;
        }
    }
    if (p.knightSlots[c] != 0) {
        for (int d = 8; d < DIRECTION_COUNT; ++d) {
            const int sq = RayTable[d][e];
            if (sq == NO_SQUARE || !IsEmpty(p, sq)) continue;
            for (SlotMask movers = own.square[sq].attackerSlots & p.knightSlots[c]; movers;) {
                const int slot = HighestSlot(movers);
                movers &= ~(1u << slot);
                l = Put(l, MakeMoveWord(p.slotSquare[c][slot], sq) | CHECK_MARK, 0);
            }
        }
    }
    if (p.pawnSlots[c] != 0) {
        const int step = PawnPush[c];
        for (int i = 0; i < 2; ++i) {
            // Squares from which a pawn of c attacks e lie against the pawn's capture direction.
            const int to = RayTable[OppositeDirection[PawnCaptureDirection[c][i]]][e];
            if (to == NO_SQUARE || !IsEmpty(p, to) || RankOf(to) == PromotionRank(c)) continue;
            const int one = to - step;
            if (one < 0 || one > 63) continue;
            if (p.pieceType[one] == PAWN && p.pieceColour[one] == c) {
                l = Put(l, MakeMoveWord(one, to) | CHECK_MARK, 0);
            } else if (IsEmpty(p, one)) {
                const int two = one - step;
                if (two >= 0 && two < 64 && RankOf(two) == PawnStartRank(c) && p.pieceType[two] == PAWN &&
                    p.pieceColour[two] == c)
                    l = Put(l, MakeMoveWord(two, to) | CHECK_MARK, 0);
            }
        }
    }
    return l;
}

ScoredMove* GeneratePieceQuiet(ScoredMove* list, const Position& p, Colour side, int square, int enemyKing) {
    const PieceType type = p.pieceType[square];
    // A move along the line between this piece and the king keeps the line shut.
    const int lineToKing = DirectionTable[square][enemyKing];
    auto discovers = [&](int to) { return lineToKing >= 8 || DirectionTable[to][enemyKing] != lineToKing; };
    if (type == PAWN) {
        const int step = PawnPush[side];
        const int to = square + step;
        if (!IsEmpty(p, to) || RankOf(to) == PromotionRank(side)) return list;
        if (discovers(to) && !WouldAttackKing(p, PAWN, side, to, enemyKing)) list = Put(list, MakeMoveWord(square, to) | CHECK_MARK, 0);
        const int two = to + step;
        if (RankOf(square) == PawnStartRank(side) && IsEmpty(p, two) && discovers(two) &&
            !WouldAttackKing(p, PAWN, side, two, enemyKing))
            list = Put(list, MakeMoveWord(square, two) | CHECK_MARK, 0);
        return list;
    }
    const bool slider = type == BISHOP || type == ROOK || type == QUEEN;
    const int first = type == KING ? 0 : FirstDirection[type];
    const int end = type == KING ? 8 : EndDirection[type];
    for (int d = first; d < end; ++d) {
        for (int to = RayTable[d][square]; to != NO_SQUARE && IsEmpty(p, to); to = slider ? RayTable[d][to] : NO_SQUARE) {
            if (!discovers(to) || WouldAttackKing(p, type, side, to, enemyKing)) continue;
            list = Put(list, MakeMoveWord(square, to) | CHECK_MARK, 0);
        }
    }
    return list;
}

bool HasNoLegalMove(Position& p, Colour side) {
    const Colour o = side ^ 1;
    const int k = KingSquare(p, side);
    if (Attacked(p, o, k)) {
        ScoredMove scratch[MAX_LIST_MOVES];
        uint32_t flags = 0;
        ScoredMove* end = WriteEvasions(p, side, scratch, GenMode::FULL, flags);
        for (ScoredMove* m = scratch; m != end; ++m)
            if (IsLegalAfterMake(p, m->move)) return false;
        return true;
    }
    for (int d = 0; d < 8; ++d) {
        const int to = RayTable[d][k];
        if (to != NO_SQUARE && p.pieceColour[to] != side && !Attacked(p, o, to)) return false;
    }
    const int step = PawnPush[side];
    for (SlotMask pieces = p.liveSlots[side] & ~1u; pieces; pieces &= pieces - 1) {
        const int from = p.slotSquare[side][LowestSlot(pieces)];
        const PieceType type = p.pieceType[from];
        const bool pinned = IsPinned(p, from, o);
        const int pinLine = pinned ? DirectionTable[from][k] : -1;
        auto alongPin = [&](int to) { return !pinned || DirectionTable[to][k] == pinLine; };
        if (type == PAWN) {
            const int ahead = from + step;
            if (IsEmpty(p, ahead) && alongPin(ahead)) return false;
            for (int i = 0; i < 2; ++i) {
                const int to = RayTable[PawnCaptureDirection[side][i]][from];
                if (to == NO_SQUARE) continue;
                if (p.pieceColour[to] == o && alongPin(to)) return false;
                if (to == p.epSquare && side == p.sideToMove && IsLegalAfterMake(p, MakeMoveWord(from, to, MoveKind::EN_PASSANT)))
                    return false;
            }
            continue;
        }
        for (int d = FirstDirection[type]; d < EndDirection[type]; ++d) {
            const int to = RayTable[d][from];
            if (to != NO_SQUARE && p.pieceColour[to] != side && alongPin(to)) return false;
        }
    }
    return true;
}

}  // namespace tavrix
