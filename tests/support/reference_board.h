// A deliberately simple board for the tests: a mailbox with copy-make, castling by rook
// squares (normal chess and Chess960), legality by looking for attacks on the king.
// It shares no code with the engine and serves as an independent referee.
#pragma once

#include <cstdint>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

namespace tavrix::reference {

struct RefMove {
    int from, to;
    int promotion;   // piece type 2..5, 0 none
    bool castle;     // written king square -> rook square (Chess960) or two files (normal)
    bool operator==(const RefMove& o) const {
        return from == o.from && to == o.to && promotion == o.promotion && castle == o.castle;
    }
};

struct RefBoard {
    int8_t sq[64];         // +type White, -type Black, 0 empty
    int side;              // 0 White, 1 Black
    int castleRook[2][2];  // [colour][0 king side, 1 queen side]: rook square or -1
    int ep;                // square passed by the last double push, or -1
    bool chess960;
    bool limitPromotions;  // no under-promotion to a kind the side already has three of
};

inline int Colour(int8_t piece) { return piece > 0 ? 0 : 1; }
inline int Type(int8_t piece) { return piece > 0 ? piece : -piece; }

inline bool ParseFen(const std::string& fen, RefBoard& b) {
    b = RefBoard{};
    for (auto& r : b.castleRook) r[0] = r[1] = -1;
    b.ep = -1;
    const std::string letters = "PNBRQK";
    size_t i = 0;
    int rank = 7, file = 0;
    for (; i < fen.size() && fen[i] != ' '; ++i) {
        const char c = fen[i];
        if (c == '/') { --rank; file = 0; continue; }
        if (c >= '1' && c <= '8') { file += c - '0'; continue; }
        const size_t t = letters.find(static_cast<char>(std::toupper(c)));
        if (t == std::string::npos || rank < 0 || file > 7) return false;
        b.sq[rank * 8 + file] = static_cast<int8_t>((t + 1) * (std::isupper(c) ? 1 : -1));
        ++file;
    }
    b.side = fen.at(i + 1) == 'w' ? 0 : 1;
    i += 3;
    int king[2] = {-1, -1};
    for (int s = 0; s < 64; ++s)
        if (Type(b.sq[s]) == 6) king[Colour(b.sq[s])] = s;
    for (; i < fen.size() && fen[i] != ' '; ++i) {
        const char c = fen[i];
        const int colour = std::isupper(c) ? 0 : 1;
        const int base = colour == 0 ? 0 : 56;
        const char u = static_cast<char>(std::toupper(c));
        if (u == 'K') b.castleRook[colour][0] = base + 7;
        else if (u == 'Q') b.castleRook[colour][1] = base;
        else if (u >= 'A' && u <= 'H') {
            b.chess960 = true;
            const int rook = base + (u - 'A');
            b.castleRook[colour][rook > king[colour] ? 0 : 1] = rook;
        }
    }
    ++i;
    if (i < fen.size() && fen[i] != '-') b.ep = (fen[i] - 'a') + 8 * (fen[i + 1] - '1');
    return true;
}

inline int Step(int s, int df, int dr) {
    const int f = s % 8 + df, r = s / 8 + dr;
    return (f < 0 || f > 7 || r < 0 || r > 7) ? -1 : r * 8 + f;
}

constexpr int KnightJumps[8][2] = {{1, 2}, {2, 1}, {2, -1}, {1, -2}, {-1, -2}, {-2, -1}, {-2, 1}, {-1, 2}};
constexpr int KingSteps[8][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}};

inline bool Attacked(const RefBoard& b, int s, int by) {
    const int sign = by == 0 ? 1 : -1;
    const int pawnRank = by == 0 ? -1 : 1;
    for (int df : {-1, 1}) {
        const int t = Step(s, df, pawnRank);
        if (t >= 0 && b.sq[t] == sign * 1) return true;
    }
    for (auto& j : KnightJumps) {
        const int t = Step(s, j[0], j[1]);
        if (t >= 0 && b.sq[t] == sign * 2) return true;
    }
    for (auto& k : KingSteps) {
        const int t = Step(s, k[0], k[1]);
        if (t >= 0 && b.sq[t] == sign * 6) return true;
    }
    for (auto& k : KingSteps) {
        const bool diagonal = k[0] != 0 && k[1] != 0;
        for (int t = Step(s, k[0], k[1]); t >= 0; t = Step(t, k[0], k[1])) {
            if (b.sq[t] == 0) continue;
            const int type = Type(b.sq[t]);
            if (Colour(b.sq[t]) == by && (type == 5 || type == (diagonal ? 3 : 4))) return true;
            break;
        }
    }
    return false;
}

inline int KingOf(const RefBoard& b, int colour) {
    for (int s = 0; s < 64; ++s)
        if (b.sq[s] == (colour == 0 ? 6 : -6)) return s;
    return -1;
}

