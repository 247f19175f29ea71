#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include <zeal/arch/opengl/texture.h>

#include "picture_test_util.h"
#include "piece/particlescene.h"

namespace {

const controls NO_SPAWNS{0, 4, 5.0f, 8.0f};

system_ptr made_system() {
  prng g{};
  prng_seed(&g, 10116141);
  system_ptr s = new_system();
  ParticleSystem_make(s.get(), &g);
  return s;
}

// Particle `i` alive from `t` on, with the given motion.
void place(ParticleSystem* s, int i, float t, vec4 position, vec4 previous = vec4{}) {
  s->particles[i] = ps_particle{t, 4000.0f, -1.0f, position, previous, {}, {}};
}


int32_t write(ParticleSystem* s, quad_arrays* q, const image* palette, double T,
              double density = 1.0) {
  return ParticleSystem_write_quads(s, q->positions.data(), q->colours.data(),
                                    q->texcoords.data(), palette, density, T, 1.0, 1, 1);
}

}  // namespace

// The pinned sums of the full load (record and quads after 300 frames, with
// spawns, kills and fades) guard the exact results against speed work (and
// so show that the same seed gives the same bits).
TEST(ParticleSystem, PinnedResults) {
  prng g{};
  quad_arrays q;
  int32_t n = 0;
  system_ptr a = run_frames(&g, 300, &q, &n);
  uint64_t quads = fnv1a(q.colours.data(), 4 * n * sizeof(vec4), fnv1a(q.positions.data(), 4 * n * sizeof(vec4)));
  EXPECT_EQ(std::pair(a->alive, n), std::pair(8000, 7925));
  EXPECT_EQ(fnv1a(a.get(), sizeof(ParticleSystem)), 0x550949b6b73e4b7ull);
  EXPECT_EQ(quads, 0x576bad6f6b185a72ull);

  // The packed quads the draw reads are the same numbers, killing the same.
  prng g2{};
  quad_arrays q2;
  system_ptr b = run_frames(&g2, 299);
  ParticleSystem_update(b.get(), &PERFTEST_CONTROLS, &g2, 0, 1.0f, static_cast<float>(300 * 33.3));
  std::vector<float> packed(12 * PS_QUAD_VERTICES);
  ASSERT_EQ(ParticleSystem_write_packed(b.get(), packed.data(), nullptr, 1.0, 300 * 33.3, 1.0, 1, 1), n);
  EXPECT_EQ(fnv1a(b.get(), sizeof(ParticleSystem)), 0x550949b6b73e4b7ull);
  for (int32_t k = 0; k < 4 * n; ++k) {
    const float* o = &packed[12 * k];
    const vec4 &c = q.colours[k], &p = q.positions[k], &t = q.texcoords[k];
    const float expected[12] = {t.x, t.y, c.x, c.y, c.z, c.w, 0, 0, 0, p.x, p.y, p.z};
    ASSERT_EQ(0, memcmp(o, expected, sizeof expected)) << k;
  }
}

TEST(ParticleSystem, NoAttractorsOnlyRecounts) {
  prng g{};
  system_ptr s = run_frames(&g, 20);
  double clock = s->clock_ms;
  int32_t passes = s->constraint_passes, left = g.left;
  int alive_low = 0;
  for (int i = 0; i < 4000; ++i) alive_low += s->particles[i].birth_ms > 700.0f - PS_LIFE_MS;
  controls none = PERFTEST_CONTROLS;
  none.attractor_count = 0;
  ParticleSystem_update(s.get(), &none, &g, 0, 0.5f, 700.0f);
  EXPECT_EQ(s->clock_ms, clock);
  EXPECT_EQ(s->constraint_passes, passes);
  EXPECT_EQ(g.left, left);  // nothing drawn
  EXPECT_EQ(s->alive, alive_low);
  for (int i = 4000; i < PS_PARTICLES; ++i) ASSERT_EQ(s->particles[i].birth_ms, PS_DEAD);
}

// The handler clamps the count to 4; a larger one must not run off the
// record's four attractors and paths.
TEST(ParticleSystem, AttractorCountAboveFourActsAsFour) {
  prng g1{}, g2{};
  system_ptr a = run_frames(&g1, 5), b = run_frames(&g2, 5);
  controls many = PERFTEST_CONTROLS;
  many.attractor_count = 9;
  ParticleSystem_update(a.get(), &many, &g1, 0, 1.0f, 200.0f);
  ParticleSystem_update(b.get(), &PERFTEST_CONTROLS, &g2, 0, 1.0f, 200.0f);
  EXPECT_EQ(a->attractors_used, 4);
  EXPECT_EQ(memcmp(a.get(), b.get(), sizeof(ParticleSystem)), 0);
}

