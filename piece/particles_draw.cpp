// The particle cloud and the flocks into geometry buffers.
#include <zeal/arch/opengl/geometry.h>
#include <zeal/arch/opengl/texture.h>
#include "piece/boids.h"
#include "piece/particles.h"
#include "piece/particlescene.h"

void ParticleSystem_define(ParticleSystem* system, opengl_geometry* geometry, const texture* tex,
                           const image* palette, double density, double time_ms,
                           double camera_rate) {
  float* packed = opengl_geometry_define_interleaved(geometry, GEOMETRY_QUADS, PS_QUAD_VERTICES);
  if (packed == nullptr) {
    opengl_geometry_commit_with(geometry, 0, 0);
    return;
  }
  float ts, tt, lo = 0.0f, hi = 1.0f;
  texture_extent(tex, &ts, &tt);
  if (tex != nullptr && tex->has_image) texture_particle_footprint(tex->width, &lo, &hi);
  int32_t n = ParticleSystem_write_packed(system, packed, palette, density, time_ms, camera_rate, ts,
                                          tt, lo, hi);
  opengl_geometry_commit_with(geometry, 4 * n, 4 * n);
}

void boids_geometry(const boids* flock, opengl_geometry* geometry, const texture* tex,
                    float fraction, float height, double time_ms) {
  int32_t n = boids_count(fraction);
  float ts, tt;
  texture_extent(tex, &ts, &tt);
  uint32_t* indices = nullptr;
  float *v = nullptr, *tc = nullptr;
  opengl_geometry_define(geometry, GEOMETRY_QUADS, 16 * n, &indices, 16 * n, &v, nullptr, &tc,
                         nullptr);
  if (indices != nullptr && v != nullptr)
    n = boids_write_strips(flock, reinterpret_cast<vec4*>(v), reinterpret_cast<vec4*>(tc),
                           fraction, height, time_ms, ts, tt);
  opengl_geometry_commit_with(geometry, 16 * n, 16 * n);
}
