#include <gtest/gtest.h>

#include <atomic>

#include <zeal/base/thread.h>

TEST(Thread, SleepIntervalTruncatesTowardZero) {
  const struct {
    double ms;
    long s, ns;
  } cases[] = {{2.5, 0, 2500000}, {3000.0, 3, 0}, {1000.0 / 3640.0, 0, 274725}};
  for (const auto& c : cases) {
    long s = -1, ns = -1;
    thread_sleep_interval(c.ms, &s, &ns);
    EXPECT_EQ(std::pair(s, ns), std::pair(c.s, c.ns)) << c.ms;
  }
}

// Joins are retried until they succeed; a failed one must keep the handle.
TEST(Thread, FailedJoinKeepsTheHandleForARetry) {
  // A thread cannot join itself: the join fails and the handle stays usable.
  struct Shared {
    thread_handle handle;
    std::atomic<int> self_join{-1};
    std::atomic<int> go{0};
  } shared;
  thread_make(&shared.handle);
  auto body = [](void* arg) -> void* {
    auto* s = static_cast<Shared*>(arg);
    while (!s->go.load()) inthread_yield();
    s->self_join.store(thread_waitfor(&s->handle));
    return nullptr;
  };
  ASSERT_EQ(thread_start(&shared.handle, body, &shared), 0);
  shared.go.store(1);
  while (shared.self_join.load() < 0) inthread_yield();
  EXPECT_EQ(shared.self_join.load(), 0);
  EXPECT_EQ(thread_waitfor(&shared.handle), 1);
  EXPECT_EQ(shared.handle.record, nullptr);
}
