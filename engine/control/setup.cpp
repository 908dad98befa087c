#include "control/setup.h"

#include <cstring>

#include "board/attacks.h"
#include "board/tables.h"
#include "board/moveservices.h"
#include "book/book.h"
#include "control/game_record.h"
#include "control/think.h"

namespace tavrix {

GameBoardState GameBoard;

void ResetGameBoard() {
    GameBoard = GameBoardState{};
    ResetGameRecord();
}

namespace {

constexpr int MAX_FEN_FIELDS = 13;
constexpr int RANK_FIELDS = 8;
constexpr int MIN_FEN_FIELDS = 11;
constexpr int FIELD_SIZE = 96;
constexpr int FEN_BUFFER_SIZE = 4096;
constexpr int32_t MAX_FULL_MOVE = 100000;   // wider than a byte; large values are clamped

inline bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }
inline bool IsFile(char c) { return c >= 'a' && c <= 'h'; }
inline bool IsRank(char c) { return c >= '1' && c <= '8'; }
inline char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

struct FenFields {
    int count;
    char text[MAX_FEN_FIELDS][FIELD_SIZE];
};

// Cuts the brace comments out of `text` (an unclosed one runs to the end).
void CutComments(const char* text, char* out, int size) {
    int n = 0;
    for (const char* c = text; *c != '\0' && n < size - 1; ++c) {
        if (*c == '{') {
            while (*c != '\0' && *c != '}') ++c;
            if (*c == '\0') break;
            continue;
        }
        out[n++] = *c;
    }
    out[n] = '\0';
}

// Splits into at most 13 fields; white space separates them, and "/" separates the ranks
// (the first seven separators), so surplus "/" stay inside the last rank field.
void SplitFields(const char* text, FenFields& f) {
    f.count = 0;
    const char* c = text;
    while (f.count < MAX_FEN_FIELDS) {
        while (IsSpace(*c) || (*c == '/' && f.count < RANK_FIELDS)) ++c;
        if (*c == '\0') break;
        int n = 0;
        while (*c != '\0' && !IsSpace(*c) && !(*c == '/' && f.count < RANK_FIELDS - 1)) {
            if (n < FIELD_SIZE - 1) f.text[f.count][n++] = *c;
            ++c;
        }
        f.text[f.count][n] = '\0';
        ++f.count;
    }
}

int LetterIndex(char c) {
    for (int i = 1; i <= 12; ++i)
        if (PIECE_LETTERS[i] == c) return i;
    return 0;
}

int32_t ReadNumber(const char* s) {
    int32_t value = 0;
    for (; IsDigit(*s); ++s) value = value < MAX_FULL_MOVE ? value * 10 + (*s - '0') : MAX_FULL_MOVE;
    return value;
}

void Append(char* out, int& n, const char* text) {
    for (; *text != '\0' && n < FEN_TEXT_SIZE - 1; ++text) out[n++] = *text;
    out[n] = '\0';
}

}  // namespace

