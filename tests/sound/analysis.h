// Small signal analysis for the sound tests.
#pragma once
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

// Power of `x` at `hz` (Goertzel, Hann window).
inline double tone_power(const float* x, int n, double hz, double rate = 44100.0) {
  double w = 2.0 * M_PI * hz / rate, c = 2.0 * std::cos(w), s1 = 0, s2 = 0;
  for (int i = 0; i < n; ++i) {
    double hann = 0.5 - 0.5 * std::cos(2.0 * M_PI * i / (n - 1));
    double s0 = x[i] * hann + c * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  return s1 * s1 + s2 * s2 - c * s1 * s2;
}

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
