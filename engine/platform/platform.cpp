// Linux implementation of the platform services.
#include "platform/platform.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace tavrix::platform {

namespace {

struct PlatformState {
    LineReader stdinReader;
    FILE* output;              // nullptr = stdout
    bool unbufferedOutput;
};

PlatformState Platform{{0, 0, 0, false, {}}, nullptr, false};

// Waits until the descriptor is readable (or hung up); used when it was opened non-blocking.
void WaitReadable(int fd) {
    pollfd entry{fd, POLLIN, 0};
    while (poll(&entry, 1, -1) < 0 && errno == EINTR) {
    }
}

// Refills an empty buffer; marks end of input at EOF or on a hard error.
void Refill(LineReader& reader) {
    for (;;) {
        const ssize_t got = read(reader.fd, reader.buffer, LineReader::BUFFER_SIZE);
        if (got > 0) {
            reader.start = 0;
            reader.end = static_cast<int>(got);
            return;
        }
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            WaitReadable(reader.fd);
            continue;
        }
        reader.endOfInput = true;
        return;
    }
}

}  // namespace

void ResetLineReader(LineReader& reader, int fd) {
    reader.fd = fd;
    reader.start = 0;
    reader.end = 0;
    reader.endOfInput = false;
}

int ReadLineFrom(LineReader& reader, char* line, int capacity) {
    int length = 0;
    bool sawByte = false;
    bool lastKeptWasCR = false;   // a CR right before the LF belongs to the line end
    for (;;) {
        if (reader.start == reader.end) {
            if (reader.endOfInput) break;
            Refill(reader);
            continue;
        }
        const char c = reader.buffer[reader.start++];
        sawByte = true;
        if (c == '\n') break;
        if (c == '\0') continue;  // a stray NUL must not cut the line short
        if (length < capacity - 1) {
            line[length++] = c;
            lastKeptWasCR = (c == '\r');
        } else {
            lastKeptWasCR = false;
        }
    }
    if (!sawByte) {
        if (capacity > 0) line[0] = '\0';
        return -1;
    }
    if (lastKeptWasCR) --length;
    if (capacity > 0) line[length] = '\0';
    return length;
}

bool InputWaitingOn(LineReader& reader) {
    // Only a whole line (or the end of input) counts: a search must never block in ReadLine
    // on half a line. Whatever the descriptor holds is moved into our buffer to look for it.
    const auto hasLineEnd = [&reader](int from) {
        return std::memchr(reader.buffer + from, '\n', static_cast<size_t>(reader.end - from)) != nullptr;
    };
    if (reader.endOfInput || hasLineEnd(reader.start)) return true;
    for (;;) {
        pollfd entry{reader.fd, POLLIN, 0};
        const int ready = poll(&entry, 1, 0);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return true;            // a broken descriptor: the reader finds end of input
        if (ready == 0 || entry.revents == 0) return false;
        if (reader.start > 0) {
            std::memmove(reader.buffer, reader.buffer + reader.start, static_cast<size_t>(reader.end - reader.start));
            reader.end -= reader.start;
            reader.start = 0;
        }
        if (reader.end == LineReader::BUFFER_SIZE) return true;  // an endless line: let the reader cut it
        const ssize_t got = read(reader.fd, reader.buffer + reader.end, static_cast<size_t>(LineReader::BUFFER_SIZE - reader.end));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
        if (got <= 0) {
            reader.endOfInput = true;
            return true;
        }
        const int scanFrom = reader.end;
        reader.end += static_cast<int>(got);
        if (hasLineEnd(scanFrom)) return true;
    }
}

bool StdinIsTerminal() { return isatty(0) != 0; }

void SetUnbufferedOutput() {
    // A GUI that goes away must not kill us mid-write; end of input then ends the engine.
    signal(SIGPIPE, SIG_IGN);
    Platform.unbufferedOutput = true;
    fflush(Platform.output != nullptr ? Platform.output : stdout);
}

int ReadLine(char* buffer, int capacity) { return ReadLineFrom(Platform.stdinReader, buffer, capacity); }

bool InputWaiting() { return InputWaitingOn(Platform.stdinReader); }

uint32_t TickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

int64_t ProcessorClockMs() {
    timespec used{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
    return static_cast<int64_t>(used.tv_sec) * 1000 + used.tv_nsec / 1000000;
}

LocalDate Today() {
    const time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

void SleepMs(int milliseconds) {
    if (milliseconds <= 0) return;
    timespec rest{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&rest, &rest) < 0 && errno == EINTR) {
    }
}

void LowerThreadPriority(int steps) {
    // On Linux a thread id names one thread to setpriority; failure leaves the priority as it is.
    const id_t thread = static_cast<id_t>(syscall(SYS_gettid));
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, thread);
    if (errno == 0) setpriority(PRIO_PROCESS, thread, current + steps);
}

void* AllocateLarge(size_t bytes, size_t alignment) {
    constexpr size_t HUGE_PAGE = size_t(2) << 20;
    if (bytes >= HUGE_PAGE && alignment < HUGE_PAGE) alignment = HUGE_PAGE;
    const size_t rounded = (bytes + alignment - 1) / alignment * alignment;  // aligned_alloc's rule
    void* memory = std::aligned_alloc(alignment, rounded);
    if (memory == nullptr) return nullptr;
#ifdef MADV_HUGEPAGE
    if (rounded >= HUGE_PAGE) madvise(memory, rounded, MADV_HUGEPAGE);
#endif
    std::memset(memory, 0, rounded);
    return memory;
}

