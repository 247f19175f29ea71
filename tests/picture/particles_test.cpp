#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "picture_test_util.h"
#include "piece/particlescene.h"

namespace {

const controls ONE_ATTRACTOR{1, 1, 0.0f, 0.0f};
const controls NO_SPAWNS{0, 4, 5.0f, 8.0f};

// A made system whose particle `i` is alive at `t` with the given motion.
void place(ParticleSystem* s, int i, float t, vec4 position, vec4 previous) {
  ps_particle* p = &s->particles[i];
  p->birth_ms = t;
  p->mass = 4000.0f;
  p->colour_index = -1.0f;
  p->position = position;
  p->previous = previous;
  p->force = vec4{0, 0, 0, 0};
}

float length(const vec4& v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

}  // namespace

TEST(ParticleSystem, MakeDrawsAttractorsOnceAndLeavesEverySlotDead) {
  prng g{};
  prng_seed(&g, 10116141);
  system_ptr s = new_system();
  ParticleSystem_make(s.get(), &g);
  EXPECT_EQ(s->made, 1);
  EXPECT_EQ(s->clock_ms, 0.0);
  EXPECT_EQ(s->lift, 0.00026f);
  EXPECT_EQ(s->attractors[0].position.x, 0.0f);
  EXPECT_EQ(s->attractors[0].position.z, 0.0f);
  for (const ps_attractor& a : s->attractors) {
    EXPECT_LE(length(a.position), 2.1f);  // mean of two unit vectors, scaled by at most 2.1
    EXPECT_EQ(a.position.w, 0.0f);
    EXPECT_GE(a.gravity, 0.00035f);
    EXPECT_LE(a.gravity, 0.0004375f);
    EXPECT_LE(std::fabs(a.swirl), 0.0003f);
    EXPECT_GE(a.emit_speed, 0.008f);
    EXPECT_LE(a.emit_speed, 0.012f);
    EXPECT_GE(a.spread, 0.0003f);
    EXPECT_LE(a.spread, 0.000399f);
  }
  for (const ps_particle& p : s->particles) ASSERT_EQ(p.birth_ms, PS_DEAD);
  // A second make draws nothing and changes nothing.
  prng before = g;
  s->attractors[1].swirl = 42.0f;
  ParticleSystem_make(s.get(), &g);
  EXPECT_EQ(s->attractors[1].swirl, 42.0f);
  EXPECT_EQ(memcmp(before.mt, g.mt, sizeof g.mt), 0);
  EXPECT_EQ(before.left, g.left);
}

TEST(ParticleSystem, SameSeedGivesBitIdenticalStates) {
  prng g1{}, g2{};
  system_ptr a = run_frames(&g1, 150);
  system_ptr b = run_frames(&g2, 150);
  EXPECT_GT(a->alive, 1000);
  EXPECT_EQ(memcmp(a.get(), b.get(), sizeof(ParticleSystem)), 0);
  EXPECT_EQ(memcmp(&g1.mt, &g2.mt, sizeof g1.mt), 0);
}

// Pins the exact results of the performance test's load (the record after
// 300 frames and the quads of the last one), so that speed work cannot
// change a single bit.
TEST(ParticleSystem, PinnedChecksumOfTheFullLoad) {
  prng g{};
  quad_arrays q;
  int32_t n = 0;
  system_ptr s = run_frames(&g, 300, &q, &n);
  uint64_t state = fnv1a(s.get(), sizeof(ParticleSystem));
  uint64_t quads = fnv1a(q.positions.data(), 4 * n * sizeof(vec4));
  quads = fnv1a(q.colours.data(), 4 * n * sizeof(vec4), quads);
  EXPECT_EQ(s->alive, 8000);
  EXPECT_EQ(n, 7925);
  EXPECT_EQ(state, 0xddc39bede1dc956cull);
  EXPECT_EQ(quads, 0x576bad6f6b185a72ull);
}

TEST(ParticleSystem, DensityZeroKillsEverythingAndDrawsNothing) {
  prng g{};
  system_ptr s = run_frames(&g, 30);
  ASSERT_GT(s->alive, 0);
  double clock = s->clock_ms;
  ParticleSystem_update(s.get(), &PERFTEST_CONTROLS, &g, 0, 0.0f, 1100.0f);
  EXPECT_EQ(s->alive, 0);
  EXPECT_GT(s->clock_ms, clock);  // the clock still follows the caller
  for (const ps_particle& p : s->particles) ASSERT_EQ(p.birth_ms, PS_DEAD);

  system_ptr t = run_frames(&g, 30);
  quad_arrays q;
  EXPECT_EQ(ParticleSystem_write_quads(t.get(), q.positions.data(), q.colours.data(), nullptr,
                                       nullptr, 0.0, 999.0, 1.0, 1, 1),
            0);
  // Density beyond 1 uses every slot.
  ParticleSystem_update(t.get(), &PERFTEST_CONTROLS, &g, 0, 7.0f, 1100.0f);
  EXPECT_GT(t->alive, 0);
}

TEST(ParticleSystem, NoAttractorsStopsAllButTheRecount) {
  prng g{};
  system_ptr s = run_frames(&g, 20);
  double clock = s->clock_ms;
  int32_t frame = constraint_frame;
  prng before = g;
  vec4 path = s->paths[2][17];
  int alive_below_half = 0;
  for (int i = 0; i < PS_PARTICLES / 2; ++i)
    alive_below_half += s->particles[i].birth_ms > 700.0f - PS_LIFE_MS;
  controls none = PERFTEST_CONTROLS;
  none.attractor_count = 0;
  ParticleSystem_update(s.get(), &none, &g, 0, 0.5f, 700.0f);
  EXPECT_EQ(s->clock_ms, clock);
  EXPECT_EQ(constraint_frame, frame);
  EXPECT_EQ(s->attractors_used, 0);
  EXPECT_EQ(memcmp(&s->paths[2][17], &path, sizeof path), 0);
  EXPECT_EQ(g.left, before.left);  // nothing drawn
  EXPECT_EQ(s->alive, alive_below_half);
  for (int i = PS_PARTICLES / 2; i < PS_PARTICLES; ++i)
    ASSERT_EQ(s->particles[i].birth_ms, PS_DEAD);
}

// The handler clamps the count to 4; an unclamped count must not run off the
// record's four attractors and paths.
TEST(ParticleSystem, AttractorCountAboveFourActsAsFour) {
  prng g1{}, g2{};
  system_ptr a = run_frames(&g1, 5);
  system_ptr b = run_frames(&g2, 5);
  controls many = PERFTEST_CONTROLS;
  many.attractor_count = 9;
  int32_t frame = constraint_frame;
  ParticleSystem_update(a.get(), &many, &g1, 0, 1.0f, 200.0f);
  constraint_frame = frame;
  ParticleSystem_update(b.get(), &PERFTEST_CONTROLS, &g2, 0, 1.0f, 200.0f);
  EXPECT_EQ(a->attractors_used, 4);
  EXPECT_EQ(memcmp(a.get(), b.get(), sizeof(ParticleSystem)), 0);
}

TEST(ParticleSystem, FirstUpdateCatchesUpInFixedSteps) {
  prng g{};
  prng_seed(&g, 10116141);
  system_ptr s = new_system();
  ParticleSystem_make(s.get(), &g);
  ParticleSystem_update(s.get(), &PERFTEST_CONTROLS, &g, 0, 1.0f, 2000.0f);
  EXPECT_EQ(s->clock_ms, 125 * 16.0);
  ParticleSystem_update(s.get(), &PERFTEST_CONTROLS, &g, 0, 1.0f, 2000.5f);
  EXPECT_EQ(s->clock_ms, 126 * 16.0);
  ParticleSystem_update(s.get(), &PERFTEST_CONTROLS, &g, 0, 1.0f, 1000.0f);
  EXPECT_EQ(s->clock_ms, 126 * 16.0);  // the clock never goes back
}

TEST(ParticleSystem, FarOrFastParticlesDieInTheirStep) {
  prng g{};
  prng_seed(&g, 10116141);
  system_ptr s = new_system();
  ParticleSystem_make(s.get(), &g);
  float t = 16.0f;  // exactly one step
  place(s.get(), 0, t, vec4{50.5f, 0, 0, 1}, vec4{50.5f, 0, 0, 1});
  place(s.get(), 1, t, vec4{0, 49.5f, 0, 1}, vec4{0, 49.5f, 0, 1});
  // (new - previous) / 32 with new = 2p - q: 2 * 5 / 32 = 0.3125 per ms.
  place(s.get(), 2, t, vec4{0, 5, 3, 1}, vec4{0, 0, 3, 1});
  place(s.get(), 3, t, vec4{0, 3.5f, 3, 1}, vec4{0, 0, 3, 1});  // 0.21875 per ms
  ParticleSystem_update(s.get(), &NO_SPAWNS, &g, 0, 1.0f, t);
  EXPECT_EQ(s->clock_ms, 16.0);
  EXPECT_EQ(s->particles[0].birth_ms, PS_DEAD);
  EXPECT_EQ(s->particles[1].birth_ms, t);
  EXPECT_EQ(s->particles[2].birth_ms, PS_DEAD);
  EXPECT_EQ(s->particles[3].birth_ms, t);
  EXPECT_NEAR(length(s->particles[3].velocity), 0.21875f, 1e-3f);
  EXPECT_EQ(s->alive, 2);
}

TEST(ParticleSystem, SquaredLimitsMatchTheRoundedRoots) {
  for (float limit : {50.0f, 0.25f}) {
    float bound = limit == 50.0f ? PS_FAR_SQUARED : PS_FAST_SQUARED;
    float x = limit * limit;
    for (int k = 0; k < 64; ++k) x = std::nextafter(x, 0.0f);
    for (int k = 0; k < 128; ++k, x = std::nextafter(x, 1e9f))
      ASSERT_EQ(std::sqrt(x) > limit, x > bound) << limit << " " << x;
  }
}

TEST(ParticleSystem, PathsStartAtTheTopOfTheirCircle) {
  prng g{};
  prng_seed(&g, 10116141);
  system_ptr s = new_system();
  ParticleSystem_make(s.get(), &g);
  for (float t : {0.0f, 1234.5f, 60000.0f}) {
    ParticleSystem_update(s.get(), &NO_SPAWNS, &g, 0, 1.0f, t);
    for (int j = 0; j < PS_ATTRACTORS; ++j) {
      const vec4& p = s->paths[j][0];
      EXPECT_EQ(p.x, 0.0f);
      EXPECT_EQ(p.y, 0.5f);
      EXPECT_EQ(p.z, 0.0f);
      EXPECT_EQ(p.w, 1.0f);
      // Point 1 is not turned either: it lies in the x-y plane.
      EXPECT_EQ(s->paths[j][1].z, 0.0f);
      EXPECT_NEAR(s->paths[j][1].x, 0.5f * std::sin(0.09424778f), 1e-6f);
    }
  }
}

TEST(ParticleSystem, FirstSpawnLeavesItsShellAtPathPointZero) {
  prng g{};
  prng_seed(&g, 10116141);
  system_ptr s = new_system();
  ParticleSystem_make(s.get(), &g);
  // At t = 0 no step runs, so the newborn is seen as launched.
  ParticleSystem_update(s.get(), &ONE_ATTRACTOR, &g, 5, 1.0f, 0.0f);
  const ps_particle& p = s->particles[0];
  vec4 shell{0.29f, 2.8274333f, 4.712389f, 1}, expected;
  spherical_to_cartesian(&expected, &shell);
  EXPECT_NEAR(p.position.x, expected.x, 1e-6f);
  EXPECT_NEAR(p.position.y, expected.y, 1e-6f);
  EXPECT_NEAR(p.position.z, expected.z, 1e-6f);
  EXPECT_EQ(memcmp(&p.position, &p.previous, sizeof(vec4)), 0);
  // The impulse points outwards within 1.305 degrees of the radius.
  float speed = length(p.force);
  EXPECT_GE(speed, s->attractors[0].emit_speed * 0.9999f);
  EXPECT_LE(speed, s->attractors[0].emit_speed * 1.5001f);
  float cosine = (p.force.x * p.position.x + p.force.y * p.position.y +
                  p.force.z * p.position.z) / (speed * 0.29f);
  // 1.305 degrees in each angle; at polar angle 1.5 pi both count fully.
  EXPECT_GT(cosine, std::cos(1.85f * 3.14159265f / 180.0f));
  EXPECT_EQ(p.mass, 4000.0f);
  EXPECT_GE(p.colour_index, 0.0f);
  EXPECT_LE(p.colour_index, 4.0f);
  EXPECT_EQ(p.colour_index, std::trunc(p.colour_index));
  EXPECT_GE(p.birth_ms, -4500.0f);
  EXPECT_LE(p.birth_ms, 4500.0f);
  EXPECT_EQ(s->particles[1].birth_ms, PS_DEAD);  // spawn_max 1
}

TEST(ParticleSystem, ColourIndexFollowsThePaletteSize) {
  prng g{};
  prng_seed(&g, 10116141);
  system_ptr s = new_system();
  ParticleSystem_make(s.get(), &g);
  controls c = PERFTEST_CONTROLS;
  c.attractor_count = 4;
  ParticleSystem_update(s.get(), &c, &g, 1, 1.0f, 0.0f);
  for (int i = 0; i < 200; ++i) ASSERT_EQ(s->particles[i].colour_index, 0.0f);
  ParticleSystem_update(s.get(), &c, &g, 0, 1.0f, 0.0f);
  int without = 0;
  for (const ps_particle& p : s->particles) {
    if (p.birth_ms == PS_DEAD) continue;
    ASSERT_TRUE(p.colour_index == 0.0f || p.colour_index == -1.0f);
    without += p.colour_index == -1.0f;
  }
  EXPECT_EQ(without, 200);
}

TEST(ParticleSystem, PaletteWrapsAndSwapsRedAndBlue) {
  system_ptr s = dead_system();
  // Bytes as stbi_load gives them: red, green, blue, alpha.
  uint8_t pixels[3][4] = {{1, 2, 3, 255}, {4, 5, 6, 255}, {200, 100, 50, 255}};
  image palette{IMAGE_KIND_U8, pixels, 3, 1, 1, 4, 3, 1, 0};
  place(s.get(), 0, 1000.0f, vec4{0, 0, 0, 1}, vec4{});
  s->particles[0].colour_index = 5.0f;  // wraps to pixel 2
  place(s.get(), 1, 1000.0f, vec4{0, 0, 0, 1}, vec4{});
  quad_arrays q;
  int32_t n = ParticleSystem_write_quads(s.get(), q.positions.data(), q.colours.data(),
                                         q.texcoords.data(), &palette, 1.0, 1000.0, 1.0, 1, 1);
  ASSERT_EQ(n, 2);
  for (int v = 0; v < 4; ++v) {
    EXPECT_EQ(q.colours[v].x, 50 * 0.003921569f);
    EXPECT_EQ(q.colours[v].y, 100 * 0.003921569f);
    EXPECT_EQ(q.colours[v].z, 200 * 0.003921569f);
    EXPECT_EQ(q.colours[v].w, 0.9f * 0.3f);
    EXPECT_EQ(q.colours[4 + v].x, 0.72f);  // no index: the default colour
    EXPECT_EQ(q.colours[4 + v].w, 0.9f);
  }
  // Without an image every particle takes the default colour.
  palette.kind = IMAGE_KIND_NONE;
  ParticleSystem_write_quads(s.get(), q.positions.data(), q.colours.data(), nullptr, &palette,
                             1.0, 1000.0, 1.0, 1, 1);
  EXPECT_EQ(q.colours[0].y, 0.36f);
}

TEST(ParticleSystem, ParticlesFadeOverHalfTheirLife) {
  system_ptr s = dead_system();
  uint32_t pixel = 0xff808080u;
  image palette{IMAGE_KIND_U8, &pixel, 1, 1, 1, 4, 1, 1, 0};
  double T = 10000.0;
  const float ages[] = {-500, 3600, 3700, 4200, 4300};
  for (int i = 0; i < 5; ++i) {
    place(s.get(), 2 * i, static_cast<float>(T - ages[i]), vec4{0, 0, 0, 1}, vec4{});
    s->particles[2 * i].colour_index = 0;
    place(s.get(), 2 * i + 1, static_cast<float>(T - ages[i]), vec4{0, 0, 0, 1}, vec4{});
  }
  quad_arrays q;
  int32_t n = ParticleSystem_write_quads(s.get(), q.positions.data(), q.colours.data(),
                                         q.texcoords.data(), &palette, 1.0, T, 1.0, 1, 1);
  // Drawn: both unborn ones, the 3600 ms palette one, the default ones up to 4200 ms.
  EXPECT_EQ(n, 6);
  EXPECT_EQ(q.colours[0].w, 0.9f * 0.3f);  // a future birth is drawn at full alpha
  EXPECT_EQ(q.colours[4].w, 0.9f);
  const int dead[] = {4, 6, 8, 9};
  for (int i : dead) EXPECT_EQ(s->particles[i].birth_ms, PS_DEAD) << i;
  const int kept[] = {0, 1, 2, 3, 5, 7};
  for (int i : kept) EXPECT_NE(s->particles[i].birth_ms, PS_DEAD) << i;
}

TEST(ParticleSystem, QuadsFaceTheCamera) {
  system_ptr s = dead_system();
  place(s.get(), 0, 7000.0f, vec4{0.3f, -0.2f, 0.4f, 1}, vec4{});
  s->particles[0].mass = 20000.0f;
  quad_arrays q;
  double T = 7000.0, rate = 0.5;
  ASSERT_EQ(ParticleSystem_write_quads(s.get(), q.positions.data(), q.colours.data(),
                                       q.texcoords.data(), nullptr, 1.0, T, rate, 0.5f, 0.25f),
            1);
  vec4 eye = particlescene_cpos(T * rate);
  vec4 f{-eye.x, -eye.y, 0.25f - eye.z, 0};
  float size = 20000 * 2.25e-6f;
  vec4 sum{};
  for (int v = 0; v < 4; ++v) {
    const vec4& a = q.positions[v];
    const vec4& b = q.positions[(v + 1) % 4];
    vec4 edge{b.x - a.x, b.y - a.y, b.z - a.z, 0};
    EXPECT_NEAR(length(edge), 2 * size, 1e-6f);
    EXPECT_NEAR((edge.x * f.x + edge.y * f.y + edge.z * f.z) / length(f), 0.0f, 1e-6f);
    sum = vec4{sum.x + a.x, sum.y + a.y, sum.z + a.z, 0};
    EXPECT_EQ(a.w, 1.0f);
  }
  EXPECT_NEAR(sum.x / 4, 0.3f, 1e-6f);
  EXPECT_NEAR(sum.y / 4, -0.2f, 1e-6f);
  EXPECT_NEAR(sum.z / 4, 0.4f, 1e-6f);
  EXPECT_EQ(q.texcoords[2].x, 0.5f);
  EXPECT_EQ(q.texcoords[2].y, 0.25f);
  EXPECT_EQ(q.texcoords[3].x, 0.0f);
  EXPECT_EQ(q.texcoords[3].w, 1.0f);
}

TEST(ParticleSystem, WithoutColoursNothingIsCommittedOrKilled) {
  system_ptr s = dead_system();
  place(s.get(), 0, 0.0f, vec4{1, 2, 3, 1}, vec4{});
  place(s.get(), 1, -4400.0f, vec4{1, 2, 3, 1}, vec4{});  // would fade out
  quad_arrays q;
  EXPECT_EQ(ParticleSystem_write_quads(s.get(), q.positions.data(), nullptr, q.texcoords.data(),
                                       nullptr, 1.0, 0.0, 1.0, 1, 1),
            0);
  EXPECT_NEAR(q.positions[4].x, 1.0f, 0.05f);  // written all the same
  EXPECT_EQ(s->particles[1].birth_ms, -4400.0f);
  EXPECT_EQ(ParticleSystem_write_quads(s.get(), nullptr, q.colours.data(), nullptr, nullptr, 1.0,
                                       0.0, 1.0, 1, 1),
            0);
  EXPECT_EQ(s->particles[1].birth_ms, -4400.0f);
}

TEST(ParticleSystem, ConstraintPassRunsOnEveryOtherUpdateOfTheProcess) {
  prng g{};
  prng_seed(&g, 10116141);
  system_ptr s = new_system();
  ParticleSystem_make(s.get(), &g);
  // Inside the core of attractor 0, with no step to move it first.
  constraint_frame = 1;
  place(s.get(), 0, 0.0f, vec4{0.1f, 0, 0, 1}, vec4{0.1f, 0, 0, 1});
  ParticleSystem_update(s.get(), &NO_SPAWNS, &g, 0, 1.0f, 0.0f);
  EXPECT_EQ(s->particles[0].birth_ms, 0.0f);
  EXPECT_EQ(constraint_frame, 2);
  ParticleSystem_update(s.get(), &NO_SPAWNS, &g, 0, 1.0f, 0.0f);
  EXPECT_EQ(s->particles[0].birth_ms, PS_DEAD);
  // Just outside the core: pushed back onto the 0.261 shell, previous kept.
  place(s.get(), 1, 0.0f, vec4{0, 0.24f, 0, 1}, vec4{0, 0.24f, 0, 1});
  s->particles[1].force = vec4{0, 1, 0, 0};
  constraint_frame = 0;
  ParticleSystem_update(s.get(), &NO_SPAWNS, &g, 0, 1.0f, 0.0f);
  const ps_particle& p = s->particles[1];
  EXPECT_NEAR(length(p.position), 0.261f, 1e-6f);
  EXPECT_NEAR(p.position.y, 0.261f, 1e-3f);
  EXPECT_EQ(p.previous.y, 0.24f);
  // kappa = -(d . force) / D^2 = -0.24 / 0.0576; force += kappa * force.
  EXPECT_NEAR(p.force.y, 1.0f - 0.24f / (0.24f * 0.24f), 1e-4f);
}

TEST(ParticleSystem, CoordinateConversionsRoundTrip) {
  vec4 in{0.3f, -1.2f, 0.5f, 1}, sph, out;
  cartesian_to_spherical(&sph, &in);
  spherical_to_cartesian(&out, &sph);
  EXPECT_NEAR(out.x, in.x, 1e-6f);
  EXPECT_NEAR(out.y, in.y, 1e-6f);
  EXPECT_NEAR(out.z, in.z, 1e-6f);
  vec4 origin{0, 0, 0, 7};
  cartesian_to_spherical(&sph, &origin);
  EXPECT_EQ(sph.x, 0.0f);
  EXPECT_EQ(sph.y, 0.0f);
  EXPECT_EQ(sph.z, 0.0f);
  EXPECT_EQ(sph.w, 7.0f);
}
