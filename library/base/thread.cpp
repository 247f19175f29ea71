#include <zeal/base/thread.h>

#include <pthread.h>
#include <sched.h>
#include <sys/time.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

struct thread_record {
  pthread_t thread;
  thread_fn fn;
  void* arg;
};

static void* wrapper(void* p) {
  auto* record = static_cast<thread_record*>(p);
  return record->fn(record->arg);
}

void thread_make(thread_handle* handle) { handle->record = nullptr; }

int thread_start(thread_handle* handle, thread_fn fn, void* arg) {
  auto* record = static_cast<thread_record*>(calloc(1, sizeof(thread_record)));
  if (record == nullptr) return ENOMEM;
  record->fn = fn;
  record->arg = arg;
  handle->record = record;
  int status = pthread_create(&record->thread, nullptr, wrapper, record);
  if (status != 0) {
    free(record);
    handle->record = nullptr;
  }
  return status;
}

int thread_waitfor(thread_handle* handle) {
  if (handle->record == nullptr) return 0;
  if (pthread_join(handle->record->thread, nullptr) != 0) return 0;
  free(handle->record);
  handle->record = nullptr;
  return 1;
}

int thread_lock_make(thread_lock* lock) {
  auto* mutex = static_cast<pthread_mutex_t*>(malloc(sizeof(pthread_mutex_t)));
  if (mutex == nullptr) return ENOMEM;
  int status = pthread_mutex_init(mutex, nullptr);
  if (status != 0) {
    free(mutex);
    return status;
  }
  lock->mutex = mutex;
  return 0;
}

void thread_lock_destroy(thread_lock* lock) {
  if (lock->mutex == nullptr) return;
  pthread_mutex_destroy(static_cast<pthread_mutex_t*>(lock->mutex));
  free(lock->mutex);
  lock->mutex = nullptr;
}

int inthread_lock(thread_lock* lock) {
  if (lock->mutex == nullptr && thread_lock_make(lock) != 0) return 1;
  return pthread_mutex_lock(static_cast<pthread_mutex_t*>(lock->mutex)) != 0;
}

int inthread_unlock(thread_lock* lock) {
  if (lock->mutex == nullptr) return 1;
  return pthread_mutex_unlock(static_cast<pthread_mutex_t*>(lock->mutex)) != 0;
}

int thread_cond_make(thread_cond* cond) {
  auto* c = static_cast<pthread_cond_t*>(malloc(sizeof(pthread_cond_t)));
  if (c == nullptr) return ENOMEM;
  int status = pthread_cond_init(c, nullptr);
  if (status != 0) {
    free(c);
    return status;
  }
  cond->cond = c;
  return 0;
}

void thread_cond_destroy(thread_cond* cond) {
  if (cond->cond == nullptr) return;
  pthread_cond_destroy(static_cast<pthread_cond_t*>(cond->cond));
  free(cond->cond);
  cond->cond = nullptr;
}

int inthread_cond_wait(thread_cond* cond, thread_lock* lock) {
  if (cond->cond == nullptr || lock->mutex == nullptr) return 1;
  return pthread_cond_wait(static_cast<pthread_cond_t*>(cond->cond),
                           static_cast<pthread_mutex_t*>(lock->mutex)) != 0;
}

int inthread_cond_wait_ms(thread_cond* cond, thread_lock* lock, double ms) {
  if (cond->cond == nullptr || lock->mutex == nullptr) return 1;
  timespec deadline{};
  clock_gettime(CLOCK_REALTIME, &deadline);
  long seconds = 0;
  long nanoseconds = 0;
  thread_sleep_interval(ms > 0 ? ms : 0, &seconds, &nanoseconds);
  deadline.tv_sec += seconds;
  deadline.tv_nsec += nanoseconds;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  return pthread_cond_timedwait(static_cast<pthread_cond_t*>(cond->cond),
                                static_cast<pthread_mutex_t*>(lock->mutex), &deadline) != 0;
}

int inthread_cond_signal(thread_cond* cond) {
  if (cond->cond == nullptr) return 1;
  return pthread_cond_signal(static_cast<pthread_cond_t*>(cond->cond)) != 0;
}

void thread_sleep_interval(double ms, long* seconds, long* nanoseconds) {
  *seconds = static_cast<long>(ms * 0.001);
  *nanoseconds = static_cast<long>((ms - static_cast<double>(*seconds) * 1000.0) * 1000000.0);
}

int inthread_sleep(double ms) {
  if (!(ms > 0)) return 0;
  timespec request{};
  timespec remaining{};
  thread_sleep_interval(ms, &request.tv_sec, &request.tv_nsec);
  int status = nanosleep(&request, &remaining);
  while (status < 0 && errno == EINTR) {
    request = remaining;
    status = nanosleep(&request, &remaining);
  }
  return status;
}

int inthread_yield() { return sched_yield(); }

double get_milliseconds() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  return static_cast<double>(tv.tv_usec) * 0.001 + static_cast<double>(tv.tv_sec) * 1000.0;
}

double get_milliseconds_in_unix() { return get_milliseconds(); }
