#pragma once

// The one way a fuzz target says "this input broke a promise": it names the
// promise and aborts. libFuzzer keeps the input as a crash file; the replay
// driver's test fails with the message.

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", __FILE__, __LINE__,             \
                         #condition);                                                              \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)
