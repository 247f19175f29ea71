// A live run through the JACK server: once the audio callback has played its
// first block, it must neither allocate, nor lock, nor print. Allocation,
// locking and stdio are replaced in this program and counted on the audio
// thread, and only while it is inside our callback (the log's real-time
// mark): JACK's own thread waits on its semaphores between callbacks, which
// is none of ours. A sanitizer owns malloc and the locks: no counting there.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "common/run_app.h"
#include <zeal/app/app.h>
#include <zeal/base/log.h>
#include <zeal/base/stop.h>
#include <zeal/io/audio.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define SANITIZER_OWNS_MALLOC 1
#else
#include <dlfcn.h>
#include <pthread.h>
#include <semaphore.h>
#include <unistd.h>

#include <cstdarg>

namespace {

thread_local bool audio_after_first_block = false;
std::atomic<long> allocations{0}, locks{0}, writes{0};

bool counted() { return audio_after_first_block && log_is_realtime_thread(); }

// The next definition of `name` (libc's). No function-local static: its
// guard could lock, from inside the lock being replaced.
template <class F>
F next(std::atomic<void*>& slot, const char* name) {
  void* f = slot.load(std::memory_order_acquire);
  if (f == nullptr) {
    f = dlsym(RTLD_NEXT, name);
    slot.store(f, std::memory_order_release);
  }
  return reinterpret_cast<F>(f);
}

}  // namespace

#define FORWARD(counter, type, name, params, args)        \
  static std::atomic<void*> next_##name{nullptr};         \
  extern "C" type name params {                           \
    if (counted()) counter++;                             \
    return next<type(*) params>(next_##name, #name) args; \
  }

extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
extern "C" void* __libc_memalign(size_t, size_t);
extern "C" ssize_t __write(int, const void*, size_t);

extern "C" void* malloc(size_t n) {
  if (counted()) allocations++;
  return __libc_malloc(n);
}
extern "C" void* calloc(size_t n, size_t size) {
  if (counted()) allocations++;
  return __libc_calloc(n, size);
}
extern "C" void* realloc(void* p, size_t n) {
  if (counted()) allocations++;
  return __libc_realloc(p, n);
}
extern "C" void* aligned_alloc(size_t alignment, size_t n) {
  if (counted()) allocations++;
  return __libc_memalign(alignment, n);
}
extern "C" ssize_t write(int fd, const void* data, size_t n) {
  if (counted()) writes++;
  return __write(fd, data, n);
}

FORWARD(locks, int, pthread_mutex_lock, (pthread_mutex_t * m), (m))
FORWARD(locks, int, pthread_mutex_trylock, (pthread_mutex_t * m), (m))
FORWARD(locks, int, pthread_rwlock_rdlock, (pthread_rwlock_t * l), (l))
FORWARD(locks, int, pthread_rwlock_wrlock, (pthread_rwlock_t * l), (l))
FORWARD(locks, int, sem_wait, (sem_t * s), (s))
FORWARD(writes, int, puts, (const char* s), (s))
FORWARD(writes, int, fputs, (const char* s, FILE* f), (s, f))
FORWARD(writes, int, fputc, (int c, FILE* f), (c, f))
FORWARD(writes, int, putchar, (int c), (c))
FORWARD(writes, size_t, fwrite, (const void* p, size_t size, size_t n, FILE* f), (p, size, n, f))
FORWARD(writes, int, fflush, (FILE * f), (f))
FORWARD(writes, int, vfprintf, (FILE * f, const char* format, va_list a), (f, format, a))

static int forward_vfprintf(FILE* f, const char* format, va_list a) {
  return next<int (*)(FILE*, const char*, va_list)>(next_vfprintf, "vfprintf")(f, format, a);
}

extern "C" int vprintf(const char* format, va_list a) {
  if (counted()) writes++;
  return forward_vfprintf(stdout, format, a);
}
extern "C" int printf(const char* format, ...) {
  if (counted()) writes++;
  va_list a;
  va_start(a, format);
  int n = forward_vfprintf(stdout, format, a);
  va_end(a);
  return n;
}
extern "C" int fprintf(FILE* f, const char* format, ...) {
  if (counted()) writes++;
  va_list a;
  va_start(a, format);
  int n = forward_vfprintf(f, format, a);
  va_end(a);
  return n;
}
#endif

namespace {

constexpr int kBlocks = 300;  // about 1.7 s
std::atomic<App*> running_app{nullptr};
std::atomic<int> steps{0};

int32_t play(uint32_t stream, uint32_t phase, App* app) {
  if (stream == APP_STREAM_APP && phase == APP_BEGIN) running_app = app;
  if (stream != APP_STREAM_AUDIO || phase != APP_STEP) return phase == APP_END ? APP_END : APP_STEP;
  int step = ++steps;
  float *left = nullptr, *right = nullptr;
  audio_frame_define_stereo(app->audio_frame, &left, &right);
#if !defined(SANITIZER_OWNS_MALLOC)
  audio_after_first_block = true;
  if (step == 3) {
    // The counters see what happens here at all: one of each.
    void* volatile probe = malloc(16);
    free(probe);
    static pthread_mutex_t probe_lock = PTHREAD_MUTEX_INITIALIZER;
    pthread_mutex_lock(&probe_lock);
    pthread_mutex_unlock(&probe_lock);
    printf("audio thread probe\n");
  }
#endif
  if (step == 4) log_warning("a line from the audio thread (%d)", step);
  // The last block is defined but never committed: the callback's own
  // warning, and the end of the stream.
  if (step >= kBlocks) return APP_STEP;
  for (int i = 0; i < AUDIO_FRAME_SAMPLES; ++i) left[i] = right[i] = 0.01f;
  audio_frame_commit(app->audio_frame);
  return APP_STEP;
}

TEST(AudioLive, AfterItsFirstBlockTheCallbackNeitherAllocatesNorLocksNorPrints) {
#if defined(SANITIZER_OWNS_MALLOC)
  GTEST_SKIP() << "counting needs the plain allocator and locks";
#else
  if (getenv("ZEAL_JACK") == nullptr) GTEST_SKIP() << "no JACK server";
  running_app = nullptr;
  steps = 0;
  // The main thread waits for the stop: raised once the stream has ended.
  std::atomic<bool> done{false};
  bool in_time = false;
  std::thread ender([&] {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done && (steps < kBlocks || running_app == nullptr) && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    in_time = steps >= kBlocks;
    while (!done && running_app == nullptr) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!done) stop_raise(&running_app.load()->stop, 0);
  });
  std::string out;
  int status = run_app({"realtime-test"}, APP_STREAM_AUDIO | APP_STREAM_CONTROL_IN, play, &out);
  done = true;
  ender.join();
  ASSERT_EQ(status, 0) << out;
  ASSERT_TRUE(in_time) << steps << " blocks played\n" << out;
  EXPECT_EQ(allocations.load(), 1);
  EXPECT_EQ(locks.load(), 1);
  EXPECT_EQ(writes.load(), 1);
  // What the audio thread said was printed by the end of the run, in order.
  size_t probe = out.find("audio thread probe\n");
  size_t line = out.find("WARNING: a line from the audio thread (4)\n");
  size_t uncommitted = out.find("defined frame without corresponding commit!\n");
  ASSERT_NE(uncommitted, std::string::npos) << out;
  EXPECT_LT(probe, line);
  EXPECT_LT(line, uncommitted);
#endif
}

}  // namespace
