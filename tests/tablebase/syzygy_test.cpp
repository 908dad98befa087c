// Syzygy tables: the board handed to the library, scores and ranks of table results, and the
// win/draw/loss of positions and of every root move against Debian's fathom command.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "board/board_test_util.h"
#include "board/makemove.h"
#include "board/movegen.h"
#include "board/moveservices.h"
#include "control/setup.h"
#include "platform/platform.h"
#include "search/ttable.h"
#include "support/fen_position.h"
#include "tablebase/probe.h"
#include "tablebase/syzygy.h"

namespace tavrix {
namespace {

constexpr const char FATHOM_COMMAND[] = "/usr/games/fathom";

std::string TestTables() { return std::string(TAVRIX_TEST_DATA) + "/syzygy"; }

// Loads the test tables, the "info string" lines going nowhere.
int32_t LoadTestTables() {
    FILE* sink = std::fopen("/dev/null", "w");
    platform::RedirectOutput(sink);
    LoadSyzygyTables(TestTables().c_str());
    platform::RedirectOutput(nullptr);
    std::fclose(sink);
    return Syzygy.largest;
}

// Bitboards read from the FEN text itself, a1 = bit 0.
SyzygyBoard BoardOfFenText(const std::string& fen) {
    SyzygyBoard b{};
    int rank = 7, file = 0;
    for (const char c : fen.substr(0, fen.find(' '))) {
        if (c == '/') {
            --rank;
            file = 0;
        } else if (c >= '1' && c <= '8') {
            file += c - '0';
        } else {
            const uint64_t bit = uint64_t(1) << (rank * 8 + file++);
            (std::isupper(static_cast<unsigned char>(c)) ? b.white : b.black) |= bit;
            switch (std::tolower(static_cast<unsigned char>(c))) {
                case 'p': b.pawns |= bit; break;
                case 'n': b.knights |= bit; break;
                case 'b': b.bishops |= bit; break;
                case 'r': b.rooks |= bit; break;
                case 'q': b.queens |= bit; break;
                default: b.kings |= bit; break;
            }
        }
    }
    b.whiteToMove = fen.find(" w") != std::string::npos;
    return b;
}

TEST(SyzygyBoard, SquaresColoursSideAndEnPassantAsTheLibraryCountsThem) {
    struct Case {
        const char* fen;
        uint32_t ep;  // the target square, a1 = 0; 0 where no pawn can take
    };
    const Case cases[] = {
        {"8/8/8/8/8/2k5/8/KR6 w - -", 0},
        {"8/8/8/8/8/2k5/8/KR6 b - -", 0},
        {"1n2k3/P7/8/8/8/8/5q2/4K2B w - -", 0},
        {"4k3/8/8/3pP3/8/8/8/4K3 w - d6", 43},    // d6
        {"4k3/8/8/8/3pP3/8/8/4K3 b - e3", 20},    // e3
        {"4k3/8/8/8/4P3/8/8/4K3 b - e3", 0},      // no black pawn beside it
        {"7k/8/8/8/Pp6/8/8/K7 b - a3", 16},       // a3, from the edge file
    };
    for (const Case& c : cases) {
        Position p;
        ASSERT_TRUE(testing_support::LoadFen(p, c.fen)) << c.fen;
        const SyzygyBoard got = ToSyzygyBoard(p);
        const SyzygyBoard want = BoardOfFenText(c.fen);
        EXPECT_EQ(got.white, want.white) << c.fen;
        EXPECT_EQ(got.black, want.black) << c.fen;
        EXPECT_EQ(got.kings, want.kings) << c.fen;
        EXPECT_EQ(got.queens, want.queens) << c.fen;
        EXPECT_EQ(got.rooks, want.rooks) << c.fen;
        EXPECT_EQ(got.bishops, want.bishops) << c.fen;
        EXPECT_EQ(got.knights, want.knights) << c.fen;
        EXPECT_EQ(got.pawns, want.pawns) << c.fen;
        EXPECT_EQ(got.whiteToMove, want.whiteToMove) << c.fen;
        EXPECT_EQ(got.ep, c.ep) << c.fen;
    }
}

// Table wins lie above every evaluation and below every mate at any ply, and keep their
// distance through the transposition table; the fifty-move classes follow the option.
TEST(SyzygyScore, WinsAndLossesBetweenEvaluationsAndMates) {
    struct Case {
        int32_t wdl;
        bool fiftyMoveRule;
        int32_t bound;    // +1 a win (lower bound), -1 a loss, 0 a draw
        int32_t overDraw; // for draws: above the draw score by
    };
    const Case cases[] = {
        {SyzygyWdl::WIN, true, 1, 0},        {SyzygyWdl::WIN, false, 1, 0},
        {SyzygyWdl::CURSED_WIN, true, 0, 1}, {SyzygyWdl::CURSED_WIN, false, 1, 0},
        {SyzygyWdl::DRAW, true, 0, 0},       {SyzygyWdl::DRAW, false, 0, 0},
        {SyzygyWdl::BLESSED_LOSS, true, 0, -1}, {SyzygyWdl::BLESSED_LOSS, false, -1, 0},
        {SyzygyWdl::LOSS, true, -1, 0},      {SyzygyWdl::LOSS, false, -1, 0},
    };
    constexpr int32_t DRAW_SCORE = -13;
    for (const Case& c : cases) {
        for (int32_t ply : {1, 2, 30, MAX_TABLE_WIN_PLY - 2}) {
            const SyzygyScore s = ScoreOfWdl(c.wdl, ply, DRAW_SCORE, c.fiftyMoveRule);
            EXPECT_EQ(s.bound, c.bound) << c.wdl << " " << ply;
            if (c.bound == 0) {
                EXPECT_EQ(s.score, DRAW_SCORE + c.overDraw) << c.wdl;
                continue;
            }
            const int32_t own = c.bound * s.score;
            EXPECT_GT(own, DECIDED_THRESHOLD) << ply;
            EXPECT_LE(own, MATE_THRESHOLD) << ply;           // printed as centipawns, never as mate
            EXPECT_LT(own, MATE - MAX_TABLE_WIN_PLY * 2) << ply;  // below the longest mate the search sees
            // Sooner wins score higher, and the table keeps the distance from the node.
            EXPECT_GT(own, c.bound * ScoreOfWdl(c.wdl, ply + 1, DRAW_SCORE, c.fiftyMoveRule).score);
            EXPECT_TRUE(IsDecidedScore(s.score));
            EXPECT_EQ(ScoreFromTable(ScoreToTable(s.score, ply), 1, true), ScoreOfWdl(c.wdl, 1, 0, c.fiftyMoveRule).score);
        }
    }
}

TEST(SyzygyRootRank, WinsConvertDrawsHoldLossesResist) {
    struct Case {
        int32_t wdl, dtz, fifty;
        bool repeated;
    };
    // In falling order of preference; neighbours of equal rank are marked by `same`.
    struct Step {
        Case move;
        bool sameAsPrevious;
    };
    const Step order[] = {
        {{SyzygyWdl::WIN, 1, 0, false}, false},
        {{SyzygyWdl::WIN, 40, 0, false}, true},     // any converting win: the search picks
        {{SyzygyWdl::WIN, 19, 80, false}, true},    // still inside the rule at 80
        {{SyzygyWdl::WIN, 21, 80, false}, false},   // beyond it: the quicker first
        {{SyzygyWdl::WIN, 25, 80, false}, false},
        {{SyzygyWdl::CURSED_WIN, 30, 80, false}, false},
        {{SyzygyWdl::DRAW, 0, 0, false}, false},
        {{SyzygyWdl::DRAW, 0, 90, false}, true},
        {{SyzygyWdl::BLESSED_LOSS, 60, 80, false}, false},
        {{SyzygyWdl::LOSS, 50, 0, false}, false},   // the longest resistance first
        {{SyzygyWdl::LOSS, 7, 0, false}, false},
        {{SyzygyWdl::LOSS, 1, 0, false}, false},
    };
    int32_t previous = 0;
    for (size_t i = 0; i < std::size(order); ++i) {
        const Case& c = order[i].move;
        const int32_t rank = SyzygyRootRank(c.wdl, c.dtz, c.fifty, c.repeated);
        if (i > 0) {
            if (order[i].sameAsPrevious) EXPECT_EQ(rank, previous) << i;
            else EXPECT_LT(rank, previous) << i;
        }
        previous = rank;
    }
    // After a repetition converting wins are told apart by their distance, still above the rest.
    const int32_t quick = SyzygyRootRank(SyzygyWdl::WIN, 3, 10, true);
    const int32_t slow = SyzygyRootRank(SyzygyWdl::WIN, 30, 10, true);
    EXPECT_GT(quick, slow);
    EXPECT_GT(slow, SyzygyRootRank(SyzygyWdl::WIN, 95, 10, false));
    EXPECT_GT(slow, SyzygyRootRank(SyzygyWdl::CURSED_WIN, 95, 10, false));
}

// ------------------------------------------------------------ against the fathom command

struct FathomAnswer {
    bool ok = false;
    int32_t wdl = 0;
    std::vector<std::string> winning, drawing, losing;
    std::map<std::string, int> dtzRank;  // rank of each move in the distance-to-zero probe
    std::string firstMove;               // the line's first move: the library's own choice
};

std::vector<std::string> SplitMoves(const std::string& list) {
    std::vector<std::string> out;
    std::istringstream in(list);
    std::string move;
    while (std::getline(in, move, ',')) {
        const size_t a = move.find_first_not_of(' ');
        if (a != std::string::npos) out.push_back(move.substr(a));
    }
    return out;
}

std::string TagValue(const std::string& line, const std::string& tag) {
    const std::string head = "[" + tag + " \"";
    if (line.rfind(head, 0) != 0) return "";
    return line.substr(head.size(), line.size() - head.size() - 2);
}

FathomAnswer AskFathom(const std::string& fen) {
    FathomAnswer a;
    const std::string command = std::string(FATHOM_COMMAND) + " --path=" + TestTables() + " '" + fen + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return a;
    static const std::map<std::string, int32_t> WDL = {{"Loss", SyzygyWdl::LOSS},
                                                        {"BlessedLoss", SyzygyWdl::BLESSED_LOSS},
                                                        {"Draw", SyzygyWdl::DRAW},
                                                        {"CursedWin", SyzygyWdl::CURSED_WIN},
                                                        {"Win", SyzygyWdl::WIN}};
    char buffer[4096];
    bool inDtzRanks = false;
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        std::string line(buffer);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        if (const std::string v = TagValue(line, "WDL"); !v.empty() && WDL.count(v)) {
            a.wdl = WDL.at(v);
            a.ok = true;
        }
        if (line.rfind("[WinningMoves ", 0) == 0) a.winning = SplitMoves(TagValue(line, "WinningMoves"));
        if (line.rfind("[DrawingMoves ", 0) == 0) a.drawing = SplitMoves(TagValue(line, "DrawingMoves"));
        if (line.rfind("[LosingMoves ", 0) == 0) a.losing = SplitMoves(TagValue(line, "LosingMoves"));
        if (line.rfind("1. ", 0) == 0 || line.rfind("1... ", 0) == 0) {
            std::istringstream words(line);
            std::string number;
            words >> number >> a.firstMove;
        }
        if (line.find("moves returned from DTZ probe") != std::string::npos) inDtzRanks = true;
        else if (line.find("moves returned from") != std::string::npos) inDtzRanks = false;
        else if (inDtzRanks && line.find(" rank = ") != std::string::npos)
            a.dtzRank[line.substr(0, line.find(' '))] = std::stoi(line.substr(line.find(" rank = ") + 8));
    }
    pclose(pipe);
    return a;
}

// Random legal positions of a class: `white` and `black` are the pieces beside the kings.
struct Sampler {
    uint64_t state = 0x2545F4914F6CDD1Dull;
    uint64_t Next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
    int Below(int n) { return static_cast<int>(Next() % static_cast<uint64_t>(n)); }
};

std::string FenOf(const char board[64], Colour side, const std::string& ep) {
    std::string fen;
    for (int rank = 7; rank >= 0; --rank) {
        int empty = 0;
        for (int file = 0; file < 8; ++file) {
            const char c = board[rank * 8 + file];
            if (c == 0) {
                ++empty;
                continue;
            }
            if (empty) fen += static_cast<char>('0' + empty);
            empty = 0;
            fen += c;
        }
        if (empty) fen += static_cast<char>('0' + empty);
        if (rank) fen += '/';
    }
    return fen + (side == WHITE ? " w - " : " b - ") + ep + " 0 1";
}

// Pawns keep to the third to sixth ranks in four-man classes: a promotion would need tables
// the test data leaves out.
std::string RandomFen(Sampler& rng, const std::string& white, const std::string& black, Colour side) {
    for (;;) {
        char board[64] = {};
        const std::string pieces = "K" + white + "k" + black;
        const int lowRank = pieces.size() > 3 ? 2 : 1, highRank = pieces.size() > 3 ? 5 : 6;
        bool upper = true;
        for (const char piece : pieces) {
            if (piece == 'k') upper = false;
            int sq;
            do {
                sq = rng.Below(64);
            } while (board[sq] != 0 || (piece == 'P' && (RankOf(sq) < lowRank || RankOf(sq) > highRank)));
            board[sq] = upper ? piece : static_cast<char>(std::tolower(piece));
        }
        const std::string fen = FenOf(board, side, "-");
        Position p;
        if (testing_support::LoadFen(p, fen)) return fen;
    }
}

// A pawn of the side not to move has just made its double step beside a pawn that may take it.
std::string EnPassantFen(Sampler& rng, Colour side) {
    for (;;) {
        char board[64] = {};
        const int file = rng.Below(8);
        const int beside = file == 0 ? 1 : file == 7 ? 6 : file + (rng.Below(2) ? 1 : -1);
        const int rank = side == WHITE ? 4 : 3;
        board[MakeSquare(file, rank)] = side == WHITE ? 'p' : 'P';
        board[MakeSquare(beside, rank)] = side == WHITE ? 'P' : 'p';
        const int passed = MakeSquare(file, side == WHITE ? 5 : 2);
        const int origin = MakeSquare(file, side == WHITE ? 6 : 1);
        for (const char king : {'K', 'k'}) {
            int sq;
            do {
                sq = rng.Below(64);
            } while (board[sq] != 0 || sq == passed || sq == origin);
            board[sq] = king;
        }
        const std::string ep = std::string(1, static_cast<char>('a' + file)) + static_cast<char>('1' + RankOf(passed));
        const std::string fen = FenOf(board, side, ep);
        Position p;
        if (testing_support::LoadFen(p, fen) && p.epSquare == passed) return fen;
    }
}

std::vector<Move> LegalMoves(Position& p) {
    std::vector<Move> out;
    for (const Move m : test::PseudoLegalMoves(p))
        if (IsLegalAfterMake(p, m)) out.push_back(m);
    return out;
}

int MoveKey(Move m) { return MoveFrom(m) | MoveTo(m) << 6 | PromotedType(m) << 12; }
int Sign(int32_t v) { return (v > 0) - (v < 0); }

TEST(SyzygyAgreement, WinDrawLossAndRootRankingMatchTheFathomCommand) {
    ASSERT_EQ(LoadTestTables(), 4);
    struct Class {
        const char* white;
        const char* black;
        int count;
    };
    const Class classes[] = {{"Q", "", 16},  {"", "Q", 16},  {"R", "", 16},  {"", "R", 16},
                             {"P", "", 24},  {"", "P", 24},  {"BN", "", 24}, {"", "BN", 24},
                             {"R", "R", 30}, {"R", "P", 36}, {"P", "R", 36}, {"P", "P", 36}};
    Sampler rng;
    std::vector<std::string> fens;
    for (const Class& c : classes)
        for (int i = 0; i < c.count; ++i) fens.push_back(RandomFen(rng, c.white, c.black, i % 2 ? BLACK : WHITE));
    for (int i = 0; i < 30; ++i) fens.push_back(EnPassantFen(rng, i % 2 ? BLACK : WHITE));

    int compared = 0, inCheck = 0, enPassant = 0, blackToMove = 0;
    static Position p;
    static SyzygyRootMove ranked[MAX_LIST_MOVES];
    for (const std::string& fen : fens) {
        ASSERT_TRUE(testing_support::LoadFen(p, fen)) << fen;
        const std::vector<Move> moves = LegalMoves(p);
        if (moves.empty()) continue;  // mate and stalemate are the search's to see
        const FathomAnswer a = AskFathom(fen);
        ASSERT_TRUE(a.ok) << "fathom cannot probe " << fen;
        ++compared;
        inCheck += p.attackMap[p.sideToMove ^ 1].square[KingSquare(p, p.sideToMove)].attackWeight != 0;
        blackToMove += p.sideToMove == BLACK;
        for (const Move m : moves) enPassant += IsEnPassant(m);

        int32_t wdl = 99;
        ASSERT_TRUE(ProbeSyzygyWdl(p, wdl)) << fen;
        EXPECT_EQ(wdl, a.wdl) << fen;

        ASSERT_TRUE(ProbeSyzygyRoot(p, 0, false, moves.data(), static_cast<int>(moves.size()), ranked)) << fen;
        std::map<int, int> theirResult;  // move key -> sign of its result for the side to move
        for (const auto& [list, sign] : {std::pair{&a.winning, 1}, std::pair{&a.drawing, 0}, std::pair{&a.losing, -1}})
            for (const std::string& san : *list) theirResult[MoveKey(ParseMoveText(p, san.c_str()))] = sign;
        EXPECT_EQ(theirResult.size(), moves.size()) << fen;
        int theirTop = INT32_MIN;
        for (const auto& [san, rank] : a.dtzRank) theirTop = std::max(theirTop, rank);
        std::set<int> ours, theirs;
        for (const auto& [san, rank] : a.dtzRank)
            if (rank == theirTop) theirs.insert(MoveKey(ParseMoveText(p, san.c_str())));
        for (size_t i = 0; i < moves.size(); ++i) {
            const SyzygyRootMove& r = ranked[i];
            ASSERT_TRUE(r.found) << fen;
            const auto their = theirResult.find(MoveKey(r.move));
            ASSERT_NE(their, theirResult.end()) << fen;
            EXPECT_EQ(Sign(r.wdl), their->second) << fen << " move " << MoveKey(r.move);
            if (r.best) {
                ours.insert(MoveKey(r.move));
                EXPECT_EQ(Sign(r.wdl), Sign(a.wdl)) << fen;
            }
        }
        if (a.wdl >= 0) {
            EXPECT_EQ(ours, theirs) << fen;
        } else {
            // Lost: the longest resistance, of which the library's own line takes one.
            for (const int key : ours) EXPECT_TRUE(theirs.count(key)) << fen;
            EXPECT_TRUE(ours.count(MoveKey(ParseMoveText(p, a.firstMove.c_str())))) << fen << " " << a.firstMove;
        }
    }
    EXPECT_GE(compared, 300);
    EXPECT_GE(inCheck, 20);
    EXPECT_GE(enPassant, 20);
    EXPECT_GE(blackToMove, compared / 3);
}

}  // namespace
}  // namespace tavrix
