// The whole command loop: a script of UCI lines behind "uci" arrives over a pipe on standard
// input, as from a GUI that has written everything at once and closed its end. Each search
// runs a node allowance before it sees the next line (or the end of input, which ends it as
// "quit" does). Afterwards the engine must be idle and still answer "isready".
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "control/keywords.h"
#include "control/uci.h"
#include "fuzz_support.h"

using namespace tavrix;

namespace {

constexpr uint32_t NODE_ALLOWANCE = 1000;
constexpr int32_t MAX_FUZZ_HASH_MB = 32;       // the sanitizers' allocation limit
constexpr int32_t MAX_FUZZ_BENCH_DEPTH = 2;
constexpr int32_t MAX_FUZZ_PERFT_DEPTH = 2;
constexpr int PIPE_BYTES = 1 << 20;

// Lines whose cost grows without bound with a number in them; such scripts are skipped.
bool TooCostly(std::string line) {
    std::erase(line, '\0');  // the reader drops NUL bytes
    const char* cursor = SkipSpaces(line.c_str());
    int32_t value = 0;
    if (MatchKeyword(cursor, "bench")) return !ReadNumber(cursor, value) || value < 1 || value > MAX_FUZZ_BENCH_DEPTH;
    if (MatchKeyword(cursor, "go")) return MatchKeyword(cursor, "perft") && ReadNumber(cursor, value) && value > MAX_FUZZ_PERFT_DEPTH;
    if (MatchKeyword(cursor, "setoption") && MatchKeyword(cursor, "name") && MatchKeyword(cursor, "hash") &&
        MatchKeyword(cursor, "value"))
        return ReadNumber(cursor, value) && value > MAX_FUZZ_HASH_MB;
    return false;
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
        if (wrote <= 0) return false;
        done += static_cast<size_t>(wrote);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::StartEngineOnce();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > PIPE_BYTES / 2) return -1;
    const std::string script(reinterpret_cast<const char*>(data), size);
    for (size_t from = 0; from <= script.size();) {
        size_t end = script.find('\n', from);
        if (end == std::string::npos) end = script.size();
        if (TooCostly(script.substr(from, end - from))) return -1;
        from = end + 1;
    }

    // The whole script and then end of input wait in the pipe before the engine starts reading.
    fuzz::FreshEngine();
    int fds[2];
    if (pipe(fds) != 0) std::abort();
    fcntl(fds[1], F_SETPIPE_SZ, PIPE_BYTES);
    if (!WriteAll(fds[1], "uci\n" + script) || dup2(fds[0], STDIN_FILENO) < 0) std::abort();
    close(fds[0]);
    close(fds[1]);
    SetInputMode();
    platform::RedirectOutput(fuzz::NullOutput());
    Control.inputGateNodes = NODE_ALLOWANCE;

    IdleLoop();
    if (IsSearching(Control.engineState)) std::abort();

    char answer[64] = {};
    FILE* capture = fmemopen(answer, sizeof(answer) - 1, "w");
    platform::RedirectOutput(capture);
    const int result = Dispatch("isready");
    std::fclose(capture);
    platform::RedirectOutput(fuzz::NullOutput());
    if (result != DispatchResult::DONE || std::strcmp(answer, "readyok\n") != 0) std::abort();
    return 0;
}