// The kill tests compare squares; they must agree with the rounded roots.
// The clock follows the caller in whole 16 ms steps and never goes back.
TEST(ParticleSystem, KillsAgreeWithTheRoundedRootsAndTimeNeverGoesBack) {
  for (float limit : {50.0f, 0.25f}) {
    float bound = limit == 50.0f ? PS_FAR_SQUARED : PS_FAST_SQUARED;
    float x = limit * limit;
    for (int k = 0; k < 64; ++k) x = std::nextafter(x, 0.0f);
    for (int k = 0; k < 128; ++k, x = std::nextafter(x, 1e9f)) ASSERT_EQ(std::sqrt(x) > limit, x > bound) << x;
  }
  system_ptr s = made_system();
  prng g{};
  ParticleSystem_update(s.get(), &NO_SPAWNS, &g, 0, 1.0f, 2000.0f);
  EXPECT_EQ(s->clock_ms, 125 * 16.0);
  ParticleSystem_update(s.get(), &NO_SPAWNS, &g, 0, 1.0f, 1000.0f);
  EXPECT_EQ(s->clock_ms, 125 * 16.0);
}

TEST(ParticleSystem, PaletteWrapsAndSwapsRedAndBlue) {
  system_ptr s = dead_system();
  // Bytes as the PNG decoder gives them: red, green, blue, alpha.
  uint8_t pixels[3][4] = {{1, 2, 3, 255}, {4, 5, 6, 255}, {200, 100, 50, 255}};
  image palette{IMAGE_KIND_U8, pixels, 3, 1, 1, 4, 3, 1, 0};
  place(s.get(), 0, 1000.0f, vec4{0, 0, 0, 1});
  s->particles[0].colour_index = 5.0f;  // wraps to pixel 2
  place(s.get(), 1, 1000.0f, vec4{0, 0, 0, 1});
  quad_arrays q;
  ASSERT_EQ(write(s.get(), &q, &palette, 1000.0), 2);
  EXPECT_EQ(xyzw(q.colours[3]),
            (std::array<float, 4>{50 * 0.003921569f, 100 * 0.003921569f, 200 * 0.003921569f, 0.9f * 0.3f}));
  EXPECT_EQ(q.colours[4].x, 0.72f);  // no index: the default colour
  EXPECT_EQ(q.colours[4].w, 0.9f);
  palette.kind = IMAGE_KIND_NONE;  // no image: default colour for all
  write(s.get(), &q, &palette, 1000.0);
  EXPECT_EQ(q.colours[0].y, 0.36f);
}


// A sprite trimmed to the texture's footprint draws the same light: outside
// the band every linearly filtered sample is zero, and each trimmed quad lies
// on the whole quad, at the place its texture coordinates name.
TEST(ParticleSystem, TrimmedSpritesCoverAllTheLight) {
  for (int32_t n : {16, 64, 100}) {
    float lo, hi;
    texture_particle_footprint(n, &lo, &hi);
    int32_t first = n, last = -1;
    for (int32_t y = 0; y < n; ++y)
      for (int32_t x = 0; x < n; ++x)
        if (texture_particle_alpha(n, x, y) != 0) first = std::min(first, x), last = std::max(last, x);
    ASSERT_LE(first, last) << n;
    // A sample at s reads texels floor(s n - 0.5) and the next.
    EXPECT_FLOAT_EQ(lo * n, first - 0.5f) << n;
    EXPECT_FLOAT_EQ(hi * n, last + 1.5f) << n;
  }
  float lo, hi;
  texture_particle_footprint(64, &lo, &hi);
  EXPECT_LT(hi - lo, 0.75f);  // about half the fragments of the whole square

  system_ptr s = dead_system();
  place(s.get(), 0, 1000.0f, vec4{0.3f, -0.2f, 0.1f, 1});
  s->particles[0].mass = 40000.0f;
  quad_arrays whole, trimmed;
  ASSERT_EQ(ParticleSystem_write_quads(s.get(), whole.positions.data(), whole.colours.data(),
                                       whole.texcoords.data(), nullptr, 1.0, 1000.0, 1.0, 0.5f, 1.0f),
            1);
  ASSERT_EQ(ParticleSystem_write_quads(s.get(), trimmed.positions.data(), trimmed.colours.data(),
                                       trimmed.texcoords.data(), nullptr, 1.0, 1000.0, 1.0, 0.5f, 1.0f,
                                       lo, hi),
            1);
  const vec4* w = whole.positions.data();
  for (int v = 0; v < 4; ++v) {
    float fs = trimmed.texcoords[v].x / 0.5f, ft = trimmed.texcoords[v].y;
    EXPECT_TRUE(fs == lo || fs == hi) << v;
    EXPECT_TRUE(ft == lo || ft == hi) << v;
    // Bilinear in the whole quad: corners 0, 1, 2, 3 at (0,0), (1,0), (1,1), (0,1).
    auto at = [&](float vec4::*c) {
      return (1 - fs) * (1 - ft) * w[0].*c + fs * (1 - ft) * w[1].*c + fs * ft * w[2].*c +
             (1 - fs) * ft * w[3].*c;
    };
    EXPECT_NEAR(trimmed.positions[v].x, at(&vec4::x), 1e-6f) << v;
    EXPECT_NEAR(trimmed.positions[v].y, at(&vec4::y), 1e-6f) << v;
    EXPECT_NEAR(trimmed.positions[v].z, at(&vec4::z), 1e-6f) << v;
    EXPECT_EQ(trimmed.colours[v].w, whole.colours[v].w);
  }
}