void Print(const char* format, ...) {
    FILE* out = Platform.output != nullptr ? Platform.output : stdout;
    va_list args;
    va_start(args, format);
    vfprintf(out, format, args);
    va_end(args);
    // One flush per call: each protocol line leaves in one piece.
    if (Platform.unbufferedOutput) fflush(out);
}

namespace {

// Writes all bytes, going on after short writes and interruptions.
bool WriteAll(int fd, const char* data, int64_t size) {
    while (size > 0) {
        const ssize_t put = write(fd, data, static_cast<size_t>(size));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        data += put;
        size -= put;
    }
    return true;
}

// The directory part of a path ("." for a bare name), for flushing a rename to disk.
void DirectoryOf(const char* path, char* directory, size_t capacity) {
    const char* slash = std::strrchr(path, '/');
    if (slash == nullptr) {
        std::snprintf(directory, capacity, ".");
    } else if (slash == path) {
        std::snprintf(directory, capacity, "/");
    } else {
        std::snprintf(directory, capacity, "%.*s", static_cast<int>(slash - path), path);
    }
}

constexpr size_t PATH_CAPACITY = 4096;

}  // namespace

int64_t ReadFileBytes(const char* path, void* buffer, int64_t capacity) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    int64_t total = 0;
    char* out = static_cast<char*>(buffer);
    while (total < capacity) {
        const ssize_t got = read(fd, out + total, static_cast<size_t>(capacity - total));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            close(fd);
            return -1;
        }
        if (got == 0) break;
        total += got;
    }
    close(fd);
    return total;
}

bool AppendToFile(const char* path, const void* data, int64_t size) {
    const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    // One write: O_APPEND places it at the end as a whole. Only a full disk or a signal can
    // cut it short; the rest then follows at once.
    const bool written = WriteAll(fd, static_cast<const char*>(data), size);
    return close(fd) == 0 && written;
}

bool ReplaceFile(const char* path, const void* data, int64_t size) {
    char temporary[PATH_CAPACITY];
    // The process id keeps two engines saving at once from sharing a temporary file.
    if (std::snprintf(temporary, sizeof temporary, "%s.%ld.tmp", path, static_cast<long>(getpid())) >=
        static_cast<int>(sizeof temporary))
        return false;
    const int fd = open(temporary, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool written = WriteAll(fd, static_cast<const char*>(data), size) && fsync(fd) == 0;
    if (close(fd) != 0 || !written || rename(temporary, path) != 0) {
        unlink(temporary);
        return false;
    }
    // The rename itself reaches the disk with the directory.
    char directory[PATH_CAPACITY];
    DirectoryOf(path, directory, sizeof directory);
    const int dirFd = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    return true;
}

void RedirectOutput(FILE* stream) { Platform.output = stream; }

bool ExecutableDirectory(char* out, int capacity) {
    if (capacity <= 1) return false;
    const ssize_t length = readlink("/proc/self/exe", out, static_cast<size_t>(capacity - 1));
    if (length <= 0 || length >= capacity - 1) return false;  // a cut name would point elsewhere
    out[length] = '\0';
    char* slash = std::strrchr(out, '/');
    if (slash == nullptr) return false;
    *(slash == out ? slash + 1 : slash) = '\0';  // a program in / keeps its root
    return true;
}

void DataFileCandidates(const char* name, PathCandidates& out) {
    constexpr const char* PLACES[] = {"/", "/../share/tavrix/"};
    out.count = 0;
    const size_t nameLength = std::strlen(name);
    if (nameLength >= PATH_SIZE) return;
    std::memcpy(out.paths[out.count++], name, nameLength + 1);
    char directory[PATH_SIZE];
    if (name[0] == '/' || nameLength == 0 || !ExecutableDirectory(directory, PATH_SIZE)) return;
    for (const char* place : PLACES) {
        char* path = out.paths[out.count];
        const int written = snprintf(path, PATH_SIZE, "%s%s%s", std::strcmp(directory, "/") == 0 ? "" : directory,
                                     place, name);
        if (written > 0 && written < PATH_SIZE) ++out.count;
    }
}

bool ResolveDataFile(const char* name, char* out, int capacity) {
    static PathCandidates candidates;
    DataFileCandidates(name, candidates);
    for (int i = 0; i < candidates.count; ++i) {
        struct stat status{};
        if (stat(candidates.paths[i], &status) != 0 || !S_ISREG(status.st_mode) || access(candidates.paths[i], R_OK) != 0)
            continue;
        if (static_cast<int>(std::strlen(candidates.paths[i])) >= capacity) continue;
        std::strcpy(out, candidates.paths[i]);
        return true;
    }
    if (capacity > 0) snprintf(out, static_cast<size_t>(capacity), "%s", name);
    return false;
}

void ResetPlatformState() {
    ResetLineReader(Platform.stdinReader, 0);
    Platform.output = nullptr;
    Platform.unbufferedOutput = false;
}

}  // namespace tavrix::platform
