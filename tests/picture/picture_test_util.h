// Shared set-up for the picture tests: zero-filled heap records and a
// checksum over raw bytes.
#pragma once
#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "piece/particles.h"
#include "piece/perftest.h"

struct free_deleter {
  void operator()(void* p) const { free(p); }
};

using system_ptr = std::unique_ptr<ParticleSystem, free_deleter>;

inline system_ptr new_system() {
  return system_ptr(static_cast<ParticleSystem*>(calloc(1, sizeof(ParticleSystem))));
}

inline std::array<float, 4> xyzw(const vec4& v) { return {v.x, v.y, v.z, v.w}; }

inline uint64_t fnv1a(const void* data, size_t n, uint64_t h = 1469598103934665603ull) {
  const auto* b = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < n; ++i) h = (h ^ b[i]) * 1099511628211ull;
  return h;
}

// A zero-filled record with every slot dead, as if made without attractors.
inline system_ptr dead_system() {
  system_ptr s = new_system();
  for (ps_particle& p : s->particles) p.birth_ms = PS_DEAD;
  return s;
}

struct quad_arrays {
  std::vector<vec4> positions = std::vector<vec4>(PS_QUAD_VERTICES);
  std::vector<vec4> colours = std::vector<vec4>(PS_QUAD_VERTICES);
  std::vector<vec4> texcoords = std::vector<vec4>(PS_QUAD_VERTICES);
};

// The performance test's load: a made system after `frames` display frames
// of 33.3 ms at density 1 (update, then quads), the constraint parity
// starting even. Returns the quad count of the last frame in `n`.
inline system_ptr run_frames(prng* g, int frames, quad_arrays* q = nullptr,
                             int32_t* n = nullptr) {
  prng_seed(g, PERFTEST_SEED);
  system_ptr s = new_system();
  ParticleSystem_make(s.get(), g);
  quad_arrays local;
  if (q == nullptr) q = &local;
  int32_t quads = 0;
  for (int f = 1; f <= frames; ++f) {
    double t = f * 33.3;
    ParticleSystem_update(s.get(), &PERFTEST_CONTROLS, g, 0, 1.0f, static_cast<float>(t));
    quads = ParticleSystem_write_quads(s.get(), q->positions.data(), q->colours.data(),
                                       q->texcoords.data(), nullptr, 1.0, t, 1.0, 1.0f, 1.0f);
  }
  if (n != nullptr) *n = quads;
  return s;
}
