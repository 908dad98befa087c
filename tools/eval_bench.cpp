// Evaluation speed: full and lazy evaluations per second over the perft suite positions.
// Usage: eval_bench [rounds] [epd file]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "eval/eval_cache.h"
#include "eval/eval_test_board.h"
#include "eval/evaluate.h"

using namespace tavrix;

namespace {

struct Run {
    double seconds;
    uint64_t evaluations;
    int64_t checksum;
};

Run Measure(std::vector<Position>& positions, int rounds, int32_t depth, int32_t alpha, int32_t beta) {
    Run run{0, 0, 0};
    const auto start = std::chrono::steady_clock::now();
    for (int r = 0; r < rounds; ++r) {
        for (Position& p : positions) {
            PlyRecord& rec = UndoTop(p);
            rec.checkFlag &= IN_CHECK_FLAG;
            run.checksum += Evaluate(p, p.sideToMove, 3, depth, alpha, beta);
            ++run.evaluations;
        }
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 2000;
    const std::string file = argc > 2 ? argv[2] : std::string(TAVRIX_TEST_DATA) + "/perftsuite.epd";
    std::ifstream in(file);
    std::vector<Position> positions;
    std::string line;
    while (std::getline(in, line)) {
        const std::string fen = line.substr(0, line.find(';'));
        if (fen.size() > 10) positions.push_back(evaltest::MakePosition(fen));
    }
    if (positions.empty()) {
        std::printf("no positions in %s\n", file.c_str());
        return 1;
    }
    ResetEvalState();
    PrepareEvaluation(positions[0], positions[0].sideToMove, EvalOptions{});
    for (Position& p : positions) WritePlyWord(p.undoStack[0], PlyEvalWord::SCORE, 0);

    FreeEvalCache();
    const Run full = Measure(positions, rounds, 1, -2 * MATE, 2 * MATE);
    const Run lazy = Measure(positions, rounds, 0, 5000, 5001);
    AllocateEvalCache(1024);
    const Run cached = Measure(positions, rounds, 1, -2 * MATE, 2 * MATE);
    FreeEvalCache();

    auto report = [](const char* name, const Run& r) {
        std::printf("%-7s %10llu evaluations %8.3f s %12.0f per second (checksum %lld)\n", name,
                    static_cast<unsigned long long>(r.evaluations), r.seconds, r.evaluations / r.seconds,
                    static_cast<long long>(r.checksum));
    };
    std::printf("%zu positions, %d rounds\n", positions.size(), rounds);
    report("full", full);
    report("lazy", lazy);
    report("cached", cached);
    return 0;
}
