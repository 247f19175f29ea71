// Threads, locks, conditions and the millisecond wall clock over POSIX.
#pragma once

struct thread_record;
struct thread_handle {
  thread_record* record;  // none until started
};

// A zero-filled lock is valid and unlocked: its mutex is made on first use.
struct thread_lock {
  void* mutex;
};

struct thread_cond {
  void* cond;
};

using thread_fn = void* (*)(void* arg);

void thread_make(thread_handle* handle);
// 0 when the thread started (the platform's create status otherwise).
int thread_start(thread_handle* handle, thread_fn fn, void* arg);
// 1 when joined (the record is freed); 0 keeps the handle for a retry.
int thread_waitfor(thread_handle* handle);

int thread_lock_make(thread_lock* lock);
void thread_lock_destroy(thread_lock* lock);
int inthread_lock(thread_lock* lock);    // 0 on success
int inthread_unlock(thread_lock* lock);  // 0 on success

int thread_cond_make(thread_cond* cond);
void thread_cond_destroy(thread_cond* cond);
int inthread_cond_wait(thread_cond* cond, thread_lock* lock);
int inthread_cond_signal(thread_cond* cond);
// Like inthread_cond_wait, giving up after `ms`: 0 when woken, 1 on timeout or failure.
int inthread_cond_wait_ms(thread_cond* cond, thread_lock* lock, double ms);

// Splits `ms` into whole seconds and nanoseconds, both truncated toward zero.
void thread_sleep_interval(double ms, long* seconds, long* nanoseconds);
int inthread_sleep(double ms);
int inthread_yield();

// Milliseconds since 1970-01-01 UTC with microsecond resolution.
double get_milliseconds();
double get_milliseconds_in_unix();
