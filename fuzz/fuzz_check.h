#pragma once

#include <cstdio>
#include <cstdlib>

// A property a target checks on every input. A failure aborts, so libFuzzer
// keeps the input that broke it; assert() would vanish from an NDEBUG build.
#define BW_FUZZ_CHECK(condition)                                                                  \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                         \
        }                                                                                         \
    } while (false)