bool ParseFen(const char* text, PieceList& list, uint32_t& flags, bool& kingsFound, char* normalised) {
    static char buffer[FEN_BUFFER_SIZE];
    static FenFields f;
    CutComments(text, buffer, FEN_BUFFER_SIZE);
    SplitFields(buffer, f);
    if (f.count < MIN_FEN_FIELDS) return false;

    list.count = 0;
    list.fullMove = 1;
    flags = 0;
    int kingSquare[2] = {-1, -1};
    for (int rank = 0; rank < RANK_FIELDS; ++rank) {
        int sq = 56 - 8 * rank;
        const int end = sq + 8;
        for (const char* c = f.text[rank]; *c != '\0' && sq < end; ++c) {
            if (IsDigit(*c)) {
                sq += *c - '0';
                continue;
            }
            const int index = LetterIndex(*c);
            if (index == 0) return false;
            const uint8_t type = static_cast<uint8_t>(index > 6 ? index - 6 : index);
            const uint8_t colour = index > 6 ? BLACK : WHITE;
            // A pawn on the first or last rank would step off the board in generation.
            if (type == PAWN && (RankOf(sq) == 0 || RankOf(sq) == 7)) return false;
            if (type == KING) kingSquare[colour] = sq;
            list.pieces[list.count++] = PieceEntry{static_cast<uint8_t>(sq), type, colour};
            ++sq;
        }
    }
    list.side = f.text[RANK_FIELDS][0] == 'w' ? WHITE : BLACK;

    const char* castling = f.text[RANK_FIELDS + 1];
    if (castling[0] != '-') {
        for (const char* c = castling; *c != '\0'; ++c) {
            switch (*c) {
                case 'K': flags |= SetupFlag::WHITE_KING_SIDE; continue;
                case 'Q': flags |= SetupFlag::WHITE_QUEEN_SIDE; continue;
                case 'k': flags |= SetupFlag::BLACK_KING_SIDE; continue;
                case 'q': flags |= SetupFlag::BLACK_QUEEN_SIDE; continue;
                default: break;
            }
            if (*c >= 'A' && *c <= 'H') {
                const uint32_t file = static_cast<uint32_t>(*c - 'A');
                if (static_cast<int>(file) < kingSquare[WHITE])
                    flags |= SetupFlag::WHITE_QUEEN_SIDE | SetupFlag::WHITE_QUEEN_FILE | file << 28;
                else
                    flags |= SetupFlag::WHITE_KING_SIDE | SetupFlag::WHITE_KING_FILE | file << 24;
                flags |= SetupFlag::ROOK_FILES;
            } else if (IsFile(*c)) {
                const uint32_t file = static_cast<uint32_t>(*c - 'a');
                if (56 + static_cast<int>(file) < kingSquare[BLACK])
                    flags |= SetupFlag::BLACK_QUEEN_SIDE | SetupFlag::BLACK_QUEEN_FILE | file << 20;
                else
                    flags |= SetupFlag::BLACK_KING_SIDE | SetupFlag::BLACK_KING_FILE | file << 16;
                flags |= SetupFlag::ROOK_FILES;
            }
        }
    }

    bool clocks = true;
    const char* ep = f.text[RANK_FIELDS + 2];
    if (ep[0] != '-' && ep[0] != '\0') {
        clocks = false;
        if (IsFile(ep[0]) && IsRank(ep[1])) {
            const int sq = (ep[0] - 'a') + 8 * (ep[1] - '1');
            if ((list.side == WHITE && RankOf(sq) == 5) || (list.side == BLACK && RankOf(sq) == 2)) {
                flags |= static_cast<uint32_t>(sq) | SetupFlag::EP_GIVEN;
                clocks = true;
            }
        }
    }
    int fieldsUsed = MIN_FEN_FIELDS;
    if (clocks && f.count > MIN_FEN_FIELDS && IsDigit(f.text[MIN_FEN_FIELDS][0])) {
        fieldsUsed = MIN_FEN_FIELDS + 1;
        if (f.count > MIN_FEN_FIELDS + 1 && IsDigit(f.text[MIN_FEN_FIELDS + 1][0])) {
            const int32_t full = ReadNumber(f.text[MIN_FEN_FIELDS + 1]);
            list.fullMove = full < 1 ? 1 : full;
            fieldsUsed = MAX_FEN_FIELDS;
        }
    }
    kingsFound = kingSquare[WHITE] >= 0 && kingSquare[BLACK] >= 0;

    if (normalised != nullptr) {
        int n = 0;
        normalised[0] = '\0';
        for (int i = 0; i < fieldsUsed; ++i) {
            if (i > 0) Append(normalised, n, i < RANK_FIELDS ? "/" : " ");
            Append(normalised, n, f.text[i]);
        }
    }
    return true;
}

