// MT19937, the published Mersenne Twister, in the variant that regenerates
// the whole state block when it is used up, with the piece's draw conventions.
//
// A drawn word r becomes F(r), its nearest float; u = F(r) * 2^-32 in [0, 1]
// and s = F(r) * 2^-31 - 1 in [-1, 1]. Factors such as (1 + u/4) are written
// as F(r) times one folded constant plus 1, so that every product rounds once.
#pragma once
#include <cstdint>

struct prng {
  uint32_t mt[624];
  int32_t left;   // words left before the next regeneration
  int32_t initf;  // 1 once seeded
  uint32_t* next;
};

// 2^-32, 2^-31, 2^-33 and 2^-34 as floats.
constexpr float PRNG_U = 2.3283064365386963e-10f;
constexpr float PRNG_S = 4.6566128730773926e-10f;
constexpr float PRNG_HALF_U = 1.1641532182693481e-10f;
constexpr float PRNG_QUARTER_U = 5.8207660913467407e-11f;

void prng_seed(prng* g, uint32_t seed);
// Runs the recurrence over all 624 words (seeding with 5489 first when the
// generator was never seeded) and rewinds `next`.
void prng_regenerate(prng* g);

inline uint32_t prng_word(prng* g) {
  // "<= 0" rather than "== 0": a zero-filled record regenerates on its first
  // draw instead of reading through a null `next`.
  if (--g->left <= 0) prng_regenerate(g);
  uint32_t y = *g->next++;
  y ^= y >> 11;
  y ^= (y << 7) & 0x9d2c5680u;
  y ^= (y << 15) & 0xefc60000u;
  y ^= y >> 18;
  return y;
}

// Moves on as `count` draws of prng_word would, without tempering words
// nobody reads.
inline void prng_discard(prng* g, int32_t count) {
  while (count > 0) {
    // Draws that leave `left` at 1 or more take the next word and no more.
    int32_t plain = g->left - 1;
    if (plain <= 0) {
      prng_word(g);
      --count;
      continue;
    }
    if (plain > count) plain = count;
    g->left -= plain;
    g->next += plain;
    count -= plain;
  }
}

inline float prng_F(uint32_t r) { return static_cast<float>(r); }
inline float prng_u(uint32_t r) { return static_cast<float>(r) * PRNG_U; }
inline float prng_s(uint32_t r) { return static_cast<float>(r) * PRNG_S - 1.0f; }

inline float prng_draw_u(prng* g) { return prng_u(prng_word(g)); }
inline float prng_draw_s(prng* g) { return prng_s(prng_word(g)); }
