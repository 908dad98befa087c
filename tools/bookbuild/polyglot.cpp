#include "bookbuild/polyglot.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

#include "board/makemove.h"
#include "bookbuild/polyglot_keys.h"

namespace tavrix::bookbuild {

namespace {

constexpr int CASTLING_KEY = 768;
constexpr int EN_PASSANT_KEY = 772;
constexpr int TURN_KEY = 780;
constexpr int ENTRY_SIZE = 16;
constexpr PieceType PROMOTION_PIECE[8] = {NO_PIECE, KNIGHT, BISHOP, ROOK, QUEEN, NO_PIECE, NO_PIECE, NO_PIECE};

uint64_t BigEndian(const unsigned char* b, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v = (v << 8) | b[i];
    return v;
}

// A castling right as Polyglot counts it: king and rook on their start squares, both unmoved.
bool HasRight(const Position& p, Colour c, int kingSquare, int rookSquare) {
    return p.pieceType[kingSquare] == KING && p.pieceColour[kingSquare] == c && p.moveCount[kingSquare] == 0 &&
           p.pieceType[rookSquare] == ROOK && p.pieceColour[rookSquare] == c && p.moveCount[rookSquare] == 0;
}

struct Walk {
    BookBuilder& builder;
    const std::vector<PolyglotEntry>& entries;
    int maxPly;
    std::unordered_map<uint64_t, int> shallowest;  // Polyglot key -> least ply it was expanded at
    PolyglotImport result;

    void Visit(Position& p, int ply) {
        if (ply >= maxPly) return;
        const uint64_t key = PolyglotKey(p);
        const auto [seen, fresh] = shallowest.try_emplace(key, ply);
        if (!fresh) {
            if (seen->second <= ply) return;
            seen->second = ply;
        }
        const auto first = std::lower_bound(entries.begin(), entries.end(), key,
                                            [](const PolyglotEntry& e, uint64_t k) { return e.key < k; });
        Move children[MAX_LEGAL_MOVES];
        int count = 0;
        for (auto e = first; e != entries.end() && e->key == key; ++e) {
            const Move move = FromPolyglotMove(p, e->move);
            if (move == NO_MOVE) {
                if (fresh) ++result.skipped;
                continue;
            }
            AddPolyglotMove(builder, p, move, e->weight);
            if (fresh) ++result.moves;
            if (count < MAX_LEGAL_MOVES && std::find(children, children + count, move) == children + count)
                children[count++] = move;
        }
        if (count > 0 && fresh) ++result.positions;
        for (int i = 0; i < count; ++i) {
            MakeMove(p, children[i]);
            Visit(p, ply + 1);
            UnmakeMove(p);
        }
    }
};

}  // namespace

uint64_t PolyglotKey(const Position& p) {
    uint64_t key = 0;
    for (int sq = 0; sq < 64; ++sq) {
        const PieceType t = p.pieceType[sq];
        if (t == NO_PIECE) continue;
        const int kind = 2 * (t - 1) + (p.pieceColour[sq] == WHITE ? 1 : 0);
        key ^= POLYGLOT_KEYS[64 * kind + sq];
    }
    if (HasRight(p, WHITE, 4, 7)) key ^= POLYGLOT_KEYS[CASTLING_KEY];
    if (HasRight(p, WHITE, 4, 0)) key ^= POLYGLOT_KEYS[CASTLING_KEY + 1];
    if (HasRight(p, BLACK, 60, 63)) key ^= POLYGLOT_KEYS[CASTLING_KEY + 2];
    if (HasRight(p, BLACK, 60, 56)) key ^= POLYGLOT_KEYS[CASTLING_KEY + 3];
    // The engine keeps an en-passant square only when a pawn of the side to move can take
    // there, which is the condition under which Polyglot counts it.
    if (p.epSquare != 0) key ^= POLYGLOT_KEYS[EN_PASSANT_KEY + FileOf(p.epSquare)];
    if (p.sideToMove == WHITE) key ^= POLYGLOT_KEYS[TURN_KEY];
    return key;
}

Move FromPolyglotMove(Position& p, uint16_t move) {
    const int to = move & 63;
    const int from = (move >> 6) & 63;
    const PieceType promotion = PROMOTION_PIECE[(move >> 12) & 7];
    if (p.pieceType[from] == KING && p.pieceColour[to] == p.pieceColour[from] && p.pieceType[to] == ROOK) {
        // King takes own rook: castling, which the engine writes as the king's two-square step.
        const int step = to > from ? 2 : -2;
        const Move m = FindLegalMove(p, from, from + step, NO_PIECE);
        return IsCastling(m) ? m : NO_MOVE;
    }
    return FindLegalMove(p, from, to, promotion);
}

bool ReadPolyglotFile(const std::string& path, std::vector<PolyglotEntry>& entries) {
    entries.clear();
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    unsigned char b[ENTRY_SIZE];
    while (std::fread(b, 1, ENTRY_SIZE, f) == ENTRY_SIZE)
        entries.push_back({BigEndian(b, 8), static_cast<uint16_t>(BigEndian(b + 8, 2)), static_cast<uint16_t>(BigEndian(b + 10, 2))});
    const bool ok = std::ferror(f) == 0;
    std::fclose(f);
    return ok;
}

PolyglotImport ImportPolyglot(BookBuilder& b, const std::vector<PolyglotEntry>& entries, int maxPly) {
    std::vector<PolyglotEntry> sorted = entries;
    std::stable_sort(sorted.begin(), sorted.end(), [](const PolyglotEntry& a, const PolyglotEntry& c) { return a.key < c.key; });
    Walk walk{b, sorted, std::clamp(maxPly, 0, MAX_WALK_PLIES), {}, {}};
    static Position p;
    if (SetUpFen(p, START_FEN)) walk.Visit(p, 0);
    return walk.result;
}

}  // namespace tavrix::bookbuild
