#include <zeal/base/stop.h>

#include <chrono>

void stop_raise(stop_request* stop, int32_t status) {
  int32_t seen = stop->status.load();
  while (status > seen && !stop->status.compare_exchange_weak(seen, status)) {
  }
  // Under the lock, so that a waiter between its check and its sleep cannot
  // miss the wake-up, and so that a woken main thread, which may free the
  // request, waits until the notification is done with it.
  std::lock_guard<std::mutex> hold(stop->lock);
  stop->raised.store(1);
  stop->woken.notify_all();
}

int32_t stop_raised(const stop_request* stop) { return stop->raised.load(); }

int32_t stop_status(const stop_request* stop) { return stop->status.load(); }

int32_t stop_wait(stop_request* stop, double ms) {
  std::unique_lock<std::mutex> hold(stop->lock);
  auto raised = [stop] { return stop->raised.load() != 0; };
  if (ms < 0.0) {
    stop->woken.wait(hold, raised);
    return 1;
  }
  return stop->woken.wait_for(hold, std::chrono::duration<double, std::milli>(ms), raised) ? 1 : 0;
}

void stop_clear(stop_request* stop) {
  std::lock_guard<std::mutex> hold(stop->lock);
  stop->raised.store(0);
  stop->status.store(0);
}
