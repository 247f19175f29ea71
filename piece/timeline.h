// The picture's arc over scene time s (ms): what is left of the piece, the
// camera's speed ramp, where each flock swims and how bright the particles are.
#pragma once
#include <cstdint>

constexpr double SCENE_END_MS = 123000.0;
constexpr int32_t SCENE_FLOCKS = 4;

// Fraction of the 120 s still to play: 1 at s = 0, negative after 120 s.
float timeline_left(double s);
// Camera speed: 0 up to s = 1, rising to 1.25 at s = 801.
float timeline_ramp(double s);
// Height of flock i for a fraction left k; the flock is drawn only when
// timeline_flock_shown(h).
float timeline_flock_height(float k, int32_t i);
bool timeline_flock_shown(float h);
// Fraction of a flock's members in play at height h: 1 at h = 0.
float timeline_flock_fraction(float h);
// Particle density factor: fades in over 800 ms and out from 114 s to 120 s.
double timeline_particle_fade(double s);