int BuildBoard(const PieceList& list, uint32_t flags) {
    static Position scratch;
    scratch = GameBoard.position;
    int count[2][8] = {};
    for (int sq = 0; sq < 64; ++sq) {
        scratch.pieceType[sq] = NO_PIECE;
        scratch.pieceColour[sq] = EMPTY_COLOUR;
    }
    for (int i = 0; i < list.count; ++i) {
        const PieceEntry& e = list.pieces[i];
        if (e.square > 63 || e.type < PAWN || e.type > KING || e.colour > BLACK) return 0;
        if (scratch.pieceType[e.square] != NO_PIECE) --count[scratch.pieceColour[e.square]][scratch.pieceType[e.square]];
        scratch.pieceType[e.square] = e.type;
        scratch.pieceColour[e.square] = e.colour;
        ++count[e.colour][e.type];
    }
    for (int c = WHITE; c <= BLACK; ++c) {
        const int* n = count[c];
        if (n[KING] != 1) return 0;
        auto atLeast = [](int v, int floor) { return v > floor ? v : floor; };
        if (n[PAWN] + atLeast(n[KNIGHT], 2) + atLeast(n[BISHOP], 2) + atLeast(n[ROOK], 2) + atLeast(n[QUEEN], 1) > 15)
            return 0;
        // The material signature counts at most three knights, bishops or rooks.
        if (n[KNIGHT] > 3 || n[BISHOP] > 3 || n[ROOK] > 3) return 0;
    }
    if (SetUpPosition(scratch, list.side, flags) == 0) return 0;
    GameBoard.position = scratch;
    ResetBookPly();
    GameBoard.engineColour = list.side;
    StartGameRecord(GameBoard.position, list.fullMove * 2 - 2 + (list.side == BLACK ? 1 : 0));
    ThinkControl.learningAnchor = NO_ANCHOR;
    return 1;
}

void NewGame() {
    SetUpPosition(GameBoard.position, STANDARD_START, SetupFlag::ALL_RIGHTS);
    ResetBookPly();
    GameBoard.engineColour = WHITE;
    GameBoard.fromFen = false;
    GameBoard.startFen[0] = '\0';
    StartGameRecord(GameBoard.position, 0);
    ThinkControl.learningAnchor = NO_ANCHOR;
}

int ReadFen(const char* text) {
    static PieceList list;
    uint32_t flags = 0;
    bool kingsFound = false;
    char normalised[FEN_TEXT_SIZE];
    if (!ParseFen(text, list, flags, kingsFound, normalised)) return 0;
    if (!kingsFound) return 1;
    if (BuildBoard(list, flags) == 0) return 0;
    GameBoard.fromFen = true;
    std::memcpy(GameBoard.startFen, normalised, sizeof(normalised));
    return 1;
}

