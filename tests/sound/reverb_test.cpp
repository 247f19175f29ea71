#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "piece/reverb.h"

namespace {

// A tap over a buffer holding a steady sine, its length changed every few
// hundred samples: the crossfades must not add jumps beyond the sine's own.
TEST(Reverb, TapsCrossfadeWithoutClicks) {
  const int length = 4000;
  const double period = 200.0;
  std::vector<float> buffer(length);
  for (int i = 0; i < length; ++i) buffer[i] = (float)std::sin(2 * M_PI * i / period);
  reverb_tap tap{};
  tap.buffer = buffer.data();
  tap.length = length;
  tap.active = -1;
  tap.gain = 1.0f;
  for (int c = 0; c < REVERB_FADE; ++c) tap.w[c] = c < 8 ? 0.0f : (float)(c - 8) / 56.0f;

  const float lengths[] = {1000.0f, 1037.3f, 1100.5f, 1500.25f, 1499.9f, 300.7f, 3000.0f};
  int32_t write = 0;
  float last = 0.0f;
  double worst = 0;
  int fades = 0;
  for (float target : lengths) {
    tap.target = target;
    for (int k = 0; k < 500; ++k) {
      float v = reverb_tap_read(&tap, write);
      if (tap.fade == 0) ++fades;
      write = (write + 1) % length;
      // Skip the first fade-in from silence.
      if (fades > 1) worst = std::max(worst, (double)std::fabs(v - last));
      last = v;
    }
  }
  EXPECT_EQ(fades, 7);
  double slope = 2 * M_PI / period;  // the sine's largest step
  EXPECT_LT(worst, 1.1 * slope + 2.0 / 56.0);
  EXPECT_GT(worst, 0.9 * slope);
}

}  // namespace
