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

// Four flocks from one generator, as the piece makes them, run for `frames`
// frames of 33.3 ms with the particle attractors as obstacles.
void run_flocks(flock_ptr (&flocks)[4], int frames) {
  prng g{};
  prng_seed(&g, 2393237);
  for (flock_ptr& f : flocks) boids_make(f.get(), &g);
  const float centres[2][4] = {{0, 0, -0.1f, 0}, {0.4f, -0.3f, 0.1f, 0}};
  for (int frame = 1; frame <= frames; ++frame)
    for (flock_ptr& f : flocks) {
      for (const float* c : centres) boids_add_sphere(f.get(), c, 0.435f);
      boids_update(f.get(), frame * 33.3, 0.8f);
    }
}

// 29 still members spread on a grid in the plane z = 0, more than 0.3
// apart; member 0 at the grid's first point, lifted to `z`.
void lay_out_grid(boids* flock, float z) {
  memset(flock->members, 0, sizeof flock->members);
  for (int i = 0; i < BOIDS_MEMBERS; ++i)
    flock->members[i].position = vec4{-0.875f + 0.35f * (i % 6), -0.7f + 0.35f * (i / 6), 0, 0};
  flock->members[0].position.z = z;
  flock->made = 1;
}

constexpr float ONE_MEMBER = 0.05f;  // trunc(1.5): member 0 alone moves

}  // namespace

TEST(Boids, MakeStartsMembersStillInAThinLayer) {
  prng g{};
  prng_seed(&g, 2393237);
  flock_ptr f;
  boids_make(f.get(), &g);
  EXPECT_EQ(f->made, 1);
  EXPECT_EQ(f->clock_ms, 0.0);
  float low = 1e9f, high = -1e9f;
  for (const boid& b : f->members) {
    EXPECT_EQ(b.velocity.x, 0.0f);
    EXPECT_EQ(b.position.w, 0.0f);
    float r2 = b.position.x * b.position.x + b.position.y * b.position.y;
    EXPECT_LE(r2, 1.2f * 1.2f * 1.0001f);
    low = std::fmin(low, b.position.z);
    high = std::fmax(high, b.position.z);
  }
  EXPECT_LE(high - low, 0.06f);
  EXPECT_GE(low, -0.245f);
  EXPECT_LE(high, 0.245f + 0.06f);
}

TEST(Boids, SameSeedGivesBitIdenticalFlocks) {
  flock_ptr a[4], b[4];
  run_flocks(a, 400);
  run_flocks(b, 400);
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(memcmp(a[k]->members, b[k]->members, sizeof a[k]->members), 0);
    EXPECT_EQ(a[k]->clock_ms, b[k]->clock_ms);
  }
  // Pinned: the flocks' exact results may not change with speed work.
  uint64_t sum = 1469598103934665603ull;
  for (flock_ptr& f : a) sum = fnv1a(f->members, sizeof f->members, sum);
  EXPECT_EQ(sum, 0x170fa32fb96f455dull);
  for (flock_ptr& f : a)
    for (const boid& m : f->members) ASSERT_TRUE(std::isfinite(m.position.x));
}

TEST(Boids, FractionZeroMovesNothingButKeepsTime) {
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
  ASSERT_NE(f->obstacle_data, nullptr);
  int32_t capacity = f->obstacles.capacity;
  boids_update(f.get(), 100.0, 0.0f);
  EXPECT_EQ(f->clock_ms, 108.0);  // nine 12 ms steps
  EXPECT_EQ(memcmp(before, f->members, sizeof before), 0);
  EXPECT_EQ(f->obstacles.size, 0);
  EXPECT_EQ(f->obstacles.capacity, capacity);
  // A time already passed moves nothing but still empties the list.
  boids_add_sphere(f.get(), centre, 0.435f);
  boids_update(f.get(), 50.0, 1.0f);
  EXPECT_EQ(f->clock_ms, 108.0);
  EXPECT_EQ(memcmp(before, f->members, sizeof before), 0);
  EXPECT_EQ(f->obstacles.size, 0);
  EXPECT_EQ(boids_count(-1.0f), 0);
  EXPECT_EQ(boids_count(2.0f), 30);
  EXPECT_EQ(boids_count(std::nanf("")), 0);
}

TEST(Boids, MembersBeyondNStillCountInTheSums) {
  flock_ptr a, b;
  lay_out_grid(a.get(), 0);
  lay_out_grid(b.get(), 0);
  b->members[29].position.x += 0.5f;  // a still member far from member 0
  b->members[28].velocity.y = 0.01f;
  boids_update(a.get(), 12.0, ONE_MEMBER);
  boids_update(b.get(), 12.0, ONE_MEMBER);
  // Cohesion and alignment differ through the members that do not move.
  EXPECT_NE(a->members[0].velocity.x, b->members[0].velocity.x);
  EXPECT_NE(a->members[0].velocity.y, b->members[0].velocity.y);
  EXPECT_EQ(memcmp(&a->members[1], &b->members[1], 27 * sizeof(boid)), 0);
  // A still neighbour closer than 0.3 pulls member 0 towards it.
  flock_ptr c;
  lay_out_grid(c.get(), 0);
  c->members[29].position = vec4{-0.875f, -0.5f, 0, 0};
  boids_update(c.get(), 12.0, ONE_MEMBER);
  float pull = c->members[0].velocity.y - a->members[0].velocity.y;
  // S.y = 0.6 * 0.2, plus cohesion's share of member 29's move by -1.2 in y.
  EXPECT_NEAR(pull / 2.0833333e-05f, 0.6f * 0.2f + 0.3f * 0.96666664f * 1.2f, 1e-3f);
}

