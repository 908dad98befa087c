#include "bookbuild/pgn.h"

#include <cctype>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <sstream>
#include <vector>

#include "board/makemove.h"

namespace tavrix::bookbuild {

namespace {

struct GameText {
    std::string fen;
    std::string result;              // from the Result tag or the game's terminator
    std::vector<std::string> moves;
    bool started = false;            // tags or moves seen
};

struct PlayedMove {
    uint32_t key;
    uint8_t check;
    Move move;
    Colour mover;
};

bool IsResult(const std::string& token) {
    return token == "1-0" || token == "0-1" || token == "1/2-1/2" || token == "*";
}

PieceType PieceLetter(char c) {
    switch (c) {
        case 'N': return KNIGHT;
        case 'B': return BISHOP;
        case 'R': return ROOK;
        case 'Q': return QUEEN;
        case 'K': return KING;
        default: return NO_PIECE;
    }
}

bool IsFile(char c) { return c >= 'a' && c <= 'h'; }
bool IsRank(char c) { return c >= '1' && c <= '8'; }

// "12." "12..." "3.e4": the move number is dropped, the rest returned.
std::string WithoutMoveNumber(const std::string& token) {
    size_t i = 0;
    while (i < token.size() && std::isdigit(static_cast<unsigned char>(token[i]))) ++i;
    if (i == 0 || i == token.size() || token[i] != '.') return token;
    while (i < token.size() && token[i] == '.') ++i;
    return token.substr(i);
}

// Points of a mover for a result: 2 win, 1 draw, 0 loss; -1 when the game is not counted.
int Points(const std::string& result, Colour mover, bool winnersOnly) {
    if (result == "1-0") return mover == WHITE ? 2 : (winnersOnly ? -1 : 0);
    if (result == "0-1") return mover == BLACK ? 2 : (winnersOnly ? -1 : 0);
    if (winnersOnly) return -1;
    return 1;  // draws and open results count as half a point
}

class Reader {
public:
    Reader(BookBuilder& b, const std::string& text, const std::string& name, const PgnOptions& options, FILE* errors)
        : b_(b), text_(text), name_(name), options_(options), errors_(errors) {}

