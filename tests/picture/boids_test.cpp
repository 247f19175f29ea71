#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "picture_test_util.h"
#include "piece/boids.h"

namespace {

struct flock_ptr {
  std::unique_ptr<boids, free_deleter> p{static_cast<boids*>(calloc(1, sizeof(boids)))};
  ~flock_ptr() { boids_destroy(p.get()); }
  boids* operator->() { return p.get(); }
  boids* get() { return p.get(); }
};

// 30 still members on a grid in the plane z = 0, more than 0.3 apart.
void lay_out_grid(boids* flock) {
  memset(flock->members, 0, sizeof flock->members);
  for (int i = 0; i < BOIDS_MEMBERS; ++i)
    flock->members[i].position = vec4{-0.875f + 0.35f * (i % 6), -0.7f + 0.35f * (i / 6), 0, 0};
  flock->made = 1;
}

}  // namespace

// Four flocks from one generator with two obstacles each, a fraction of
// their members shown: the pinned sum guards the exact results (the same
// seed gives the same bits, and every force of a step counts in it).
TEST(Boids, PinnedFlocks) {
  flock_ptr flocks[4];
  prng g{};
  prng_seed(&g, 2393237);
  for (flock_ptr& f : flocks) boids_make(f.get(), &g);
  const float centres[2][4] = {{0, 0, -0.1f, 0}, {0.4f, -0.3f, 0.1f, 0}};
  for (int frame = 1; frame <= 400; ++frame)
    for (flock_ptr& f : flocks) {
      for (const float* c : centres) boids_add_sphere(f.get(), c, 0.435f);
      boids_update(f.get(), frame * 33.3, 0.8f);
    }
  uint64_t sum = 1469598103934665603ull;
  for (flock_ptr& f : flocks) sum = fnv1a(f->members, sizeof f->members, sum);
  EXPECT_EQ(sum, 0x170fa32fb96f455dull);
}

TEST(Boids, FractionZeroMovesNothingButKeepsTimeAndEmptiesObstacles) {
  prng g{};
  prng_seed(&g, 2393237);
  flock_ptr f;
  boids_make(f.get(), &g);
  boid before[BOIDS_MEMBERS];
  memcpy(before, f->members, sizeof before);
  const float centre[4] = {0, 0, 0, 0};
  boids_add_sphere(f.get(), centre, 0.435f);
  boids_add_sphere(f.get(), centre, 0.435f);
  boids_update(f.get(), 100.0, 0.0f);
  EXPECT_EQ(f->clock_ms, 108.0);  // nine 12 ms steps
  EXPECT_EQ(memcmp(before, f->members, sizeof before), 0);
  EXPECT_EQ(f->obstacles.size, 0);
  // A time already passed moves nothing but still empties the list.
  boids_add_sphere(f.get(), centre, 0.435f);
  boids_update(f.get(), 50.0, 1.0f);
  EXPECT_EQ(memcmp(before, f->members, sizeof before), 0);
  EXPECT_EQ(f->obstacles.size, 0);
  EXPECT_EQ(boids_count(2.0f), 30);
  EXPECT_EQ(boids_count(std::nanf("")), 0);
}

// At the very centre of an obstacle, 0.9 / 0 would make a member NaN, and
// the sums would carry it to the whole flock in the next step.
TEST(Boids, AMemberAtAnObstaclesCentreDoesNotTurnTheFlockToNaN) {
  flock_ptr a;
  lay_out_grid(a.get());
  const vec4& p = a->members[0].position;
  const float centre[4] = {p.x, p.y, p.z, 0};
  boids_add_sphere(a.get(), centre, 0.435f);
  boids_update(a.get(), 120.0, 1.0f);
  for (const boid& m : a->members) ASSERT_TRUE(std::isfinite(m.position.x + m.position.y));
}
