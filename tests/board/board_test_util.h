// Test-only helpers: the shared position loader, a brute-force move lister that reads the
// board arrays only, and from-scratch checks of every derived field.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "board/attacks.h"
#include "board/makemove.h"
#include "board/position.h"
#include "board/tables.h"
#include "support/fen_position.h"

namespace tavrix::test {

inline int ParseSquare(const std::string& s) { return MakeSquare(s[0] - 'a', s[1] - '1'); }

// Loads "placement side castling ep" into p; castling may be KQkq or rook-file letters.
inline bool LoadFen(Position& p, const std::string& fen) { return testing_support::LoadFen(p, fen); }

// ------------------------------------------------------------ brute-force move lister
inline bool Attacked(const Position& p, int sq, Colour by) { return p.attackMap[by].square[sq].attackWeight != 0; }

inline int CountType(const Position& p, Colour c, PieceType t) {
    int n = 0;
    for (int sq = 0; sq < 64; ++sq) n += p.pieceType[sq] == t && p.pieceColour[sq] == c;
    return n;
}

inline void AddPromotions(const Position& p, Colour c, int from, int to, std::vector<Move>& out) {
    out.push_back(MakeMoveWord(from, to, MoveKind::PROMOTE_QUEEN));
    if (CountType(p, c, KNIGHT) < 3) out.push_back(MakeMoveWord(from, to, MoveKind::PROMOTE_KNIGHT));
    if (CountType(p, c, ROOK) < 3) out.push_back(MakeMoveWord(from, to, MoveKind::PROMOTE_ROOK));
    if (CountType(p, c, BISHOP) < 3) out.push_back(MakeMoveWord(from, to, MoveKind::PROMOTE_BISHOP));
}

// Square-walking generator written without the engine's tables, from file and rank steps.
inline int StepFrom(int sq, int df, int dr) {
    const int f = FileOf(sq) + df, r = RankOf(sq) + dr;
    return (f < 0 || f > 7 || r < 0 || r > 7) ? -1 : MakeSquare(f, r);
}

inline void AddCastling(const Position& p, Colour c, std::vector<Move>& out) {
    const int king = KingSquare(p, c);
    if (p.moveCount[king] != 0 || Attacked(p, king, c ^ 1)) return;
    const int base = king & ~7;
    for (int wing = KING_SIDE; wing <= QUEEN_SIDE; ++wing) {
        const int rook = p.castleRookSquare[c][wing];
        if (p.pieceType[rook] != ROOK || p.pieceColour[rook] != c || p.moveCount[rook] != 0) continue;
        const int kingTo = base + (wing == KING_SIDE ? 6 : 2);
        const int rookTo = base + (wing == KING_SIDE ? 5 : 3);
        bool ok = true;
        auto span = [&](int a, int b, bool safe) {
            for (int s = std::min(a, b); s <= std::max(a, b); ++s) {
                if (s != king && s != rook && p.pieceType[s] != NO_PIECE) ok = false;
                if (safe && Attacked(p, s, c ^ 1)) ok = false;
            }
        };
        span(king, kingTo, true);
        span(rook, rookTo, false);
        if (!ok) continue;
        if (p.chess960) out.push_back(MakeMoveWord(king, rook, MoveKind::CASTLING));
        else if (king == base + 4) out.push_back(MakeMoveWord(king, kingTo, MoveKind::CASTLING));
    }
}

inline std::vector<Move> PseudoLegalMoves(const Position& p) {
    std::vector<Move> out;
    const Colour c = p.sideToMove;
    static constexpr int KNIGHT_STEPS[8][2] = {{1, 2}, {2, 1}, {2, -1}, {1, -2}, {-1, -2}, {-2, -1}, {-2, 1}, {-1, 2}};
    static constexpr int LINE_STEPS[8][2] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}, {1, 1}, {-1, 1}, {1, -1}, {-1, -1}};
    for (int from = 0; from < 64; ++from) {
        if (p.pieceColour[from] != c) continue;
        const PieceType t = p.pieceType[from];
        auto target = [&](int to) {
            if (to < 0 || p.pieceColour[to] == c) return false;
            out.push_back(MakeMoveWord(from, to, p.pieceType[to] ? MoveKind::CAPTURE : MoveKind::QUIET));
            return p.pieceType[to] == NO_PIECE;
        };
        if (t == PAWN) {
            const int dr = c == WHITE ? 1 : -1;
            const int lastRank = c == WHITE ? 7 : 0;
            const int one = StepFrom(from, 0, dr);
            if (one >= 0 && p.pieceType[one] == NO_PIECE) {
                if (RankOf(one) == lastRank) AddPromotions(p, c, from, one, out);
                else out.push_back(MakeMoveWord(from, one));
                const int two = StepFrom(one, 0, dr);
                if (RankOf(from) == (c == WHITE ? 1 : 6) && two >= 0 && p.pieceType[two] == NO_PIECE)
                    out.push_back(MakeMoveWord(from, two));
            }
            for (int df : {-1, 1}) {
                const int to = StepFrom(from, df, dr);
                if (to < 0) continue;
                if (p.pieceColour[to] == (c ^ 1)) {
                    if (RankOf(to) == lastRank) AddPromotions(p, c, from, to, out);
                    else out.push_back(MakeMoveWord(from, to, MoveKind::CAPTURE));
                } else if (p.epSquare != 0 && to == p.epSquare) {
                    out.push_back(MakeMoveWord(from, to, MoveKind::EN_PASSANT));
                }
            }
        } else if (t == KNIGHT) {
            for (auto& s : KNIGHT_STEPS) target(StepFrom(from, s[0], s[1]));
        } else if (t == KING) {
            for (auto& s : LINE_STEPS) target(StepFrom(from, s[0], s[1]));
        } else {
            const int first = t == ROOK ? 0 : t == BISHOP ? 4 : 0;
            const int last = t == BISHOP || t == QUEEN ? 8 : 4;
            for (int i = first; i < last; ++i)
                for (int to = StepFrom(from, LINE_STEPS[i][0], LINE_STEPS[i][1]); target(to);
                     to = StepFrom(to, LINE_STEPS[i][0], LINE_STEPS[i][1])) {
                }
        }
    }
    AddCastling(p, c, out);
    return out;
}

