// Collects the engine's printed output while a test runs.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/platform.h"

namespace tavrix::testing {

class OutputCapture {
public:
    OutputCapture() {
        stream_ = open_memstream(&data_, &size_);
        platform::RedirectOutput(stream_);
    }
    ~OutputCapture() {
        platform::RedirectOutput(nullptr);
        std::fclose(stream_);
        std::free(data_);
    }
    OutputCapture(const OutputCapture&) = delete;
    OutputCapture& operator=(const OutputCapture&) = delete;

    // Everything printed since the last call.
    std::string Take() {
        std::fflush(stream_);
        std::string text(data_, size_);
        std::rewind(stream_);
        std::fflush(stream_);
        return text;
    }

private:
    char* data_ = nullptr;
    size_t size_ = 0;
    FILE* stream_ = nullptr;
};

}  // namespace tavrix::testing