TEST(Boids, BandPushesOnlyStrictlyOutsideHeight015) {
  const float heights[] = {0.15f, -0.15f, std::nextafter(0.15f, 1.0f),
                           std::nextafter(-0.15f, -1.0f)};
  const float band[] = {0, 0, -1, 1};
  for (int k = 0; k < 4; ++k) {
    flock_ptr f;
    lay_out_grid(f.get(), heights[k]);
    boids_update(f.get(), 12.0, ONE_MEMBER);
    // Cohesion alone: 0.3 * (0 - z); the band adds -1 or +1.
    float expected = (0.3f * -heights[k] + band[k]) * 2.0833333e-05f;
    EXPECT_NEAR(f->members[0].velocity.z, expected, 1e-9f) << heights[k];
  }
}

TEST(Boids, ObstaclesPushAwayEachOnItsOwn) {
  flock_ptr a, b;
  lay_out_grid(a.get(), 0);
  lay_out_grid(b.get(), 0);
  const vec4& p = a->members[0].position;
  const float left[4] = {p.x - 0.2f, p.y, 0, 0}, below[4] = {p.x, p.y - 0.1f, 0, 0};
  boids_add_sphere(b.get(), left, 0.435f);
  boids_add_sphere(b.get(), below, 0.435f);
  const float far[4] = {5, 5, 5, 0};
  boids_add_sphere(b.get(), far, 0.435f);
  boids_update(a.get(), 12.0, ONE_MEMBER);
  boids_update(b.get(), 12.0, ONE_MEMBER);
  float dx = (b->members[0].velocity.x - a->members[0].velocity.x) / 2.0833333e-05f;
  float dy = (b->members[0].velocity.y - a->members[0].velocity.y) / 2.0833333e-05f;
  EXPECT_NEAR(dx, 0.9f, 1e-3f);
  EXPECT_NEAR(dy, 0.9f, 1e-3f);
}

// 0.9 / 0 at an obstacle's centre would turn the member into NaN, and the
// flock's sums would carry it to every member in the next step.
TEST(Boids, MemberAtAnObstacleCentreStaysFinite) {
  prng g{};
  prng_seed(&g, 2393237);
  flock_ptr f;
  boids_make(f.get(), &g);
  const vec4& p = f->members[0].position;
  const float centre[4] = {p.x, p.y, p.z, 0};
  boids_add_sphere(f.get(), centre, 0.435f);
  boids_update(f.get(), 120.0, 1.0f);
  for (const boid& m : f->members) {
    ASSERT_TRUE(std::isfinite(m.position.x) && std::isfinite(m.position.y) &&
                std::isfinite(m.position.z));
  }
}

TEST(Boids, StripsAreJoinedWaveAndHeadTheRightWay) {
  flock_ptr f;
  lay_out_grid(f.get(), 0);
  f->members[0].velocity = vec4{0, 0.001f, 0, 0};
  std::vector<vec4> pos(16 * 30), tex(16 * 30);
  double t = 123.0;
  ASSERT_EQ(boids_write_strips(f.get(), pos.data(), tex.data(), 2.0f / 30 + 0.01f, 0.5f, t,
                               0.75f, 0.5f),
            2);
  const vec4& c = f->members[0].position;
  // Heading along +y: quad 0 lies ahead of quad 3, and the strip is joined.
  EXPECT_GT(pos[1].y, pos[13].y);
  for (int k = 1; k < 4; ++k) {
    EXPECT_NEAR(pos[4 * k + 1].x, pos[4 * (k - 1)].x, 1e-6f);
    EXPECT_NEAR(pos[4 * k + 1].y, pos[4 * (k - 1)].y, 1e-6f);
    EXPECT_NEAR(pos[4 * k + 2].z, pos[4 * (k - 1) + 3].z, 1e-6f);
  }
  // The head tip does not wag; the tail does, sideways (along x).
  EXPECT_NEAR(pos[1].x, c.x, 1e-7f);
  double wave = 1.62 * std::cos(2 * 3.141592653589793 * (0.175 * 3 + t / 900));
  EXPECT_NEAR(pos[12].x, c.x + 0.06312f * -0.01578f * wave, 1e-6f);
  EXPECT_NEAR(pos[12].y, c.y - 3.5f * 0.01578f, 1e-6f);
  // 0.06312 high, centred on the member's height plus the given height.
  EXPECT_NEAR(pos[0].z, c.z + 0.5f - 0.03156f, 1e-6f);
  EXPECT_NEAR(pos[3].z, c.z + 0.5f + 0.03156f, 1e-6f);
  // A still member heads along x.
  EXPECT_GT(pos[16 + 1].x, pos[16 + 13].x);
  // The head quad shows the right quarter of the texture.
  EXPECT_EQ(tex[0].x, 0.5625f);
  EXPECT_EQ(tex[1].x, 0.75f);
  EXPECT_EQ(tex[1].y, 0.5f);
  EXPECT_EQ(tex[2].y, 0.0f);
  EXPECT_EQ(tex[12].x, 0.0f);
  EXPECT_EQ(tex[13].x, 0.1875f);
  // Without position storage nothing is written but n still counts.
  EXPECT_EQ(boids_write_strips(f.get(), nullptr, nullptr, 1.0f, 0, t, 1, 1), 30);
}