// After make: the mover's king is attacked in the map of the side now to move.
inline bool LeftKingAttacked(const Position& p) {
    return p.attackMap[p.sideToMove].square[KingSquare(p, p.sideToMove ^ 1)].attackWeight != 0;
}

// ------------------------------------------------------------ from-scratch checks
// The hanging value a piece should have under the current maps, by the plain rule: nothing
// for an empty square, the king or an unattacked piece, else its value less what the exchange
// wins back.
inline int32_t HangingValueOf(const Position& p, int sq) {
    const PieceType type = p.pieceType[sq];
    if (type == NO_PIECE || type == KING) return 0;
    const Colour c = p.pieceColour[sq];
    const AttackRecord& enemy = p.attackMap[c ^ 1].square[sq];
    if (enemy.attackWeight == 0) return 0;
    const int defenderClass = AttackClass[ClassIndex(p.attackMap[c].square[sq])];
    const int attackerClass = AttackClass[ClassIndex(enemy)];
    const int back = EXCHANGE_UNIT * ExchangeTable[defenderClass | attackerClass << 7];
    return back < PieceValue[type] ? PieceValue[type] - back : 0;
}

inline uint64_t PieceAndEpKey(const Position& p) {
    uint64_t key = 0;
    for (int sq = 0; sq < 64; ++sq)
        if (p.pieceType[sq] != NO_PIECE) key ^= PieceKey(p.pieceType[sq], p.pieceColour[sq], sq);
    if (p.epSquare != 0) key ^= SquareKeys[p.epSquare];
    return key;
}

