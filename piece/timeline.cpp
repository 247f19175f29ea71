#include "piece/timeline.h"

#include <cmath>

float timeline_left(double s) { return static_cast<float>((120000.0 - s) * 0.000008333333333333334); }

float timeline_ramp(double s) {
  if (s < 1.0) return 0.0f;
  if (s < 801.0) return static_cast<float>((s - 1.0) / 800.0 * 1.25);
  return 1.25f;
}

float timeline_flock_height(float k, int32_t i) {
  double off = (k - 0.5) * 16.0;
  float offset = -2.0f * static_cast<float>(i);
  return static_cast<float>((off + offset) * -0.8);
}

bool timeline_flock_shown(float h) { return !(h < -4.0f || h > 4.0f); }

float timeline_flock_fraction(float h) {
  return static_cast<float>(std::cos(h * 0.5235987755982988));
}

double timeline_particle_fade(double s) {
  double fade = s < 800.0 ? s * 0.00125 : 1.0;
  if (s >= 120000.0) fade *= 0.0;
  else if (s > 114000.0) fade *= (114000.0 - s) / 6000.0 + 1.0;
  return fade;
}
