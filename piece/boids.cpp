#include "piece/boids.h"

#include <cmath>

namespace {

constexpr float MINUS_29_30 = -0.96666664f;

inline float accepted_pair(prng* g, float* s1, float* s2) {
  for (;;) {
    *s1 = prng_draw_s(g);
    *s2 = prng_draw_s(g);
    float q = *s1 * *s1 + *s2 * *s2;
    if (!(q > 1.0f) && std::fabs(q) >= 1e-6f) return q;
  }
}

struct v3 {
  float x, y, z;
};

inline v3 xyz(const vec4& v) { return v3{v.x, v.y, v.z}; }
inline v3 operator+(v3 a, v3 b) { return v3{a.x + b.x, a.y + b.y, a.z + b.z}; }
inline v3 operator-(v3 a, v3 b) { return v3{a.x - b.x, a.y - b.y, a.z - b.z}; }
inline v3 operator*(v3 a, float k) { return v3{a.x * k, a.y * k, a.z * k}; }
inline float dot(v3 a, v3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

void update_member(boids* flock, int i) {
  boid* self = &flock->members[i];
  v3 p = xyz(self->position), v = xyz(self->velocity);
  v3 positions{0, 0, 0}, velocities{0, 0, 0}, close{0, 0, 0};
  for (int j = 0; j < BOIDS_MEMBERS; ++j) {
    v3 pj = xyz(flock->members[j].position);
    v3 d = pj - p;
    if (static_cast<double>(dot(d, d)) < 0.09) close = close + d;
    if (j == i) continue;
    positions = positions + pj;
    velocities = velocities + xyz(flock->members[j].velocity);
  }
  v3 S = close * 0.6f;
  v3 K = (positions * MINUS_29_30 - p) * 0.3f;
  v3 L = (velocities * MINUS_29_30 - v) * 0.16f;
  v3 delta = S + K + L;

  int32_t count = array_count(&flock->obstacles, sizeof(boids_obstacle));
  for (int k = 0; k < count; ++k) {
    const boids_obstacle* o = &flock->obstacle_data[k];
    v3 d = p - xyz(o->centre);
    float D = std::sqrt(dot(d, d));
    // At the very centre there is no direction to push along; 0.9 / 0 would
    // spread NaN through the flock's sums to every member.
    if (D <= o->radius && D > 0.0f) delta = delta + d * (0.9f / D);
  }
  if (p.z < -0.15f) delta.z += 1.0f;
  if (p.z > 0.15f) delta.z -= 1.0f;
  float p2 = dot(p, p);
  if (p2 > 3.0f) delta = delta + p * (-2.0f / std::sqrt(p2));
  v3 w = v + delta;
  float wl = std::sqrt(dot(w, w));
  if (wl > 2.0f) delta = delta + w * ((2.0f - wl) * 0.6f / wl);

  v = v + delta * 2.0833333e-05f;
  p = p + v;
  self->velocity = vec4{v.x, v.y, v.z, self->velocity.w};
  self->position = vec4{p.x, p.y, p.z, self->position.w};
}

}  // namespace

int32_t boids_count(float fraction) {
  float n = fraction * static_cast<float>(BOIDS_MEMBERS);
  if (!(n > 0.0f)) return 0;
  return n < BOIDS_MEMBERS ? static_cast<int32_t>(n) : BOIDS_MEMBERS;
}

void boids_make(boids* flock, prng* g) {
  prng_word(g);
  prng_word(g);
  float hz = (prng_draw_u(g) - 0.5f) * 0.49f;
  for (boid& b : flock->members) {
    float s1, s2, s3, s4;
    float q1 = accepted_pair(g, &s1, &s2);
    float q2 = accepted_pair(g, &s3, &s4);
    b.position = vec4{1.2f * 0.5f * ((s1 * s1 - s2 * s2) / q1),
                      1.2f * 0.5f * (2.0f * s1 * s2 / q1 + (s3 * s3 - s4 * s4) / q2),
                      1.2f * 0.5f * (2.0f * s3 * s4 / q2), 0.0f};
    accepted_pair(g, &s1, &s2);
    accepted_pair(g, &s3, &s4);
    b.velocity = vec4{0, 0, 0, 0};
    b.position.z = hz + 0.06f * prng_draw_u(g);
  }
  flock->made = 1;
  flock->obstacle_data = nullptr;
  flock->obstacles = array{};
}

void boids_destroy(boids* flock) {
  array_reset(&flock->obstacles);
  flock->obstacle_data = nullptr;
}

void boids_add_sphere(boids* flock, const float* centre, float radius) {
  array* a = &flock->obstacles;
  if (a->failed) return;
  int32_t width = sizeof(boids_obstacle);
  int32_t index = a->size / width;
  int grown = array_grow(a, (index + 1) * width);
  flock->obstacle_data = a->size >= width ? static_cast<boids_obstacle*>(a->data) : nullptr;
  if (!grown) return;
  boids_obstacle* o = &flock->obstacle_data[index];
  o->centre = vec4{centre[0], centre[1], centre[2], centre[3]};
  o->radius = radius;
}

void boids_update(boids* flock, double time_ms, float fraction) {
  int n = boids_count(fraction);
  while (time_ms > flock->clock_ms) {
    for (int i = 0; i < n; ++i) update_member(flock, i);
    flock->clock_ms += 12.0;
  }
  if (!flock->obstacles.failed && flock->obstacles.size >= static_cast<int32_t>(sizeof(boids_obstacle))) {
    flock->obstacles.size = 0;
    flock->obstacle_data = nullptr;
  }
}

int32_t boids_write_strips(const boids* flock, vec4* positions, vec4* texcoords, float fraction,
                           float height, double time_ms, float ts, float tt) {
  constexpr double TWO_PI = 6.283185307179586;
  constexpr float STEP = 0.01578f, SIZE = 0.06312f, HALF = 0.03156f;
  int32_t n = boids_count(fraction);
  if (positions == nullptr) return n;
  float wave[4];
  for (int k = 0; k < 4; ++k)
    wave[k] = static_cast<float>(1.62 * std::cos(TWO_PI * (0.175 * k + time_ms / 900.0)));
  for (int i = 0; i < n; ++i) {
    const boid& b = flock->members[i];
    v3 v = xyz(b.velocity);
    float vl = std::sqrt(dot(v, v));
    v3 h = vl >= 1e-5f ? v * (STEP / vl) : v3{STEP, 0, 0};
    float mx = SIZE * -h.y, my = SIZE * h.x;
    vec4* out = positions + BOIDS_STRIP_VERTICES * i;
    for (int k = 0; k < 4; ++k) {
      v3 tail = h * -(0.5f + static_cast<float>(k));
      v3 head = tail + h;
      float ct = wave[k], ch = k > 0 ? wave[k - 1] : 0.0f;
      const v3 corner[4] = {v3{tail.x + mx * ct, tail.y + my * ct, tail.z},
                            v3{head.x + mx * ch, head.y + my * ch, head.z},
                            v3{head.x + mx * ch, head.y + my * ch, head.z + SIZE},
                            v3{tail.x + mx * ct, tail.y + my * ct, tail.z + SIZE}};
      for (int c = 0; c < 4; ++c)
        out[4 * k + c] = vec4{corner[c].x + b.position.x, corner[c].y + b.position.y,
                              corner[c].z - HALF + b.position.z + height, 0.0f};
    }
  }
  if (texcoords != nullptr) {
    for (int i = 0; i < n; ++i) {
      vec4* out = texcoords + BOIDS_STRIP_VERTICES * i;
      float hi = ts;
      for (int k = 0; k < 4; ++k) {
        float lo = hi - ts / 4.0f;
        out[4 * k + 0] = vec4{lo, tt, 0, 1};
        out[4 * k + 1] = vec4{hi, tt, 0, 1};
        out[4 * k + 2] = vec4{hi, 0, 0, 1};
        out[4 * k + 3] = vec4{lo, 0, 0, 1};
        hi = lo;
      }
    }
  }
  return n;
}
