#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "app/app.h"
#include "piece/particlescene.h"
#include "piece/perftest.h"

namespace {

void reset_calibration(float cp) {
  perftest_cp = cp;
  perftest_safe_count = 0;
  perftest_overload_count = 0;
}

}  // namespace

TEST(Perftest, FastFramesRaiseByFivePercentEveryFourthUpToOne) {
  reset_calibration(0.5f);
  float expected = 0.5f;
  for (int frame = 1; frame <= 80; ++frame) {
    perftest_calibrate(10.0);
    if (frame % 4 == 0) expected = std::min(static_cast<float>(expected * 1.05), 1.0f);
    ASSERT_EQ(perftest_cp, expected) << frame;
  }
  EXPECT_EQ(perftest_cp, 1.0f);
}

TEST(Perftest, SlowFramesLowerByTwoPercentEveryFourthDownToAQuarter) {
  reset_calibration(1.0f);
  perftest_calibrate(40.0);
  perftest_calibrate(40.0);
  perftest_calibrate(40.0);
  EXPECT_EQ(perftest_cp, 1.0f);
  perftest_calibrate(40.0);
  EXPECT_EQ(perftest_cp, 0.98f);
  for (int frame = 0; frame < 4 * 80; ++frame) perftest_calibrate(40.0);
  EXPECT_EQ(perftest_cp, 0.25f);
  // The threshold itself counts as fast; a fast run also clears slow counts.
  reset_calibration(0.5f);
  perftest_calibrate(40.0);
  perftest_calibrate(40.0);
  perftest_calibrate(40.0);
  for (int frame = 0; frame < 4; ++frame) perftest_calibrate(22.22222222222222);
  EXPECT_EQ(perftest_overload_count, 0);
  perftest_calibrate(40.0);
  EXPECT_EQ(perftest_cp, static_cast<float>(0.5f * 1.05));
}

TEST(Perftest, SkippedWhenRenderingToDisk) {
  reset_calibration(1.0f);
  App app{};
  app.config.diskwriter = 1;
  EXPECT_EQ(perftest(APP_STREAM_DISPLAY, APP_BEGIN, &app), 1);
  EXPECT_EQ(perftest(APP_STREAM_DISPLAY, APP_STEP, &app), 1);
  EXPECT_EQ(perftest_cp, 1.0f);
  app.config.diskwriter = 0;
  EXPECT_EQ(perftest(APP_STREAM_AUDIO, APP_BEGIN, &app), 1);
  EXPECT_EQ(perftest(APP_STREAM_DISPLAY, 7, &app), 1);
  EXPECT_EQ(perftest(APP_STREAM_DISPLAY, APP_BEGIN, &app), 2);
  EXPECT_EQ(perftest(APP_STREAM_DISPLAY, APP_END, &app), 1);
}

TEST(ParticleScene, CameraPath) {
  vec4 c = particlescene_cpos(0);
  EXPECT_EQ(c.x, 0.0f);
  EXPECT_EQ(c.y, 1.62f);
  EXPECT_EQ(c.z, 1.27f);
  EXPECT_EQ(c.w, 0.0f);
  // A quarter of the slow turn.
  vec4 q = particlescene_cpos(12500);
  EXPECT_NEAR(q.x, 0.81f, 1e-6f);
  EXPECT_NEAR(q.y, 0.81f * std::cos(2 * 3.141592653589793 * 12500 / 32000), 1e-6f);
  vec4 back = particlescene_cpos(800000);  // whole turns of both
  EXPECT_NEAR(back.x, 0.0f, 1e-5f);
  EXPECT_NEAR(back.y, 1.62f, 1e-5f);
}
