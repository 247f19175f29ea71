// A request to end the program. Any thread may raise one (an output that has
// ended, a key, a signal, a failed write); only the main thread answers it,
// by finishing the outputs in order and returning from the main sequence.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

struct stop_request {
  std::atomic<int32_t> raised{0};
  std::atomic<int32_t> status{0};  // the highest status asked for
  std::mutex lock;
  std::condition_variable woken;
};

// Asks for the end with exit `status`; a failure (non-zero) is never
// overwritten by a later, successful request.
void stop_raise(stop_request* stop, int32_t status);
int32_t stop_raised(const stop_request* stop);
int32_t stop_status(const stop_request* stop);
// Waits until a stop is raised, at most `ms` (no limit when negative);
// answers whether one has been.
int32_t stop_wait(stop_request* stop, double ms);
// Forgets a request, for a record used again.
void stop_clear(stop_request* stop);
