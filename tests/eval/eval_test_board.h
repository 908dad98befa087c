// A small board builder for evaluation tests: pieces from a FEN board, slots, masks,
// material and both attack maps with x-rays. Hanging values stay 0 unless a test sets them.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "board/position.h"

namespace tavrix::evaltest {

inline int PieceIndex(char ch) {
    for (int i = 1; i < 13; ++i) {
        if (PIECE_LETTERS[i] == ch) return i;
    }
    return 0;
}

inline uint64_t TestKey(int type, int colour, int sq) {
    uint64_t x = 0x9E3779B97F4A7C15ull * uint64_t(1 + type * 2 + colour) + uint64_t(sq) * 0xBF58476D1CE4E5B9ull;
    x ^= x >> 31;
    x *= 0x94D049BB133111EBull;
    return x ^ (x >> 29);
}

inline bool LetsThrough(PieceType blocker, bool straight) {
    return blocker == QUEEN || blocker == (straight ? ROOK : BISHOP);
}

inline void AddPieceAttacks(Position& p, int sq) {
    const int c = p.pieceColour[sq];
    const PieceType t = p.pieceType[sq];
    const uint16_t bit = static_cast<uint16_t>(p.squareSlot[sq]);
    AttackMap& map = p.attackMap[c];
    auto direct = [&](int s, uint16_t w) {
        map.square[s].attackWeight = static_cast<uint16_t>(map.square[s].attackWeight + w);
        map.square[s].attackerSlots |= bit;
        map.square[s].attackerCount++;
    };
    auto xray = [&](int s) {
        map.square[s].xrayWeight = static_cast<uint8_t>(map.square[s].xrayWeight + 2);
        map.square[s].xraySlots |= bit;
        map.square[s].attackerCount++;
    };
    const int f0 = FileOf(sq), r0 = RankOf(sq);
    auto onBoard = [](int f, int r) { return f >= 0 && f < 8 && r >= 0 && r < 8; };
    if (t == PAWN) {
        const int dr = c == WHITE ? 1 : -1;
        for (int df : {-1, 1}) {
            if (onBoard(f0 + df, r0 + dr)) direct(MakeSquare(f0 + df, r0 + dr), AttackWeight::PAWN);
        }
        return;
    }
    if (t == KNIGHT || t == KING) {
        static const int kn[8][2] = {{1, 2}, {2, 1}, {2, -1}, {1, -2}, {-1, -2}, {-2, -1}, {-2, 1}, {-1, 2}};
        static const int kg[8][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}};
        for (const auto& d : (t == KNIGHT ? kn : kg)) {
            if (onBoard(f0 + d[0], r0 + d[1])) {
                direct(MakeSquare(f0 + d[0], r0 + d[1]), t == KNIGHT ? AttackWeight::KNIGHT : AttackWeight::KING);
            }
        }
        return;
    }
    const uint16_t w = t == BISHOP ? AttackWeight::BISHOP : t == ROOK ? AttackWeight::ROOK : AttackWeight::QUEEN;
    static const int dirs[8][2] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}, {-1, 1}, {1, 1}, {-1, -1}, {1, -1}};
    for (int d = 0; d < 8; ++d) {
        const bool straight = d < 4;
        if (t == BISHOP && straight) continue;
        if (t == ROOK && !straight) continue;
        int f = f0, r = r0;
        bool isXray = false;
        for (;;) {
            f += dirs[d][0];
            r += dirs[d][1];
            if (!onBoard(f, r)) break;
            const int s = MakeSquare(f, r);
            if (isXray) xray(s);
            else direct(s, w);
            if (p.pieceType[s] != NO_PIECE) {
                if (!LetsThrough(p.pieceType[s], straight)) break;
                isXray = true;
            }
        }
    }
}

