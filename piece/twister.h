// The MT19937 generator of the pipes and the reverberation: the published
// reference algorithm, which regenerates the whole state block when used up.
#pragma once
#include <cstdint>

struct twister {
  uint32_t mt[624];
  int32_t left;   // words left before the next regeneration
  int32_t initf;  // 1 once seeded
  int32_t next;   // index of the next word in mt
};

void twister_seed(twister* r, uint32_t seed);
// Runs the recurrence over all 624 words (seeding with 5489 when never seeded).
void twister_regenerate(twister* r);

// One tempered 32-bit word of the MT19937 sequence.
inline uint32_t twister_draw(twister* r) {
  if (--r->left == 0) twister_regenerate(r);
  uint32_t y = r->mt[r->next++];
  y ^= y >> 11;
  y ^= (y << 7) & 0x9d2c5680u;
  y ^= (y << 15) & 0xefc60000u;
  y ^= y >> 18;
  return y;
}
