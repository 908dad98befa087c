#include "eval/evaluate.h"

#include <bit>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "settings/settings.h"
#include "eval/eval_cache.h"
#include "eval/eval_geometry.h"
#include "tablebase/probe.h"

namespace tavrix {

thread_local constinit EvalState Eval{};

namespace {

// ---------------------------------------------------------------- king-edge tables
constexpr int8_t CENTRE_EDGE[64] = {
    1,  8,  16, 24, 24, 16, 8,  1,   //
    8,  32, 40, 48, 48, 40, 32, 8,   //
    16, 40, 56, 64, 64, 56, 40, 16,  //
    24, 48, 64, 72, 72, 64, 48, 24,  //
    24, 48, 64, 72, 72, 64, 48, 24,  //
    16, 40, 56, 64, 64, 56, 40, 16,  //
    8,  32, 40, 48, 48, 40, 32, 8,   //
    1,  8,  16, 24, 24, 16, 8,  1,
};
// For a bishop on dark squares: the lone king is driven to a1 or h8.
constexpr int8_t DARK_CORNER_EDGE[64] = {
    1,  1,  27,  35,  57,  70,  83,  90,  //
    1,  40, 45,  65,  70,  80,  95,  83,  //
    27, 45, 43,  80,  90,  100, 80,  70,  //
    35, 65, 80,  90,  110, 90,  70,  57,  //
    57, 70, 90,  110, 90,  80,  65,  35,  //
    70, 80, 100, 90,  80,  43,  45,  27,  //
    83, 95, 80,  70,  65,  45,  40,  1,   //
    90, 83, 70,  57,  35,  27,  1,   1,
};

struct EdgeTable {
    int8_t value[64];
};
constexpr EdgeTable MirrorFiles(const int8_t (&t)[64]) {
    EdgeTable r{};
    for (int sq = 0; sq < 64; ++sq) r.value[sq] = t[sq ^ 7];
    return r;
}
constexpr EdgeTable LIGHT_CORNER_EDGE = MirrorFiles(DARK_CORNER_EDGE);

// ---------------------------------------------------------------- constants of the driver
constexpr int32_t PLY_LIMIT = 60;                 // leaves room in the 64-entry undo stack
constexpr int32_t FULL_SCALE = 16;                // sixteenths
constexpr int32_t HALF_SCALE = 8;
constexpr int32_t QUARTER_SCALE = 4;
constexpr int32_t CORRECTION_UNIT = 32;
constexpr int32_t LONE_KING_DECIDED_MARGIN = ROOK_VALUE;
constexpr int32_t DECIDED_SCORE = 1000;
constexpr int32_t PAWNLESS_KING_BASE = 100;
constexpr int32_t PAWNLESS_MINOR_LIMIT = KNIGHT_VALUE;
constexpr int32_t SECOND_THREAT_PENALTY = 24;
constexpr int32_t MOP_UP_BASE = 150;
constexpr int32_t DOUBLED_ROOK_PAWNS_PENALTY = 64;
constexpr int32_t OPPOSITE_BISHOP_POINT_LIMIT = 11;
constexpr int32_t BISHOP_POINTS = 3;
constexpr int32_t PHASE_LOW_SUM = 2604;
constexpr int32_t PHASE_HIGH_SUM = 8002;
constexpr int32_t PHASE_OFFSET = 1858;
constexpr int32_t PHASE_STEP = 384;
constexpr int32_t TRADE_DIVISOR_OFFSET = 4208;
constexpr int32_t TRADE_PAWN_CAP = 5;
constexpr uint32_t STALEMATE_PIECE_LIMIT = 6;     // pieces word below: no piece, at most five pawns
constexpr uint16_t TABLEBASE_MOVE_KINDS = 0x6000; // captures, en passant, promotions


inline int PawnCount(const Position& pos, Colour c) { return (pos.materialSignature[c] >> 16) & 0xF; }
inline int RookCount(const Position& pos, Colour c) { return (pos.materialSignature[c] >> 24) & 3; }
inline int QueenCount(const Position& pos, Colour c) { return pos.materialSignature[c] >> 26; }
inline int BishopCount(const Position& pos, Colour c) { return (pos.materialSignature[c] >> 22) & 3; }
inline int PiecePoints(const Position& pos, Colour c) { return pos.materialSignature[c] & 0xFF; }
using geometry::IsCorner;
using geometry::SLIDER_ATTACK_BITS;
using geometry::KingDistance;

// The attacks added behind the king for one full evaluation, undone afterwards.
struct XrayExtension {
    int count;
    uint8_t square[SLOTS_PER_SIDE];
    uint16_t weight[SLOTS_PER_SIDE];
    uint16_t slotBit[SLOTS_PER_SIDE];
};

void ExtendBehindKing(Position& pos, Colour side, XrayExtension& ext) {
    ext.count = 0;
    const Colour other = side ^ 1;
    const int king = KingSquare(pos, side);
    AttackMap& map = pos.attackMap[other];
    const AttackRecord& kingRecord = map.square[king];
    if ((kingRecord.attackWeight & SLIDER_ATTACK_BITS) == 0) return;
    uint32_t sliders = kingRecord.attackerSlots & pos.sliderSlots[other];
    while (sliders != 0) {
        const int slot = std::countr_zero(sliders);
        sliders &= sliders - 1;
        const int from = pos.slotSquare[other][slot];
        // A slider attacking the king directly shares a line with it.
        const int beyond = RayTable[DirectionTable[king][from]][king];
        if (beyond == NO_SQUARE) continue;
        AttackRecord& r = map.square[beyond];
        const uint16_t weight = AttackWeightOf[pos.pieceType[from]];
        const uint16_t bit = static_cast<uint16_t>(1u << slot);
        r.attackWeight = static_cast<uint16_t>(r.attackWeight + weight);
        r.attackerSlots |= bit;
        r.attackerCount++;
        ext.square[ext.count] = static_cast<uint8_t>(beyond);
        ext.weight[ext.count] = weight;
        ext.slotBit[ext.count] = bit;
        ext.count++;
    }
}

void RemoveExtension(Position& pos, Colour side, const XrayExtension& ext) {
    AttackMap& map = pos.attackMap[side ^ 1];
    for (int i = ext.count - 1; i >= 0; --i) {
        AttackRecord& r = map.square[ext.square[i]];
        r.attackWeight = static_cast<uint16_t>(r.attackWeight - ext.weight[i]);
        r.attackerSlots = static_cast<uint16_t>(r.attackerSlots & ~ext.slotBit[i]);
        r.attackerCount--;
    }
}

void StoreResult(Position& pos, Colour side, int32_t score, int32_t kind) {
    PlyRecord& rec = UndoTop(pos);
    WritePlyWord(rec, PlyEvalWord::SCORE, score);
    WritePlyWord(rec, PlyEvalWord::THREAT, Eval.secondThreat[side]);
    rec.checkFlag = static_cast<uint16_t>(rec.checkFlag | KindFlag(kind));
    if (EvalCache.mask != 0 && (rec.checkFlag & EvalFlag::FULL) != 0) {
        CachedEvaluation value;
        value.flags = rec.checkFlag;
        value.score = score;
        value.threatWord = ReadPlyWord(rec, PlyEvalWord::THREAT);
        value.kingWord = ReadPlyWord(rec, PlyEvalWord::KING);
        StoreEvalCache(pos, side, value);
    }
}

// The material class's endgame type of the position, ORDINARY outside the table's range.
bool InClassRange(const Position& pos) {
    return pos.material[WHITE] <= MATERIAL_CLASS_LIMIT && pos.material[BLACK] <= MATERIAL_CLASS_LIMIT &&
           RookCount(pos, WHITE) < 2 && RookCount(pos, BLACK) < 2 && QueenCount(pos, WHITE) < 2 &&
           QueenCount(pos, BLACK) < 2;
}

int32_t EndgameTypeOf(const Position& pos, Colour side) {
    if (!InClassRange(pos)) return EndgameType::ORDINARY;
    const uint8_t byte = ClassifyMaterial(pos, side);
    return (byte & ClassByte::SPECIAL) ? (byte & ClassByte::LOW_BITS) : EndgameType::ORDINARY;
}

int BishopSquare(const Position& pos, Colour c) {
    const uint32_t bishops = pos.bishopSlots[c];
    return bishops ? pos.slotSquare[c][std::countr_zero(bishops)] : -1;
}

// Opposite-coloured bishops scaling of a positional total seen from White.
int32_t ScaleOppositeBishops(const Position& pos, Colour stronger, int32_t total) {
    const int points = PiecePoints(pos, WHITE);
    if (points != PiecePoints(pos, BLACK) || points > OPPOSITE_BISHOP_POINT_LIMIT) return total;
    if (BishopCount(pos, WHITE) != 1 || BishopCount(pos, BLACK) != 1) return total;
    const int wb = BishopSquare(pos, WHITE);
    const int bb = BishopSquare(pos, BLACK);
    if (IsDarkSquare(wb) == IsDarkSquare(bb)) return total;
    const int d = PawnCount(pos, stronger) - PawnCount(pos, stronger ^ 1);
    const int32_t m = pos.material[BLACK] - pos.material[WHITE];
    if (points == BISHOP_POINTS) {
        if (d <= 2) return (total >> 2) + m - (m >> 2);
        return (total >> 1) + (m >> 1);
    }
    if (d <= 2) return (total >> 1) + (m >> 2);
    return total;
}

}  // namespace

// ---------------------------------------------------------------- state
void ResetEvalState() {
    Eval = EvalState{};
    Eval.options = EvalOptions{};
    Eval.rootSide = WHITE;
    Eval.styleSide = STYLE_SIDE_NONE;
    for (int c = 0; c < 2; ++c) {
        Eval.threatShift[c] = 6;
        Eval.pawnThreatShift[c] = 5;
        Eval.lazyMarginHigh[c] = LAZY_MARGIN_START;
        Eval.lazyMarginLow[c] = -LAZY_MARGIN_START;
        Eval.phaseMaterial[c] = -1;
        Eval.stormLevel[c] = STORM_NONE;
    }
    for (int sq = 0; sq < 64; ++sq) Eval.kingEdgeTable[sq] = CENTRE_EDGE[sq];
    Eval.gamePhase = 16;
    Eval.phaseHalf = 8;
    Eval.endWeight = 1;
    Eval.plyLimit = PLY_LIMIT;
    RenewPawnCache();
}

void RefreshPawnFiles(const Position& pos) {
    // Make and unmake keep the position's copy current.
    static_assert(sizeof Eval.pawnFile == sizeof pos.pawnFile);
    std::memcpy(Eval.pawnFile, pos.pawnFile, sizeof Eval.pawnFile);
}

void UpdatePhase(const Position& pos) {
    if (pos.material[WHITE] == Eval.phaseMaterial[WHITE] && pos.material[BLACK] == Eval.phaseMaterial[BLACK]) return;
    Eval.phaseMaterial[WHITE] = pos.material[WHITE];
    Eval.phaseMaterial[BLACK] = pos.material[BLACK];
    const int32_t npWhite = pos.material[WHITE] - PAWN_VALUE * PawnCount(pos, WHITE);
    const int32_t npBlack = pos.material[BLACK] - PAWN_VALUE * PawnCount(pos, BLACK);
    const int32_t balance = npWhite - npBlack;
    const int32_t sum = npWhite + npBlack;
    Eval.nonPawnBalance = balance;
    if (balance != 0) {
        const int p = std::min(PawnCount(pos, balance > 0 ? WHITE : BLACK), TRADE_PAWN_CAP);
        Eval.tradeBonus = (balance * p * 256) / (sum + TRADE_DIVISOR_OFFSET);
    } else {
        Eval.tradeBonus = 0;
    }
    if (sum <= PHASE_LOW_SUM) Eval.gamePhase = 1;
    else if (sum >= PHASE_HIGH_SUM) Eval.gamePhase = 16;
    else Eval.gamePhase = (sum - PHASE_OFFSET) / PHASE_STEP;
    Eval.phaseHalf = Eval.gamePhase >> 1;
    Eval.endWeight = 17 - Eval.gamePhase;
    Eval.endWeightHalf = Eval.endWeight >> 1;
    Eval.endWeightQuarter = Eval.endWeight >> 2;
    Eval.endWeightEighth = Eval.endWeight >> 3;
}

void SetDrawScore(int32_t storedDrawValue, Colour rootSide) {
    const int32_t stored = storedDrawValue;
    Eval.drawScore[rootSide] = -stored;
    Eval.drawScore[rootSide ^ 1] = stored;
}

// ---------------------------------------------------------------- per-search set-up
void PrepareEvaluation(const Position& pos, Colour rootSide, const EvalOptions& options) {
    Eval.options = options;
    Eval.rootSide = rootSide;
    for (int c = 0; c < 2; ++c) {
        Eval.threatShift[c] = 6;
        Eval.pawnThreatShift[c] = 5;
    }
    Eval.styleSide = STYLE_SIDE_NONE;
    if (options.style != PlayingStyle::NORMAL) {
        const Colour light = options.style == PlayingStyle::AGGRESSIVE ? rootSide : rootSide ^ 1;
        Eval.styleSide = light + 1;
        Eval.threatShift[light] = 7;
        Eval.pawnThreatShift[light] = 6;
    }
    for (int c = 0; c < 2; ++c) {
        Eval.lazyMarginHigh[c] = LAZY_MARGIN_START;
        Eval.lazyMarginLow[c] = -LAZY_MARGIN_START;
        Eval.rootMaterial[c] = pos.material[c];
    }

    const int8_t* edge = CENTRE_EDGE;
    for (int c = 0; c < 2; ++c) {
        const uint32_t knightAndBishop = SignatureStep::KNIGHT + SignatureStep::BISHOP;
        if (pos.materialSignature[c] == knightAndBishop && pos.materialSignature[c ^ 1] == 0) {
            edge = IsDarkSquare(BishopSquare(pos, c)) ? DARK_CORNER_EDGE : LIGHT_CORNER_EDGE.value;
        }
    }
    for (int sq = 0; sq < 64; ++sq) Eval.kingEdgeTable[sq] = edge[sq];

    SetDrawScore(options.drawValue, rootSide);
    Eval.swindleActive = false;

    Eval.phaseMaterial[WHITE] = Eval.phaseMaterial[BLACK] = -1;
    UpdatePhase(pos);
    RefreshPawnFiles(pos);
    BuildPieceTables(pos);
}

EvalOptions EvalOptionsFromSettings(uint32_t searchFlags, int32_t tablebaseMen) {
    EvalOptions o;
    const uint32_t style = (searchFlags & OptionFlag::PLAYING_STYLE) >> OptionFlag::PLAYING_STYLE_SHIFT;
    o.style = style == 1 ? PlayingStyle::AGGRESSIVE : style == 2 ? PlayingStyle::SOLID : PlayingStyle::NORMAL;
    o.hyperModern = (searchFlags & OptionFlag::HYPER_MODERN) != 0;
    o.drawValue = Settings.drawValue;
    o.useTablebases = (searchFlags & OptionFlag::USE_TABLEBASES) != 0;
    o.tablebaseDepth = static_cast<int32_t>(Settings.tablebaseDepth);
    o.tablebaseMen = tablebaseMen;
    return o;
}

// ---------------------------------------------------------------- positional score
int32_t EvaluatePositional(Position& pos, Colour side, Colour strongerSide, int32_t endgameType) {
    for (int c = 0; c < 2; ++c) {
        Eval.largestThreat[c] = 0;
        Eval.secondThreat[c] = 0;
    }
    UpdatePhase(pos);
    RefreshPawnFiles(pos);

    // The king term may preset the threats that the threat and pawn terms extend.
    int32_t total = EvaluateKings(pos);
    total += EvaluateThreats(pos);
    total += EvaluatePawns(pos, side == WHITE ? 1 : 0, side == BLACK ? 1 : 0);
    total += EvaluatePieces(pos);

    if (Eval.secondThreat[WHITE] != 0) total -= SECOND_THREAT_PENALTY;
    if (Eval.secondThreat[BLACK] != 0) total += SECOND_THREAT_PENALTY;
    total += (Eval.secondThreat[BLACK] >> Eval.threatShift[BLACK]) -
             (Eval.secondThreat[WHITE] >> Eval.threatShift[WHITE]);

    const Colour weaker = strongerSide ^ 1;
    const int32_t strongerSign = strongerSide == WHITE ? 1 : -1;
    bool oppositeBishopCandidate = false;
    if (endgameType == EndgameType::ROOK_TWO_PAWNS_VS_ROOK) {
        uint32_t pawns = pos.pawnSlots[strongerSide];
        if (SlotCount(pawns) == 2) {
            const int a = pos.slotSquare[strongerSide][std::countr_zero(pawns) & 15];
            pawns &= pawns - 1;
            const int b = pos.slotSquare[strongerSide][std::countr_zero(pawns) & 15];
            if (FileOf(a) == FileOf(b)) total -= strongerSign * DOUBLED_ROOK_PAWNS_PENALTY;
        }
    } else if (endgameType == EndgameType::ORDINARY) {
        if (pos.material[strongerSide] >= pos.material[weaker] + QUEEN_VALUE && PawnCount(pos, weaker) == 0) {
            const int ks = KingSquare(pos, strongerSide);
            const int kw = KingSquare(pos, weaker);
            const int32_t mopUp = MOP_UP_BASE - Eval.kingEdgeTable[kw] - 2 * std::abs(FileOf(ks) - FileOf(kw)) -
                                  2 * std::abs(RankOf(ks) - RankOf(kw));
            total += strongerSign * mopUp;
        } else {
            oppositeBishopCandidate = true;
        }
    }

    if (oppositeBishopCandidate) total = ScaleOppositeBishops(pos, strongerSide, total);
    if (side == BLACK) total = -total;

    if (total > Eval.lazyMarginHigh[side]) Eval.lazyMarginHigh[side] = total;
    else if (total < Eval.lazyMarginLow[side]) Eval.lazyMarginLow[side] = total;
    return total;
}

// ---------------------------------------------------------------- tablebase step
bool WantsTablebaseProbe(const Position& pos, int32_t ply, int32_t depth) {
    const EvalOptions& opt = Eval.options;
    if (!opt.useTablebases) return false;
    const bool root = ply <= 2 && depth == HORIZON_DEPTH;
    const bool afterCapture = depth >= opt.tablebaseDepth && (pos.undoStack[pos.undoTop].move & TABLEBASE_MOVE_KINDS) != 0;
    if (!root && !afterCapture) return false;
    const int men = SlotCount(pos.liveSlots[WHITE]) + SlotCount(pos.liveSlots[BLACK]);
    return men >= 3 && men <= opt.tablebaseMen;
}

int32_t TablebaseScore(const Position& pos, Colour side, int32_t ply, int32_t distance, int32_t& kind) {
    if (distance == 0) {
        kind = EvalKind::TABLEBASE_DRAW;
        return ((pos.material[side] - pos.material[side ^ 1]) >> 7) + DrawScore(side);
    }
    if (distance > 0) {
        kind = EvalKind::WIN;
        return MATE + 2 - 2 * distance - ply;
    }
    kind = EvalKind::LOSS;
    return ply - 2 * distance - (MATE + 1);
}

// ---------------------------------------------------------------- the driver
int32_t Evaluate(Position& pos, Colour side, int32_t ply, int32_t depth, int32_t alpha, int32_t beta) {
    const Colour other = side ^ 1;
    PlyRecord& rec = UndoTop(pos);
    Eval.secondThreat[side] = 0;
    if (ply >= Eval.plyLimit) depth = HORIZON_DEPTH;
    const bool inCheck = (rec.checkFlag & IN_CHECK_FLAG) != 0;
    int32_t base = pos.material[side] - pos.material[other] + TEMPO_BONUS;
    int32_t score = 0;
    int32_t kind = EvalKind::ORDINARY;
    int32_t endgameType = EndgameType::ORDINARY;

    // Stalemate with nothing but a few pawns.
    if (!inCheck && (pos.materialSignature[side] >> 16) < STALEMATE_PIECE_LIMIT && IsPawnStalemate(pos, side)) {
        score = DrawScore(side);
        StoreResult(pos, side, score, EvalKind::STALEMATE);
        return score;
    }

    // Tablebases at the root and after captures and promotions deep enough.
    if (WantsTablebaseProbe(pos, ply, depth)) {
        const TablebaseResult tb = ProbeTablebase(pos, side);
        if (tb.found && !(tb.distance == 0 && Eval.swindleActive)) {
            score = TablebaseScore(pos, side, ply, tb.distance, kind);
            rec.checkFlag = static_cast<uint16_t>(rec.checkFlag | KindFlag(kind) | EvalFlag::FULL |
                                                  EvalFlag::AT_HORIZON);
            WritePlyWord(rec, PlyEvalWord::SCORE, score);
            return score;
        }
    }

    // Evaluation cache.
    CachedEvaluation cached;
    if (ProbeEvalCache(pos, side, cached)) {
        rec.checkFlag = static_cast<uint16_t>(rec.checkFlag | cached.flags);
        score = cached.score;
        WritePlyWord(rec, PlyEvalWord::SCORE, score);
        WritePlyWord(rec, PlyEvalWord::THREAT, cached.threatWord);
        WritePlyWord(rec, PlyEvalWord::KING, cached.kingWord);
        kind = KindOfFlags(cached.flags);
        if (depth == HORIZON_DEPTH) {
            rec.checkFlag |= EvalFlag::AT_HORIZON;
            if (kind == EvalKind::ORDINARY && EndgameTypeOf(pos, side) != EndgameType::BISHOP_PAWNS) {
                const int32_t t = inCheck ? pos.hangingTotal[other] / 2 : pos.hangingTotal[other];
                if (t > 0) return score + t;
            }
        }
        return score;
    }

    const Colour stronger = pos.material[WHITE] >= pos.material[BLACK] ? WHITE : BLACK;
    const Colour weaker = stronger ^ 1;
    int32_t scale = FULL_SCALE;
    int32_t scaleFlags = 0;
    bool drawClass = false;
    bool skipScaling = false;

    // Material classes of small balances.
    if (InClassRange(pos)) {
        const uint8_t byte = ClassifyMaterial(pos, side);
        scaleFlags = byte & ClassByte::SCALE_BITS;
        if ((byte & ClassByte::SPECIAL) == 0) {
            base += ((byte & ClassByte::LOW_BITS) - 16) * CORRECTION_UNIT;
        } else {
            endgameType = byte & ClassByte::LOW_BITS;
            int32_t bonus = 0;
            switch (endgameType) {
                case EndgameType::DRAWN:
                    kind = EvalKind::DRAW;
                    drawClass = true;
                    break;
                case EndgameType::MINOR_DRAW:
                    if (!IsCorner(KingSquare(pos, other))) {
                        kind = EvalKind::DRAW;
                        drawClass = true;
                    } else {
                        score = DrawScore(side);
                        skipScaling = true;
                    }
                    break;
                case EndgameType::ROOK_PAWN_VS_ROOK:
                    bonus = EvaluateRookPawnVsRook(pos, stronger, scale);
                    break;
                case EndgameType::QUEEN_VS_PAWN:
                    bonus = EvaluateQueenVsPawn(pos, side, stronger, kind);
                    break;
                case EndgameType::BISHOP_PAWNS:
                case EndgameType::BISHOP_PAWNS_VS_KING:
                    bonus = EvaluateBishopRookPawn(pos, side, stronger, scale, kind);
                    if (pos.material[weaker] == 0) endgameType = EndgameType::LONE_KING;
                    break;
                default:
                    break;
            }
            if (!drawClass && !skipScaling) {
                if (IsDrawKind(kind)) drawClass = true;
                else base += side == stronger ? bonus : -bonus;
            }
        }
    } else if (pos.material[WHITE] == 0 || pos.material[BLACK] == 0) {
        endgameType = EndgameType::LONE_KING;
    }

    if (!drawClass && !skipScaling) {
        // Pawnless: drive the kings, and equal material is nearly a draw.
        if (pos.pawnSlots[WHITE] == 0 && pos.pawnSlots[BLACK] == 0) {
            const int8_t* edge = Eval.kingEdgeTable;
            const int kw = KingSquare(pos, WHITE);
            const int kb = KingSquare(pos, BLACK);
            const int distance = KingDistance(kw, kb);
            int32_t t = 0;
            if (pos.material[WHITE] == pos.material[BLACK]) {
                t = edge[kw] - edge[kb];
                scale = QUARTER_SCALE;
            } else if (pos.material[WHITE] > pos.material[BLACK] && pos.material[WHITE] > PAWNLESS_MINOR_LIMIT) {
                t = PAWNLESS_KING_BASE - 16 * distance - edge[kb];
            } else if (pos.material[BLACK] > pos.material[WHITE] && pos.material[BLACK] > PAWNLESS_MINOR_LIMIT) {
                t = -(PAWNLESS_KING_BASE - 16 * distance - edge[kw]);
            }
            base += side == WHITE ? t : -t;
        }

        base += (pos.hangingTotal[other] >> Eval.threatShift[other]) -
                (pos.hangingTotal[side] >> Eval.threatShift[side]);

        const bool full = depth > 0 || depth == HORIZON_DEPTH ||
                          (!inCheck && (endgameType >= EndgameType::LONE_KING ||
                                        (alpha < base + Eval.lazyMarginHigh[side] &&
                                         base + Eval.lazyMarginLow[side] < beta)));
        if (!full) {
            // The parent's score, turned to this side, less what the last move took.
            const int32_t parent = pos.undoTop > 0 ? PlyEvalScore(pos.undoStack[pos.undoTop - 1]) : -base;
            score = 2 * TEMPO_BONUS - parent - pos.moveGain;
        } else {
            rec.checkFlag |= EvalFlag::FULL;
            // The pawn term comes after the king and threat terms: time enough to load its entry.
            PrefetchPawnCache(pos);
            XrayExtension ext;
            ExtendBehindKing(pos, side, ext);
            switch (endgameType) {
                case EndgameType::LONE_KING:
                case EndgameType::BISHOP_PAWNS_VS_KING:
                    score = base + EvaluateLoneKing(pos, side, stronger);
                    if (ply > 5 && ply >= Eval.iterationDepth &&
                        pos.material[stronger] - pos.hangingTotal[stronger] >=
                            pos.material[weaker] + LONE_KING_DECIDED_MARGIN &&
                        Eval.rootMaterial[stronger] < Eval.rootMaterial[weaker] + LONE_KING_DECIDED_MARGIN) {
                        if (score > DECIDED_SCORE) kind = EvalKind::WIN;
                        else if (score < -DECIDED_SCORE) kind = EvalKind::LOSS;
                    }
                    break;
                case EndgameType::PAWN_ENDING:
                    score = EvaluatePawnEnding(pos, side, base);
                    break;
                case EndgameType::KING_PAWN_VS_KING:
                    score = EvaluateKingPawnVsKing(pos, side, stronger, kind, pos.attackMap[stronger]);
                    break;
                default:
                    score = base + EvaluatePositional(pos, side, stronger, endgameType);
                    break;
            }
            RemoveExtension(pos, side, ext);
            if (IsDrawKind(kind)) drawClass = true;
        }

        if (!drawClass && kind == EvalKind::ORDINARY) {
            const int32_t draw = DrawScore(side);
            if ((scaleFlags & ClassByte::SIDE_CANNOT_WIN) && score > draw && scale > QUARTER_SCALE) scale = HALF_SCALE;
            if ((scaleFlags & ClassByte::OTHER_CANNOT_WIN) && score < draw && scale > QUARTER_SCALE) scale = HALF_SCALE;
            if (scale != FULL_SCALE) score = (scale * score) >> 4;
        }
    }

    if (drawClass) score = ((pos.material[side] - pos.material[other]) >> 7) + DrawScore(side);
    StoreResult(pos, side, score, kind);

    if (depth == HORIZON_DEPTH) {
        rec.checkFlag |= EvalFlag::AT_HORIZON;
        if (kind == EvalKind::ORDINARY && endgameType != EndgameType::BISHOP_PAWNS) {
            const int32_t t = inCheck ? pos.hangingTotal[other] / 2 : pos.hangingTotal[other];
            if (t > 0) return score + t;
        }
    }
    return score;
}

// ---------------------------------------------------------------- "eval" command
std::string EvalReport(Position& pos) {
    const Colour side = pos.sideToMove;
    PlyRecord& rec = UndoTop(pos);
    const PlyRecord saved = rec;
    rec.checkFlag = static_cast<uint16_t>(rec.checkFlag & IN_CHECK_FLAG);

    const int32_t score = Evaluate(pos, side, 1, HORIZON_DEPTH, -2 * MATE, 2 * MATE);
    const int32_t whiteTotal = side == WHITE ? score : -score;

    // The main terms again, each from White's view.
    UpdatePhase(pos);
    RefreshPawnFiles(pos);
    rec.checkFlag = static_cast<uint16_t>(saved.checkFlag & IN_CHECK_FLAG);
    const int32_t kings = EvaluateKings(pos);
    const int32_t threats = EvaluateThreats(pos);
    const int32_t pawns = EvaluatePawns(pos, side == WHITE ? 1 : 0, side == BLACK ? 1 : 0);
    const int32_t pieces = EvaluatePieces(pos);
    rec = saved;

    auto centipawns = [](int32_t v) { return v * 100 / PAWN_VALUE; };
    char line[128];
    std::string out;
    std::snprintf(line, sizeof line, "eval material %d\n", centipawns(pos.material[WHITE] - pos.material[BLACK]));
    out += line;
    std::snprintf(line, sizeof line, "eval phase %d\n", Eval.gamePhase);
    out += line;
    std::snprintf(line, sizeof line, "eval kings %d\n", centipawns(kings));
    out += line;
    std::snprintf(line, sizeof line, "eval threats %d\n", centipawns(threats));
    out += line;
    std::snprintf(line, sizeof line, "eval pawns %d\n", centipawns(pawns));
    out += line;
    std::snprintf(line, sizeof line, "eval pieces %d\n", centipawns(pieces));
    out += line;
    std::snprintf(line, sizeof line, "eval total %d\n", centipawns(whiteTotal));
    out += line;
    return out;
}

}  // namespace tavrix
