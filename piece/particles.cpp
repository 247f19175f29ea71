#include "piece/particles.h"

#include <cmath>

#ifdef __SSE2__
#include <immintrin.h>
#endif

#include "piece/particlescene.h"


namespace {

constexpr double TWO_PI = 6.283185307179586;
constexpr float CORE_RADIUS = 0.29f;
constexpr double LAUNCH_JITTER = 0.0455530921662774;      // 2.61 degrees
constexpr double PUSH_JITTER = 0.0004724955350999049;

inline int alive_at(const ps_particle* p, float t) { return p->birth_ms > t - PS_LIFE_MS; }

inline void kill(ps_particle* p) { p->birth_ms = PS_DEAD; }

// Draws s1, s2 until their squares sum to a usable q in (0, 1].
inline float accepted_pair(prng* g, float* s1, float* s2) {
  for (;;) {
    *s1 = prng_draw_s(g);
    *s2 = prng_draw_s(g);
    float q = *s1 * *s1 + *s2 * *s2;
    if (!(q > 1.0f) && std::fabs(q) >= 1e-6f) return q;
  }
}

void make_attractor(ps_attractor* a, prng* g, int j) {
  a->position = vec4{0, 0, 0, 0};
  if (j >= 1) {
    float s1, s2, s3, s4;
    float q1 = accepted_pair(g, &s1, &s2);
    float q2 = accepted_pair(g, &s3, &s4);
    a->position.x = 0.5f * (s1 * s1 - s2 * s2) / q1;
    a->position.y = 0.5f * (2.0f * s1 * s2 / q1 + (s3 * s3 - s4 * s4) / q2);
    a->position.z = 0.5f * (2.0f * s3 * s4 / q2);
    float scale = (prng_draw_u(g) + 0.75f) * 1.2f;
    a->position.x *= scale;
    a->position.y *= scale;
    a->position.z *= scale;
  }
  a->gravity = 0.00035f * (prng_F(prng_word(g)) * PRNG_QUARTER_U + 1.0f);
  a->swirl = 0.0006f * (prng_draw_u(g) - 0.5f);
  a->emit_speed = 0.008f * (prng_F(prng_word(g)) * PRNG_HALF_U + 1.0f);
  a->spread = 0.0003f * (prng_F(prng_word(g)) * (0.33f * PRNG_U) + 1.0f);
}

// Three turns of a circle of radius 0.5 that drifts along (1, -1) and tilts
// a little more about (0, 0.25, 0.75) with every point.
void compute_path(vec4* path, const vec4* centre, float t) {
  float q = centre->x * centre->x + centre->y * centre->y + centre->z * centre->z +
            centre->w * centre->w;
  float h = std::fmod((27.482479f * q + 119.14286f) * (119.14286f + q) + q, 1.0f);
  float sa = std::sin(static_cast<float>(TWO_PI * (t * 9.09090909090909e-5 + h)));
  float a = 0.0035f * (sa * sa);
  float dphi_arg = static_cast<float>(TWO_PI * (h + t * 0.000125));
  float dphi = static_cast<float>(0.09424778 * 0.15 * std::cos(static_cast<double>(dphi_arg)));
  float theta = 0, phi = 0, e = 0;
  float qa = 0, qb = 0, qw = 1;
  for (int k = 0; k < PS_PATH_POINTS; ++k) {
    float vx = static_cast<float>(0.5 * std::sin(static_cast<double>(theta)) + e);
    float vy = static_cast<float>(0.5 * std::cos(static_cast<double>(theta)) - e);
    float n = 2.0f / (qa * qa + qb * qb + qw * qw);
    path[k].x = vx * (1.0f - n * (qa * qa + qb * qb)) + vy * n * qw * qb;
    path[k].y = -vx * n * qw * qb + vy * (1.0f - n * qb * qb);
    path[k].z = vx * n * qa * qw + vy * n * qa * qb;
    path[k].w = 1.0f;
    e = static_cast<float>(e + 0.25 * std::sin(static_cast<double>(a * theta)));
    float half = phi / 2.0f;
    float sh = std::sin(half);
    qa = 0.25f * 0.7905694f * sh;
    qb = 0.75f * 0.7905694f * sh;
    qw = std::cos(half);
    phi += dphi;
    theta += 0.09424778f;
  }
}

void spawn(ParticleSystem* s, const controls* c, prng* g, int32_t palette_size, int active,
           int attractors, float t) {
  int start = static_cast<int>(prng_draw_u(g) * static_cast<float>(attractors - 1));
  int n = 0;
  for (int i = 0; i < active; ++i) {
    ps_particle* p = &s->particles[i];
    if (alive_at(p, t)) continue;
    if (n >= c->spawn_max) return;
    int j = (n + start) % attractors;
    const ps_attractor* a = &s->attractors[j];
    const vec4* P = &s->paths[j][n * PS_PATH_POINTS / c->spawn_max];
    vec4 shell{CORE_RADIUS, static_cast<float>(TWO_PI * P->x + 2.8274333133294083),
               static_cast<float>(TWO_PI * P->y + 1.5707963267948966), 1.0f};
    spherical_to_cartesian(&p->position, &shell);
    p->velocity = vec4{0, 0, 0, 0};
    float speed = a->emit_speed * (prng_F(prng_word(g)) * PRNG_HALF_U + 1.0f);
    uint32_t r2 = prng_word(g);
    vec4 launch;
    cartesian_to_spherical(&launch, &p->position);
    launch.x = speed;
    launch.y = static_cast<float>(launch.y + (prng_draw_u(g) - 0.5) * LAUNCH_JITTER);
    launch.z = static_cast<float>(launch.z + (prng_draw_u(g) - 0.5) * LAUNCH_JITTER);
    spherical_to_cartesian(&p->force, &launch);
    p->mass = 4000.0f * (1.0f + c->mass_spread * prng_u(r2));
    p->position.x += a->position.x;
    p->position.y += a->position.y;
    p->position.z += a->position.z;
    p->previous = p->position;
    if (palette_size > 0) {
      float index = prng_F(prng_word(g)) * static_cast<float>(palette_size - 1) * PRNG_U;
      p->colour_index = std::trunc(index);
    } else {
      p->colour_index = -1.0f;
    }
    p->birth_ms = t + PS_LIFE_MS * (prng_draw_u(g) - 0.5f);
    ++n;
  }
}

// The pull of every attractor in use on one particle, added to its force in
// attractor order: radially an outward spread/r, less an inward gravity/r^2
// beyond the core radius; tangentially a swirl about the vertical axis.
inline void add_attractor_forces(vec4* force, const vec4* position, const ps_attractor* a,
                                 int attractors) {
  for (int j = 0; j < attractors; ++j) {
    float dx = position->x - a[j].position.x;
    float dy = position->y - a[j].position.y;
    float dz = position->z - a[j].position.z;
    float r = std::sqrt(dx * dx + dy * dy + dz * dz);
    float r3 = r * r * r;
    float k = r >= CORE_RADIUS ? (r * a[j].spread - a[j].gravity) / r3 : r * a[j].spread / r3;
    float w = -a[j].swirl / r3;
    force->x += dy * w + dx * k;
    force->y += -dx * w + dy * k;
    force->z += dz * k;
  }
}

#ifdef __SSE2__
// The same arithmetic with the four attractors side by side in SSE lanes:
// each lane rounds exactly as the scalar code does (SSE square root and
// division are correctly rounded), and the lanes are then added to the
// force one by one in attractor order, so the sums are bit for bit the same.
struct attractor_lanes {
  __m128 x, y, z, spread, gravity, minus_swirl;
};

attractor_lanes lanes_of(const ps_attractor* a) {
  attractor_lanes l;
  l.x = _mm_setr_ps(a[0].position.x, a[1].position.x, a[2].position.x, a[3].position.x);
  l.y = _mm_setr_ps(a[0].position.y, a[1].position.y, a[2].position.y, a[3].position.y);
  l.z = _mm_setr_ps(a[0].position.z, a[1].position.z, a[2].position.z, a[3].position.z);
  l.spread = _mm_setr_ps(a[0].spread, a[1].spread, a[2].spread, a[3].spread);
  l.gravity = _mm_setr_ps(a[0].gravity, a[1].gravity, a[2].gravity, a[3].gravity);
  l.minus_swirl = _mm_setr_ps(-a[0].swirl, -a[1].swirl, -a[2].swirl, -a[3].swirl);
  return l;
}

inline void add_attractor_forces(vec4* force, const vec4* position, const attractor_lanes& l,
                                 int attractors) {
  __m128 dx = _mm_sub_ps(_mm_set1_ps(position->x), l.x);
  __m128 dy = _mm_sub_ps(_mm_set1_ps(position->y), l.y);
  __m128 dz = _mm_sub_ps(_mm_set1_ps(position->z), l.z);
  __m128 r2 = _mm_add_ps(_mm_add_ps(_mm_mul_ps(dx, dx), _mm_mul_ps(dy, dy)), _mm_mul_ps(dz, dz));
  __m128 r = _mm_sqrt_ps(r2);
  __m128 r3 = _mm_mul_ps(_mm_mul_ps(r, r), r);
  // Beyond the core the gravity term joins; x - 0 is exactly x.
  __m128 outside = _mm_cmpge_ps(r, _mm_set1_ps(CORE_RADIUS));
  __m128 num = _mm_sub_ps(_mm_mul_ps(r, l.spread), _mm_and_ps(outside, l.gravity));
  __m128 k = _mm_div_ps(num, r3);
  __m128 w = _mm_div_ps(l.minus_swirl, r3);
  __m128 minus_dx = _mm_xor_ps(dx, _mm_set1_ps(-0.0f));
  alignas(16) float tx[4], ty[4], tz[4];
  _mm_store_ps(tx, _mm_add_ps(_mm_mul_ps(dy, w), _mm_mul_ps(dx, k)));
  _mm_store_ps(ty, _mm_add_ps(_mm_mul_ps(minus_dx, w), _mm_mul_ps(dy, k)));
  _mm_store_ps(tz, _mm_mul_ps(dz, k));
  float fx = force->x, fy = force->y, fz = force->z;
  for (int j = 0; j < attractors; ++j) {
    fx += tx[j];
    fy += ty[j];
    fz += tz[j];
  }
  force->x = fx;
  force->y = fy;
  force->z = fz;
}
#endif

inline float verlet(float p, float q, float f, float m) {
  return (p * 0.0078125f + f * m - q * 0.00390625f) * 256.0f;
}

// Position Verlet over one 16 ms step: new = 2p - q + 256 force / mass.
inline void integrate(ps_particle* p) {
  float m = 1.0f / p->mass;
  float nx = verlet(p->position.x, p->previous.x, p->force.x, m);
  float ny = verlet(p->position.y, p->previous.y, p->force.y, m);
  float nz = verlet(p->position.z, p->previous.z, p->force.z, m);
  p->velocity.x = (nx - p->previous.x) * 0.03125f;
  p->velocity.y = (ny - p->previous.y) * 0.03125f;
  p->velocity.z = (nz - p->previous.z) * 0.03125f;
  p->previous.x = p->position.x;
  p->previous.y = p->position.y;
  p->previous.z = p->position.z;
  p->position.x = nx;
  p->position.y = ny;
  p->position.z = nz;
  p->force = vec4{0, 0, 0, 0};
  const vec4& v = p->velocity;
  if (nx * nx + ny * ny + nz * nz > PS_FAR_SQUARED)
    kill(p);
  else if (v.x * v.x + v.y * v.y + v.z * v.z > PS_FAST_SQUARED)
    kill(p);
}

#ifdef __SSE2__
// Four particles side by side, one per lane: each lane does what the code
// for one particle does, operation for operation and in its order (the
// attractors' pulls added one by one, the lift, the step), so every number
// is bit for bit the same; only live lanes are written back.
void step_four(ps_particle* q, int live, const ps_attractor* a, int attractors, float lift) {
  auto lanes = [q](float ps_particle::*field) {
    return _mm_setr_ps(q[0].*field, q[1].*field, q[2].*field, q[3].*field);
  };
  auto lanes4 = [q](vec4 ps_particle::*v, float vec4::*c) {
    return _mm_setr_ps(q[0].*v.*c, q[1].*v.*c, q[2].*v.*c, q[3].*v.*c);
  };
  const __m128 px = lanes4(&ps_particle::position, &vec4::x), py = lanes4(&ps_particle::position, &vec4::y),
               pz = lanes4(&ps_particle::position, &vec4::z);
  const __m128 qx = lanes4(&ps_particle::previous, &vec4::x), qy = lanes4(&ps_particle::previous, &vec4::y),
               qz = lanes4(&ps_particle::previous, &vec4::z);
  __m128 fx = lanes4(&ps_particle::force, &vec4::x), fy = lanes4(&ps_particle::force, &vec4::y),
         fz = lanes4(&ps_particle::force, &vec4::z);
  const __m128 core = _mm_set1_ps(CORE_RADIUS), sign = _mm_set1_ps(-0.0f);
  for (int j = 0; j < attractors; ++j) {
    __m128 dx = _mm_sub_ps(px, _mm_set1_ps(a[j].position.x));
    __m128 dy = _mm_sub_ps(py, _mm_set1_ps(a[j].position.y));
    __m128 dz = _mm_sub_ps(pz, _mm_set1_ps(a[j].position.z));
    __m128 r2 = _mm_add_ps(_mm_add_ps(_mm_mul_ps(dx, dx), _mm_mul_ps(dy, dy)), _mm_mul_ps(dz, dz));
    __m128 r = _mm_sqrt_ps(r2);
    __m128 r3 = _mm_mul_ps(_mm_mul_ps(r, r), r);
    __m128 gravity = _mm_and_ps(_mm_cmpge_ps(r, core), _mm_set1_ps(a[j].gravity));
    __m128 k = _mm_div_ps(_mm_sub_ps(_mm_mul_ps(r, _mm_set1_ps(a[j].spread)), gravity), r3);
    __m128 w = _mm_div_ps(_mm_set1_ps(-a[j].swirl), r3);
    fx = _mm_add_ps(fx, _mm_add_ps(_mm_mul_ps(dy, w), _mm_mul_ps(dx, k)));
    fy = _mm_add_ps(fy, _mm_add_ps(_mm_mul_ps(_mm_xor_ps(dx, sign), w), _mm_mul_ps(dy, k)));
    fz = _mm_add_ps(fz, _mm_mul_ps(dz, k));
  }
  fz = _mm_add_ps(fz, _mm_set1_ps(lift));
  const __m128 m = _mm_div_ps(_mm_set1_ps(1.0f), lanes(&ps_particle::mass));
  auto verlet4 = [m](__m128 p, __m128 q, __m128 f) {
    __m128 sum = _mm_add_ps(_mm_mul_ps(p, _mm_set1_ps(0.0078125f)), _mm_mul_ps(f, m));
    return _mm_mul_ps(_mm_sub_ps(sum, _mm_mul_ps(q, _mm_set1_ps(0.00390625f))), _mm_set1_ps(256.0f));
  };
  const __m128 nx = verlet4(px, qx, fx), ny = verlet4(py, qy, fy), nz = verlet4(pz, qz, fz);
  const __m128 eighth = _mm_set1_ps(0.03125f);
  const __m128 vx = _mm_mul_ps(_mm_sub_ps(nx, qx), eighth), vy = _mm_mul_ps(_mm_sub_ps(ny, qy), eighth),
               vz = _mm_mul_ps(_mm_sub_ps(nz, qz), eighth);
  auto square = [](__m128 x, __m128 y, __m128 z) {
    return _mm_add_ps(_mm_add_ps(_mm_mul_ps(x, x), _mm_mul_ps(y, y)), _mm_mul_ps(z, z));
  };
  int far = _mm_movemask_ps(_mm_cmpgt_ps(square(nx, ny, nz), _mm_set1_ps(PS_FAR_SQUARED)));
  int fast = _mm_movemask_ps(_mm_cmpgt_ps(square(vx, vy, vz), _mm_set1_ps(PS_FAST_SQUARED)));
  alignas(16) float o[9][4];
  const __m128 out[9] = {nx, ny, nz, vx, vy, vz, px, py, pz};
  for (int k = 0; k < 9; ++k) _mm_store_ps(o[k], out[k]);
  for (int l = 0; l < 4; ++l) {
    if (!(live >> l & 1)) continue;
    ps_particle* p = &q[l];
    p->velocity.x = o[3][l], p->velocity.y = o[4][l], p->velocity.z = o[5][l];
    p->previous.x = o[6][l], p->previous.y = o[7][l], p->previous.z = o[8][l];
    p->position.x = o[0][l], p->position.y = o[1][l], p->position.z = o[2][l];
    p->force = vec4{0, 0, 0, 0};
    if ((far | fast) >> l & 1) kill(p);
  }
}
#endif

// One fixed step. Particles do not act on each other, so forces, lift and
// integration run in one pass per particle with the same results as three
// passes over the whole cloud.
void step(ParticleSystem* s, int active, int attractors, float t, float lift) {
  int i = 0;
#ifdef __SSE2__
  const attractor_lanes a = lanes_of(s->attractors);
  const __m128 oldest = _mm_set1_ps(t - PS_LIFE_MS);
  for (; i + 4 <= active; i += 4) {
    ps_particle* q = &s->particles[i];
    __m128 birth = _mm_setr_ps(q[0].birth_ms, q[1].birth_ms, q[2].birth_ms, q[3].birth_ms);
    int live = _mm_movemask_ps(_mm_cmpgt_ps(birth, oldest));
    if (live != 0) step_four(q, live, s->attractors, attractors, lift);
  }
#else
  const ps_attractor* a = s->attractors;
#endif
  for (; i < active; ++i) {
    ps_particle* p = &s->particles[i];
    if (!alive_at(p, t)) continue;
    add_attractor_forces(&p->force, &p->position, a, attractors);
    p->force.z += lift;
    integrate(p);
  }
}

// Whether a particle comes near enough any attractor for the constraint
// pass to act on it: a little more than 0.261 squared, so that it takes in
// every particle whose rounded distance is below 0.261.
constexpr float NEAR_SQUARED = 0.0682f;

#ifdef __SSE2__
inline int near_an_attractor(const vec4* position, const attractor_lanes& l) {
  __m128 dx = _mm_sub_ps(_mm_set1_ps(position->x), l.x);
  __m128 dy = _mm_sub_ps(_mm_set1_ps(position->y), l.y);
  __m128 dz = _mm_sub_ps(_mm_set1_ps(position->z), l.z);
  __m128 d2 = _mm_add_ps(_mm_add_ps(_mm_mul_ps(dx, dx), _mm_mul_ps(dy, dy)), _mm_mul_ps(dz, dz));
  return _mm_movemask_ps(_mm_cmplt_ps(d2, _mm_set1_ps(NEAR_SQUARED)));
}
#else
inline int near_an_attractor(const vec4* position, const ps_attractor* a) {
  for (int j = 0; j < PS_ATTRACTORS; ++j) {
    float dx = position->x - a[j].position.x;
    float dy = position->y - a[j].position.y;
    float dz = position->z - a[j].position.z;
    if (dx * dx + dy * dy + dz * dz < NEAR_SQUARED) return 1;
  }
  return 0;
}
#endif

// Particles that fell into an attractor's core die; those just outside the
// shell are put back on it, which shows as outward velocity in the next step.
// The pass goes attractor by attractor; only particles near some attractor
// can be touched, and a particle far from all of them is never moved by it,
// so the pass visits just those, in the same order and with the same draws.
void constrain(ParticleSystem* s, prng* g, int active, float t) {
#ifdef __SSE2__
  const attractor_lanes lanes = lanes_of(s->attractors);
#else
  const ps_attractor* lanes = s->attractors;
#endif
  uint16_t near[PS_PARTICLES];
  int count = 0;
  for (int i = 0; i < active; ++i) {
    const ps_particle* p = &s->particles[i];
    if (alive_at(p, t) && near_an_attractor(&p->position, lanes))
      near[count++] = static_cast<uint16_t>(i);
  }
  for (int j = 0; j < PS_ATTRACTORS; ++j) {
    const vec4& c = s->attractors[j].position;
    for (int k = 0; k < count; ++k) {
      ps_particle* p = &s->particles[near[k]];
      if (!alive_at(p, t)) continue;
      float dx = p->position.x - c.x;
      float dy = p->position.y - c.y;
      float dz = p->position.z - c.z;
      float d2 = dx * dx + dy * dy + dz * dz;
      float d = std::sqrt(d2);
      if (d < 0.232f) {
        kill(p);
      } else if (d < 0.261f) {
        vec4 rel{dx, dy, dz, p->position.w}, sph;
        cartesian_to_spherical(&sph, &rel);
        sph.x = 0.261f;
        sph.y = static_cast<float>(sph.y + (prng_draw_u(g) - 0.5) * PUSH_JITTER);
        sph.z = static_cast<float>(sph.z + (prng_draw_u(g) - 0.5) * PUSH_JITTER);
        spherical_to_cartesian(&p->position, &sph);
        p->position.x += c.x;
        p->position.y += c.y;
        p->position.z += c.z;
        float kappa = -(dx * p->force.x + dy * p->force.y + dz * p->force.z) / d2;
        p->force.x += kappa * p->force.x;
        p->force.y += kappa * p->force.y;
        p->force.z += kappa * p->force.z;
      }
    }
  }
}

}  // namespace

