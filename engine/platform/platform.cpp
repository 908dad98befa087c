// Linux implementation of the platform services.
#include "platform/platform.h"

#include <poll.h>
#include <sys/mman.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstdarg>
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

void RedirectOutput(FILE* stream) { Platform.output = stream; }

void ResetPlatformState() {
    ResetLineReader(Platform.stdinReader, 0);
    Platform.output = nullptr;
    Platform.unbufferedOutput = false;
}

}  // namespace tavrix::platform
