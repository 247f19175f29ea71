#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include <zeal/app/app.h>
#include "piece/particlescene.h"
#include "piece/perftest.h"
#include "picture_test_util.h"

static perftest_scene test_at(float cp) {
  perftest_scene test = perftest_scene_make();
  test.cp = cp;
  return test;
}

// Every fourth fast frame raises the load 5 % (up to 1), every fourth slow
// one lowers it 2 % (down to a quarter); the threshold counts as fast, and a
// raise clears the slow count.
TEST(Perftest, CalibrationRaisesAndLowersTheLoadWithinItsBounds) {
  perftest_scene test = test_at(0.5f);
  float expected = 0.5f;
  for (int frame = 1; frame <= 80; ++frame) {
    perftest_calibrate(&test, 10.0);
    if (frame % 4 == 0) expected = std::min(static_cast<float>(expected * 1.05), 1.0f);
    ASSERT_EQ(test.cp, expected) << frame;
  }
  for (int frame = 1; frame <= 4 * 81; ++frame) {
    perftest_calibrate(&test, 40.0);
    if (frame == 3 || frame == 4) {
      EXPECT_EQ(test.cp, frame == 3 ? 1.0f : 0.98f);
    }
  }
  EXPECT_EQ(test.cp, 0.25f);
  test = test_at(0.5f);
  for (int frame = 0; frame < 3; ++frame) perftest_calibrate(&test, 40.0);
  for (int frame = 0; frame < 4; ++frame) perftest_calibrate(&test, 22.22222222222222);
  perftest_calibrate(&test, 40.0);
  EXPECT_EQ(test.cp, static_cast<float>(0.5f * 1.05));
}

TEST(Perftest, SkippedWhenRenderingToDiskElseRunsTheFullLoad) {
  perftest_scene test = test_at(1.0f);
  App app{};
  app.config.diskwriter = 1;
  EXPECT_EQ(perftest(&test, APP_STREAM_DISPLAY, APP_BEGIN, &app), 1);
  EXPECT_EQ(test.ps, nullptr);
  app.config.diskwriter = 0;
  EXPECT_EQ(perftest(&test, APP_STREAM_AUDIO, APP_BEGIN, &app), 1);
  EXPECT_EQ(perftest(&test, APP_STREAM_DISPLAY, 7, &app), 1);
  test.cp = 0.5f;
  ASSERT_EQ(perftest(&test, APP_STREAM_DISPLAY, APP_BEGIN, &app), 2);
  ASSERT_NE(test.ps, nullptr);
  perftest_update(&test, 100.0);
  EXPECT_EQ(test.ps->attractors_used, 4);
  EXPECT_EQ(test.ps->alive, 200);
  for (int i = 4000; i < PS_PARTICLES; ++i)  // density: test.cp
    ASSERT_EQ(test.ps->particles[i].birth_ms, PS_DEAD);
  EXPECT_EQ(perftest_step_result(1999.9), 2);
  EXPECT_EQ(perftest_step_result(2000.0), 1);
  EXPECT_EQ(perftest(&test, APP_STREAM_DISPLAY, APP_END, &app), 1);
  EXPECT_EQ(test.ps, nullptr);
}

TEST(ParticleScene, CameraCirclesAtHeight127) {
  EXPECT_EQ(xyzw(particlescene_cpos(0)), (std::array<float, 4>{0, 1.62f, 1.27f, 0}));
  vec4 q = particlescene_cpos(12500);  // a quarter of the slow turn
  EXPECT_NEAR(q.x, 0.81f, 1e-6f);
  EXPECT_NEAR(q.y, 0.81f * std::cos(2 * 3.141592653589793 * 12500 / 32000), 1e-6f);
  vec4 back = particlescene_cpos(800000);  // whole turns of both
  EXPECT_NEAR(back.y, 1.62f, 1e-5f);
}