void spherical_to_cartesian(vec4* out, const vec4* in) {
  float r = in->x, theta = in->y, phi = in->z, w = in->w;
  float sp = std::sin(phi);
  *out = vec4{r * sp * std::cos(theta), r * sp * std::sin(theta), r * std::cos(phi), w};
}

void cartesian_to_spherical(vec4* out, const vec4* in) {
  float x = in->x, y = in->y, z = in->z, w = in->w;
  float r = std::sqrt(x * x + y * y + z * z);
  if (r > 0)
    *out = vec4{r, std::atan2(y, x), std::acos(z / r), w};
  else
    *out = vec4{0, 0, 0, w};
}

void ParticleSystem_make(ParticleSystem* s, prng* g) {
  if (s->made) return;
  s->alive = 0;
  s->made = 1;
  for (ps_particle& p : s->particles) p.birth_ms = PS_DEAD;
  s->clock_ms = 0;
  s->attractors_used = 0;
  s->constraint_passes = 0;
  for (int j = 0; j < PS_ATTRACTORS; ++j) make_attractor(&s->attractors[j], g, j);
  s->lift = 0.00026f;
}

void ParticleSystem_update(ParticleSystem* s, const controls* c, prng* g, int32_t palette_size,
                           float density, float t) {
  float d = density > 0.0f ? (density < 1.0f ? density : 1.0f) : 0.0f;
  int active = static_cast<int>(d * static_cast<float>(PS_PARTICLES));
  // More attractors than the record holds would run off its end.
  int attractors = c->attractor_count < PS_ATTRACTORS ? c->attractor_count : PS_ATTRACTORS;
  s->attractors_used = attractors;
  for (int j = 0; j < attractors; ++j) compute_path(s->paths[j], &s->attractors[j].position, t);
  if (attractors > 0) {
    spawn(s, c, g, palette_size, active, attractors, t);
    float lift = s->lift * c->lift_gain;
    while (static_cast<double>(t) > s->clock_ms) {
      step(s, active, attractors, t, lift);
      s->clock_ms += PS_STEP_MS;
    }
    int32_t frame = s->constraint_passes++;
    if (frame % 2 == 0) constrain(s, g, active, t);
  }
  s->alive = 0;
  for (int i = 0; i < PS_PARTICLES; ++i) {
    ps_particle* p = &s->particles[i];
    if (i >= active) kill(p);
    if (alive_at(p, t)) ++s->alive;
  }
}

