// What the fuzz targets share: a check that stops the fuzzer with the
// failed condition, in release builds too (assert would vanish).
#pragma once

#include <cstdio>
#include <cstdlib>

/// Aborts with the condition and its place when `condition` is false; the
/// fuzzer then keeps the input as a crash.
#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (false)
