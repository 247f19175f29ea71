// What the fuzz targets share: a failed expectation is a crash the fuzzer
// keeps, and loaders that report on standard output are kept quiet there.
#pragma once
#include <cstdio>
#include <cstdlib>

inline void check(bool condition) {
  if (!condition) abort();
}

// The loaders' ERROR and WARNING lines would drown the fuzzer's own.
inline void quiet_standard_output() {
  if (freopen("/dev/null", "w", stdout) == nullptr) abort();
}
