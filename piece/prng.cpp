#include "piece/prng.h"

void prng_seed(prng* g, uint32_t seed) {
  g->mt[0] = seed;
  for (uint32_t i = 1; i < 624; ++i)
    g->mt[i] = 1812433253u * (g->mt[i - 1] ^ (g->mt[i - 1] >> 30)) + i;
  g->left = 1;
  g->initf = 1;
}

static inline uint32_t twist(uint32_t u, uint32_t v) {
  uint32_t mixed = (u & 0x80000000u) | (v & 0x7fffffffu);
  return (mixed >> 1) ^ ((v & 1u) ? 0x9908b0dfu : 0u);
}

void prng_regenerate(prng* g) {
  if (g->initf != 1) prng_seed(g, 5489u);
  uint32_t* mt = g->mt;
  int i = 0;
  for (; i < 624 - 397; ++i) mt[i] = mt[i + 397] ^ twist(mt[i], mt[i + 1]);
  for (; i < 623; ++i) mt[i] = mt[i + 397 - 624] ^ twist(mt[i], mt[i + 1]);
  mt[623] = mt[396] ^ twist(mt[623], mt[0]);
  g->left = 624;
  g->next = mt;
}
