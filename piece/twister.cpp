#include "piece/twister.h"

void twister_seed(twister* r, uint32_t seed) {
  r->mt[0] = seed;
  for (uint32_t i = 1; i < 624; ++i) r->mt[i] = 1812433253u * (r->mt[i - 1] ^ (r->mt[i - 1] >> 30)) + i;
  r->left = 1;
  r->initf = 1;
  r->next = 0;
}

static uint32_t mix_bits(uint32_t u, uint32_t v) {
  uint32_t y = (u & 0x80000000u) | (v & 0x7fffffffu);
  return (y >> 1) ^ ((v & 1u) ? 0x9908b0dfu : 0u);
}

void twister_regenerate(twister* r) {
  if (r->initf != 1) twister_seed(r, 5489u);
  uint32_t* p = r->mt;
  for (int i = 0; i < 624 - 397; ++i) p[i] = p[i + 397] ^ mix_bits(p[i], p[i + 1]);
  for (int i = 624 - 397; i < 623; ++i) p[i] = p[i + 397 - 624] ^ mix_bits(p[i], p[i + 1]);
  p[623] = p[396] ^ mix_bits(p[623], p[0]);
  r->left = 624;
  r->next = 0;
}
