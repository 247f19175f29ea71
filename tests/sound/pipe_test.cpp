#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <set>
#include <vector>

#include "analysis.h"
#include "piece/pipe.h"

namespace {

struct Pipe {
  pipe_group* p = static_cast<pipe_group*>(calloc(1, sizeof(pipe_group)));
  explicit Pipe(float length, int note = 69, float level = 1.0f, float spread = 0.7f) {
    pipe_make(p, length);
    p->note = note;
    p->level = level;
    p->spread = spread;
  }
  ~Pipe() {
    pipe_free(p);
    free(p);
  }
  std::vector<float> blocks(int n) {
    std::vector<float> out(n * PIPE_BLOCK);
    for (int b = 0; b < n; ++b) pipe_process(p, &out[b * PIPE_BLOCK]);
    return out;
  }
};

TEST(Pipe, Note69SoundsAt440Hz) {
  // One lone grain (a huge spread); its zero crossings give the frequency.
  Pipe pipe(7.7f, 69, 1.0f, 1000.0f);
  std::vector<float> out = pipe.blocks(14);
  std::vector<double> crossings;
  for (int i = 500; i < 2900; ++i)
    if ((out[i - 1] < 0) != (out[i] < 0)) crossings.push_back(i - 1 + out[i - 1] / (out[i - 1] - out[i]));
  ASSERT_GT(crossings.size(), 40u);
  double hz = (crossings.size() - 1) / 2.0 / ((crossings.back() - crossings.front()) / 44100.0);
  EXPECT_NEAR(hz, 440.0, 0.01);
  EXPECT_EQ(pipe_note_increment(69), (int32_t)(440.0 / 44100.0 * PIPE_CYCLE));
}

// Grain starts, read from the voices' window phases at every block end.
static std::vector<int64_t> grain_starts(pipe_group* p, int blocks, int* saturated_block) {
  std::set<int64_t> starts;
  *saturated_block = blocks;
  std::vector<float> out(PIPE_BLOCK);
  for (int b = 0; b < blocks; ++b) {
    pipe_process(p, out.data());
    if (p->playing_max >= PIPE_VOICES && *saturated_block == blocks) *saturated_block = b;
    for (int k = 0; k < PIPE_VOICES; ++k) {
      int32_t phase = p->voices[k].phase;
      if (phase >= 0 && phase < PIPE_CYCLE && phase % p->window.increment == 0)
        starts.insert((int64_t)(b + 1) * PIPE_BLOCK - phase / p->window.increment);
    }
  }
  return std::vector<int64_t>(starts.begin(), starts.end());
}

TEST(Pipe, GapsAreTheGeneratorsDrawsUpToTheSpread) {
  Pipe pipe(7.7f, 60, 0.5f, 0.7f);
  int saturated = 0;
  std::vector<int64_t> starts = grain_starts(pipe.p, 12000, &saturated);
  ASSERT_GT(starts.size(), 2000u);
  EXPECT_EQ(starts[0], 0);

  // The reference generator gives the same gaps: one draw for the gap and
  // one for the start phase per grain, while a voice is free.
  std::mt19937 oracle(201544);
  const float top = (float)(int32_t)(3395 * 0.7f);
  EXPECT_EQ(top, 2376.0f);
  size_t checked = 0;
  for (size_t i = 1; i < starts.size() && starts[i] < (int64_t)saturated * PIPE_BLOCK; ++i, ++checked) {
    int32_t gap = (int32_t)(top * 2.3283064365386963e-10f * (float)oracle());
    oracle();
    ASSERT_EQ(starts[i] - starts[i - 1], std::max(gap, 1)) << "grain " << i;
  }
  EXPECT_GT(checked, 200u);
}

TEST(Pipe, NegativeSpreadKeepsAllNineVoicesBusy) {
  Pipe pipe(7.7f, 60, 0.5f, -12.79f);
  std::vector<float> out(PIPE_BLOCK);
  for (int b = 0; b < 100; ++b) {
    pipe_process(pipe.p, out.data());
    EXPECT_EQ(pipe.p->playing, PIPE_VOICES);
  }
  EXPECT_EQ(pipe.p->playing_max, PIPE_VOICES);
}

TEST(Pipe, LevelZeroFadesToSilenceSmoothly) {
  Pipe pipe(7.7f, 60, 0.5f, -1.0f);
  pipe.blocks(40);
  float gain = pipe.p->gain;
  EXPECT_NEAR(gain, 0.25f, 1e-6);
  pipe.p->level = 0.0f;
  std::vector<float> out(PIPE_BLOCK);
  // The 400 Hz follower falls steadily, never jumping to 0.
  for (int b = 0; b < 31; ++b) {
    pipe_process(pipe.p, out.data());
    EXPECT_TRUE(b == 0 ? pipe.p->gain > 0 && pipe.p->gain < gain : pipe.p->gain <= gain) << b;
    gain = pipe.p->gain;
  }
  EXPECT_LT(gain, 1e-12);
  for (float x : out) EXPECT_LT(std::fabs(x), 1e-12);
}

TEST(Pipe, GrainKeepsItsNote) {
  // A huge spread: the first grain starts at sample 0 and no other follows.
  Pipe pipe(7.7f, 69, 1.0f, 1000.0f);
  std::vector<float> first = pipe.blocks(1);
  EXPECT_EQ(pipe.p->grain_increment[0], pipe_note_increment(69));
  pipe.p->note = 81;
  std::vector<float> rest = pipe.blocks(12);
  EXPECT_EQ(pipe.p->grain_increment[0], pipe_note_increment(69));
  for (int k = 1; k < PIPE_VOICES; ++k) EXPECT_LT(pipe.p->voices[k].phase, 0);
  EXPECT_GT(tone_power(rest.data(), (int)rest.size(), 440.0), 100 * tone_power(rest.data(), (int)rest.size(), 880.0));
}

}  // namespace

// A grain's start phase is rounded from a float and may land on a whole
// cycle: that is phase 0, not one row past the end of the sine table.
TEST(Pipe, AGrainStartingAtAWholeCycleReadsTheTableFromItsStart) {
  Pipe pipe(7.7f);
  const float envelope[3] = {1.0f, 1.0f, 1.0f};
  float at_cycle[3] = {}, at_zero[3] = {};
  int32_t increment = pipe_note_increment(69);
  int32_t after = pipe_render_scalar(pipe.p->sine4, envelope, 3, PIPE_CYCLE, increment, at_cycle);
  EXPECT_EQ(after, pipe_render_scalar(pipe.p->sine4, envelope, 3, 0, increment, at_zero));
  EXPECT_EQ(0, memcmp(at_cycle, at_zero, sizeof at_zero));
}
