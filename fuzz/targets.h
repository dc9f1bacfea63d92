#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The fuzzed readers, one input at a time. Each returns "" when the reader behaved (it read
// the input or rejected it with exactly one "ERROR: " line, and what it made holds together),
// else what went wrong. The libFuzzer builds abort on a non-empty answer; the test suite
// replays the committed corpora through the same functions.
std::string imageInput(const uint8_t* data, size_t size); // BMP, PNG and JPEG
std::string objInput(const uint8_t* data, size_t size);
std::string sceneInput(const uint8_t* data, size_t size);

#ifdef RENDER_FUZZ_ENTRY
#include <cstdio>
#include <cstdlib>
#define RENDER_FUZZ_TARGET(function)                                                   \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)            \
    {                                                                                  \
        std::string problem = function(data, size);                                    \
        if (!problem.empty()) {                                                        \
            std::fprintf(stderr, "%s: %s\n", #function, problem.c_str());              \
            std::abort();                                                              \
        }                                                                              \
        return 0;                                                                      \
    }
#else
#define RENDER_FUZZ_TARGET(function)
#endif