// Checks every derived field against a recomputation from the board arrays. `castleTerm`
// is the expected XOR of castling keys the hash must carry.
inline void ExpectConsistent(const Position& p, uint32_t castleTerm, const std::string& where) {
    SCOPED_TRACE(where);
    Position fresh = p;
    BuildAttackMap(fresh, WHITE);
    BuildAttackMap(fresh, BLACK);
    for (Colour c = WHITE; c <= BLACK; ++c) {
        for (int sq = 0; sq < 64; ++sq) {
            const AttackRecord& a = p.attackMap[c].square[sq];
            const AttackRecord& b = fresh.attackMap[c].square[sq];
            if (std::memcmp(&a, &b, sizeof a) != 0) {
                ADD_FAILURE() << "map " << c << " square " << sq << ": weight " << a.attackWeight << "/"
                              << b.attackWeight << " slots " << a.attackerSlots << "/" << b.attackerSlots << " xray "
                              << int(a.xrayWeight) << "/" << int(b.xrayWeight) << " xslots " << a.xraySlots << "/"
                              << b.xraySlots << " count " << int(a.attackerCount) << "/" << int(b.attackerCount);
                return;
            }
        }
    }
    int32_t material[2] = {0, 0}, total[2] = {0, 0};
    uint32_t signature[2] = {0, 0};
    SlotMask live[2] = {0, 0}, hanging[2] = {0, 0}, typed[2][8] = {}, diagonal[2] = {}, straight[2] = {};
    SlotMask pawnRanks[2][8] = {};
    uint8_t pawnFile[2][10] = {};
    for (int sq = 0; sq < 64; ++sq) {
        const PieceType t = p.pieceType[sq];
        if (t == NO_PIECE) {
            EXPECT_EQ(p.pieceColour[sq], EMPTY_COLOUR) << sq;
            EXPECT_EQ(p.squareSlot[sq], 0u) << sq;
            EXPECT_EQ(p.hangingValue[sq], 0) << sq;
            continue;
        }
        const Colour c = p.pieceColour[sq];
        const uint32_t bit = p.squareSlot[sq];
        ASSERT_EQ(__builtin_popcount(bit), 1) << sq;
        EXPECT_EQ(p.slotSquare[c][SlotIndex(bit)], sq);
        EXPECT_EQ(live[c] & bit, 0u) << "slot used twice";
        live[c] |= bit;
        typed[c][t] |= bit;
        if (t == BISHOP || t == QUEEN) diagonal[c] |= bit;
        if (t == ROOK || t == QUEEN) straight[c] |= bit;
        if (t == PAWN) {
            pawnRanks[c][RankOf(sq)] |= bit;
            pawnFile[c][FileOf(sq) + 1] |= 1 << RankOf(sq);
        }
        if (t != KING) material[c] += PieceValue[t];
        signature[c] += SignatureOf[t];
        const int32_t value = HangingValueOf(p, sq);
        EXPECT_EQ(p.hangingValue[sq], value) << "hanging value on " << sq;
        total[c] += value;
        if (value != 0) hanging[c] |= bit;
    }
    for (Colour c = WHITE; c <= BLACK; ++c) {
        EXPECT_EQ(p.liveSlots[c], live[c]);
        EXPECT_EQ(p.hangingTotal[c], total[c]);
        EXPECT_EQ(p.hangingSlots[c], hanging[c]);
        EXPECT_EQ(p.material[c], material[c]);
        EXPECT_EQ(p.materialSignature[c], signature[c]);
        EXPECT_EQ(p.pawnSlots[c], typed[c][PAWN]);
        EXPECT_EQ(p.knightSlots[c], typed[c][KNIGHT]);
        EXPECT_EQ(p.bishopSlots[c], typed[c][BISHOP]);
        EXPECT_EQ(p.rookSlots[c], typed[c][ROOK]);
        EXPECT_EQ(p.queenSlots[c], typed[c][QUEEN]);
        EXPECT_EQ(p.diagonalSlots[c], diagonal[c]);
        EXPECT_EQ(p.straightSlots[c], straight[c]);
        EXPECT_EQ(p.sliderSlots[c], diagonal[c] | straight[c]);
        EXPECT_EQ(p.attackedSlots[c], 0u);
        for (int r = 0; r < 8; ++r) EXPECT_EQ(p.pawnRankSlots[c][r], pawnRanks[c][r]);
        for (int f = 0; f < 10; ++f) EXPECT_EQ(p.pawnFile[c][f], pawnFile[c][f]);
    }
    EXPECT_EQ(p.ownSide, p.sideToMove);
    EXPECT_EQ(HashKey64(p), PieceAndEpKey(p) ^ castleTerm);
}

// The castling rights still carried in the key: king and rook on their squares, unmoved.
inline bool RightLive(const Position& p, Colour c, int wing) {
    const int rook = p.castleRookSquare[c][wing];
    return p.moveCount[KingSquare(p, c)] == 0 && p.pieceType[rook] == ROOK && p.pieceColour[rook] == c &&
           p.moveCount[rook] == 0;
}

// The castling part of the key of a freshly set-up position.
inline uint32_t CastleTermOfSetUp(const Position& p) {
    uint32_t term = 0;
    for (Colour c = WHITE; c <= BLACK; ++c)
        for (int wing = KING_SIDE; wing <= QUEEN_SIDE; ++wing)
            if (!RightLive(p, c, wing)) term ^= SquareKeys[CastleCorner[c][wing]];
    return term;
}

