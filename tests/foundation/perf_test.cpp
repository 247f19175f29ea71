#include <gtest/gtest.h>

#include <string>

#include <zeal/base/perf.h>
#include "common/test_files.h"

namespace {

std::string printed(const char* line) {
  testing::internal::CaptureStdout();
  perf_log("%s", line);
  return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(PerfLog, GoesToItsFileOrElseStandardOutputAndNowhereWhenDisabled) {
  TempDir dir;
  perf_logenable(1);
  perf_logfile(nullptr);
  EXPECT_EQ(printed("seen\n"), "seen\n");
  perf_logfile("/nonexistent-directory/perf.log");  // cannot be opened
  EXPECT_EQ(printed("still seen\n"), "still seen\n");
  std::string a = dir.File("a.log"), b = dir.Write("b.log", "stale contents\n");
  perf_logfile(a.c_str());
  perf_log("one\n");
  std::string same = a;  // an equal name in another buffer keeps the open file
  perf_logfile(same.c_str());
  perf_log("two\n");
  perf_logfile(b.c_str());  // closes the old and truncates the new
  perf_log("three\n");
  EXPECT_EQ(read_file(a), "one\ntwo\n");
  EXPECT_EQ(read_file(b), "three\n");
  perf_logfile(nullptr);
  perf_logenable(0);
  EXPECT_EQ(printed("hidden\n"), "");
  perf_logenable(1);
}
