#include <gtest/gtest.h>

#include <random>

#include "piece/prng.h"

TEST(Prng, MatchesPublishedSequenceForThePiecesSeeds) {
  for (uint32_t seed : {10116141u, 2393237u, 3293843u}) {
    prng g{};
    prng_seed(&g, seed);
    std::mt19937 oracle(seed);
    // Three regenerations of the state block.
    for (int i = 0; i < 3 * 624 + 5; ++i) ASSERT_EQ(prng_word(&g), oracle()) << seed << " " << i;
  }
}

TEST(Prng, ZeroFilledGeneratorSeedsItselfWith5489) {
  prng g{};
  std::mt19937 oracle(5489u);
  for (int i = 0; i < 1300; ++i) ASSERT_EQ(prng_word(&g), oracle()) << i;
  EXPECT_EQ(g.initf, 1);
}

TEST(Prng, UniformConventions) {
  EXPECT_EQ(prng_u(0), 0.0f);
  EXPECT_EQ(prng_s(0), -1.0f);
  // The nearest float of the largest words is 2^32: both ends are reachable.
  EXPECT_EQ(prng_u(0xffffffffu), 1.0f);
  EXPECT_EQ(prng_s(0xffffffffu), 1.0f);
  EXPECT_EQ(prng_u(0x80000000u), 0.5f);
  EXPECT_EQ(prng_s(0x80000000u), 0.0f);
  // F(r) is rounded first: 2^24 + 1 is not a float.
  EXPECT_EQ(prng_F(16777217u), 16777216.0f);
  EXPECT_EQ(prng_F(0x80000000u) * PRNG_QUARTER_U + 1.0f, 1.125f);
  EXPECT_EQ(prng_F(0x80000000u) * PRNG_HALF_U + 1.0f, 1.25f);
}
