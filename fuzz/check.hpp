// What every fuzz target uses to report a broken promise: a message and an abort, which libFuzzer
// records as a crash together with the input that caused it.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, what)                                                          \
    do {                                                                                     \
        if (!(condition)) {                                                                  \
            std::fprintf(stderr, "broken promise at %s:%d: %s\n", __FILE__, __LINE__, what); \
            std::abort();                                                                    \
        }                                                                                    \
    } while (0)
