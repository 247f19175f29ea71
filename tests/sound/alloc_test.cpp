// The audio step must not allocate: malloc and friends are counted here
// (not under AddressSanitizer, which owns them there).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "app/app.h"
#include "io/audio.h"
#include "piece/origin.h"
#include "piece/sound.h"

#if !defined(__SANITIZE_ADDRESS__)
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

TEST(SoundStep, AllocatesNothing) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "allocation counting needs the plain allocator";
#else
  App* app = new App{};
  piece_shared piece{};
  app->state[0] = &piece;
  audio_frame frame{};
  std::vector<float> left(PIPE_BLOCK), right(PIPE_BLOCK);
  frame.left = left.data();
  frame.right = right.data();
  audio_frame_reset(&frame);
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

  // A stretch with every pipe busy, section changes and the reverberation's
  // first blocks.
  counting = 1;
  for (int b = 0; b < 1200; ++b) {
    frame.frame_ms = 500.0 + 4000.0 + b * AUDIO_BLOCK_MS;
    sound_run(APP_BEGIN, app);
    sound_run(APP_STEP, app);
  }
  counting = 0;
  EXPECT_EQ(allocations.load(), 0);
  float peak = 0;
  for (float x : left) peak = std::max(peak, std::fabs(x));
  EXPECT_GT(peak, 0.0f);
  sound_run(APP_END, app);
  free(app->state[2]);
  delete app;
#endif
}

}  // namespace