// Builds the position of a FEN (board, side to move, castling field; the rest ignored).
// The last move recorded for the node is `lastMove` with ply record index 1 as undoTop.
inline Position MakePosition(const std::string& fen) {
    Position p;
    std::memset(&p, 0, sizeof p);
    for (int sq = 0; sq < 64; ++sq) p.pieceColour[sq] = EMPTY_COLOUR;
    for (auto& row : p.slotSquare) {
        for (auto& s : row) s = NO_SQUARE;
    }
    size_t i = 0;
    int rank = 7, file = 0;
    for (; i < fen.size() && fen[i] != ' '; ++i) {
        const char ch = fen[i];
        if (ch == '/') {
            --rank;
            file = 0;
        } else if (ch >= '1' && ch <= '8') {
            file += ch - '0';
        } else {
            const int idx = PieceIndex(ch);
            const int sq = MakeSquare(file, rank);
            p.pieceType[sq] = static_cast<uint8_t>(idx > 6 ? idx - 6 : idx);
            p.pieceColour[sq] = static_cast<uint8_t>(idx > 6 ? BLACK : WHITE);
            ++file;
        }
    }
    p.sideToMove = (i + 1 < fen.size() && fen[i + 1] == 'b') ? BLACK : WHITE;
    std::string castling;
    {
        size_t j = fen.find(' ', i + 1);
        if (j != std::string::npos) {
            size_t k = fen.find(' ', j + 1);
            castling = fen.substr(j + 1, k == std::string::npos ? std::string::npos : k - j - 1);
        }
    }

    uint64_t key = 0;
    for (int sq = 0; sq < 64; ++sq) {
        const PieceType t = p.pieceType[sq];
        if (t == NO_PIECE) continue;
        const int c = p.pieceColour[sq];
        auto freeSlot = [&](int s) { return p.slotSquare[c][s] == NO_SQUARE; };
        int slot = -1;
        auto lowestFrom8 = [&]() {
            for (int s = 8; s < 16; ++s) {
                if (freeSlot(s)) return s;
            }
            return -1;
        };
        switch (t) {
            case KING: slot = freeSlot(0) ? 0 : lowestFrom8(); break;
            case QUEEN: slot = freeSlot(1) ? 1 : lowestFrom8(); break;
            case ROOK: slot = freeSlot(2) ? 2 : freeSlot(3) ? 3 : lowestFrom8(); break;
            case BISHOP: {
                const int s = IsDarkSquare(sq) ? 5 : 4;
                slot = freeSlot(s) ? s : lowestFrom8();
                break;
            }
            case KNIGHT: slot = freeSlot(6) ? 6 : freeSlot(7) ? 7 : lowestFrom8(); break;
            default:
                for (int s = 15; s >= 0; --s) {
                    if (freeSlot(s)) {
                        slot = s;
                        break;
                    }
                }
        }
        const uint32_t bit = 1u << slot;
        p.slotSquare[c][slot] = static_cast<uint8_t>(sq);
        p.squareSlot[sq] = bit;
        p.liveSlots[c] |= bit;
        if (t == BISHOP || t == QUEEN) p.diagonalSlots[c] |= bit;
        if (t == ROOK || t == QUEEN) p.straightSlots[c] |= bit;
        if (t >= BISHOP && t <= QUEEN) p.sliderSlots[c] |= bit;
        if (t == PAWN) p.pawnRankSlots[c][RankOf(sq)] |= bit;
        if (t != KING) {
            TypeSlots(p, t)[c] |= bit;
            p.material[c] += PieceValue[t];
            p.materialSignature[c] += SignatureOf[t];
        }
        // Unmoved when the piece stands where the start position has it.
        static const char START[] = "RNBQKBNRPPPPPPPP" "................................" "pppppppprnbqkbnr";
        p.moveCount[sq] = START[sq] == PIECE_LETTERS[t + 6 * c] ? 0 : 1;
        key ^= TestKey(t, c, sq);
    }
    // Kings and rooks without a castling right count as moved.
    auto rightFor = [&](char ch) { return castling.find(ch) != std::string::npos; };
    if (!rightFor('K') && !rightFor('Q')) p.moveCount[KingSquare(p, WHITE)] = 1;
    if (!rightFor('k') && !rightFor('q')) p.moveCount[KingSquare(p, BLACK)] = 1;
    if (!rightFor('K')) p.moveCount[7] = 1;
    if (!rightFor('Q')) p.moveCount[0] = 1;
    if (!rightFor('k')) p.moveCount[63] = 1;
    if (!rightFor('q')) p.moveCount[56] = 1;

    for (int sq = 0; sq < 64; ++sq) {
        if (p.pieceType[sq] != NO_PIECE) AddPieceAttacks(p, sq);
    }
    p.hashKey[0] = uint32_t(key);
    p.hashKey[1] = uint32_t(key >> 32) ^ (p.sideToMove == BLACK ? 0x5A5A5A5Au : 0u);
    p.ownSide = p.sideToMove;
    p.ply = 1;
    p.lastIrreversiblePly = 1;
    p.undoTop = 1;
    const int king = KingSquare(p, p.sideToMove);
    p.undoStack[1].checkFlag = p.attackMap[p.sideToMove ^ 1].square[king].attackWeight ? IN_CHECK_FLAG : 0;
    p.undoStack[1].move = SENTINEL_MOVE;
    return p;
}

// The FEN of the colour-flipped twin: board mirrored top to bottom, colours and the side
// to move exchanged, castling rights exchanged.
inline std::string FlipFen(const std::string& fen) {
    const size_t sp = fen.find(' ');
    const std::string board = fen.substr(0, sp);
    std::string ranks[8];
    int r = 0;
    for (char ch : board) {
        if (ch == '/') ++r;
        else ranks[r] += ch;
    }
    std::string out;
    for (int k = 7; k >= 0; --k) {
        for (char ch : ranks[k]) {
            if (ch >= 'a' && ch <= 'z') out += char(ch - 'a' + 'A');
            else if (ch >= 'A' && ch <= 'Z') out += char(ch - 'A' + 'a');
            else out += ch;
        }
        if (k) out += '/';
    }
    const bool white = sp != std::string::npos && fen[sp + 1] == 'w';
    out += white ? " b " : " w ";
    std::string castling = "-";
    const size_t c0 = fen.find(' ', sp + 1);
    if (c0 != std::string::npos) {
        const size_t c1 = fen.find(' ', c0 + 1);
        castling = fen.substr(c0 + 1, c1 == std::string::npos ? std::string::npos : c1 - c0 - 1);
    }
    std::string flipped;
    for (char ch : std::string("KQkq")) {
        const char from = ch >= 'a' ? char(ch - 'a' + 'A') : char(ch - 'A' + 'a');
        if (castling.find(from) != std::string::npos) flipped += ch;
    }
    out += flipped.empty() ? "-" : flipped;
    return out;
}

}  // namespace tavrix::evaltest