    PgnImport Run() {
        GameText game;
        while (SkipSpace()) {
            const char c = text_[i_];
            if (c == '[') {
                if (!game.moves.empty()) Finish(game);
                ReadTag(game);
            } else if (c == '{') {
                SkipPast('}');
            } else if (c == ';' || (c == '%' && AtLineStart())) {
                SkipPast('\n');
            } else if (c == '(') {
                SkipVariation();
            } else if (c == ')' || c == '}' || c == ']') {
                ++i_;
            } else if (c == '$') {
                ++i_;
                while (i_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[i_]))) ++i_;
            } else {
                const std::string token = WithoutMoveNumber(ReadToken());
                if (token.empty()) continue;
                game.started = true;
                if (IsResult(token)) {
                    if (token != "*" || game.result.empty()) game.result = token;
                    Finish(game);
                } else {
                    game.moves.push_back(token);
                }
            }
        }
        if (!game.moves.empty()) Finish(game);
        Report(true);
        return result_;
    }

private:
    bool SkipSpace() {
        while (i_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[i_]))) ++i_;
        return i_ < text_.size();
    }
    bool AtLineStart() const { return i_ == 0 || text_[i_ - 1] == '\n'; }
    void SkipPast(char end) {
        const size_t at = text_.find(end, i_ + 1);
        i_ = at == std::string::npos ? text_.size() : at + 1;
    }
    void SkipVariation() {
        int depth = 0;
        while (i_ < text_.size()) {
            const char c = text_[i_];
            if (c == '{') {
                SkipPast('}');
                continue;
            }
            if (c == ';') {
                SkipPast('\n');
                continue;
            }
            ++i_;
            if (c == '(') ++depth;
            else if (c == ')' && --depth == 0) return;
        }
    }
    std::string ReadToken() {
        const size_t start = i_;
        while (i_ < text_.size() && !std::isspace(static_cast<unsigned char>(text_[i_])) &&
               std::strchr("{}()[];$", text_[i_]) == nullptr)
            ++i_;
        if (i_ == start) ++i_;  // a lone character no rule takes
        return text_.substr(start, i_ - start);
    }
    void ReadTag(GameText& game) {
        ++i_;
        size_t nameStart = i_;
        while (i_ < text_.size() && !std::isspace(static_cast<unsigned char>(text_[i_])) && text_[i_] != ']' && text_[i_] != '"') ++i_;
        const std::string tag = text_.substr(nameStart, i_ - nameStart);
        std::string value;
        while (i_ < text_.size() && text_[i_] != '"' && text_[i_] != ']' && text_[i_] != '\n') ++i_;
        if (i_ < text_.size() && text_[i_] == '"') {
            for (++i_; i_ < text_.size() && text_[i_] != '"' && text_[i_] != '\n'; ++i_) {
                if (text_[i_] == '\\' && i_ + 1 < text_.size()) ++i_;
                value += text_[i_];
            }
        }
        while (i_ < text_.size() && text_[i_] != ']' && text_[i_] != '\n') ++i_;
        if (i_ < text_.size()) ++i_;
        game.started = true;
        if (tag == "FEN") game.fen = value;
        else if (tag == "Result" && IsResult(value)) game.result = value;
    }

    void Reject(const std::string& why) {
        ++result_.rejected;
        if (errors_ == nullptr) return;
        // The error goes below the progress line, which stays as it was.
        if (progressShown_ && errors_ == options_.progress) std::fputc('\n', errors_);
        progressShown_ = false;
        std::fprintf(errors_, "%s: game %d: %s\n", name_.c_str(), gameNumber_, why.c_str());
    }

    void Finish(GameText& game) {
        if (game.started) ++gameNumber_;
        Play(game);
        game = GameText{};
        const int every = options_.progressInPlace ? PROGRESS_GAMES_IN_PLACE : PROGRESS_GAMES;
        if (gameNumber_ != reported_ && gameNumber_ % every == 0) Report(false);
    }

    void Report(bool last) {
        FILE* out = options_.progress;
        if (out == nullptr) return;
        const int percent = text_.empty() ? 100 : static_cast<int>(i_ * 100 / text_.size());
        std::fprintf(out, "%stavrix-book: %s: %d games read (%d%%)", options_.progressInPlace ? "\r" : "", name_.c_str(),
                     gameNumber_, percent);
        reported_ = gameNumber_;
        progressShown_ = options_.progressInPlace && !last;
        if (!progressShown_) std::fputc('\n', out);
        std::fflush(out);
    }

    void Play(const GameText& game) {
        if (game.moves.empty()) return;
        static Position p;
        if (!SetUpFen(p, game.fen.empty() ? START_FEN : game.fen.c_str())) {
            Reject("cannot set up the FEN \"" + game.fen + "\"");
            return;
        }
        const int plies = std::min<int>(static_cast<int>(game.moves.size()), std::min(options_.maxPly, MAX_WALK_PLIES));
        std::vector<PlayedMove> played;
        for (int ply = 0; ply < plies; ++ply) {
            const Move move = ParseSan(p, game.moves[ply]);
            if (move == NO_MOVE) {
                Reject("cannot play move \"" + game.moves[ply] + "\" at ply " + std::to_string(ply + 1));
                return;
            }
            played.push_back({BookKey(p), BookCheck(p), move, p.sideToMove});
            MakeMove(p, move);
        }
        ++result_.games;
        for (const PlayedMove& m : played) {
            const int points = Points(game.result, m.mover, options_.winnersOnly);
            if (points < 0) continue;
            AddGameMove(b_, m.key, m.check, m.move, static_cast<uint32_t>(points));
            ++result_.moves;
        }
    }

    BookBuilder& b_;
    const std::string& text_;
    const std::string& name_;
    const PgnOptions& options_;
    FILE* errors_;
    size_t i_ = 0;
    int gameNumber_ = 0;
    int reported_ = 0;             // games read at the last report
    bool progressShown_ = false;   // the in-place line stands without its line end
    PgnImport result_;
};

}  // namespace

