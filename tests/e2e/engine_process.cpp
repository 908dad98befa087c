#include "e2e/engine_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

namespace tavrix::testing {

namespace {

int64_t NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void CloseDescriptor(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

}  // namespace

std::string MakeTempDirectory() {
    std::string pattern = ::testing::TempDir() + "tavrix_XXXXXX";
    return mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

void RemoveDirectory(const std::string& directory) {
    std::error_code ignored;
    if (!directory.empty()) std::filesystem::remove_all(directory, ignored);
}

bool StartEngine(EngineProcess& engine, const std::vector<std::string>& arguments, const std::string& directory) {
    EngineLaunch launch;
    launch.workingDirectory = directory;
    return StartEngine(engine, launch, arguments);
}

bool StartEngine(EngineProcess& engine, const EngineLaunch& launch, const std::vector<std::string>& arguments) {
    // A test writing to an engine that has gone must fail, not die.
    signal(SIGPIPE, SIG_IGN);
    engine.ownsDirectory = launch.workingDirectory.empty();
    engine.directory = engine.ownsDirectory ? MakeTempDirectory() : launch.workingDirectory;
    if (engine.directory.empty()) return false;
    int input[2];
    int output[2];
    if (pipe2(input, O_CLOEXEC) != 0) return false;
    if (pipe2(output, O_CLOEXEC) != 0) {
        close(input[0]);
        close(input[1]);
        return false;
    }
    std::vector<std::string> words{launch.program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        dup2(input[0], 0);
        dup2(output[1], 1);
        if (chdir(engine.directory.c_str()) != 0) _exit(126);
        if (launch.addressSpaceBytes != 0) {
            const rlimit limit{launch.addressSpaceBytes, launch.addressSpaceBytes};
            if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(input[0]);
    close(output[1]);
    engine.pid = pid;
    engine.toEngine = input[1];
    fcntl(engine.toEngine, F_SETFL, fcntl(engine.toEngine, F_GETFL) | O_NONBLOCK);
    engine.fromEngine = output[0];
    engine.pending.clear();
    engine.endOfOutput = false;
    return true;
}

// Keeps reading the engine's output while writing, so that neither side can block the other
// when a long input makes the engine answer a lot.
bool SendText(EngineProcess& engine, const std::string& text) {
    size_t sent = 0;
    const int64_t deadline = NowMs() + ANSWER_TIMEOUT_MS;
    while (sent < text.size()) {
        pollfd entries[2] = {{engine.toEngine, POLLOUT, 0}, {engine.fromEngine, POLLIN, 0}};
        const int64_t left = deadline - NowMs();
        if (left <= 0) return false;
        const int ready = poll(entries, engine.endOfOutput ? 1 : 2, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        if (!engine.endOfOutput && entries[1].revents != 0) {
            char buffer[4096];
            const ssize_t got = read(engine.fromEngine, buffer, sizeof buffer);
            if (got > 0) engine.pending.append(buffer, static_cast<size_t>(got));
            else if (got == 0) engine.endOfOutput = true;
        }
        if (entries[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return false;
        if (entries[0].revents & POLLOUT) {
            const ssize_t wrote = write(engine.toEngine, text.data() + sent, text.size() - sent);
            if (wrote < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (wrote <= 0) return false;
            sent += static_cast<size_t>(wrote);
        }
    }
    return true;
}

void CloseInput(EngineProcess& engine) { CloseDescriptor(engine.toEngine); }

bool ReadLineWithin(EngineProcess& engine, int timeoutMs, std::string& line) {
    const int64_t deadline = NowMs() + timeoutMs;
    for (;;) {
        const size_t end = engine.pending.find('\n');
        if (end != std::string::npos) {
            line = engine.pending.substr(0, end);
            engine.pending.erase(0, end + 1);
            return true;
        }
        if (engine.endOfOutput) return false;
        const int64_t left = deadline - NowMs();
        if (left <= 0) return false;
        pollfd entry{engine.fromEngine, POLLIN, 0};
        const int ready = poll(&entry, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        char buffer[4096];
        const ssize_t got = read(engine.fromEngine, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            engine.endOfOutput = true;
            continue;
        }
        engine.pending.append(buffer, static_cast<size_t>(got));
    }
}

bool ReadUntil(EngineProcess& engine, const std::string& wanted, std::vector<std::string>* before, int timeoutMs) {
    const int64_t deadline = NowMs() + timeoutMs;
    std::string line;
    while (ReadLineWithin(engine, static_cast<int>(std::max<int64_t>(deadline - NowMs(), 0)), line)) {
        if (line == wanted) return true;
        if (before != nullptr) before->push_back(line);
    }
    return false;
}

std::vector<std::string> ReadToEnd(EngineProcess& engine, int timeoutMs) {
    std::vector<std::string> lines;
    ReadUntil(engine, std::string(1, '\0'), &lines, timeoutMs);  // no line is a lone NUL
    return lines;
}

bool WaitForExit(EngineProcess& engine, int& exitStatus, int timeoutMs) {
    const int64_t deadline = NowMs() + timeoutMs;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(engine.pid, &status, WNOHANG);
        if (done == engine.pid) {
            engine.pid = -1;
            exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return true;
        }
        if (done < 0 || NowMs() >= deadline) return false;
        const timespec pause{0, 5 * 1000000L};
        nanosleep(&pause, nullptr);
    }
}

void StopEngine(EngineProcess& engine) {
    CloseInput(engine);
    if (engine.pid > 0) {
        int status = 0;
        if (!WaitForExit(engine, status, 2000)) {
            kill(engine.pid, SIGKILL);
            waitpid(engine.pid, &status, 0);
            engine.pid = -1;
        }
    }
    CloseDescriptor(engine.fromEngine);
    if (engine.ownsDirectory) RemoveDirectory(engine.directory);
    engine.ownsDirectory = false;
}

}  // namespace tavrix::testing
