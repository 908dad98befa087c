// Games ended over pipes: the PGN file other programs read back, and the learning file a
// later run finds its learned positions in.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "book/learning.h"
#include "e2e/engine_process.h"

namespace tavrix::testing {
namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string FindPgnExtract() {
    for (const char* path : {"/usr/games/pgn-extract", "/usr/bin/pgn-extract", "/usr/local/bin/pgn-extract"})
        if (access(path, X_OK) == 0) return path;
    return {};
}

struct PgnReading {
    std::vector<std::string> games;  // each game's moves in long algebraic form, lower case
    std::string diagnostics;         // everything pgn-extract complained about
};

// Reads a PGN file with pgn-extract as another program would.
PgnReading ReadWithPgnExtract(const std::string& pgn) {
    PgnReading reading;
    const std::string tool = FindPgnExtract();
    EXPECT_FALSE(tool.empty()) << "pgn-extract is not installed";
    if (tool.empty()) return reading;
    const std::string log = pgn + ".log";
    const std::string command = tool + " -Wlalg -s -C -N -V --notags --nomovenumbers --noresults -w 100000 -l\"" +
                                log + "\" \"" + pgn + "\"";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return reading;
    char line[65536];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::string text = Lower(line);
        while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
        if (!text.empty()) reading.games.push_back(text);
    }
    pclose(pipe);
    std::ifstream in(log);
    std::stringstream diagnostics;
    diagnostics << in.rdbuf();
    reading.diagnostics = diagnostics.str();
    return reading;
}

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int CountOf(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

struct Engine {
    EngineSession session;
    explicit Engine(const std::string& directory = {}) : session({}, directory) {
        EXPECT_TRUE(session.started);
        EXPECT_TRUE(SendText(session.engine, "uci\n"));
        EXPECT_TRUE(ReadUntil(session.engine, "uciok"));
    }
    bool Send(const std::string& text) { return SendText(session.engine, text); }
    // The lines up to "bestmove", and the move.
    std::string Bestmove(std::vector<std::string>* info = nullptr) {
        std::string line;
        while (ReadLineWithin(session.engine, ANSWER_TIMEOUT_MS, line)) {
            if (line.rfind("bestmove ", 0) == 0) {
                std::istringstream words(line.substr(9));
                std::string move;
                words >> move;
                return move;
            }
            if (info != nullptr) info->push_back(line);
        }
        ADD_FAILURE() << "no bestmove";
        return {};
    }
    void Quit() {
        int status = -1;
        EXPECT_TRUE(Send("quit\n"));
        EXPECT_TRUE(WaitForExit(session.engine, status));
        EXPECT_EQ(status, 0);
    }
    std::string File(const char* name) const { return session.engine.directory + "/" + name; }
};

TEST(GameEndEndToEnd, AGamePlayedOverPipesIsReadBackByPgnExtract) {
    Engine e;
    // Without a book: book learning would rewrite the default book the build ships.
    ASSERT_TRUE(e.Send("setoption name Book File value absent.tbk\n"));
    std::string moves;
    for (int ply = 0; ply < 7; ++ply) {
        ASSERT_TRUE(e.Send("position startpos moves" + moves + "\ngo depth 3\n"));
        const std::string move = e.Bestmove();
        ASSERT_FALSE(move.empty());
        moves += " " + move;
    }
    ASSERT_TRUE(e.Send("ucinewgame\nisready\n"));
    ASSERT_TRUE(ReadUntil(e.session.engine, "readyok"));
    const std::string pgn = e.File("AutoSave.pgn");
    EXPECT_EQ(CountOf(FileText(pgn), "[Event \"AutoSave\"]"), 1);

    const PgnReading reading = ReadWithPgnExtract(pgn);
    EXPECT_EQ(reading.diagnostics, "");
    ASSERT_EQ(reading.games.size(), 1u);
    EXPECT_EQ(reading.games[0], Lower(moves.substr(1)));
    e.Quit();
    // "quit" after "ucinewgame" ends no further game.
    EXPECT_EQ(CountOf(FileText(pgn), "[Event \"AutoSave\"]"), 1);
}

TEST(GameEndEndToEnd, ALearnedPositionIsFoundAtOnceByTheNextRun) {
    // White mates in six with Nc5, seen only deep in the search: the search changes its mind.
    const std::string learned = "r1k4r/ppp1bq1p/2n1N3/6B1/3p2Q1/8/PPP2PPP/R5K1 w - - 0 1";
    const std::string parent = "r1k3r1/ppp1bq1p/2n1N3/6B1/3p2Q1/8/PPP2PPP/R5K1 b - - 0 1";  // g8h8 leads there
    const std::string directory = MakeTempDirectory();
    {
        Engine first(directory);
        ASSERT_TRUE(first.Send("position fen " + learned + "\ngo depth 9\n"));
        EXPECT_EQ(first.Bestmove(), "e6c5");
        first.Quit();
    }
    std::ifstream file(directory + "/" + LEARNING_FILE, std::ios::binary | std::ios::ate);
    ASSERT_TRUE(file.good());
    EXPECT_GT(file.tellg(), 0);
    EXPECT_EQ(file.tellg() % LEARNING_RECORD_SIZE, 0);

    // Depth 1 from the parent reaches the learned position only in the quiescence search;
    // with the file the mate and its move are there at once, without it they are not.
    struct Case {
        std::string directory;
        bool learnedFile;
    };
    const std::string empty = MakeTempDirectory();
    for (const Case& c : {Case{directory, true}, Case{empty, false}}) {
        SCOPED_TRACE(c.learnedFile);
        Engine next(c.directory);
        std::vector<std::string> info;
        ASSERT_TRUE(next.Send("position fen " + parent + "\ngo depth 1 searchmoves g8h8\n"));
        EXPECT_EQ(next.Bestmove(&info), "g8h8");
        const auto pv = std::find_if(info.rbegin(), info.rend(), [](const std::string& l) { return l.rfind("info depth 1 ", 0) == 0; });
        ASSERT_NE(pv, info.rend());
        const std::string& last = *pv;
        EXPECT_EQ(last.find("score mate -") != std::string::npos, c.learnedFile) << last;
        EXPECT_EQ(last.find("pv g8h8 e6c5") != std::string::npos, c.learnedFile) << last;
        next.Quit();
    }
    RemoveDirectory(directory);
    RemoveDirectory(empty);
}

TEST(GameEndEndToEnd, AGameLongerThanTheRecordStillReadsBackFromItsLastPart) {
    std::string moves = "e2e4 e7e5";
    // Bishop moves, playable only after the pawn moves that the record drops.
    for (int r = 0; r < 104; ++r) moves += " f1c4 f8c5 c4f1 c5f8";  // 418 plies
    Engine e;
    ASSERT_TRUE(e.Send("position startpos moves " + moves + "\nucinewgame\nisready\n"));
    ASSERT_TRUE(ReadUntil(e.session.engine, "readyok"));
    const std::string pgn = e.File("AutoSave.pgn");
    const std::string text = FileText(pgn);
    const size_t fen = text.find("[SetUp \"1\"]\n[FEN \"");
    ASSERT_NE(fen, std::string::npos) << text;
    EXPECT_NE(text.find(" KQkq - 0 ", fen), std::string::npos) << text;  // no king or rook has moved
    const PgnReading reading = ReadWithPgnExtract(pgn);
    EXPECT_EQ(reading.diagnostics, "");
    ASSERT_EQ(reading.games.size(), 1u);
    // The record keeps the game's last part, from a position of the game.
    EXPECT_GE(reading.games[0].size(), 200u * 5);
    EXPECT_EQ(moves.substr(moves.size() - reading.games[0].size()), reading.games[0]);
    e.Quit();
}

TEST(GameEndEndToEnd, EnginesEndingGamesTogetherLeaveEveryGameWhole) {
    // Long games (a few kilobytes of PGN each), different in every process.
    const char* shuffles[] = {"g1f3 g8f6 f3g1 f6g8", "b1c3 b8c6 c3b1 c6b8", "g1f3 b8c6 f3g1 c6b8"};
    constexpr int PROCESSES = 3;
    constexpr int GAMES = 5;
    constexpr int REPEATS = 95;  // 380 plies
    std::string games[PROCESSES];
    for (int p = 0; p < PROCESSES; ++p)
        for (int r = 0; r < REPEATS; ++r) games[p] += std::string(r ? " " : "") + shuffles[p];

    const std::string directory = MakeTempDirectory();
    std::vector<std::unique_ptr<Engine>> engines;
    for (int p = 0; p < PROCESSES; ++p) engines.push_back(std::make_unique<Engine>(directory));
    std::string batches[PROCESSES];
    for (int p = 0; p < PROCESSES; ++p) {
        for (int g = 0; g < GAMES; ++g) batches[p] += "position startpos moves " + games[p] + "\nucinewgame\n";
        batches[p] += "isready\n";
    }
    for (int p = 0; p < PROCESSES; ++p) ASSERT_TRUE(engines[p]->Send(batches[p]));
    for (auto& engine : engines) ASSERT_TRUE(ReadUntil(engine->session.engine, "readyok"));
    for (auto& engine : engines) engine->Quit();

    const PgnReading reading = ReadWithPgnExtract(directory + "/AutoSave.pgn");
    EXPECT_EQ(reading.diagnostics, "");
    ASSERT_EQ(reading.games.size(), size_t(PROCESSES * GAMES));
    for (int p = 0; p < PROCESSES; ++p)
        EXPECT_EQ(std::count(reading.games.begin(), reading.games.end(), games[p]), GAMES) << p;
    RemoveDirectory(directory);
}

TEST(GameEndEndToEnd, TheFinalPositionDecidesTheSavedResult) {
    // As GUIs do: "ucinewgame" before the first game, the engine's move sent back with the next
    // "position", then "ucinewgame" again. The engine's moves are fixed with "searchmoves".
    const std::string mate = "position fen 6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1 moves g1f1";
    const std::string stalemate = "position fen 6k1/8/5K2/8/8/8/8/Q7 w - - 0 1 moves a1g1 g8h8";
    const struct Case {
        const char* name;
        std::string position;    // the engine moves next
        const char* engineMove;
        const char* guiMove;     // the GUI's reply, "" for none
        const char* result;
        const char* lastMove;    // the movetext's end
    } cases[] = {
        {"the engine mates", mate + " g8h8", "a1a8", "", "1-0", "Ra8#"},
        {"the engine is mated", mate, "g8h8", "a1a8", "1-0", "Ra8#"},
        {"the engine stalemates", stalemate, "g1g6", "", "1/2-1/2", "Qg6"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Engine e;
        ASSERT_TRUE(e.Send("setoption name Book File value absent.tbk\nucinewgame\n"));
        ASSERT_TRUE(e.Send(c.position + "\ngo depth 3 searchmoves " + c.engineMove + "\n"));
        ASSERT_EQ(e.Bestmove(), c.engineMove);
        const std::string reply = *c.guiMove != '\0' ? std::string(" ") + c.guiMove : "";
        ASSERT_TRUE(e.Send(c.position + " " + c.engineMove + reply + "\nucinewgame\nisready\n"));
        ASSERT_TRUE(ReadUntil(e.session.engine, "readyok"));
        const std::string pgn = e.File("AutoSave.pgn");
        const std::string text = FileText(pgn);
        EXPECT_NE(text.find("[Round \"1\"]"), std::string::npos) << text;
        EXPECT_NE(text.find(std::string("[Result \"") + c.result + "\"]"), std::string::npos) << text;
        EXPECT_NE(text.find(std::string(c.lastMove) + " {"), std::string::npos) << text;
        EXPECT_NE(text.find(std::string("} ") + c.result + "\n\n"), std::string::npos) << text;
        const PgnReading reading = ReadWithPgnExtract(pgn);
        EXPECT_EQ(reading.diagnostics, "");
        EXPECT_EQ(reading.games.size(), 1u);
        e.Quit();
        EXPECT_EQ(CountOf(FileText(pgn), "[Event \"AutoSave\"]"), 1);
    }
}

}  // namespace
}  // namespace tavrix::testing
