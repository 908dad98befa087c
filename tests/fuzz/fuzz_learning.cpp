// libFuzzer harness for the learning file: the input is a whole "Tavrix11.lrn". Loading it
// into the table and saving it again must never read or write out of bounds, and a file
// the save rewrote must hold whole records only.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

#include "book/learning.h"
#include "fuzz_support.h"

using namespace tavrix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    static const bool started = (fuzz::StartEngineOnce(), true);
    (void)started;
    static char path[64];
    if (path[0] == '\0') std::snprintf(path, sizeof path, "/tmp/tavrix_fuzz_%d.lrn", static_cast<int>(getpid()));
    std::FILE* f = std::fopen(path, "wb");
    if (f == nullptr) return 0;
    const bool written = std::fwrite(input, 1, size, f) == size;
    std::fclose(f);
    if (written) {
        ClearHashTableFully();
        LoadLearning(path);
        Learning.changed = true;
        SaveLearning(path);
        struct stat status{};
        // Nothing to save leaves the old file as it was; a written file holds whole records.
        const bool untouched = stat(path, &status) == 0 && static_cast<size_t>(status.st_size) == size;
        if (!untouched && status.st_size % LEARNING_RECORD_SIZE != 0) __builtin_trap();
    }
    std::remove(path);
    return 0;
}
