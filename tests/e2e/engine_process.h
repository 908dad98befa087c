// Runs the built engine as a GUI would: a child process talking over pipes.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace tavrix::testing {

// Generous limit for one answer; only a hung engine ever reaches it.
constexpr int ANSWER_TIMEOUT_MS = 20000;

struct EngineProcess {
    pid_t pid = -1;
    int toEngine = -1;      // the engine's standard input
    int fromEngine = -1;    // the engine's standard output
    std::string pending;    // bytes read but not yet returned as a line
    bool endOfOutput = false;
    std::string directory;  // the engine's working directory
    bool ownsDirectory = false;
};

// A fresh empty directory for files the engine writes; "" on failure.
std::string MakeTempDirectory();
// Removes the directory and everything in it.
void RemoveDirectory(const std::string& directory);

// Starts TAVRIX_BINARY with the given arguments in `directory`; without one, in a fresh
// directory of its own that StopEngine removes, so no test sees another's learning or PGN file.
bool StartEngine(EngineProcess& engine, const std::vector<std::string>& arguments = {},
                 const std::string& directory = {});
// How the engine process is started.
struct EngineLaunch {
    std::string program = TAVRIX_BINARY;
    std::string workingDirectory;              // empty: a fresh directory of its own
    unsigned long long addressSpaceBytes = 0;  // RLIMIT_AS of the engine, 0 = unchanged
};
bool StartEngine(EngineProcess& engine, const EngineLaunch& launch, const std::vector<std::string>& arguments = {});
// Writes the text, in one write when it fits the pipe (several commands then arrive together).
bool SendText(EngineProcess& engine, const std::string& text);
// Ends the engine's standard input.
void CloseInput(EngineProcess& engine);
// One line without its line end; false on timeout or end of output.
bool ReadLineWithin(EngineProcess& engine, int timeoutMs, std::string& line);
// Reads lines until one equals `wanted`; the lines before it go to `before` when given.
bool ReadUntil(EngineProcess& engine, const std::string& wanted, std::vector<std::string>* before = nullptr,
               int timeoutMs = ANSWER_TIMEOUT_MS);
// Every remaining line up to the end of the engine's output.
std::vector<std::string> ReadToEnd(EngineProcess& engine, int timeoutMs = ANSWER_TIMEOUT_MS);
// Waits for the process to end; gives its exit status, or -1 when it was killed by a signal.
bool WaitForExit(EngineProcess& engine, int& exitStatus, int timeoutMs = ANSWER_TIMEOUT_MS);
// Kills the engine if it still runs and closes the pipes.
void StopEngine(EngineProcess& engine);

// Owns a running engine for one test.
struct EngineSession {
    EngineProcess engine;
    explicit EngineSession(const std::vector<std::string>& arguments = {}, const std::string& directory = {}) {
        started = StartEngine(engine, arguments, directory);
    }
    ~EngineSession() { StopEngine(engine); }
    EngineSession(const EngineSession&) = delete;
    EngineSession& operator=(const EngineSession&) = delete;
    bool started = false;
};

}  // namespace tavrix::testing
