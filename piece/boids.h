// A flock of 30 fish: flocking rules in fixed 12 ms steps, spherical
// obstacles that last one update, a containing sphere and a horizontal band.
// Drawn as vertical strips of four quads that wag with a travelling wave.
//
// The caller allocates the record zero-filled, makes it once and frees the
// obstacle storage with boids_destroy.
#pragma once
#include <cstdint>

#include <zeal/base/array.h>
#include "piece/prng.h"
#include "piece/vec4.h"

constexpr int32_t BOIDS_MEMBERS = 30;
constexpr int32_t BOIDS_STRIP_VERTICES = 16;

struct boid {
  vec4 velocity;  // units per step
  vec4 position;
};

struct boids_obstacle {
  vec4 centre;
  float radius;
};

struct boids {
  int32_t made;
  double clock_ms;  // time reached by the 12 ms steps
  boid members[BOIDS_MEMBERS];
  boids_obstacle* obstacle_data;  // first obstacle, null when there is none
  array obstacles;                // of boids_obstacle
};

void boids_make(boids* flock, prng* g);
// Releases the obstacle storage; the flock stays made.
void boids_destroy(boids* flock);
void boids_add_sphere(boids* flock, const float* centre, float radius);
// Moves the first trunc(fraction * 30) members until the flock's clock passes
// time_ms, then empties the obstacle list.
void boids_update(boids* flock, double time_ms, float fraction);
// Members that move and are drawn for a fraction.
int32_t boids_count(float fraction);

// Writes 16 vertices (four quads, head first) per drawn member into
// `positions` and, when given, `texcoords` (room for 16 * 30 vectors each);
// (ts, tt) is the extent of the bound texture. Returns the member count n,
// to be committed as 16n whether or not anything was written.
int32_t boids_write_strips(const boids* flock, vec4* positions, vec4* texcoords, float fraction,
                           float height, double time_ms, float ts, float tt);

struct opengl_geometry;
struct texture;

// Writes the strips of the first boids_count(fraction) members into
// `geometry` (made for the current display frame) and commits them.
void boids_geometry(const boids* flock, opengl_geometry* geometry, const texture* tex,
                    float fraction, float height, double time_ms);
