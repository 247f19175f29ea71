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

constexpr float ONE_MEMBER = 0.05f;  // trunc(1.5): member 0 alone moves
constexpr float PER_STEP = 2.0833333e-05f;

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
  ASSERT_EQ(array_count(&f->obstacles, sizeof(boids_obstacle)), 2);
  int32_t capacity = f->obstacles.capacity;
  boids_update(f.get(), 100.0, 0.0f);
  EXPECT_EQ(f->clock_ms, 108.0);  // nine 12 ms steps
  EXPECT_EQ(memcmp(before, f->members, sizeof before), 0);
  EXPECT_EQ(f->obstacles.size, 0);
  EXPECT_EQ(f->obstacles.capacity, capacity);
  // A time already passed moves nothing but still empties the list.
  boids_add_sphere(f.get(), centre, 0.435f);
  boids_update(f.get(), 50.0, 1.0f);
  EXPECT_EQ(memcmp(before, f->members, sizeof before), 0);
  EXPECT_EQ(f->obstacles.size, 0);
  EXPECT_EQ(boids_count(2.0f), 30);
  EXPECT_EQ(boids_count(std::nanf("")), 0);
}

TEST(Boids, ObstaclesPushEachOnItsOwnAndNeverToNaN) {
  flock_ptr a, b;
  lay_out_grid(a.get());
  lay_out_grid(b.get());
  const vec4& p = a->members[0].position;
  const float left[4] = {p.x - 0.2f, p.y, 0, 0}, below[4] = {p.x, p.y - 0.1f, 0, 0};
  const float far[4] = {5, 5, 5, 0};
  for (const float* c : {left, below, far}) boids_add_sphere(b.get(), c, 0.435f);
  boids_update(a.get(), 12.0, ONE_MEMBER);
  boids_update(b.get(), 12.0, ONE_MEMBER);
  EXPECT_NEAR((b->members[0].velocity.x - a->members[0].velocity.x) / PER_STEP, 0.9f, 1e-3f);
  EXPECT_NEAR((b->members[0].velocity.y - a->members[0].velocity.y) / PER_STEP, 0.9f, 1e-3f);
  // At the very centre, 0.9 / 0 would make the member NaN, and the sums
  // would carry it to the whole flock in the next step.
  const float centre[4] = {p.x, p.y, p.z, 0};
  boids_add_sphere(a.get(), centre, 0.435f);
  boids_update(a.get(), 120.0, 1.0f);
  for (const boid& m : a->members) ASSERT_TRUE(std::isfinite(m.position.x + m.position.y));
}
