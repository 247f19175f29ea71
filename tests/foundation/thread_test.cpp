#include <gtest/gtest.h>

#include <atomic>

#include "base/thread.h"

TEST(Thread, SleepIntervalTruncatesTowardZero) {
  const struct {
    double ms;
    long s, ns;
  } cases[] = {{2.5, 0, 2500000}, {3000.0, 3, 0}, {1000.0 / 3640.0, 0, 274725}};
  for (const auto& c : cases) {
    long s = -1, ns = -1;
    thread_sleep_interval(c.ms, &s, &ns);
    EXPECT_EQ(s, c.s) << c.ms;
    EXPECT_EQ(ns, c.ns) << c.ms;
  }
}

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
  ASSERT_NE(shared.handle.record, nullptr);
  EXPECT_EQ(thread_waitfor(&shared.handle), 1);
  EXPECT_EQ(shared.handle.record, nullptr);
}

TEST(Thread, ZeroFilledLockMakesItselfOnFirstUse) {
  thread_lock lock{};
  EXPECT_EQ(inthread_lock(&lock), 0);
  EXPECT_NE(lock.mutex, nullptr);
  EXPECT_EQ(inthread_unlock(&lock), 0);
  thread_lock_destroy(&lock);
  EXPECT_EQ(lock.mutex, nullptr);
}
