#include "bookbuild/builder.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "board/movegen.h"
#include "board/moveservices.h"
#include "control/setup.h"

namespace tavrix::bookbuild {

namespace {

constexpr int LIST_PLY = 1;

uint64_t TallyKey(uint32_t key, uint8_t check, Move move) {
    return (uint64_t(key) << 32) | (uint64_t(check) << 16) | (move & BookBits::SQUARES);
}
uint32_t KeyOf(uint64_t tallyKey) { return static_cast<uint32_t>(tallyKey >> 32); }
uint8_t CheckOf(uint64_t tallyKey) { return static_cast<uint8_t>(tallyKey >> 16); }
uint64_t PositionOf(uint64_t tallyKey) { return tallyKey & ~uint64_t(0xFFFF); }

MoveTally& TallyFor(BookBuilder& b, const Position& p, Move move) {
    return b.moves[TallyKey(BookKey(p), BookCheck(p), move)];
}

// Weight 0..7 from the square root of the share of the largest weight of its position,
// rounded: a move played a quarter as often as the main line still gets 4 of 7, so the
// styles with a floor of 3 (12 in learned units) keep the established side lines.
int Relative(uint32_t value, uint32_t largest) {
    if (largest == 0) return 0;
    int weight = 0;
    // Rounded sqrt(49 v / l) >= s exactly when 196 v >= (2s - 1)^2 l.
    while (weight < MAX_STATIC_WEIGHT &&
           196 * uint64_t(value) >= uint64_t(2 * weight + 1) * uint64_t(2 * weight + 1) * largest)
        ++weight;
    return weight;
}

void PutLittleEndian(unsigned char* out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace

bool SetUpFen(Position& p, const char* fen) {
    PieceList list{};
    uint32_t flags = 0;
    bool kingsFound = false;
    char normalised[FEN_TEXT_SIZE] = "";
    if (fen == nullptr || std::strlen(fen) >= FEN_TEXT_SIZE) return false;
    if (!ParseFen(fen, list, flags, kingsFound, normalised) || !kingsFound) return false;
    std::memset(&p, 0, sizeof p);
    for (int sq = 0; sq < 64; ++sq) p.pieceColour[sq] = EMPTY_COLOUR;
    int kings[2] = {0, 0};
    for (int i = 0; i < list.count; ++i) {
        const PieceEntry& e = list.pieces[i];
        if (e.square > 63 || e.type < PAWN || e.type > KING || e.colour > BLACK) return false;
        p.pieceType[e.square] = e.type;
        p.pieceColour[e.square] = e.colour;
    }
    for (int sq = 0; sq < 64; ++sq)
        if (p.pieceType[sq] == KING) ++kings[p.pieceColour[sq]];
    if (kings[WHITE] != 1 || kings[BLACK] != 1) return false;
    return SetUpPosition(p, list.side, flags);
}

int LegalMoves(Position& p, Move* out) {
    const Colour side = p.sideToMove;
    uint32_t evasionFlags = 0;
    const int n = InCheck(p) ? GenerateEvasions(p, side, LIST_PLY, 0, evasionFlags) : GenerateAllMoves(p, side, LIST_PLY, 0);
    Move generated[MAX_LIST_MOVES];
    for (int i = 0; i < n; ++i) generated[i] = static_cast<Move>(ListBegin(LIST_PLY)[i].move & ~CHECK_MARK);
    int count = 0;
    for (int i = 0; i < n && count < MAX_LEGAL_MOVES; ++i)
        if (IsLegalAfterMake(p, generated[i])) out[count++] = generated[i];
    return count;
}

Move FindLegalMove(Position& p, int from, int to, PieceType promotion) {
    Move legal[MAX_LEGAL_MOVES];
    const int n = LegalMoves(p, legal);
    for (int i = 0; i < n; ++i) {
        const Move m = legal[i];
        if (MoveFrom(m) != from || MoveTo(m) != to) continue;
        // Without a named piece a promotion is the queen's.
        const PieceType wanted = promotion != NO_PIECE ? promotion : (IsPromotion(m) ? QUEEN : NO_PIECE);
        if (PromotedType(m) == wanted) return m;
    }
    return NO_MOVE;
}

void AddGameMove(BookBuilder& b, uint32_t key, uint8_t check, Move move, uint32_t points) {
    MoveTally& t = b.moves[TallyKey(key, check, move)];
    ++t.games;
    t.points += points;
}

void AddPolyglotMove(BookBuilder& b, const Position& p, Move move, uint32_t weight) {
    MoveTally& t = TallyFor(b, p, move);
    t.polyglotWeight = std::max(t.polyglotWeight, weight);
}

void AddRecord(BookBuilder& b, uint32_t key, uint8_t check, Move move, int staticWeight, int learned) {
    MoveTally& t = b.moves[TallyKey(key, check, move)];
    t.fixedWeight = std::clamp(staticWeight, 0, MAX_STATIC_WEIGHT);
    t.fixedLearned = learned < 0 ? -1 : std::min<int>(learned, BookBits::LEARNED_WEIGHT);
}

std::vector<BookRecord> FinishBook(const BookBuilder& b) {
    struct Sorted {
        BookRecord record;
        int weight;
    };
    std::vector<Sorted> out;
    for (auto group = b.moves.begin(); group != b.moves.end();) {
        // One position: the moves sharing key and check byte, adjacent in the map.
        auto end = group;
        uint32_t bestPoints = 0, bestPolyglot = 0;
        while (end != b.moves.end() && PositionOf(end->first) == PositionOf(group->first)) {
            if (end->second.games >= b.minGames) bestPoints = std::max(bestPoints, end->second.points);
            bestPolyglot = std::max(bestPolyglot, end->second.polyglotWeight);
            ++end;
        }
        for (auto it = group; it != end; ++it) {
            const MoveTally& t = it->second;
            int weight = t.fixedWeight;
            if (weight < 0) {
                const int fromGames = t.games >= b.minGames ? Relative(t.points, bestPoints) : 0;
                weight = std::max(fromGames, Relative(t.polyglotWeight, bestPolyglot));
                if (weight == 0) continue;
            }
            const int learned = t.fixedLearned >= 0 ? t.fixedLearned : LEARNED_PER_STATIC * weight;
            BookRecord r;
            r.key = KeyOf(it->first);
            r.move = static_cast<uint16_t>((it->first & BookBits::SQUARES) | (weight << BookBits::STATIC_WEIGHT_SHIFT));
            r.learning = static_cast<uint16_t>(learned | (CheckOf(it->first) << BookBits::CHECK_SHIFT));
            out.push_back({r, weight});
        }
        group = end;
    }
    std::stable_sort(out.begin(), out.end(), [](const Sorted& a, const Sorted& c) {
        if (a.record.key != c.record.key) return a.record.key < c.record.key;
        if (CheckByteOf(a.record) != CheckByteOf(c.record)) return CheckByteOf(a.record) < CheckByteOf(c.record);
        return a.weight > c.weight;
    });
    std::vector<BookRecord> records;
    records.reserve(out.size());
    for (const Sorted& s : out) records.push_back(s.record);
    return records;
}

bool WriteBookFile(const std::string& path, const std::vector<BookRecord>& records) {
    if (records.size() > static_cast<size_t>(INT32_MAX)) return false;
    const std::string temporary = path + ".tmp" + std::to_string(getpid());
    FILE* f = std::fopen(temporary.c_str(), "wb");
    if (f == nullptr) return false;
    std::vector<unsigned char> bytes(BOOK_HEADER_SIZE + BOOK_RECORD_SIZE * records.size());
    PutLittleEndian(bytes.data(), static_cast<uint32_t>(records.size()), 4);
    for (size_t i = 0; i < records.size(); ++i) {
        unsigned char* at = bytes.data() + BOOK_HEADER_SIZE + BOOK_RECORD_SIZE * i;
        PutLittleEndian(at, records[i].key, 4);
        PutLittleEndian(at + 4, records[i].move, 2);
        PutLittleEndian(at + 6, records[i].learning, 2);
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = (std::fflush(f) == 0) && ok;
    ok = (fsync(fileno(f)) == 0) && ok;
    ok = (std::fclose(f) == 0) && ok;
    if (ok) ok = std::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) std::remove(temporary.c_str());
    return ok;
}

std::string MoveName(Move move) {
    char text[MOVE_TEXT_SIZE];
    MoveToText(static_cast<Move>(move & ~CHECK_MARK), text);
    return text;
}

}  // namespace tavrix::bookbuild
