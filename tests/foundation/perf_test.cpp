#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "app/perf.h"

namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string temp_path(const char* name) { return testing::TempDir() + name; }

}  // namespace

TEST(PerfLog, WithoutAFileLinesGoToStandardOutput) {
  perf_logenable(1);
  perf_logfile(nullptr);
  testing::internal::CaptureStdout();
  perf_log("audio-fps: %.2f\n", 172.265625);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "audio-fps: 172.27\n");
}

TEST(PerfLog, SwitchingFilesClosesTheOldAndTruncatesTheNew) {
  perf_logenable(1);
  std::string a = temp_path("perf-a.log"), b = temp_path("perf-b.log");
  {
    std::ofstream stale(b);
    stale << "stale contents\n";
  }
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

TEST(PerfLog, DisabledWritesNothingAnywhere) {
  perf_logfile(nullptr);
  perf_logenable(0);
  testing::internal::CaptureStdout();
  perf_log("hidden\n");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  perf_logenable(1);
}

TEST(PerfLog, UnwritableFileFallsBackToStandardOutput) {
  perf_logenable(1);
  perf_logfile("/nonexistent-directory/perf.log");
  testing::internal::CaptureStdout();
  perf_log("still seen\n");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "still seen\n");
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
  EXPECT_EQ(perf_stat_get("display-ms", &a, nullptr, nullptr, nullptr), 10);
  EXPECT_EQ(perf_stat_get("gpu-ms", &a, &b, &c, &index), 0);
  perf_stat("gpu-ms", 1, 2, 3);  // unknown names are ignored
}
