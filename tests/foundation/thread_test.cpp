#include <gtest/gtest.h>

#include <atomic>

#include "base/thread.h"

TEST(Thread, SleepIntervalTruncatesTowardZero) {
  long s = -1, ns = -1;
  thread_sleep_interval(2.5, &s, &ns);
  EXPECT_EQ(s, 0);
  EXPECT_EQ(ns, 2500000);
  thread_sleep_interval(3000.0, &s, &ns);
  EXPECT_EQ(s, 3);
  EXPECT_EQ(ns, 0);
  thread_sleep_interval(1000.0 / 3640.0, &s, &ns);
  EXPECT_EQ(s, 0);
  EXPECT_EQ(ns, 274725);
}

TEST(Thread, StartsJoinsAndPassesTheArgument) {
  std::atomic<int> value{0};
  thread_handle handle;
  thread_make(&handle);
  EXPECT_EQ(handle.record, nullptr);
  auto body = [](void* arg) -> void* {
    static_cast<std::atomic<int>*>(arg)->store(42);
    return nullptr;
  };
  ASSERT_EQ(thread_start(&handle, body, &value), 0);
  EXPECT_EQ(thread_waitfor(&handle), 1);
  EXPECT_EQ(value.load(), 42);
  EXPECT_EQ(handle.record, nullptr);
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
}

TEST(Thread, ZeroFilledLockMakesItselfOnFirstUse) {
  thread_lock lock{};
  EXPECT_EQ(inthread_lock(&lock), 0);
  EXPECT_NE(lock.mutex, nullptr);
  EXPECT_EQ(inthread_unlock(&lock), 0);
  thread_lock_destroy(&lock);
  EXPECT_EQ(lock.mutex, nullptr);
}

TEST(Thread, ConditionWakesAWaiter) {
  struct Shared {
    thread_lock lock{};
    thread_cond cond{};
    int ready = 0;
  } s;
  ASSERT_EQ(thread_lock_make(&s.lock), 0);
  ASSERT_EQ(thread_cond_make(&s.cond), 0);
  thread_handle handle;
  auto body = [](void* arg) -> void* {
    auto* sh = static_cast<Shared*>(arg);
    inthread_lock(&sh->lock);
    sh->ready = 1;
    inthread_cond_signal(&sh->cond);
    inthread_unlock(&sh->lock);
    return nullptr;
  };
  inthread_lock(&s.lock);
  ASSERT_EQ(thread_start(&handle, body, &s), 0);
  while (!s.ready) ASSERT_EQ(inthread_cond_wait(&s.cond, &s.lock), 0);
  inthread_unlock(&s.lock);
  thread_waitfor(&handle);
  thread_cond_destroy(&s.cond);
  thread_lock_destroy(&s.lock);
}

TEST(Thread, ClockIsWallTimeInMilliseconds) {
  double a = get_milliseconds();
  EXPECT_GT(a, 1.6e12);  // after 2020
  inthread_sleep(20.0);
  double b = get_milliseconds_in_unix();
  EXPECT_GE(b - a, 19.0);
  EXPECT_LT(b - a, 1000.0);
}
