// The entry of every test program. A test that ends the process through the
// runtime's exit path would otherwise leave with status 0 and count as passed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "app/app_steps.h"

namespace {

pid_t test_process;

void exit_inside_a_test(void*) {
  if (getpid() != test_process) return;  // forked children end as they please
  fprintf(stderr, "ERROR: the test program was ended from inside a test\n");
  fflush(nullptr);
  _exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  test_process = getpid();
  app_at_exit(exit_inside_a_test, nullptr);
  return RUN_ALL_TESTS();
}
