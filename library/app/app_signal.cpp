// Interrupt and termination requests raise the app's stop, so that the main
// thread ends the outputs in order and every file being written is complete.
#include <signal.h>

#include <atomic>
#include <ctime>
#include <thread>

#include <zeal/app/app.h>
#include <zeal/app/app_steps.h>

struct app_signals {
  sigset_t ending;
  sigset_t previous;  // the caller's mask, given back at the end
  std::atomic<int> done{0};
  std::thread thread;
};

namespace {

void watch(App* app, app_signals* s) {
  const timespec tick{0, 50 * 1000 * 1000};
  while (!s->done.load()) {
    if (sigtimedwait(&s->ending, nullptr, &tick) > 0) stop_raise(&app->stop, 0);
  }
}

}  // namespace

void app_signals_start(App* app) {
  auto* s = new app_signals;
  sigemptyset(&s->ending);
  sigaddset(&s->ending, SIGINT);
  sigaddset(&s->ending, SIGTERM);
  // Blocked here, before any other thread starts, so every thread inherits
  // the mask and only the watching thread receives them.
  pthread_sigmask(SIG_BLOCK, &s->ending, &s->previous);
  s->thread = std::thread(watch, app, s);
  app->signals = s;
}

void app_signals_stop(App* app) {
  app_signals* s = app->signals;
  if (s == nullptr) return;
  s->done.store(1);
  s->thread.join();
  pthread_sigmask(SIG_SETMASK, &s->previous, nullptr);
  delete s;
  app->signals = nullptr;
}
