// The audio side of the piece's handler as the runtime drives it. Its step
// must not allocate: malloc and friends are counted here (not under a
// sanitizer, which owns them there).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <vector>

#include "analysis.h"
#include <zeal/app/app.h>
#include <zeal/io/audio.h>
#include "piece/origin.h"
#include "piece/sound.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define SANITIZER_OWNS_MALLOC 1
#else
extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
static std::atomic<int> counting{0};
static std::atomic<long> allocations{0};
extern "C" void* malloc(size_t n) {
  if (counting.load()) allocations++;
  return __libc_malloc(n);
}
extern "C" void* calloc(size_t n, size_t size) {
  if (counting.load()) allocations++;
  return __libc_calloc(n, size);
}
extern "C" void* realloc(void* p, size_t n) {
  if (counting.load()) allocations++;
  return __libc_realloc(p, n);
}
#endif

namespace {

struct SoundRun : testing::Test {
  App* app = new App{};
  piece_shared piece{};
  audio_frame frame{};
  std::vector<float> left = std::vector<float>(PIPE_BLOCK), right = std::vector<float>(PIPE_BLOCK);
  SoundRun() {
    app->state[0] = &piece;
    frame.left = left.data();
    frame.right = right.data();
    audio_frame_reset(&frame);
  }
  ~SoundRun() override {
    free(app->state[2]);  // as the runtime does when the stream quits
    delete app;
  }
  int32_t step(double ms) {
    frame.frame_ms = ms;
    return sound_run(APP_STEP, app);
  }
};

TEST_F(SoundRun, MakesStepsAndFrees) {
  EXPECT_EQ(sound_run(APP_BEGIN, app), (int32_t)APP_STEP);
  void* made = app->state[2];
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(sound_run(APP_BEGIN, app), (int32_t)APP_STEP);
  EXPECT_EQ(app->state[2], made);
  app->audio_frame = &frame;
  EXPECT_EQ(step(5000.0), (int32_t)APP_STEP);
  EXPECT_EQ(rms(left.data(), PIPE_BLOCK), 0.0);  // start time not set yet

  piece_set_origin_ms(app, 10000.0);
  double energy = 0;
  for (int b = 0; b < 40; ++b) {
    EXPECT_EQ(step(10000.0 + 5000.0 + b * AUDIO_BLOCK_MS), (int32_t)APP_STEP);
    energy += rms(left.data(), PIPE_BLOCK);
    EXPECT_EQ(frame.state & 1, 0);
  }
  EXPECT_GT(energy, 0.0);
  EXPECT_EQ(step(10000.0 + 123000.0), (int32_t)APP_END);
  EXPECT_EQ(sound_run(APP_END, app), (int32_t)APP_STEP);
  // The end frees the pipes' tables and the reverberation's buffers (which
  // would otherwise leak with the record); a late step or a second end finds
  // nothing to use or free twice.
  EXPECT_EQ(step(10000.0 + 6000.0), (int32_t)APP_STEP);
  EXPECT_EQ(rms(left.data(), PIPE_BLOCK), 0.0);
  EXPECT_EQ(sound_run(APP_END, app), (int32_t)APP_STEP);
}

// A stretch with every pipe busy, section changes and the reverberation's
// first blocks.
TEST_F(SoundRun, StepsAllocateNothing) {
#if defined(SANITIZER_OWNS_MALLOC)
  GTEST_SKIP() << "allocation counting needs the plain allocator";
#else
  app->audio_frame = &frame;
  sound_run(APP_BEGIN, app);
  ASSERT_NE(app->state[2], nullptr);
  piece_set_origin_ms(app, 500.0);
  // The counter sees allocations at all.
  counting = 1;
  void* volatile probe = malloc(16);
  counting = 0;
  free(probe);
  ASSERT_EQ(allocations.exchange(0), 1);
  counting = 1;
  double energy = 0;
  for (int b = 0; b < 1200; ++b) {
    sound_run(APP_BEGIN, app);
    step(500.0 + 4000.0 + b * AUDIO_BLOCK_MS);
    energy += rms(left.data(), PIPE_BLOCK);
  }
  counting = 0;
  EXPECT_EQ(allocations.load(), 0);
  EXPECT_GT(energy, 0.0);
  sound_run(APP_END, app);
#endif
}

}  // namespace
