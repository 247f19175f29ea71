// Interrupt and termination requests end the process through app_exit, so
// that its exit hooks (a rendered file being closed, for instance) run.
#include <signal.h>

#include "app/app_steps.h"
#include "base/thread.h"

namespace {

sigset_t ending_signals;

void* signal_thread(void*) {
  int signal_number = 0;
  while (sigwait(&ending_signals, &signal_number) != 0) {
  }
  app_exit(0);
}

}  // namespace

void app_signal_start() {
  sigemptyset(&ending_signals);
  sigaddset(&ending_signals, SIGINT);
  sigaddset(&ending_signals, SIGTERM);
  // Blocked here, before any other thread starts, so every thread inherits
  // the mask and only the waiting thread receives them.
  pthread_sigmask(SIG_BLOCK, &ending_signals, nullptr);
  static thread_handle handle;
  thread_start(&handle, signal_thread, nullptr);
}
