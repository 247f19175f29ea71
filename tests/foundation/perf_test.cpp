#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/perf.h"
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

TEST(PerfStat, EleventhSampleOverwritesTheFirstAndUnknownNamesAreIgnored) {
  float *a = nullptr, *b = nullptr, *c = nullptr;
  int* index = nullptr;
  ASSERT_EQ(perf_stat_get("cpu-ms", &a, &b, &c, &index), 10);
  *index = 0;
  for (int i = 0; i < 11; ++i) perf_stat("cpu-ms", 100 + i, 200 + i, 300 + i);
  EXPECT_EQ((std::vector<float>{a[0], b[0], c[0], a[1]}), (std::vector<float>{110, 210, 310, 101}));
  EXPECT_EQ(*index, 1);
  EXPECT_EQ(perf_stat_get("gpu-ms", &a, &b, &c, &index), 0);
  perf_stat("gpu-ms", 1, 2, 3);
}
