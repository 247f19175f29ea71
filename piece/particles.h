// The particle cloud: up to 8000 short-lived particles held near four
// attractor shells, stepped with position Verlet in fixed 16 ms steps and
// drawn as camera-facing quads tinted from a palette.
//
// The system is one flat record without pointers; the caller allocates it
// zero-filled and frees it. Nothing here allocates or touches OpenGL: the
// quad writer fills caller-given arrays that a geometry buffer then packs.
#pragma once
#include <cstdint>

#include <zeal/arch/opengl/image.h>
#include "piece/prng.h"
#include "piece/vec4.h"

constexpr int32_t PS_PARTICLES = 8000;
constexpr int32_t PS_ATTRACTORS = 4;
constexpr int32_t PS_PATH_POINTS = 200;
constexpr int32_t PS_QUAD_VERTICES = 4 * PS_PARTICLES;

constexpr float PS_DEAD = -9000.0f;  // birth_ms of an empty slot
constexpr float PS_LIFE_MS = 9000.0f;
constexpr double PS_STEP_MS = 16.0;
// A particle dies when sqrtf(|position|^2) > 50 or sqrtf(|velocity|^2) > 0.25
// (per ms). The same tests without the square roots: the largest squares
// whose rounded roots stay within the limits.
constexpr float PS_FAR_SQUARED = 2500.0f;
constexpr float PS_FAST_SQUARED = 0x1.000002p-4f;  // 0.0625 and one ulp

struct controls {
  int32_t spawn_max;        // most respawns per update; spacing along a path
  int32_t attractor_count;  // attractors used for paths, spawning and forces
  float mass_spread;        // newborn mass is 4000 * (1 + mass_spread * u)
  float lift_gain;          // multiplies the system's lift
};

struct ps_attractor {
  vec4 position;  // w = 0
  float swirl;    // tangential force coefficient
  float gravity;  // inward inverse-square coefficient beyond the core radius
  float emit_speed;
  float spread;   // outward inverse-distance coefficient
};

struct ps_particle {
  float birth_ms;      // on the caller's clock; PS_DEAD marks an empty slot
  float mass;          // also sets the drawn size
  float colour_index;  // a whole number into the palette, or -1
  vec4 position;       // w = 1
  vec4 previous;       // one fixed step earlier
  vec4 velocity;       // units per ms, written by each step
  vec4 force;          // accumulated during a step; a newborn's launch impulse
};

struct ParticleSystem {
  int32_t made;
  int32_t alive;    // live particles at the end of the last update
  double clock_ms;  // time up to which fixed steps have run
  int32_t attractors_used;
  // Updates with attractors so far; the constraint pass runs on even counts.
  int32_t constraint_passes;
  ps_attractor attractors[PS_ATTRACTORS];
  float lift;
  ps_particle particles[PS_PARTICLES];
  vec4 paths[PS_ATTRACTORS][PS_PATH_POINTS];
};

// in = (r, azimuth, polar, w).
void spherical_to_cartesian(vec4* out, const vec4* in);
// out = (r, azimuth, polar, w); the origin gives (0, 0, 0, w).
void cartesian_to_spherical(vec4* out, const vec4* in);

// Places the four attractors and marks every slot dead; a made system is
// left alone.
void ParticleSystem_make(ParticleSystem* system, prng* g);
// Respawns up to spawn_max dead slots along the attractors' paths, runs the
// fixed steps up to time_ms, applies the constraint pass on every other
// update of the process and recounts `alive`. Only the first
// trunc(density * 8000) slots take part; the rest are killed.
void ParticleSystem_update(ParticleSystem* system, const controls* c, prng* g,
                           int32_t palette_size, float density, float time_ms);

// Writes one camera-facing quad (4 vertices) per drawn particle into
// `positions` and, when given, `colours` and `texcoords` (each room for
// PS_QUAD_VERTICES vectors), killing the particles that have faded out.
// (ts, tt) is the extent of the bound texture; each quad covers the band
// [lo, hi] of the texture's side on both axes (where the sprite has light),
// the whole square by default. Returns the number of quads
// to commit: 0 without `positions`, and 0 without `colours` because only the
// colour pass decides what is drawn. Drawing defines a geometry of
// PS_QUAD_VERTICES indices and vertices, writes through this and commits
// 4n indices and vertices.
int32_t ParticleSystem_write_quads(ParticleSystem* system, vec4* positions, vec4* colours,
                                   vec4* texcoords, const image* palette, double density,
                                   double time_ms, double camera_rate, float ts, float tt,
                                   float lo = 0.0f, float hi = 1.0f);

// The same quads packed as the draw reads them, 12 floats a vertex (texture
// s, t; colour r, g, b, a; a zero normal; position x, y, z), into room for
// PS_QUAD_VERTICES vertices; returns the number of quads drawn.
int32_t ParticleSystem_write_packed(ParticleSystem* system, float* packed, const image* palette,
                                    double density, double time_ms, double camera_rate, float ts,
                                    float tt, float lo = 0.0f, float hi = 1.0f);

struct opengl_geometry;
struct texture;

// Writes the quads into `geometry` (made for the current display frame) and
// commits the drawn count; `tex` is the particle texture (texture_defparticle)
// the draw will bind: each quad is trimmed to where that texture has light.
void ParticleSystem_define(ParticleSystem* system, opengl_geometry* geometry, const texture* tex,
                           const image* palette, double density, double time_ms,
                           double camera_rate);