inline RefBoard Play(const RefBoard& b, const RefMove& m) {
    RefBoard n = b;
    const int us = b.side;
    const int sign = us == 0 ? 1 : -1;
    const int8_t piece = b.sq[m.from];
    n.ep = -1;
    n.side = us ^ 1;
    if (m.castle) {
        const int rook = b.chess960 ? m.to : b.castleRook[us][m.to > m.from ? 0 : 1];
        const int wing = rook > m.from ? 0 : 1;
        const int base = us == 0 ? 0 : 56;
        n.sq[m.from] = 0;
        n.sq[rook] = 0;
        n.sq[base + (wing == 0 ? 6 : 2)] = piece;
        n.sq[base + (wing == 0 ? 5 : 3)] = static_cast<int8_t>(sign * 4);
        n.castleRook[us][0] = n.castleRook[us][1] = -1;
        return n;
    }
    const int dir = us == 0 ? 1 : -1;
    if (Type(piece) == 1 && m.to == b.ep && b.sq[m.to] == 0) n.sq[m.to - 8 * dir] = 0;
    if (Type(piece) == 1 && std::abs(m.to - m.from) == 16) n.ep = m.from + 8 * dir;
    n.sq[m.to] = m.promotion ? static_cast<int8_t>(sign * m.promotion) : piece;
    n.sq[m.from] = 0;
    if (Type(piece) == 6) n.castleRook[us][0] = n.castleRook[us][1] = -1;
    for (int c = 0; c < 2; ++c)
        for (int w = 0; w < 2; ++w)
            if (n.castleRook[c][w] == m.from || n.castleRook[c][w] == m.to) n.castleRook[c][w] = -1;
    return n;
}

inline int Count(const RefBoard& b, int colour, int type) {
    int n = 0;
    for (int s = 0; s < 64; ++s)
        if (b.sq[s] != 0 && Colour(b.sq[s]) == colour && Type(b.sq[s]) == type) ++n;
    return n;
}

inline std::vector<RefMove> LegalMoves(const RefBoard& b) {
    std::vector<RefMove> pseudo;
    const int us = b.side;
    const int dir = us == 0 ? 1 : -1;
    auto addPawn = [&](int from, int to) {
        if (to / 8 == (us == 0 ? 7 : 0)) {
            for (int t : {5, 2, 4, 3})
                if (t == 5 || !b.limitPromotions || Count(b, us, t) < 3) pseudo.push_back({from, to, t, false});
        } else {
            pseudo.push_back({from, to, 0, false});
        }
    };
    for (int s = 0; s < 64; ++s) {
        if (b.sq[s] == 0 || Colour(b.sq[s]) != us) continue;
        const int type = Type(b.sq[s]);
        if (type == 1) {
            const int one = Step(s, 0, dir);
            if (one >= 0 && b.sq[one] == 0) {
                addPawn(s, one);
                const int two = Step(one, 0, dir);
                if (s / 8 == (us == 0 ? 1 : 6) && b.sq[two] == 0) addPawn(s, two);
            }
            for (int df : {-1, 1}) {
                const int t = Step(s, df, dir);
                if (t >= 0 && ((b.sq[t] != 0 && Colour(b.sq[t]) != us) || t == b.ep)) addPawn(s, t);
            }
            continue;
        }
        if (type == 2 || type == 6) {
            for (int i = 0; i < 8; ++i) {
                const int t = type == 2 ? Step(s, KnightJumps[i][0], KnightJumps[i][1]) : Step(s, KingSteps[i][0], KingSteps[i][1]);
                if (t >= 0 && (b.sq[t] == 0 || Colour(b.sq[t]) != us)) pseudo.push_back({s, t, 0, false});
            }
            continue;
        }
        for (auto& k : KingSteps) {
            const bool diagonal = k[0] != 0 && k[1] != 0;
            if ((type == 3 && !diagonal) || (type == 4 && diagonal)) continue;
            for (int t = Step(s, k[0], k[1]); t >= 0; t = Step(t, k[0], k[1])) {
                if (b.sq[t] != 0 && Colour(b.sq[t]) == us) break;
                pseudo.push_back({s, t, 0, false});
                if (b.sq[t] != 0) break;
            }
        }
    }
    const int king = KingOf(b, us);
    const int base = us == 0 ? 0 : 56;
    for (int wing = 0; wing < 2; ++wing) {
        const int rook = b.castleRook[us][wing];
        if (rook < 0 || king < 0 || king / 8 != base / 8 || b.sq[rook] != (us == 0 ? 4 : -4)) continue;
        if ((wing == 0) != (rook > king)) continue;
        const int kingTo = base + (wing == 0 ? 6 : 2);
        const int rookTo = base + (wing == 0 ? 5 : 3);
        bool ok = true;
        for (int a : {king, rook})
            for (int t : {kingTo, rookTo})
                for (int s = std::min(a, t); s <= std::max(a, t); ++s)
                    if (b.sq[s] != 0 && s != king && s != rook) ok = false;
        for (int s = std::min(king, kingTo); s <= std::max(king, kingTo) && ok; ++s)
            if (Attacked(b, s, us ^ 1)) ok = false;
        if (ok) pseudo.push_back({king, b.chess960 ? rook : kingTo, 0, true});
    }
    std::vector<RefMove> legal;
    for (const RefMove& m : pseudo) {
        const RefBoard n = Play(b, m);
        if (!Attacked(n, KingOf(n, us), us ^ 1)) legal.push_back(m);
    }
    return legal;
}

inline uint64_t Perft(const RefBoard& b, int depth) {
    if (depth == 0) return 1;
    const std::vector<RefMove> moves = LegalMoves(b);
    if (depth == 1) return moves.size();
    uint64_t n = 0;
    for (const RefMove& m : moves) n += Perft(Play(b, m), depth - 1);
    return n;
}

}  // namespace tavrix::reference
