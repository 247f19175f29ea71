#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "analysis.h"
#include "app/app.h"
#include "io/audio.h"
#include "piece/origin.h"
#include "piece/sound.h"

namespace {

struct Sound {
  sound_state* st = static_cast<sound_state*>(calloc(1, sizeof(sound_state)));
  float left[PIPE_BLOCK], right[PIPE_BLOCK];
  Sound() { sound_make(st); }
  ~Sound() {
    sound_free(st);
    free(st);
  }
  void render(double s) { sound_render(st, s, left, right); }
};

TEST(Sound, NoTimeYetGivesSilenceAndKeepsTheState) {
  Sound sound;
  sound.render(1000.0);
  std::vector<char> before((char*)sound.st, (char*)(sound.st + 1));
  std::vector<float> buffer((float*)sound.st->rev.buffer.data,
                            (float*)sound.st->rev.buffer.data + array_count(&sound.st->rev.buffer, 4));
  for (double s : {0.0, -5.8, -1e9}) {
    for (int k = 0; k < PIPE_BLOCK; ++k) sound.left[k] = sound.right[k] = 1.0f;
    sound.render(s);
    for (int k = 0; k < PIPE_BLOCK; ++k) ASSERT_TRUE(sound.left[k] == 0.0f && sound.right[k] == 0.0f);
  }
  EXPECT_EQ(0, memcmp(before.data(), sound.st, sizeof(sound_state)));
  EXPECT_EQ(0, memcmp(buffer.data(), sound.st->rev.buffer.data, buffer.size() * 4));
}

TEST(Sound, SoftClipIsOddWithSlopeOneAndBounded) {
  EXPECT_EQ(sound_softclip(0.0f), 0.0f);
  for (float x = 0.01f; x < 40.0f; x *= 1.3f) {
    EXPECT_NEAR(sound_softclip(-x), -sound_softclip(x), 1e-6f);
    EXPECT_NEAR(sound_softclip(x), std::tanh(0.55 * x) / 0.55, 1e-6);
  }
  EXPECT_NEAR((sound_softclip(1e-3f) - sound_softclip(-1e-3f)) / 2e-3f, 1.0f, 1e-3f);
  for (float x : {1e3f, 1e30f, INFINITY}) EXPECT_FLOAT_EQ(sound_softclip(x), 1.8181818f);
}

// The audio side of the handler as the runtime drives it.
TEST(Sound, HandlerMakesStepsAndFrees) {
  App* app = new App{};
  piece_shared piece{};
  app->state[0] = &piece;
  audio_frame frame{};
  std::vector<float> left(PIPE_BLOCK), right(PIPE_BLOCK);
  frame.left = left.data();
  frame.right = right.data();
  EXPECT_EQ(sound_run(APP_BEGIN, app), (int32_t)APP_STEP);
  void* made = app->state[2];
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(sound_run(APP_BEGIN, app), (int32_t)APP_STEP);
  EXPECT_EQ(app->state[2], made);

  app->audio_frame = &frame;
  frame.frame_ms = 5000.0;
  EXPECT_EQ(sound_run(APP_STEP, app), (int32_t)APP_STEP);
  EXPECT_EQ(rms(left.data(), PIPE_BLOCK), 0.0);  // start time not set yet

  piece_set_origin_ms(app, 10000.0);
  double energy = 0;
  for (int b = 0; b < 40; ++b) {
    frame.frame_ms = 10000.0 + 5000.0 + b * AUDIO_BLOCK_MS;
    EXPECT_EQ(sound_run(APP_STEP, app), (int32_t)APP_STEP);
    energy += rms(left.data(), PIPE_BLOCK);
    EXPECT_EQ(frame.state & 1, 0);
  }
  EXPECT_GT(energy, 0.0);
  frame.frame_ms = 10000.0 + 123000.0;
  EXPECT_EQ(sound_run(APP_STEP, app), (int32_t)APP_END);
  EXPECT_EQ(sound_run(APP_END, app), (int32_t)APP_STEP);
  // The end frees the pipes' tables and the reverberation's buffers (which
  // would otherwise leak with the record); a late step or a second end finds
  // nothing to use or free twice.
  frame.frame_ms = 10000.0 + 6000.0;
  EXPECT_EQ(sound_run(APP_STEP, app), (int32_t)APP_STEP);
  EXPECT_EQ(rms(left.data(), PIPE_BLOCK), 0.0);
  EXPECT_EQ(sound_run(APP_END, app), (int32_t)APP_STEP);
  free(app->state[2]);  // as the runtime does when the stream quits
  delete app;
}

}  // namespace
