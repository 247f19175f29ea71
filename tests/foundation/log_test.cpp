// Lines from real-time threads go through the log's queue: they must come
// out whole, each thread's in its order, with a count of what a full queue
// dropped, and none left behind when the log stops.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <zeal/base/log.h>

namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

TEST(Log, RealtimeLinesComeOutWholeInOrderAndAllByTheStop) {
  const std::string wide(40, 'x');
  const std::string too_long(2 * LOG_LINE_BYTES, 'y');
  testing::internal::CaptureStdout();
  log_info("before");
  // Two threads at once, fewer lines than the queue holds: none dropped.
  auto speak = [&](char who) {
    log_realtime_thread(true);
    for (int i = 0; i < LOG_QUEUE_LINES / 2 - 1; ++i) log_warning("%c %d %s", who, i, wide.c_str());
  };
  std::thread a(speak, 'a'), b(speak, 'b');
  a.join();
  b.join();
  std::thread([&] {
    log_realtime_scope realtime;
    log_error("%s", too_long.c_str());
  }).join();
  log_stop();
  log_info("after");
  std::vector<std::string> lines = lines_of(testing::internal::GetCapturedStdout());

  ASSERT_EQ(lines.size(), 2u * (LOG_QUEUE_LINES / 2 - 1) + 3u);
  EXPECT_EQ(lines.front(), "before");
  EXPECT_EQ(lines.back(), "after");
  int next[2] = {0, 0};
  for (size_t k = 1; k + 2 < lines.size(); ++k) {
    char who = 0;
    int i = -1;
    char text[64] = {};
    ASSERT_EQ(sscanf(lines[k].c_str(), "WARNING: %c %d %63s", &who, &i, text), 3) << lines[k];
    ASSERT_TRUE(who == 'a' || who == 'b') << lines[k];
    EXPECT_EQ(i, next[who - 'a']++) << lines[k];
    EXPECT_EQ(text, wide);
  }
  // A line longer than a slot is cut, not spilled into the next one.
  EXPECT_EQ(lines[lines.size() - 2], "ERROR: " + too_long.substr(0, LOG_LINE_BYTES - 9));
}

TEST(Log, AFullQueueDropsLinesAndSaysHowMany) {
  constexpr int kSent = 10 * LOG_QUEUE_LINES;
  testing::internal::CaptureStdout();
  std::thread([] {
    log_realtime_thread(true);
    for (int i = 0; i < kSent; ++i) log_info("line %d", i);
  }).join();
  log_stop();
  std::vector<std::string> lines = lines_of(testing::internal::GetCapturedStdout());

  int kept = 0, last = -1;
  long dropped = 0;
  for (const std::string& line : lines) {
    int i = 0;
    long n = 0;
    if (sscanf(line.c_str(), "line %d", &i) == 1) {
      EXPECT_GT(i, last) << line;
      last = i;
      kept++;
    } else {
      ASSERT_EQ(sscanf(line.c_str(), "WARNING: the log dropped %ld line(s) from a real-time thread", &n), 1) << line;
      dropped += n;
    }
  }
  EXPECT_GE(kept, LOG_QUEUE_LINES);
  EXPECT_GT(dropped, 0);
  EXPECT_EQ(kept + dropped, kSent);
}

}  // namespace
