#pragma once

// What a fuzz target asserts. A broken property aborts, which libFuzzer
// reports as a crash and keeps the input; assert() would vanish under
// NDEBUG in the RelWithDebInfo build.

#include <cstdio>
#include <cstdlib>

#define FUZZ_REQUIRE(condition)                                                                   \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                         \
        }                                                                                         \
    } while (false)
