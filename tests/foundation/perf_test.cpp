#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "base/perf.h"

namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string printed(const char* line) {
  testing::internal::CaptureStdout();
  perf_log("%s", line);
  return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(PerfLog, StandardOutputWithoutAFileOrWhenItCannotBeOpenedAndNothingWhenDisabled) {
  perf_logenable(1);
  perf_logfile(nullptr);
  testing::internal::CaptureStdout();
  perf_log("audio-fps: %.2f\n", 172.265625);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "audio-fps: 172.27\n");
  perf_logfile("/nonexistent-directory/perf.log");
  EXPECT_EQ(printed("still seen\n"), "still seen\n");
  perf_logfile(nullptr);
  perf_logenable(0);
  EXPECT_EQ(printed("hidden\n"), "");
  perf_logenable(1);
}

TEST(PerfLog, SwitchingFilesClosesTheOldAndTruncatesTheNew) {
  perf_logenable(1);
  std::string a = testing::TempDir() + "perf-a.log", b = testing::TempDir() + "perf-b.log";
  std::ofstream(b) << "stale contents\n";
  perf_logfile(a.c_str());
  perf_log("one\n");
  std::string same = a;  // an equal name in another buffer keeps the open file
  perf_logfile(same.c_str());
  perf_log("two\n");
  EXPECT_EQ(slurp(a), "one\ntwo\n");
  perf_logfile(b.c_str());
  perf_log("three\n");
  EXPECT_EQ(slurp(b), "three\n");
  EXPECT_EQ(slurp(a), "one\ntwo\n");
  perf_logfile(nullptr);
}

TEST(PerfStat, EleventhSampleOverwritesTheFirst) {
  float *a = nullptr, *b = nullptr, *c = nullptr;
  int* index = nullptr;
  ASSERT_EQ(perf_stat_get("cpu-ms", &a, &b, &c, &index), 10);
  *index = 0;
  for (int i = 0; i < 11; ++i) perf_stat("cpu-ms", 100 + i, 200 + i, 300 + i);
  EXPECT_EQ(a[0], 110.0f);
  EXPECT_EQ(b[0], 210.0f);
  EXPECT_EQ(c[0], 310.0f);
  EXPECT_EQ(a[1], 101.0f);
  EXPECT_EQ(*index, 1);
  EXPECT_EQ(perf_stat_get("gpu-ms", &a, &b, &c, &index), 0);
  perf_stat("gpu-ms", 1, 2, 3);  // unknown names are ignored
}