Move ParseMoveText(const Position& p, const char* token) {
    char text[16];
    int n = 0;
    while (token[n] != '\0' && !IsSpace(token[n]) && n < 15) {
        text[n] = token[n];
        ++n;
    }
    if (token[n] != '\0' && !IsSpace(token[n])) return NO_MOVE;  // far too long for a move
    while (n > 0 && std::strchr("!#+;?", text[n - 1]) != nullptr) --n;

    uint16_t promotion = 0;
    if (n > 0) {
        switch (Upper(text[n - 1])) {
            case 'N': promotion = MoveKind::PROMOTE_KNIGHT; break;
            case 'B': promotion = MoveKind::PROMOTE_BISHOP; break;
            case 'R': promotion = MoveKind::PROMOTE_ROOK; break;
            case 'Q': promotion = MoveKind::PROMOTE_QUEEN; break;
            default: break;
        }
        if (promotion != 0) {
            --n;
            if (n > 0 && text[n - 1] == '=') --n;
        }
    }
    if (n < 2 || !IsFile(text[n - 2]) || !IsRank(text[n - 1])) return NO_MOVE;
    const int to = (text[n - 2] - 'a') + 8 * (text[n - 1] - '1');
    n -= 2;
    if (n > 0 && (text[n - 1] == 'x' || text[n - 1] == '-')) --n;
    int fromRank = -1;
    int fromFile = -1;
    if (n > 0 && IsRank(text[n - 1])) fromRank = text[--n] - '1';
    if (n > 0 && IsFile(text[n - 1])) fromFile = text[--n] - 'a';
    PieceType type = PAWN;
    bool named = false;
    if (n == 1) {
        const char* letters = "PNBRQK";
        const char* at = std::strchr(letters, Upper(text[0]));
        if (at == nullptr || text[0] == '\0') return NO_MOVE;
        type = static_cast<PieceType>(PAWN + (at - letters));
        named = true;
    } else if (n > 1) {
        return NO_MOVE;
    }

    const Colour side = p.sideToMove;
    if (fromFile >= 0 && fromRank >= 0) {
        const int from = MakeSquare(fromFile, fromRank);
        if (named && p.pieceType[from] != type) return NO_MOVE;
        return MakeMoveWord(from, to, promotion);
    }
    const int step = PawnPush[side];
    if (type == PAWN && fromFile < 0 && fromRank < 0 && p.pieceColour[to] == EMPTY_COLOUR &&
        !(p.epSquare != 0 && to == p.epSquare)) {
        for (int back = 1; back <= 2; ++back) {
            const int from = to - back * step;
            if (from < 0 || from > 63) break;
            if (p.pieceType[from] == PAWN && p.pieceColour[from] == side) return MakeMoveWord(from, to, promotion);
            if (p.pieceColour[from] != EMPTY_COLOUR) break;
        }
        return NO_MOVE;
    }
    const int king = KingSquare(p, side);
    int found = -1;
    for (SlotMask pieces = p.liveSlots[side]; pieces; pieces &= pieces - 1) {
        const int from = p.slotSquare[side][LowestSlot(pieces)];
        if (p.pieceType[from] != type) continue;
        if ((fromFile >= 0 && FileOf(from) != fromFile) || (fromRank >= 0 && RankOf(from) != fromRank)) continue;
        bool reaches = (p.attackMap[side].square[to].attackerSlots & p.squareSlot[from]) != 0;
        if (type == PAWN)
            reaches = reaches && (p.pieceColour[to] == (side ^ 1) || (p.epSquare != 0 && to == p.epSquare));
        if (!reaches) continue;
        if (type != KING && IsPinned(p, from, side ^ 1) && DirectionTable[to][king] != DirectionTable[from][king])
            continue;
        if (found >= 0) return NO_MOVE;  // ambiguous
        found = from;
    }
    return found < 0 ? NO_MOVE : MakeMoveWord(found, to, promotion);
}

void MoveToText(Move move, char out[MOVE_TEXT_SIZE]) {
    const int from = MoveFrom(move);
    const int to = MoveTo(move);
    out[0] = static_cast<char>('a' + FileOf(from));
    out[1] = static_cast<char>('1' + RankOf(from));
    out[2] = static_cast<char>('a' + FileOf(to));
    out[3] = static_cast<char>('1' + RankOf(to));
    out[4] = '\0';
    if (IsPromotion(move)) {
        out[4] = static_cast<char>(PIECE_LETTERS[PromotedType(move) + 6]);
        out[5] = '\0';
    }
}

int PlayMoveText(const char* token) {
    Position& p = GameBoard.position;
    Move move = ParseMoveText(p, token);
    if (move == NO_MOVE || ValidateMove(p.sideToMove, p, move) == 0) return 0;
    // The learning anchor follows the game through its replay: a book move the engine
    // played moves it past that move, and the root of the engine's last search back to it.
    const GameEntry& held = GameRecord.entries[GameRecord.length + 1];
    const bool bookReplay = (held.move & 0x0FFF) == (move & 0x0FFF) && (held.flags & EntryFlag::BOOK_MOVE) != 0;
    if (bookReplay) ThinkControl.learningAnchor = GameRecord.length + 1;
    if (RecordMove(p, move) == 0) return 0;
    if (p.hashKey[0] == ThinkControl.anchorKey[0] && p.hashKey[1] == ThinkControl.anchorKey[1])
        ThinkControl.learningAnchor = GameRecord.length - 2;
    return 1;
}

int PlayMoveList(const char* text) {
    int made = 0;
    while (*text != '\0') {
        while (IsSpace(*text)) ++text;
        if (*text == '\0') break;
        made += PlayMoveText(text);
        while (*text != '\0' && !IsSpace(*text)) ++text;
    }
    return made;
}

}  // namespace tavrix