// How a move changes the castling part of the key: a live right is given up when its king
// or its rook moves; a rook captured on its square leaves the key alone.
inline uint32_t CastleTermChange(const Position& p, Move m) {
    uint32_t change = 0;
    const Colour c = p.sideToMove;
    for (int wing = KING_SIDE; wing <= QUEEN_SIDE; ++wing) {
        if (!RightLive(p, c, wing)) continue;
        if (MoveFrom(m) == KingSquare(p, c) || MoveFrom(m) == p.castleRookSquare[c][wing])
            change ^= SquareKeys[CastleCorner[c][wing]];
    }
    return change;
}

// Every field unmake must restore, compared field by field.
inline void ExpectRestored(const Position& a, const Position& b, const std::string& where) {
    SCOPED_TRACE(where);
    EXPECT_EQ(a.sideToMove, b.sideToMove);
    EXPECT_EQ(0, std::memcmp(a.pieceType, b.pieceType, sizeof a.pieceType));
    EXPECT_EQ(0, std::memcmp(a.pieceColour, b.pieceColour, sizeof a.pieceColour));
    EXPECT_EQ(0, std::memcmp(a.moveCount, b.moveCount, sizeof a.moveCount)) << "moveCount";
    EXPECT_EQ(0, std::memcmp(a.slotSquare, b.slotSquare, sizeof a.slotSquare)) << "slotSquare";
    EXPECT_EQ(0, std::memcmp(a.squareSlot, b.squareSlot, sizeof a.squareSlot));
    EXPECT_EQ(0, std::memcmp(a.hangingValue, b.hangingValue, sizeof a.hangingValue));
    EXPECT_EQ(0, std::memcmp(a.attackMap, b.attackMap, sizeof a.attackMap)) << "attack maps";
    EXPECT_EQ(0, std::memcmp(a.pawnFile, b.pawnFile, sizeof a.pawnFile));
    EXPECT_EQ(0, std::memcmp(a.pawnRankSlots, b.pawnRankSlots, sizeof a.pawnRankSlots));
    for (Colour c = WHITE; c <= BLACK; ++c) {
        EXPECT_EQ(a.liveSlots[c], b.liveSlots[c]);
        EXPECT_EQ(a.diagonalSlots[c], b.diagonalSlots[c]);
        EXPECT_EQ(a.straightSlots[c], b.straightSlots[c]);
        EXPECT_EQ(a.sliderSlots[c], b.sliderSlots[c]);
        EXPECT_EQ(a.pawnSlots[c], b.pawnSlots[c]);
        EXPECT_EQ(a.knightSlots[c], b.knightSlots[c]);
        EXPECT_EQ(a.bishopSlots[c], b.bishopSlots[c]);
        EXPECT_EQ(a.rookSlots[c], b.rookSlots[c]);
        EXPECT_EQ(a.queenSlots[c], b.queenSlots[c]);
        EXPECT_EQ(a.materialSignature[c], b.materialSignature[c]);
        EXPECT_EQ(a.hangingSlots[c], b.hangingSlots[c]);
        EXPECT_EQ(a.attackedSlots[c], b.attackedSlots[c]);
        EXPECT_EQ(a.hangingTotal[c], b.hangingTotal[c]);
        EXPECT_EQ(a.material[c], b.material[c]);
        EXPECT_EQ(a.hashKey[c], b.hashKey[c]);
    }
    EXPECT_EQ(a.undoTop, b.undoTop);
    EXPECT_EQ(a.ply, b.ply);
    EXPECT_EQ(a.lastIrreversiblePly, b.lastIrreversiblePly);
    EXPECT_EQ(a.threatSwingCoarse, b.threatSwingCoarse);
    EXPECT_EQ(a.gainCoarse, b.gainCoarse);
    EXPECT_EQ(a.lastToSquare, b.lastToSquare);
    EXPECT_EQ(a.epSquare, b.epSquare);
    EXPECT_EQ(a.ownSide, b.ownSide);
    EXPECT_EQ(0, std::memcmp(a.undoStack, b.undoStack, sizeof(PlyRecord) * (a.undoTop + 1)));
    EXPECT_EQ(0, std::memcmp(a.castleRookSquare, b.castleRookSquare, sizeof a.castleRookSquare));
    EXPECT_EQ(a.chess960, b.chess960);
}

}  // namespace tavrix::test
