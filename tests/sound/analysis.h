// Small signal analysis for the sound tests.
#pragma once
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

inline double rms(const float* x, int n) {
  double sum = 0;
  for (int i = 0; i < n; ++i) sum += (double)x[i] * x[i];
  return std::sqrt(sum / n);
}

// FNV-1a over the bit patterns of the samples.
inline uint64_t sample_hash(const float* x, size_t n, uint64_t h = 1469598103934665603ull) {
  for (size_t i = 0; i < n; ++i) {
    uint32_t bits;
    memcpy(&bits, &x[i], 4);
    for (int b = 0; b < 4; ++b) {
      h ^= (bits >> (8 * b)) & 0xFF;
      h *= 1099511628211ull;
    }
  }
  return h;
}
