#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include <zeal/arch/opengl/geometry.h>
#include "piece/boids.h"
#include "piece/particles.h"
#include "piece/perftest.h"

// One display frame of the particle cloud at the performance test's load:
// update by 33.3 ms, then the quads defined into a geometry and packed for
// drawing, once the cloud has filled all slots. A resident geometry needs no
// GL context: defining and committing it only fills memory. Goal: under
// 0.25 ms.
static void BM_ParticleFrame(benchmark::State& state) {
  auto* s = static_cast<ParticleSystem*>(calloc(1, sizeof(ParticleSystem)));
  opengl_geometry geometry;
  opengl_geometry_make_resident(&geometry);
  prng g{};
  prng_seed(&g, PERFTEST_SEED);
  ParticleSystem_make(s, &g);
  double t = 0;
  auto frame = [&] {
    t += 33.3;
    ParticleSystem_update(s, &PERFTEST_CONTROLS, &g, 0, 1.0f, static_cast<float>(t));
    ParticleSystem_define(s, &geometry, nullptr, nullptr, 1.0, t, 1.0);
    return geometry.index_count / 4;
  };
  for (int i = 0; i < 300; ++i) frame();
  int64_t quads = 0;
  for (auto _ : state) {
    quads += frame();
    benchmark::ClobberMemory();
  }
  state.counters["quads"] = benchmark::Counter(static_cast<double>(quads),
                                               benchmark::Counter::kAvgIterations);
  opengl_geometry_delete(&geometry);
  free(s);
}
BENCHMARK(BM_ParticleFrame)->Unit(benchmark::kMicrosecond);

// Four flocks, one display frame each: obstacles, update by 33.3 ms, strips.
static void BM_BoidsFrame(benchmark::State& state) {
  auto* flocks = static_cast<boids*>(calloc(4, sizeof(boids)));
  std::vector<vec4> positions(16 * BOIDS_MEMBERS), texcoords(16 * BOIDS_MEMBERS);
  prng g{};
  prng_seed(&g, 2393237);
  for (int k = 0; k < 4; ++k) boids_make(&flocks[k], &g);
  const float centres[4][4] = {
      {0, 0, -0.1f, 0}, {0.4f, -0.3f, 0.1f, 0}, {-0.5f, 0.2f, 0, 0}, {0.1f, 0.6f, -0.2f, 0}};
  double t = 0;
  for (auto _ : state) {
    t += 33.3;
    for (int k = 0; k < 4; ++k) {
      for (const float* c : centres) boids_add_sphere(&flocks[k], c, 0.435f);
      boids_update(&flocks[k], t, 1.0f);
      benchmark::DoNotOptimize(boids_write_strips(&flocks[k], positions.data(), texcoords.data(),
                                                  1.0f, 0.1f, t, 1.0f, 1.0f));
    }
    benchmark::ClobberMemory();
  }
  for (int k = 0; k < 4; ++k) boids_destroy(&flocks[k]);
  free(flocks);
}
BENCHMARK(BM_BoidsFrame)->Unit(benchmark::kMicrosecond);
