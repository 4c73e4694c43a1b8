#ifndef FUZZCHECK_H
#define FUZZCHECK_H

// What every fuzz target needs: the entry point libFuzzer calls, and a check
// that aborts with the failed condition so the fuzzer keeps the input.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond)                                                                  \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "invariant violated at line %d: %s\n", __LINE__, #cond); \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

#endif // FUZZCHECK_H