namespace {

// The palette's first row holds the decoder's bytes red, green, blue, alpha;
// read as one little-endian word, its low byte (red) becomes the blue output.
// Without a usable palette, or for a particle without an index, the default
// colour.
struct palette_row {
  const uint32_t* words = nullptr;
  int32_t width = 0;

  explicit palette_row(const image* palette) {
    if (palette != nullptr && palette->kind == IMAGE_KIND_U8 && palette->pixels != nullptr &&
        palette->width >= 1 && palette->height >= 1) {
      words = static_cast<const uint32_t*>(palette->pixels);
      width = palette->width;
    }
  }

  vec4 colour(float colour_index, float* a) const {
    int ci = static_cast<int>(colour_index);
    if (ci >= 0 && words != nullptr) {
      uint32_t p = words[ci % width];
      *a = 0.3f;
      return vec4{static_cast<float>((p >> 16) & 255) * 0.003921569f,
                  static_cast<float>((p >> 8) & 255) * 0.003921569f,
                  static_cast<float>(p & 255) * 0.003921569f, 0};
    }
    *a = 1.0f;
    return vec4{0.72f, 0.36f, 0.15f, 0};
  }
};

// Where the quads go: the separate arrays the tests read, or the packed
// array the draw reads (texture s, t; colour; normal; position x, y, z), so
// a frame's quads are written once instead of written and then packed.
struct split_quads {
  vec4 *positions, *colours, *texcoords;
  bool decides() const { return colours != nullptr; }
  void put(int32_t m, const vec4& colour, const vec4 (&corner)[4], const float (&st)[4][2]) {
    if (colours != nullptr)
      for (int v = 0; v < 4; ++v) colours[4 * m + v] = colour;
    for (int v = 0; v < 4; ++v) positions[4 * m + v] = corner[v];
    if (texcoords != nullptr)
      for (int v = 0; v < 4; ++v) texcoords[4 * m + v] = vec4{st[v][0], st[v][1], 0, 1};
  }
};

struct packed_quads {
  float* out;
  static bool decides() { return true; }
  void put(int32_t m, const vec4& colour, const vec4 (&corner)[4], const float (&st)[4][2]) {
    float* o = out + 48 * m;
    for (int v = 0; v < 4; ++v, o += 12) {
      o[0] = st[v][0], o[1] = st[v][1];
      o[2] = colour.x, o[3] = colour.y, o[4] = colour.z, o[5] = colour.w;
      o[6] = 0.0f, o[7] = 0.0f, o[8] = 0.0f;
      o[9] = corner[v].x, o[10] = corner[v].y, o[11] = corner[v].z;
    }
  }
};

template <class Quads>
int32_t write_quads(ParticleSystem* s, Quads out, const image* palette, double density, double T,
                    double rate, float ts, float tt, float lo, float hi) {
  double wanted = density * PS_PARTICLES;
  int count = wanted > 0 ? (wanted < PS_PARTICLES ? static_cast<int>(wanted) : PS_PARTICLES) : 0;

  vec4 c = particlescene_cpos(T * rate);
  float fx = 0.0f - c.x, fy = 0.0f - c.y, fz = 0.25f - c.z;
  float fl = std::sqrt(fx * fx + fy * fy + fz * fz);
  fx /= fl, fy /= fl, fz /= fl;
  float rx = -fy, ry = fx;
  float rl = std::sqrt(rx * rx + ry * ry);
  rx /= rl, ry /= rl;
  float ux = -fz * ry, uy = fz * rx, uz = fx * ry - fy * rx;
  // The whole sprite spans -1..1 along r (s) and u (t); the band [lo, hi]
  // of it is 2 lo - 1 .. 2 hi - 1.
  const float a = 2.0f * lo - 1.0f, b = 2.0f * hi - 1.0f;
  const vec4 corner[4] = {{a * ux + a * rx, a * uy + a * ry, a * uz, 0},
                          {a * ux + b * rx, a * uy + b * ry, a * uz, 0},
                          {b * ux + b * rx, b * uy + b * ry, b * uz, 0},
                          {b * ux + a * rx, b * uy + a * ry, b * uz, 0}};
  const float s0 = lo * ts, s1 = hi * ts, t0 = lo * tt, t1 = hi * tt;
  const float st[4][2] = {{s0, t0}, {s1, t0}, {s1, t1}, {s0, t1}};
  double oldest = T - PS_LIFE_MS;
  const palette_row row(palette);

  // The colour pass decides which particles are drawn (and kills the rest);
  // positions and texture coordinates then follow for the survivors in the
  // same order. Without colours nothing is decided: every live particle gets
  // a position and none is committed.
  int32_t n = 0, m = 0;
  for (int i = 0; i < count; ++i) {
    ps_particle* p = &s->particles[i];
    if (!(p->birth_ms > oldest)) continue;
    vec4 colour{};
    if (out.decides()) {
      float alpha;
      colour = row.colour(p->colour_index, &alpha);
      float f = static_cast<float>((T - p->birth_ms) / PS_LIFE_MS);
      float e = f > 0 ? 1.0f - 2.0f * (f < 1.0f ? f : 1.0f) : 1.0f;
      if (e < 0) {
        kill(p);
        continue;
      }
      colour.w = 0.9f * alpha * e;
      if (colour.w < 0.05f) {
        kill(p);
        continue;
      }
      ++n;
    }
    float size = static_cast<float>(p->mass * 2.25e-6);
    vec4 at[4];
    for (int v = 0; v < 4; ++v)
      at[v] = vec4{p->position.x + size * corner[v].x, p->position.y + size * corner[v].y,
                   p->position.z + size * corner[v].z, p->position.w};
    out.put(m, colour, at, st);
    ++m;
  }
  return n;
}

}  // namespace

int32_t ParticleSystem_write_quads(ParticleSystem* s, vec4* positions, vec4* colours,
                                   vec4* texcoords, const image* palette, double density,
                                   double T, double rate, float ts, float tt, float lo,
                                   float hi) {
  if (positions == nullptr) return 0;
  return write_quads(s, split_quads{positions, colours, texcoords}, palette, density, T, rate, ts, tt,
                     lo, hi);
}

int32_t ParticleSystem_write_packed(ParticleSystem* s, float* packed, const image* palette,
                                    double density, double T, double rate, float ts, float tt,
                                    float lo, float hi) {
  if (packed == nullptr) return 0;
  return write_quads(s, packed_quads{packed}, palette, density, T, rate, ts, tt, lo, hi);
}
