// Pawn structure: shield, blockage, chains, weak pawns, the storm and passed pawns.
#include "eval/pawns.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include "eval/eval_cache.h"
#include "eval/eval_geometry.h"
#include "eval/pieces.h"
#include "eval/evaluate.h"

namespace tavrix {

using namespace geometry;

namespace {

// Tables by rank counted from the pawn's own side, by file, or by White-view square.
constexpr int8_t UNSUPPORTED_PAWN[64] = {
    0, 0, 0, 0, 0, 0, 0, 0,  3, 4, 6, 9, 9, 6, 4, 3,  2, 3, 5, 7, 7, 5, 3, 2,  1, 2, 3, 4, 4, 3, 2, 1,
    0, 0, 1, 2, 2, 1, 0, 0,  0, 0, 0, 0, 0, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0, 0,
};
constexpr int BLOCKADER_PENALTY[8] = {0, 0, 8, 6, 4, 2, 6, 0};   // by PieceType of the blocker
constexpr int ISOLATED_PAWN[8] = {4, 6, 8, 10, 10, 8, 6, 4};
constexpr int BACKWARD_RANK_PENALTY[8] = {0, 12, 8, 4, 2, 1, 1, 1};
constexpr int PASSER_BASE[8] = {8, 12, 12, 30, 66, 120, 192, 264};
constexpr int PASSER_SUPPORTED[8] = {0, 3, 3, 12, 33, 63, 99, 0};
constexpr int PASSER_FREE[8] = {0, 1, 1, 4, 11, 21, 33, 0};
constexpr int STORM_RANK[8] = {0, 0, 0, 2, 3, 3, 3, 0};
constexpr int SHIELD_FILE_CLASS[8] = {1, 1, 1, 2, 2, 1, 0, 0};
constexpr int RANK_CENTRALITY[8] = {0, 1, 2, 3, 3, 2, 1, 0};

constexpr int ROOK_BEHIND_BONUS = 17;
constexpr int ENEMY_ROOK_BEHIND_PENALTY = 21;
constexpr int UNSTOPPABLE_BONUS = 160;
constexpr int BLOCKED_CENTRE_PAWN_PENALTY = 20;
constexpr int OPEN_ISOLATED_EXTRA = 8;
constexpr int BACKWARD_PENALTY = 3;
constexpr int OPEN_BACKWARD_PENALTY = 11;
constexpr int MAX_STORM_SHIFT = 10;

constexpr auto ReverseByte = [] {
    std::array<uint8_t, 256> t{};
    for (int b = 0; b < 256; ++b) {
        int r = 0;
        for (int i = 0; i < 8; ++i)
            if (b & (1 << i)) r |= 1 << (7 - i);
        t[b] = static_cast<uint8_t>(r);
    }
    return t;
}();

// Adjacent-file structure, one entry per neighbouring file, indexed by that file's own pawn
// ranks 1..5 and enemy pawn ranks 2..6 (ranks counted from the own side):
//   bit r      a pawn on rank r can be supported: an own pawn behind it on this file can
//              reach rank r - 1 without passing an enemy pawn;
//   bit 8 + r  an own pawn on this file stands on rank r or can reach it, so it can guard
//              the square in front of a pawn on rank r.
constexpr int ADJACENT_INDEX_COUNT = 1024;
constexpr bool CanReach(int own, int enemy, int target) {
    for (int s = 1; s <= target; ++s) {
        if (!(own & (1 << s))) continue;
        bool blocked = false;
        for (int x = s + 1; x <= target; ++x)
            if (enemy & (1 << x)) blocked = true;
        if (!blocked) return true;
    }
    return false;
}
constexpr auto AdjacentFileTable = [] {
    std::array<uint16_t, ADJACENT_INDEX_COUNT> t{};
    for (int index = 0; index < ADJACENT_INDEX_COUNT; ++index) {
        const int own = (index & 31) << 1;
        const int enemy = ((index >> 5) & 31) << 2;
        int entry = 0;
        for (int r = 1; r <= 6; ++r) {
            if (CanReach(own, enemy, r - 1)) entry |= 1 << r;
            if (CanReach(own, enemy, r)) entry |= 1 << (8 + r);
        }
        t[index] = static_cast<uint16_t>(entry);
    }
    return t;
}();
constexpr uint16_t AdjacentStructure(int ownByte, int enemyByte) {
    return AdjacentFileTable[((ownByte >> 1) & 31) | (((enemyByte >> 2) & 31) << 5)];
}

// Files whose pawns shield a king that may still castle; 0 when it may not.
uint8_t ShieldFiles(const Position& pos, Colour us) {
    const int king = KingSquare(pos, us);
    if (pos.moveCount[king] != 0) return 0;
    const int home = us == WHITE ? 0 : 56;
    auto unmovedRook = [&](int sq) {
        return pos.pieceType[sq] == ROOK && pos.pieceColour[sq] == us && pos.moveCount[sq] == 0;
    };
    const bool queenRook = unmovedRook(home), kingRook = unmovedRook(home + 7);
    uint8_t files = 0;
    if (queenRook) files |= 0x03;
    if (kingRook) files |= 0xE0;
    if (queenRook && !kingRook) files |= 0x38;
    return files;
}

bool IsOwnBishop(const Position& pos, int sq, Colour us) {
    return pos.pieceType[sq] == BISHOP && pos.pieceColour[sq] == us;
}

inline int LowestSquare(uint64_t set) { return __builtin_ctzll(set); }
constexpr uint64_t SquareBit(int sq) { return uint64_t{1} << sq; }
constexpr uint64_t FILE_A_BITS = 0x0101010101010101ull;

// Where a square's shade sits in a word of two shade sums: light low, dark high.
constexpr int ShadeShift(int sq) { return 16 * Shade(sq); }

// What a piece in front of a pawn adds to the shade it covers, placed in the shade's half.
constexpr auto BlockedShade = [] {
    std::array<uint32_t, 64> t{};
    for (int sq = 0; sq < 64; ++sq) {
        const int centrality = Centrality[sq];
        t[sq] = uint32_t((centrality / 2 + centrality) / 2 - centrality / 2) << ShadeShift(sq);
    }
    return t;
}();

// By file: byte k holds the file distance to file k. The candidates' sums stay below 64 a
// byte, so one word adds all eight.
constexpr auto FileDistanceBytes = [] {
    std::array<uint64_t, 8> t{};
    for (int f = 0; f < 8; ++f)
        for (int k = 0; k < 8; ++k) t[f] |= uint64_t(f > k ? f - k : k - f) << (8 * k);
    return t;
}();

// The squares within king distance 2 of a square, where a pawn can shield a king whose
// zone is centred there.
constexpr auto ShieldReach = [] {
    std::array<uint64_t, 64> t{};
    for (int c = 0; c < 64; ++c)
        for (int sq = 0; sq < 64; ++sq)
            if (KingDistance(c, sq) < 3) t[c] |= SquareBit(sq);
    return t;
}();

// The shape part of the weak-pawn terms: what the pawns alone decide.
struct WeakShape {
    int32_t penalty;        // unsupported, backward and the hits on the advance square
    bool weak;              // neither supportable nor covered: the terms apply
    bool isolated;
    bool backward;
    bool guardCompared;     // backward and not rammed: the attack counts on the pawn matter
};

// Inlined into the pawn facts, which compute most of its inputs themselves.
[[gnu::always_inline]] inline WeakShape WeakPawnShape(const Position& pos, Colour us, int sq, const uint8_t own[10],
                                                      const uint8_t opp[10], bool openToHeavy) {
    const Colour them = us ^ 1;
    const int flip = us == WHITE ? 0 : 56;
    const int f = FileOf(sq);
    const int r = RankOf(sq ^ flip);
    const int front = sq + (us == WHITE ? 8 : -8);
    const bool rammed = IsPieceOf(pos, front, them) && pos.pieceType[front] == PAWN;
    const int ahead = (0xFF << (r + 1)) & 0xFF;
    const int ownLeft = own[f], ownRight = own[f + 2], oppLeft = opp[f], oppRight = opp[f + 2];
    const bool pawnAhead = ((own[f + 1] | opp[f + 1]) & ahead) != 0;
    const uint16_t structure = AdjacentStructure(ownLeft, oppLeft) | AdjacentStructure(ownRight, oppRight);
    const bool supportable = (structure >> r) & 1;
    const bool canGuardAdvance = (structure >> (8 + r)) & 1;
    const bool enemyControlsAdvance = (((oppLeft | oppRight) >> (r + 2)) & 3) != 0;
    const bool ownGuardsFront = PawnAttackCount(AttackOf(pos, us, front)) > 0;

    WeakShape t{};
    if (supportable || (ownGuardsFront && !pawnAhead)) return t;
    t.weak = true;
    if (PawnAttackCount(AttackOf(pos, us, sq)) == 0 && !rammed) t.penalty += UNSUPPORTED_PAWN[sq ^ flip];
    t.isolated = (ownLeft | ownRight) == 0;
    // An isolated pawn can be backward as well.
    if (enemyControlsAdvance && !canGuardAdvance) {
        t.backward = true;
        t.penalty += openToHeavy ? OPEN_BACKWARD_PENALTY : BACKWARD_PENALTY;
        if (!rammed) {
            const int enemyHits = PawnAttackCount(AttackOf(pos, them, front));
            const int ownHits = PawnAttackCount(AttackOf(pos, us, front));
            if (enemyHits > ownHits) {
                const int pen = UNSUPPORTED_PAWN[front ^ flip] + BACKWARD_RANK_PENALTY[r + 1];
                t.penalty += enemyHits >= ownHits + 2 ? 2 * pen : pen;
            }
            t.guardCompared = true;
        }
    }
    return t;
}

// The piece part of the weak-pawn terms of a weak pawn: an enemy piece blocking it, and
// whether it is attacked more often than defended.
int32_t WeakPawnPieces(const Position& pos, Colour us, int sq, bool guardCompared) {
    const Colour them = us ^ 1;
    const int front = sq + (us == WHITE ? 8 : -8);
    int32_t penalty = IsPieceOf(pos, front, them) ? BLOCKADER_PENALTY[pos.pieceType[front]] : 0;
    if (guardCompared && AttackOf(pos, us, sq).attackerCount >= AttackOf(pos, them, sq).attackerCount) penalty -= 4;
    return penalty;
}

// The passed-pawn term of the pawn on sq; feeds the other side's threat lists.
int32_t PassedPawn(Position& pos, Colour us, int sq, int32_t themToMove) {
    const Colour them = us ^ 1;
    const int fwd = us == WHITE ? 8 : -8;
    const int forwardDir = us == WHITE ? 1 : 3;
    const int flip = us == WHITE ? 0 : 56;
    const int ourKing = KingSquare(pos, us), theirKing = KingSquare(pos, them);
    const int themPoints = static_cast<int>(pos.materialSignature[them] & 0xFF);
    const bool themNoPieces = ((pos.materialSignature[them] >> 8) & 0xFF) == 0;
    const int f = FileOf(sq);
    const int r = RankOf(sq ^ flip);
    const int front = sq + fwd;
    const bool frontOccupied = HasPiece(pos, front);
    const bool ownGuardsFront = PawnAttackCount(AttackOf(pos, us, front)) > 0;
    const bool enemyAttacksPawn = PawnAttackCount(AttackOf(pos, them, sq)) > 0;
    const bool ownDefendsPawn = PawnAttackCount(AttackOf(pos, us, sq)) > 0;
    int32_t v = 0;

    int32_t p = 0;
    if (!enemyAttacksPawn && (ownDefendsPawn || ownGuardsFront))
        p = PASSER_SUPPORTED[r];
    else if (!enemyAttacksPawn && !frontOccupied && r < 6 && PawnAttackCount(AttackOf(pos, us, front + fwd)) > 0)
        p = PASSER_FREE[r];

    // Rooks and queens behind the pawn.
    int support = 0;
    for (SlotMask s = AttackOf(pos, us, sq).attackerSlots & pos.straightSlots[us]; s; s &= s - 1)
        if (LineDirection(pos.slotSquare[us][LowestSlot(s)], sq) == forwardDir) {
            p += ROOK_BEHIND_BONUS;
            ++support;
        }
    for (SlotMask s = AttackOf(pos, them, sq).attackerSlots & pos.straightSlots[them]; s; s &= s - 1)
        if (LineDirection(pos.slotSquare[them][LowestSlot(s)], sq) == forwardDir) {
            p -= ENEMY_ROOK_BEHIND_PENALTY;
            --support;
        }

    // Kings.
    const int promotion = MakeSquare(f, 7) ^ flip;
    const int dK = KingDistance(ourKing, sq) - KingDistance(theirKing, sq) + themToMove;
    const int dQ = KingDistance(ourKing, promotion) - KingDistance(theirKing, promotion) + themToMove;
    if (themPoints < 4) {
        if (dK < 0 && dQ < 0) ++support;
        else if (dK > 0 && dQ > 0) --support;
    }

    // The path to the promotion square.
    int a = PASSER_BASE[r], k = 2, blockers = 0;
    for (int u = front;; u += fwd) {
        if (!HasPiece(pos, u)) {
            if (AttackOf(pos, us, u).attackerCount - AttackOf(pos, them, u).attackerCount + support < 0) {
                a -= a >> (k + 1);
                k += 2;
            } else {
                k += 1;
                a += a >> k;
            }
        } else {
            ++blockers;
            if (IsPieceOf(pos, u, them) && pos.hangingValue[u] == 0) {
                a -= a >> k;
                k += 1;
            }
            k += 2;
        }
        if (u == promotion) break;
    }
    p = p - 2 * dK - 2 * dQ + (a >> (k - 8 + r)) + a;

    // Square rule.
    const int q = (r == 1 ? 1 : 0) - blockers - themToMove + KingDistance(theirKing, promotion) - 7 + r;
    if (q > 0) p += (q + 4) << Eval.endWeightEighth;
    if (themPoints < 4) {
        if (q > 0 && themNoPieces) p += UNSTOPPABLE_BONUS;
        else if (q <= 0 && dK <= 0 && dQ < 0) p += a >> 1;
        if (q > 0 && k - 7 + r == 2) p += a >> 2;
    }
    const int32_t w = (((Eval.gamePhase >> 3) + Eval.endWeight) * p) >> 4;
    v += w;

    // A pawn one step from promotion.
    if (r == 6) {
        int32_t g = 0;
        if (!HasPiece(pos, promotion)) {
            const AttackRecord& er = AttackOf(pos, them, promotion);
            if (er.attackWeight == 0) {
                g = QUEEN_VALUE;
            } else {
                int defIndex = AttackIndex(AttackOf(pos, us, promotion));
                for (SlotMask s = AttackOf(pos, us, sq).attackerSlots & pos.straightSlots[us]; s; s &= s - 1) {
                    const int from = pos.slotSquare[us][LowestSlot(s)];
                    if (LineDirection(from, sq) == forwardDir) defIndex += AttackWeightOf[pos.pieceType[from]];
                }
                g = std::min(ExchangeReturn(defIndex, AttackIndex(er)), QUEEN_VALUE);
            }
        } else if (IsPieceOf(pos, promotion, them)) {
            g = pos.hangingValue[promotion];
        }
        g = g - PAWN_VALUE - w;
        if (g > 0) {
            const int shift = Eval.pawnThreatShift[them];
            v += g >> shift;
            if (g > Eval.largestThreat[them]) {
                if (pos.sideToMove == them && pos.hangingValue[sq] != 0) {
                    Eval.secondThreat[them] = Eval.largestThreat[them];
                    Eval.largestThreat[them] = g;
                } else {
                    v += g >> shift;
                    Eval.largestThreat[them] = g;
                    Eval.secondThreat[them] = g;
                }
            } else if (g > Eval.secondThreat[them]) {
                Eval.secondThreat[them] = g;
            }
        }
    }
    return v;
}

}  // namespace

void RelativePawnFiles(const Position& pos, Colour us, uint8_t own[10], uint8_t opp[10]) {
    own[0] = own[9] = opp[0] = opp[9] = 0;
    for (int f = 0; f < 8; ++f) {
        own[f + 1] = us == WHITE ? PawnFileBits(pos, us, f) : ReverseByte[PawnFileBits(pos, us, f)];
        opp[f + 1] = us == WHITE ? PawnFileBits(pos, us ^ 1, f) : ReverseByte[PawnFileBits(pos, us ^ 1, f)];
    }
}

WeakPawnTerms WeakPawn(const Position& pos, Colour us, int sq, const uint8_t own[10], const uint8_t opp[10],
                       bool openToHeavy) {
    const WeakShape shape = WeakPawnShape(pos, us, sq, own, opp, openToHeavy);
    WeakPawnTerms t{};
    if (!shape.weak) return t;
    t.penalty = shape.penalty + WeakPawnPieces(pos, us, sq, shape.guardCompared);
    t.isolated = shape.isolated;
    t.backward = shape.backward;
    return t;
}

uint64_t PawnSquares(const Position& pos, Colour c) {
    // The pawn-file bytes hold bit 8 * file + rank; mirroring that 8 x 8 matrix on its
    // diagonal gives bit 8 * rank + file, the square.
    uint64_t x = PawnFileWord(pos, c);
    uint64_t t = 0x0F0F0F0F00000000ull & (x ^ (x << 28));
    x ^= t ^ (t >> 28);
    t = 0x3333000033330000ull & (x ^ (x << 14));
    x ^= t ^ (t >> 14);
    t = 0x5500550055005500ull & (x ^ (x << 7));
    x ^= t ^ (t >> 7);
    return x;
}

namespace {

template <Colour us>
void FindSideFacts(const Position& pos, PawnSideFacts& facts) {
    constexpr Colour them = us ^ 1;
    constexpr int fwd = us == WHITE ? 8 : -8;
    constexpr int flip = us == WHITE ? 0 : 56;
    const int level = Eval.stormLevel[us];
    facts = PawnSideFacts{};

    // Pawn bytes seen from our side: bit r = a pawn on our rank r; index file + 1.
    uint8_t own[10], opp[10];
    RelativePawnFiles(pos, us, own, opp);

    int32_t base = 0;
    int stormHalves = 0;
    // Both shades in one register word, light in the low half: byte arrays written a byte
    // at a time and read as a pair stall on store forwarding.
    uint32_t shade = 0;
    uint64_t candidateFiles = 0;
    for (SlotMask pawns = pos.pawnSlots[us]; pawns; pawns &= pawns - 1) {
        const int sq = pos.slotSquare[us][LowestSlot(pawns)];
        const uint64_t bit = SquareBit(sq);
        const int f = FileOf(sq);
        const int r = RankOf(sq ^ flip);
        const int front = sq + fwd;
        const bool frontPawn = pos.pieceType[front] == PAWN;
        const bool rammed = frontPawn && IsPieceOf(pos, front, them);
        const bool ownGuardsFront = PawnAttackCount(AttackOf(pos, us, front)) > 0;
        const bool enemyAttacksPawn = PawnAttackCount(AttackOf(pos, them, sq)) > 0;
        const int ahead = (0xFF << (r + 1)) & 0xFF;
        const int32_t table = Eval.pieceTables[PAWN][us][sq];
        base += table;

        // The shade the pawns cover; a piece in front is added by the score.
        const int centrality = Centrality[sq];
        if (!frontPawn) {
            facts.freeFront |= bit;
            shade += uint32_t(centrality / 2) << ShadeShift(sq);
        } else if (rammed && !enemyAttacksPawn && !ownGuardsFront) {
            shade += uint32_t(centrality) << ShadeShift(sq);
        } else {
            shade += uint32_t((centrality / 2 + centrality) / 2) << ShadeShift(sq);
        }

        // Chain, as without a king shield; the score corrects the shield pawns.
        if (ownGuardsFront && r >= 3) base += ((table + 8) >> 2) + r;

        // Weak, isolated and backward pawns; the open-file costs wait for the enemy's rooks.
        const int ownLeft = own[f], ownRight = own[f + 2], oppLeft = opp[f], oppRight = opp[f + 2];
        const bool pawnAhead = ((own[f + 1] | opp[f + 1]) & ahead) != 0;
        const bool openAhead = !pawnAhead;
        const WeakShape weak = WeakPawnShape(pos, us, sq, own, opp, false);
        if (weak.weak) facts.weak |= bit;
        if (weak.guardCompared) facts.guardCompared |= bit;
        base -= weak.penalty;
        if (weak.backward && openAhead) ++facts.openBackward;
        if (weak.isolated) {
            base -= ISOLATED_PAWN[f];
            ++facts.isolated;
            if (openAhead) ++facts.openIsolated;
        }

        // Doubled.
        if (PopCount(own[f + 1]) > 1) {
            base -= 4;
            ++facts.doubled;
            if (weak.backward) base -= 5;
        }

        // Storm against a king on the other wing, or on the same one.
        if (level != STORM_NONE && (Eval.stormZone[us] >> f) & 1) {
            stormHalves -= 4;
            if (r >= 3 && level == 0) {
                if (!frontPawn || enemyAttacksPawn || ownGuardsFront) stormHalves += 2 * STORM_RANK[r];
            } else if (r >= 3 && level == 2) {
                const int enemyAhead = PopCount(oppLeft & ahead) + PopCount(oppRight & ahead);
                const int ownAhead = PopCount(ownLeft & ahead) + PopCount(ownRight & ahead);
                if (enemyAhead <= ownAhead)
                    stormHalves += frontPawn && (enemyAttacksPawn || ownGuardsFront) ? STORM_RANK[r] : 2 * STORM_RANK[r];
            }
        }

        const bool passed = !pawnAhead && !weak.backward && ((oppLeft | oppRight) & ahead) == 0;
        if (passed) {
            facts.passed |= bit;
        } else if (PawnAttackCount(AttackOf(pos, us, front)) >= PawnAttackCount(AttackOf(pos, them, front))) {
            // Candidate passer: its advance square is held at least as well as attacked.
            ++facts.candidates;
            facts.candidateRanks = static_cast<uint8_t>(facts.candidateRanks + (r == 2 ? r - 1 : r));
            candidateFiles += FileDistanceBytes[f];
        }
    }
    facts.base = base;
    facts.stormHalves = static_cast<int16_t>(stormHalves);
    facts.shade[0] = static_cast<uint8_t>(shade);
    facts.shade[1] = static_cast<uint8_t>(shade >> 16);
    std::memcpy(facts.candidateFiles, &candidateFiles, sizeof facts.candidateFiles);
}

// The king shield of `us`'s pawns with the chain bonus it raises.
template <Colour us>
int32_t KingShield(const Position& pos, uint64_t pawns, uint8_t shieldFiles, int zoneCentre) {
    constexpr Colour them = us ^ 1;
    constexpr int fwd = us == WHITE ? 8 : -8;
    constexpr int flip = us == WHITE ? 0 : 56;
    uint64_t reach = 0;
    if (shieldFiles != 0) {
        for (int f = 0; f < 8; ++f)
            if (shieldFiles & (1 << f)) reach |= FILE_A_BITS << f;
    } else {
        reach = ShieldReach[zoneCentre];
    }
    int32_t total = 0;
    for (uint64_t m = pawns & reach; m; m &= m - 1) {
        const int sq = LowestSquare(m);
        const int f = FileOf(sq);
        const int r = RankOf(sq ^ flip);
        int b = 0;
        if (shieldFiles != 0) {
            b = SHIELD_FILE_CLASS[f] == 0 ? Eval.phaseHalf + 2 * Eval.gamePhase : 2 * Eval.gamePhase;
            b >>= RANK_CENTRALITY[r];
        } else {
            const int d = KingDistance(zoneCentre, sq);
            b = (f >= 2 && f <= 5) ? 2 * Eval.gamePhase : 3 * Eval.gamePhase;
            b >>= std::max(0, d - 1 + RANK_CENTRALITY[r]);
        }
        if (b == 0) continue;
        const bool ownGuardsFront = PawnAttackCount(AttackOf(pos, us, sq + fwd)) > 0;
        const bool enemyAttacksPawn = PawnAttackCount(AttackOf(pos, them, sq)) > 0;
        if ((f <= 1 || f >= 6) && (ownGuardsFront || enemyAttacksPawn)) b += b >> 2;
        total += b;
        if (ownGuardsFront && r >= 3) {
            const int32_t table = Eval.pieceTables[PAWN][us][sq];
            total += ((table + b + 8) >> 2) - ((table + 8) >> 2);
        }
    }
    return total;
}

}  // namespace

void FindPawnFacts(const Position& pos, PawnFacts& facts) {
    facts = PawnFacts{};
    facts.pawns[WHITE] = PawnFileWord(pos, WHITE);
    facts.pawns[BLACK] = PawnFileWord(pos, BLACK);
    FindSideFacts<WHITE>(pos, facts.side[WHITE]);
    FindSideFacts<BLACK>(pos, facts.side[BLACK]);
}

namespace {

// One side's pawn score, with the colour fixed at compile time.
template <Colour us>
int32_t PawnSideOf(Position& pos, int32_t themToMove, PawnFacts& facts) {
    constexpr Colour them = us ^ 1;
    constexpr int fwd = us == WHITE ? 8 : -8;
    constexpr int flip = us == WHITE ? 0 : 56;
    const PawnSideFacts& side = facts.side[us];
    int32_t total = side.base;

    // Shield in front of the king, and the chain bonus it raises: kept with the facts for
    // the phase and king shape it was found for.
    if (Eval.gamePhase > 1) {
        const uint8_t shieldFiles = ShieldFiles(pos, us);
        const int zoneCentre = ZoneCentre(KingSquare(pos, us));
        const uint32_t key = (uint32_t(Eval.gamePhase) << 20) | (uint32_t(Eval.phaseHalf) << 12) |
                             (shieldFiles != 0 ? 0x100u | shieldFiles : uint32_t(zoneCentre));
        if (facts.shieldKey[us] != key) {
            facts.shieldKey[us] = key;
            facts.shield[us] = KingShield<us>(pos, PawnSquares(pos, us), shieldFiles, zoneCentre);
        }
        total += facts.shield[us];
    }

    // Pieces in front of the pawns: the shade they cover and the blockaders of weak pawns.
    uint32_t shade = side.shade[0] | uint32_t(side.shade[1]) << 16;   // as in the facts
    // A mask of the pawns with a piece in front spares a mispredicted test per free pawn.
    const uint64_t occupied = side.freeFront != 0 ? OccupiedSet(pos) : 0;
    const uint64_t blockedFront = side.freeFront & (us == WHITE ? occupied >> 8 : occupied << 8);
    for (uint64_t m = blockedFront; m; m &= m - 1) shade += BlockedShade[LowestSquare(m)];
    for (uint64_t m = blockedFront & side.weak; m; m &= m - 1) {
        const int front = LowestSquare(m) + fwd;
        if (IsPieceOf(pos, front, them)) total -= BLOCKADER_PENALTY[pos.pieceType[front]];
    }
    Eval.pawnShadeWeight[us][0] = static_cast<uint8_t>(Eval.pawnShadeWeight[us][0] + shade);
    Eval.pawnShadeWeight[us][1] = static_cast<uint8_t>(Eval.pawnShadeWeight[us][1] + (shade >> 16));
    for (uint64_t m = side.guardCompared; m; m &= m - 1) {
        const int sq = LowestSquare(m);
        if (AttackOf(pos, us, sq).attackerCount >= AttackOf(pos, them, sq).attackerCount) total += 4;
    }

    // The centre pawns blocked in front of their bishops.
    const int d2 = MakeSquare(3, 1) ^ flip, e2 = MakeSquare(4, 1) ^ flip;
    if ((facts.pawns[us] >> PawnFileBit(d2)) & 1 && HasPiece(pos, d2 + fwd) && IsOwnBishop(pos, MakeSquare(2, 0) ^ flip, us))
        total -= BLOCKED_CENTRE_PAWN_PENALTY;
    if ((facts.pawns[us] >> PawnFileBit(e2)) & 1 && HasPiece(pos, e2 + fwd) && IsOwnBishop(pos, MakeSquare(5, 0) ^ flip, us))
        total -= BLOCKED_CENTRE_PAWN_PENALTY;

    // Costs that scale with the phase or wait for the enemy's rooks and queens.
    total -= side.isolated * Eval.endWeightHalf + side.doubled * Eval.endWeightQuarter;
    if (pos.straightSlots[them] != 0)
        total -= side.openIsolated * OPEN_ISOLATED_EXTRA + side.openBackward * (OPEN_BACKWARD_PENALTY - BACKWARD_PENALTY);

    // Storm: its steps double with our piece points.
    const int ourPoints = static_cast<int>(pos.materialSignature[us] & 0xFF);
    const int level = Eval.stormLevel[us];
    if (level != STORM_NONE && ourPoints > 16) {
        const int shift = std::min(level + ((ourPoints - 17) >> 3), MAX_STORM_SHIFT);
        total += side.stormHalves * (1 << shift) / 2;
    }

    // Candidates.
    total += side.candidateFiles[FileOf(KingSquare(pos, them))] + (side.candidateRanks << Eval.endWeightEighth) +
             side.candidates * Eval.endWeightHalf;

    // Passed pawns in slot order: the threat lists they feed depend on it.
    if (side.passed != 0) {
        for (SlotMask pawns = pos.pawnSlots[us]; pawns; pawns &= pawns - 1) {
            const int sq = pos.slotSquare[us][LowestSlot(pawns)];
            if ((side.passed >> sq) & 1) total += PassedPawn(pos, us, sq, themToMove);
        }
    }
    return total;
}

}  // namespace

int32_t PawnSide(Position& pos, Colour us, int32_t themToMove, PawnFacts* given) {
    PawnFacts& facts = given != nullptr ? *given : ProbePawnCache(pos);
    return us == WHITE ? PawnSideOf<WHITE>(pos, themToMove, facts) : PawnSideOf<BLACK>(pos, themToMove, facts);
}

int32_t EvaluatePawns(Position& pos, int32_t whiteIndicator, int32_t blackIndicator) {
    std::memset(Eval.pawnShadeWeight, 0, sizeof Eval.pawnShadeWeight);
    PawnFacts& facts = ProbePawnCache(pos);
    int32_t total = PawnSide(pos, WHITE, blackIndicator, &facts) - PawnSide(pos, BLACK, whiteIndicator, &facts);
    if (Eval.options.hyperModern) {
        const Colour rs = Eval.rootSide;
        const int32_t loss = (Eval.pawnShadeWeight[rs][0] + Eval.pawnShadeWeight[rs][1]) >> 1;
        total += rs == WHITE ? -loss : loss;
    }
    return total;
}

}  // namespace tavrix
