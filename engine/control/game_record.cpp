#include "control/game_record.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "board/makemove.h"
#include "board/movegen.h"
#include "board/moveservices.h"
#include "board/tables.h"
#include "book/book_learning.h"
#include "control/engine.h"
#include "control/options.h"
#include "control/setup.h"
#include "platform/platform.h"
#include "search/search_state.h"
#include "tablebase/probe.h"

namespace tavrix {

GameRecordState GameRecord;

void ResetGameRecord() { GameRecord = GameRecordState{}; }

void StartGameRecord(const Position& p, int32_t plyOffset) {
    GameEntry& sentinel = GameRecord.entries[FIRST_ENTRY];
    sentinel = GameEntry{};
    sentinel.move = SENTINEL_MOVE;
    if (p.attackMap[p.sideToMove ^ 1].square[KingSquare(p, p.sideToMove)].attackWeight != 0) sentinel.move |= CHECK_MARK;
    sentinel.mover = static_cast<uint8_t>(p.sideToMove ^ 1);
    sentinel.capturedSlot = NO_CAPTURED_SLOT;
    sentinel.keyLow = p.hashKey[0];
    sentinel.keyHigh = p.hashKey[1];
    sentinel.irreversiblePly = static_cast<uint16_t>(p.lastIrreversiblePly);
    GameRecord.length = FIRST_ENTRY;
    GameRecord.plyOffset = plyOffset;
    GameRecord.ended = false;
}

namespace {

constexpr uint16_t SQUARE_BITS = 0x0FFF;  // from- and to-square of a move word

void ClearBooking(GameEntry& e) {
    e.clockTime = 0;
    e.score = 0;
    e.depthWord = 0;
    e.flags = 0;
    e.learning = 0;
}

uint8_t DisambiguationCode(const Position& p, Move move) {
    const int from = MoveFrom(move);
    const int to = MoveTo(move);
    const PieceType type = p.pieceType[from];
    uint8_t code = type;
    if (type == PAWN || type == KING || IsCastling(move)) return code;
    const Colour side = p.pieceColour[from];
    for (SlotMask others = p.attackMap[side].square[to].attackerSlots & ~p.squareSlot[from]; others; others &= others - 1) {
        const int sq = p.slotSquare[side][LowestSlot(others)];
        if (p.pieceType[sq] != type) continue;
        code |= FileOf(sq) != FileOf(from) ? SAN_FILE : SAN_RANK;
    }
    return code;
}

// The FEN of a position whose earlier moves are gone; the half-move clock restarts at 0.
void WriteFen(const Position& p, int32_t fullMove, char* out, size_t size) {
    size_t n = 0;
    auto put = [&](char c) {
        if (n + 1 < size) out[n++] = c;
    };
    for (int rank = 7; rank >= 0; --rank) {
        int empty = 0;
        for (int file = 0; file < 8; ++file) {
            const int sq = MakeSquare(file, rank);
            if (p.pieceType[sq] == NO_PIECE) {
                ++empty;
                continue;
            }
            if (empty > 0) put(static_cast<char>('0' + empty));
            empty = 0;
            put(PIECE_LETTERS[p.pieceType[sq] + (p.pieceColour[sq] == BLACK ? 6 : 0)]);
        }
        if (empty > 0) put(static_cast<char>('0' + empty));
        if (rank > 0) put('/');
    }
    put(' ');
    put(p.sideToMove == WHITE ? 'w' : 'b');
    put(' ');
    bool any = false;
    for (Colour c = WHITE; c <= BLACK; ++c) {
        const int king = KingSquare(p, c);
        for (int wing = KING_SIDE; wing <= QUEEN_SIDE; ++wing) {
            const int rook = p.castleRookSquare[c][wing];
            if (p.moveCount[king] != 0 || p.pieceType[rook] != ROOK || p.pieceColour[rook] != c || p.moveCount[rook] != 0)
                continue;
            const char letter = p.chess960 ? static_cast<char>('A' + FileOf(rook)) : (wing == KING_SIDE ? 'K' : 'Q');
            put(c == WHITE ? letter : static_cast<char>(letter - 'A' + 'a'));
            any = true;
        }
    }
    if (!any) put('-');
    put(' ');
    if (p.epSquare != 0) {
        put(static_cast<char>('a' + FileOf(p.epSquare)));
        put(static_cast<char>('1' + RankOf(p.epSquare)));
    } else {
        put('-');
    }
    out[n] = '\0';
    const size_t used = n;
    std::snprintf(out + used, size - used, " 0 %d", fullMove);
}

// Keeps the record inside its array: drops the plies before the last irreversible move,
// and when that is not enough, the oldest plies. The game then starts from the position
// after the dropped plies, so its PGN carries that position as its FEN.
void Rebase(Position& p) {
    int keepFrom = p.lastIrreversiblePly;  // entry index of the last capture or pawn move
    if (keepFrom <= FIRST_ENTRY || GameRecord.length - keepFrom >= MAX_GAME_PLIES)
        keepFrom = GameRecord.length - MAX_GAME_PLIES / 2;
    const int shift = keepFrom - FIRST_ENTRY;
    if (shift <= 0) return;
    static Position start;
    start = p;
    for (int k = GameRecord.length; k > keepFrom; --k) {
        start.undoTop = 1;
        start.undoStack[1] = PlyRecordOf(GameRecord.entries[k]);
        UnmakeMove(start);
    }
    WriteFen(start, (GameRecord.plyOffset + shift + FIRST_ENTRY + 1) / 2, GameBoard.startFen, sizeof GameBoard.startFen);
    GameBoard.fromFen = true;
    std::memmove(&GameRecord.entries[FIRST_ENTRY], &GameRecord.entries[keepFrom],
                 sizeof(GameEntry) * static_cast<size_t>(GameRecord.length - keepFrom + 1));
    GameRecord.length -= shift;
    GameRecord.plyOffset += shift;
    p.ply -= shift;
    p.lastIrreversiblePly = p.lastIrreversiblePly > shift ? p.lastIrreversiblePly - shift : FIRST_ENTRY;
}

}  // namespace

PlyRecord PlyRecordOf(const GameEntry& e) {
    PlyRecord r{};
    r.move = e.move & ~CHECK_MARK;
    r.capturedSlot = e.capturedSlot == NO_CAPTURED_SLOT ? 0 : static_cast<uint16_t>(1u << e.capturedSlot);
    r.capturedType = e.capturedType;
    r.mover = e.mover;
    r.toSquareCount = e.toSquareCount;
    r.epSquare = e.epSquare;
    r.irreversiblePly = e.irreversiblePly;
    r.keyLow = e.keyLow;
    r.keyHigh = e.keyHigh;
    r.checkFlag = (e.move & CHECK_MARK) ? IN_CHECK_FLAG : 0;
    r.swingByte = e.swingByte;
    r.gainByte = e.gainByte;
    return r;
}

int RecordMove(Position& p, Move move) {
    const Colour mover = p.sideToMove;
    const uint8_t code = DisambiguationCode(p, move);
    p.undoTop = 0;
    MakeMove(p, move & ~CHECK_MARK);
    const PlyRecord& r = p.undoStack[p.undoTop];
    if (p.attackMap[mover ^ 1].square[KingSquare(p, mover)].attackWeight != 0) {
        UnmakeMove(p);
        return 0;
    }
    GameEntry& e = GameRecord.entries[GameRecord.length + 1];
    // Only a replayed engine move keeps what its search booked; any other move starts clean,
    // so no score or book mark of another move (or game) is taken for this one.
    if ((e.move & SQUARE_BITS) != (move & SQUARE_BITS)) ClearBooking(e);
    e.move = static_cast<uint16_t>((move & ~CHECK_MARK) | ((r.checkFlag & IN_CHECK_FLAG) ? CHECK_MARK : 0));
    e.capturedSlot = r.capturedSlot != 0 ? static_cast<uint8_t>(__builtin_ctz(r.capturedSlot))
                                         : NO_CAPTURED_SLOT;
    e.capturedType = r.capturedType;
    e.mover = static_cast<uint8_t>(mover);
    e.toSquareCount = r.toSquareCount;
    e.epSquare = r.epSquare;
    e.sanCode = code;
    e.irreversiblePly = r.irreversiblePly;
    e.swingByte = r.swingByte;
    e.gainByte = r.gainByte;
    e.keyLow = r.keyLow;
    e.keyHigh = r.keyHigh;
    ++GameRecord.length;
    // The engine's own move, made after its search and taken back at once, re-bases nothing
    // unless the array is full: its entry must stay where the next "position" replays it.
    if (GameRecord.length > MAX_GAME_PLIES &&
        (!IsSearching(Control.engineState) || GameRecord.length + 2 >= GAME_RECORD_SIZE))
        Rebase(p);
    return 1;
}

// ---------------------------------------------------------------- game end and PGN

namespace {

constexpr int32_t DEPTH_WORD_SHIFT = 10;
constexpr int32_t MS_PER_SECOND = 1000;
constexpr int32_t SECONDS_PER_MINUTE = 60;
constexpr int32_t SECONDS_PER_HOUR = 3600;
constexpr int32_t KB_PER_MB = 1024;
constexpr int32_t FORWARD_PRUNING_STEP = 16;

constexpr const char* RESULT_TEXTS[] = {"*", "1/2-1/2", "1-0", "0-1"};

// Text appended to a fixed buffer; once something does not fit, the whole text is refused.
struct TextBuffer {
    char* out;
    int32_t capacity;
    int32_t length;
    bool overflow;
};

__attribute__((format(printf, 2, 3))) void Add(TextBuffer& b, const char* format, ...) {
    if (b.overflow) return;
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(b.out + b.length, static_cast<size_t>(b.capacity - b.length), format, args);
    va_end(args);
    if (n < 0 || n >= b.capacity - b.length) b.overflow = true;
    else b.length += n;
}

const char* OnOff(uint32_t flags, uint32_t bit) { return (flags & bit) != 0 ? "on" : "off"; }

// The seconds a move took as its clock comment: {s, {m:ss or {h:mm:ss.
void AddClock(TextBuffer& b, int32_t ms) {
    // A clock record that runs backwards (a new time control re-based it) is not a negative time.
    const int32_t s = ms > 0 ? ms / MS_PER_SECOND : 0;
    if (s < SECONDS_PER_MINUTE) Add(b, "{%ld", static_cast<long>(s));
    else if (s < SECONDS_PER_HOUR) Add(b, "{%ld:%02ld", static_cast<long>(s / SECONDS_PER_MINUTE), static_cast<long>(s % SECONDS_PER_MINUTE));
    else
        Add(b, "{%01ld:%02ld:%02ld", static_cast<long>(s / SECONDS_PER_HOUR),
            static_cast<long>(s / SECONDS_PER_MINUTE % SECONDS_PER_MINUTE), static_cast<long>(s % SECONDS_PER_MINUTE));
}

// The score and depth closing a clock comment, White's view, in pawns.
void AddScore(TextBuffer& b, const GameEntry& e) {
    const int32_t g = e.mover == BLACK ? -e.score : e.score;
    const int32_t d = e.depthWord >> DEPTH_WORD_SHIFT;
    if (g == MATE_THRESHOLD || g == -MATE_THRESHOLD) {
        Add(b, " MATE N/%d} ", d);
    } else if (g < -MATE_THRESHOLD) {
        // The sign stands in front of the M: "-M3" is being mated in 3.
        Add(b, " -M%d/%d} ", (g + MATE) / 2, d);
    } else if (g > MATE_THRESHOLD) {
        Add(b, " +M%d/%d} ", (MATE + 1 - g) / 2, d);
    } else {
        const int32_t p = g * 100 / PAWN_VALUE;
        const int32_t q = g * 100 / (PAWN_VALUE * 100);
        if (p < 0) Add(b, " -%d.%02d/%d} ", -q, 100 * q - p, d);
        else Add(b, " %d.%02d/%d} ", q, p - 100 * q, d);
    }
}

void AddHeaders(TextBuffer& b, int32_t engineColour, int32_t result) {
    const uint32_t flags = Search.searchFlags;
    const platform::LocalDate today = platform::Today();
    Add(b, "[Event \"%s\"]\n[Site \"\"]\n", "AutoSave");
    Add(b, "[Date \"%04d.%02d.%02d\"]\n", today.year, today.month, today.day);
    Add(b, "[Round \"%d\"]\n", GameRecord.gameCounter);
    const bool limited = (flags & OptionFlag::LIMIT_STRENGTH) != 0;
    if (engineColour == WHITE) {
        Add(b, "[White \"%s\"]\n[Black \"%s\"]\n", ENGINE_NAME, ENGINE_PLAYER_NAME);
        if (limited) Add(b, "[WhiteElo \"%d\"]\n", Settings.elo);
    } else {
        Add(b, "[White \"%s\"]\n[Black \"%s\"]\n", ENGINE_PLAYER_NAME, ENGINE_NAME);
        if (limited) Add(b, "[BlackElo \"%d\"]\n", Settings.elo);
    }
    Add(b, "[Result \"%s\"]\n", ResultText(result));
    if (GameBoard.fromFen) Add(b, "[SetUp \"1\"]\n[FEN \"%s\"]\n", GameBoard.startFen);

    // A "}" in the user's book name would end the comment early.
    char bookName[FILE_NAME_SIZE];
    std::snprintf(bookName, sizeof bookName, "%s", Settings.bookFileName);
    for (char* c = bookName; *c != '\0'; ++c)
        if (*c == '}') *c = ')';
    Add(b, "{Hash %ldMb, Retain=%s, PosLrn=%s Tbs %d/%ldMb/d=%d L=%s\n", static_cast<long>(Settings.hashSize / KB_PER_MB),
        OnOff(flags, OptionFlag::RETAIN_HASH), OnOff(flags, OptionFlag::POSITION_LEARNING), RegisteredTablebaseFiles(),
        static_cast<long>(Settings.tablebaseCache / MEGABYTE), static_cast<int>(Settings.tablebaseDepth),
        OnOff(flags, OptionFlag::GUI_TIME_LAG));
    Add(b, "Sel=%d Fut=%s ss=%s fp=%d td=%d smart=%s comb=%s %s HM=%s draw=%d swdl=%s\n",
        static_cast<int>((flags & OptionFlag::SELECTIVITY) >> OptionFlag::SELECTIVITY_SHIFT), OnOff(flags, OptionFlag::FUTILITY),
        OnOff(flags, OptionFlag::STEADY_SEARCH), Settings.forwardPruning / FORWARD_PRUNING_STEP, -Settings.threatDepth,
        OnOff(flags, OptionFlag::SMART_SEARCH), OnOff(flags, OptionFlag::COMBINATIONS),
        PlayingStyleName(static_cast<int>((flags & OptionFlag::PLAYING_STYLE) >> OptionFlag::PLAYING_STYLE_SHIFT)),
        OnOff(flags, OptionFlag::HYPER_MODERN), -Settings.drawValue, OnOff(flags, OptionFlag::SWINDLE));
    Add(b, "%s Book=%s/%s Pos=%d BkLrn=%s mpv=%d}\n", bookName, OnOff(flags, OptionFlag::OWN_BOOK),
        BookStyleName(static_cast<int>((flags & OptionFlag::BOOK_STYLE) >> OptionFlag::BOOK_STYLE_SHIFT)),
        Settings.bookPositions, OnOff(flags, OptionFlag::BOOK_LEARNING), Settings.multiPV);
}

}  // namespace

const char* ResultText(int32_t result) {
    return result >= GameResult::OPEN && result <= GameResult::BLACK_WON ? RESULT_TEXTS[result] : RESULT_TEXTS[0];
}

bool HasEngineLastMove() {
    if (GameRecord.length + 1 >= GAME_RECORD_SIZE) return false;
    const GameEntry& next = GameRecord.entries[GameRecord.length + 1];
    const Position& p = GameBoard.position;
    return (next.flags & EntryFlag::SCORE_USABLE) != 0 && next.mover == p.sideToMove &&
           next.keyLow == p.hashKey[0] && next.keyHigh == p.hashKey[1];
}

int32_t LastGamePly() { return HasEngineLastMove() ? GameRecord.length + 1 : GameRecord.length; }

namespace {

// Mate or stalemate in the game's final position (after the engine's last move when it has
// one): EntryFlag::CHECKMATE, EntryFlag::STALEMATE, or 0 while the game could go on.
uint16_t FinalPositionEnd() {
    static Position board;
    board = GameBoard.position;
    if (HasEngineLastMove()) {
        board.undoTop = 0;
        MakeMove(board, GameRecord.entries[GameRecord.length + 1].move & ~CHECK_MARK);
    }
    if (!HasNoLegalMove(board, board.sideToMove)) return 0;
    return InCheck(board) ? EntryFlag::CHECKMATE : EntryFlag::STALEMATE;
}

bool HasUsableScore(int32_t index) {
    return index > FIRST_ENTRY && (GameRecord.entries[index].flags & EntryFlag::SCORE_USABLE) != 0;
}

}  // namespace

GameVerdict JudgeGame() {
    GameVerdict v{GameResult::OPEN, NO_ENGINE_COLOUR, 0};
    if (HasEngineLastMove()) {
        const GameEntry& last = GameRecord.entries[GameRecord.length + 1];
        v.engineColour = last.mover;
        const int32_t c = last.mover == BLACK ? -last.score : last.score;
        if (c > WIN_SCORE) v.result = GameResult::WHITE_WON;
        else if (c < -WIN_SCORE) v.result = GameResult::BLACK_WON;
        else if (c < DRAW_SCORE && c > -DRAW_SCORE) v.result = GameResult::DRAW;
    } else if (HasUsableScore(GameRecord.length)) {
        v.engineColour = GameRecord.entries[GameRecord.length].mover;
    }
    v.gameEnd = FinalPositionEnd();
    if (v.gameEnd == 0) return v;
    // The board has the last word: the side that made the final move mated or stalemated.
    const Colour lastMover = GameRecord.entries[LastGamePly()].mover;
    v.result = v.gameEnd == EntryFlag::STALEMATE ? GameResult::DRAW
                                                 : (lastMover == WHITE ? GameResult::WHITE_WON : GameResult::BLACK_WON);
    // The opponent's final move came right after the engine's own, whose search left its score.
    if (v.engineColour == NO_ENGINE_COLOUR && HasUsableScore(GameRecord.length - 1))
        v.engineColour = GameRecord.entries[GameRecord.length - 1].mover;
    return v;
}

void SanText(const GameEntry& e, char out[SAN_TEXT_SIZE]) {
    const Move move = e.move & ~CHECK_MARK;
    const int from = MoveFrom(move);
    const int to = MoveTo(move);
    const PieceType type = e.sanCode & 7;
    int n = 0;
    if (IsCastling(move)) {
        // Chess960 castling goes to the rook's square: the side follows the direction.
        for (const char* c = FileOf(to) > FileOf(from) ? "O-O" : "O-O-O"; *c != '\0'; ++c) out[n++] = *c;
    } else {
        const bool promotion = IsPromotion(move);
        const bool capture = promotion ? FileOf(from) != FileOf(to) : e.capturedType != NO_PIECE || IsEnPassant(move);
        if (type != PAWN) {
            out[n++] = PIECE_LETTERS[type];
            if (e.sanCode & SAN_FILE) out[n++] = static_cast<char>('a' + FileOf(from));
            if (e.sanCode & SAN_RANK) out[n++] = static_cast<char>('1' + RankOf(from));
        } else if (capture) {
            out[n++] = static_cast<char>('a' + FileOf(from));
        }
        if (capture) out[n++] = 'x';
        out[n++] = static_cast<char>('a' + FileOf(to));
        out[n++] = static_cast<char>('1' + RankOf(to));
        if (promotion) out[n++] = PIECE_LETTERS[PromotedType(move)];
    }
    if (e.move & CHECK_MARK) out[n++] = '+';
    out[n] = '\0';
}

int32_t FormatGame(char* out, int32_t capacity, int32_t engineColour, int32_t result) {
    TextBuffer b{out, capacity, 0, false};
    AddHeaders(b, engineColour, result);
    int32_t lineStart = b.length;
    const int32_t last = LastGamePly();
    for (int32_t i = FIRST_ENTRY + 1; i <= last; ++i) {
        GameEntry& e = GameRecord.entries[i];
        const int32_t ply = i + GameRecord.plyOffset;
        if ((ply & 1) == 0) Add(b, "%d.", ply / 2);
        else if (i == FIRST_ENTRY + 1) Add(b, "%d...", ply / 2);
        char san[SAN_TEXT_SIZE];
        SanText(e, san);
        const int32_t sanLength = static_cast<int32_t>(std::strlen(san));
        if ((e.flags & EntryFlag::GAME_END_MASK) == (EntryFlag::CHECKMATE & EntryFlag::GAME_END_MASK)) {
            if (sanLength > 0 && san[sanLength - 1] == '+') san[sanLength - 1] = '#';
        }
        Add(b, "%s ", san);
        AddClock(b, e.clockTime - GameRecord.entries[i - 2].clockTime);
        if (e.flags & EntryFlag::SCORE_USABLE) AddScore(b, e);
        else Add(b, "} ");
        if (b.length - lineStart > PGN_LINE_FLUSH) {
            Add(b, "\n");
            lineStart = b.length;
        }
    }
    Add(b, "%s\n\n", ResultText(result));
    return b.overflow ? 0 : b.length;
}

bool WriteGame(const char* path, int32_t engineColour, int32_t result) {
    static char text[PGN_TEXT_SIZE];
    const int32_t length = FormatGame(text, PGN_TEXT_SIZE, engineColour, result);
    return length > 0 && platform::AppendToFile(path, text, length);
}

void EndGame(const char* path) {
    if (GameRecord.ended) return;
    // A game without a move (GUIs send "ucinewgame" before their first game) is no game.
    if (LastGamePly() > FIRST_ENTRY) {
        const GameVerdict verdict = JudgeGame();
        GameRecord.entries[LastGamePly()].flags |= verdict.gameEnd;  // a mate the GUI played gets its "#"
        if (verdict.engineColour != NO_ENGINE_COLOUR) LearnFromGame(GameRecord.entries, LastGamePly(), verdict.result, verdict.engineColour);
        ++GameRecord.gameCounter;
        const bool autosave = (Settings.autosaveFlags & AUTOSAVE_PGN) != 0;
        // A file that cannot be opened is skipped silently.
        if (autosave && LastGamePly() - FIRST_ENTRY > 2) WriteGame(path, verdict.engineColour, verdict.result);
    }
    // What the searches booked belongs to this game alone.
    for (GameEntry& e : GameRecord.entries) ClearBooking(e);
    GameRecord.ended = true;
}

}  // namespace tavrix
