// The piece's arc and score without a window: flock heights and fractions,
// camera ramp, particle fades, the score table and its 16 ms stepping.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>

#include <zeal/app/app.h>
#include <zeal/base/perf.h>
#include "piece/boids.h"
#include "piece/origin.h"
#include "piece/run.h"
#include "piece/scene.h"
#include "piece/timeline.h"

namespace {

int shown_members(double s, int32_t i) {
  float h = timeline_flock_height(timeline_left(s), i);
  if (!timeline_flock_shown(h)) return -1;
  return boids_count(timeline_flock_fraction(h));
}

TEST(Timeline, FlocksRiseInTurn) {
  EXPECT_EQ(timeline_left(0.0), 1.0f);
  EXPECT_EQ(timeline_left(60000.0), 0.5f);
  EXPECT_LT(timeline_left(121000.0), 0.0f);
  // (left, flock) -> height: at s = 0 flocks 0 and 1 are at -6.4 and -4.8
  const float heights[][3] = {{1.0f, 3, -1.6f}, {1.0f, 2, -3.2f}, {0.5f, 0, 0.0f}, {0.5f, 1, 1.6f}, {0.5f, 2, 3.2f}};
  for (const auto& h : heights) EXPECT_EQ(timeline_flock_height(h[0], int32_t(h[1])), h[2]) << h[0] << " " << h[1];
  // (s, flock) -> fish shown, -1 when the layer is not drawn at all
  const struct { double s; int32_t flock, shown; } layers[] = {
      {0.0, 0, -1}, {0.0, 1, -1}, {0.0, 2, 0}, {60000.0, 0, BOIDS_MEMBERS}, {60000.0, 2, 0}, {60000.0, 3, -1},
      {7400.0, 1, -1}, {97600.0, 0, -1}, {100000.0, 0, -1}, {100000.0, 1, -1}, {100000.0, 2, -1}, {100000.0, 3, -1}};
  for (const auto& l : layers) EXPECT_EQ(shown_members(l.s, l.flock), l.shown) << l.s << " " << l.flock;
  EXPECT_GT(shown_members(0.0, 3), 0);
  EXPECT_GE(shown_members(7600.0, 1), 0);
  EXPECT_GE(shown_members(97400.0, 0), 0);
}

TEST(Timeline, CameraRampAndParticleFades) {
  const float ramps[][2] = {{0, 0}, {1, 0}, {401, 0.625f}, {801, 1.25f}, {90000, 1.25f}};
  for (const auto& r : ramps) EXPECT_EQ(timeline_ramp(r[0]), r[1]) << r[0];
  const double fades[][2] = {{0, 0}, {400, 0.5}, {800, 1}, {114000, 1}, {120000, 0}, {122000, 0}};
  for (const auto& f : fades) EXPECT_EQ(timeline_particle_fade(f[0]), f[1]) << f[0];
  EXPECT_DOUBLE_EQ(timeline_particle_fade(117000.0), 0.5);
}

struct Handler : testing::Test {
  App* app = new App{};
  // As after "--no-configurator": begin shows no window.
  Handler() { app->no_configurator = 1; }
  ~Handler() override {
    auto* piece = static_cast<piece_shared*>(app->state[0]);
    if (piece != nullptr) ftable_free(&piece->score);
    free(piece);
    delete app;
  }
  ftable* score() { return &piece_of(app)->score; }
};

TEST_F(Handler, ApplicationBeginBuildsAndPrintsTheScoreOnce) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(run(APP_STREAM_APP, APP_BEGIN, app), 2);
  std::string printed = testing::internal::GetCapturedStdout();
  ASSERT_NE(score(), nullptr);
  ASSERT_EQ(ftable_rows(score()), 6);
  EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 6) << printed;
  EXPECT_EQ(printed.rfind("[0.0000, 0.0000, 1.0000, 1.0000, 1.0000\n", 0), 0u) << printed;
  EXPECT_NE(printed.find("60000.0000, 20.0000, 3.0000, 7.2000, 11.0000\n"), std::string::npos);
  EXPECT_NE(printed.find("120000.0000, 0.0000, 2.0000, 6.0000, 6.0000]\n"), std::string::npos);

  // A second begin keeps the table and adds nothing.
  ftable* first = score();
  testing::internal::CaptureStdout();
  EXPECT_EQ(run(APP_STREAM_APP, APP_BEGIN, app), 2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(score(), first);
  EXPECT_EQ(ftable_rows(score()), 6);

  // Unlisted combinations go on and do nothing; end empties the table.
  EXPECT_EQ(run(APP_STREAM_APP, APP_STEP, app), 2);
  EXPECT_EQ(run(APP_STREAM_MIDI_IN, APP_STEP, app), 2);
  EXPECT_EQ(run(APP_STREAM_APP, APP_END, app), 2);
  EXPECT_EQ(score()->rows.data, nullptr);
  EXPECT_EQ(score()->width, 0);
}

TEST_F(Handler, ScoreSteppedOncePer16MsHoweverLongTheGap) {
  testing::internal::CaptureStdout();
  run(APP_STREAM_APP, APP_BEGIN, app);
  auto* st = static_cast<scene_state*>(calloc(1, sizeof(scene_state)));
  scene_resources res{};
  scene_make(st, score(), &res);
  std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(printed.find("ERROR"), std::string::npos);

  EXPECT_EQ(scene_step_score(st, 0.0), 0);
  EXPECT_EQ(scene_step_score(st, 1.0), 1);  // samples key 0
  EXPECT_EQ(std::pair(st->ctl.spawn_max, st->ctl.attractor_count), std::pair(0, 1));
  EXPECT_EQ(st->score_clock, 16.0f);
  EXPECT_EQ(scene_step_score(st, 16.0), 0);
  // A gap of almost a minute: one sample per 16 ms, the last at key 59 984.
  EXPECT_EQ(scene_step_score(st, 60000.0), 3749);
  EXPECT_EQ(st->score_clock, 60000.0f);
  EXPECT_EQ(std::pair(st->ctl.spawn_max, st->ctl.attractor_count), std::pair(20, 3));
  EXPECT_NEAR(st->ctl.mass_spread, 7.2f, 0.01f);
  EXPECT_NEAR(st->ctl.lift_gain, 11.0f, 0.01f);
  // Past the last key the controls keep their last values.
  scene_step_score(st, 119000.0);
  EXPECT_EQ(st->ctl.spawn_max, 5);  // key 118 992
  scene_step_score(st, 120100.0);
  controls before = st->ctl;
  EXPECT_EQ(scene_step_score(st, 123000.0), 181);
  EXPECT_EQ(st->ctl.spawn_max, before.spawn_max);
  EXPECT_EQ(std::pair(st->ctl.spawn_max, st->ctl.attractor_count), std::pair(0, 2));
  scene_free(st);
  free(st);
}

TEST(Score, AMissingTableLeavesTheControlsAtZero) {
  auto* st = static_cast<scene_state*>(calloc(1, sizeof(scene_state)));
  scene_resources res{};
  testing::internal::CaptureStdout();
  scene_make(st, nullptr, &res);
  std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_NE(printed.find("ERROR: Sequence has failed [error: 0]"), std::string::npos);
  EXPECT_EQ(scene_step_score(st, 5000.0), 313);
  EXPECT_EQ(std::pair(st->ctl.spawn_max, st->ctl.attractor_count), std::pair(0, 0));
  EXPECT_EQ(st->ctl.lift_gain, 0.0f);
  scene_free(st);
  free(st);
}

}  // namespace
