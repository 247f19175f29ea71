#include "piece/particlescene.h"

#include <cmath>

vec4 particlescene_cpos(double T) {
  constexpr double TWO_PI = 6.283185307179586;
  // One revolution every 50 000 and every 32 000 units of camera time.
  float a = static_cast<float>(T * 0.00002);
  float A = static_cast<float>(a * TWO_PI);
  float b = static_cast<float>(T * 0.00003125);
  float B = static_cast<float>(b * TWO_PI);
  float x = static_cast<float>(std::sin(static_cast<double>(A)) * 0.81);
  float y = static_cast<float>(std::cos(static_cast<double>(A)) * 0.81) +
            static_cast<float>(std::cos(static_cast<double>(B)) * 0.81);
  return vec4{x, y, 1.27f, 0.0f};
}