Move ParseSan(Position& p, const std::string& token) {
    std::string t = token;
    while (!t.empty() && std::strchr("+#!?", t.back()) != nullptr) t.pop_back();
    if (t.size() > 4 && t.compare(t.size() - 4, 4, "e.p.") == 0) t = t.substr(0, t.size() - 4);
    Move legal[MAX_LEGAL_MOVES];
    const int n = LegalMoves(p, legal);

    if (t == "O-O" || t == "0-0" || t == "O-O-O" || t == "0-0-0") {
        const bool kingSide = t.size() == 3;
        for (int i = 0; i < n; ++i)
            if (IsCastling(legal[i]) && (MoveTo(legal[i]) > MoveFrom(legal[i])) == kingSide) return legal[i];
        return NO_MOVE;
    }

    PieceType piece = PAWN;
    size_t at = 0;
    if (!t.empty() && PieceLetter(t[0]) != NO_PIECE) piece = PieceLetter(t[at++]);
    PieceType promotion = NO_PIECE;
    if (t.size() >= 2) {
        const char last = t.back();
        const char before = t[t.size() - 2];
        if (before == '=' || IsRank(before))
            promotion = PieceLetter(static_cast<char>(std::toupper(static_cast<unsigned char>(last))));
        if (promotion == KING) return NO_MOVE;
        if (promotion != NO_PIECE) t.erase(t.end() - (before == '=' ? 2 : 1), t.end());
    }
    if (t.size() < at + 2 || !IsFile(t[t.size() - 2]) || !IsRank(t.back())) return NO_MOVE;
    const int to = MakeSquare(t[t.size() - 2] - 'a', t.back() - '1');
    std::string middle = t.substr(at, t.size() - 2 - at);
    if (!middle.empty() && (middle.back() == 'x' || middle.back() == ':' || middle.back() == '-')) middle.pop_back();
    int fromFile = -1, fromRank = -1;
    for (const char c : middle) {
        if (IsFile(c) && fromFile < 0 && fromRank < 0) fromFile = c - 'a';
        else if (IsRank(c) && fromRank < 0) fromRank = c - '1';
        else return NO_MOVE;
    }
    // A pawn move without a file is a push along its own file.
    if (piece == PAWN && fromFile < 0) fromFile = FileOf(to);

    Move found = NO_MOVE;
    int matches = 0;
    for (int i = 0; i < n; ++i) {
        const Move m = legal[i];
        const int from = MoveFrom(m);
        if (MoveTo(m) != to || p.pieceType[from] != piece) continue;
        if ((fromFile >= 0 && FileOf(from) != fromFile) || (fromRank >= 0 && RankOf(from) != fromRank)) continue;
        const PieceType wanted = promotion != NO_PIECE ? promotion : (IsPromotion(m) ? QUEEN : NO_PIECE);
        if (PromotedType(m) != wanted) continue;
        found = m;
        ++matches;
    }
    return matches == 1 ? found : NO_MOVE;
}

PgnImport ImportPgnText(BookBuilder& b, const std::string& text, const std::string& name, const PgnOptions& options,
                        FILE* errors) {
    return Reader(b, text, name, options, errors).Run();
}

bool ImportPgnFile(BookBuilder& b, const std::string& path, const PgnOptions& options, FILE* errors, PgnImport& result) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    result = ImportPgnText(b, text.str(), path, options, errors);
    return true;
}

}  // namespace tavrix::bookbuild
