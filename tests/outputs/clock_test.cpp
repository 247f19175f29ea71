// The clock thread and lock step, with channels whose time the test controls.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>

#include <zeal/base/thread.h>
#include <zeal/io/avstream.h>

namespace {

std::string unique_name(const char* stem) {
  static std::atomic<int> serial{0};
  return std::string("clock-test-") + stem + "-" + std::to_string(serial.fetch_add(1));
}

// Wall-clock milliseconds since the channel was made: a steady output.
struct Steady {
  double base = get_milliseconds();
};
double steady_time(void* arg) { return get_milliseconds() - static_cast<Steady*>(arg)->base; }

// Wall-clock time with 200 ms jumps on every other reading.
double jumpy_time(void* arg) {
  static thread_local int calls = 0;
  return steady_time(arg) + (++calls % 2 ? 0.0 : 200.0);
}

// Time that the test sets, counting how often it is read.
struct Manual {
  std::atomic<double> ms{0};
  std::atomic<int> reads{0};
};
double manual_time(void* arg) {
  auto* m = static_cast<Manual*>(arg);
  m->reads.fetch_add(1);
  return m->ms.load();
}

// Advances 2.5 ms per reading, whoever reads it.
double counted_time(void* arg) { return 2.5 * static_cast<Manual*>(arg)->reads.fetch_add(1); }

// Polls `done` every 5 ms for up to `limit_ms`.
template <class Done>
int wait_for(Done done, double limit_ms) {
  for (double start = get_milliseconds(); !done(); inthread_sleep(5))
    if (get_milliseconds() - start > limit_ms) return 0;
  return 1;
}

int wait_until(avstream_channel* channel, double limit_ms) {
  return wait_for([&] { return avstream_is_rolling(channel); }, limit_ms);
}

TEST(Clock, LoneChannelIsMasterAndDestroyEndsTheClockThreadAndFreesTheName) {
  std::string name = unique_name("lone");
  Steady steady;
  avstream_channel* channel = avstream_add_channel(name.c_str(), steady_time, &steady);
  ASSERT_NE(channel, nullptr);
  avstream_channel_advance(channel, 0, 1);
  avstream_start(channel, 0);
  ASSERT_TRUE(wait_until(channel, 8000));
  EXPECT_TRUE(avstream_is_master(channel));
  // Realtime time runs with the master's own time.
  double a = avstream_time(channel), own = steady_time(&steady);
  inthread_sleep(50);
  EXPECT_NEAR(avstream_time(channel) - a, steady_time(&steady) - own, 2.0);
  // The thread sleeps between refreshes; destroy wakes it rather than waiting.
  double start = get_milliseconds();
  avstream_destroy(channel);
  EXPECT_LT(get_milliseconds() - start, 1000.0);
  // The name now makes a fresh clock.
  avstream_channel* again = avstream_add_channel(name.c_str(), steady_time, &steady);
  EXPECT_FALSE(avstream_is_rolling(again));
  EXPECT_FALSE(avstream_is_master(again));
  avstream_destroy(again);
}

TEST(Clock, SteadiestChannelBecomesMasterAndEqualErrorsPickTheLater) {
  Steady steady, jumpy;
  Manual first, second;
  const struct {
    double (*fn[2])(void*);
    void* arg[2];
    int master;
  } cases[] = {
      // The steady one comes first, so only its error can make it master.
      {{steady_time, jumpy_time}, {&steady, &jumpy}, 0},
      // Both are read once per sampling, so both give the same readings.
      {{counted_time, counted_time}, {&first, &second}, 1},
  };
  for (const auto& c : cases) {
    std::string name = unique_name("two");
    avstream_channel* ch[2];
    for (int i = 0; i < 2; ++i) {
      ch[i] = avstream_add_channel(name.c_str(), c.fn[i], c.arg[i]);
      avstream_channel_advance(ch[i], 0, 1);
    }
    avstream_start(ch[0], 0);
    ASSERT_TRUE(wait_until(ch[1], 8000));
    EXPECT_TRUE(avstream_is_master(ch[c.master])) << c.master;
    EXPECT_FALSE(avstream_is_master(ch[1 - c.master])) << c.master;
    for (avstream_channel* channel : ch) avstream_destroy(channel);
  }
}

TEST(Clock, ChannelThatNeverAdvancesHoldsTheStartAtMostThreeSeconds) {
  std::string name = unique_name("never");
  Steady steady;
  avstream_channel* a = avstream_add_channel(name.c_str(), steady_time, &steady);
  avstream_channel* never = avstream_add_channel(name.c_str(), steady_time, &steady);
  avstream_channel_advance(a, 0, 1);
  double start = get_milliseconds();
  avstream_start(a, 0);
  // At most 3 s of waiting, 1 s of measuring and 250 ms to the start.
  EXPECT_TRUE(wait_until(a, 6500));
  EXPECT_GE(get_milliseconds() - start, 3000.0);
  avstream_destroy(a);
  avstream_destroy(never);
}

TEST(Clock, TimeStartsAtZeroWhenTheMasterReachesItsReadingPlus250) {
  Manual manual;
  manual.ms = 1000.0;
  avstream_channel* channel = avstream_add_channel(unique_name("zero").c_str(), manual_time, &manual);
  avstream_channel_advance(channel, 0, 1);
  avstream_start(channel, 0);
  // 400 readings measure, the next one chooses the start.
  ASSERT_TRUE(wait_for([&] { return manual.reads.load() >= 401; }, 8000));
  manual.ms = 1249.0;
  inthread_sleep(50);
  EXPECT_FALSE(avstream_is_rolling(channel));
  EXPECT_EQ(avstream_time(channel), 0.0);
  manual.ms = 1250.0;
  ASSERT_TRUE(wait_until(channel, 3000));
  EXPECT_EQ(avstream_time(channel), 0.0);
  manual.ms = 1300.0;
  EXPECT_EQ(avstream_time(channel), 50.0);
  EXPECT_EQ(avstream_reltime(channel, 1400.0), 150.0);
  avstream_destroy(channel);
}

// A rendering output: its time moves one frame per advance once the clock rolls.
struct Renderer {
  avstream_channel* channel = nullptr;
  Renderer* other = nullptr;
  double period = 0;
  double until_ms = 0;
  int stop_when_done = 1;  // else it just stops advancing
  std::atomic<double> own{0};
  double max_lead = -1e9;
  double done_at_ms = 0;
};
double renderer_time(void* arg) { return static_cast<Renderer*>(arg)->own.load(); }

void render(Renderer* r) {
  while (r->own.load() < r->until_ms) {
    // Measured once both run: at the start an output may have advanced its
    // first frame just before it saw the clock roll.
    if (r->own.load() > 100 && r->other->own.load() > 100)
      r->max_lead = std::max(r->max_lead, r->own.load() - r->other->own.load());
    double t = r->own.load();
    if (avstream_is_rolling(r->channel)) r->own.store(t + r->period);
    avstream_channel_advance(r->channel, t, t + r->period);
  }
  r->done_at_ms = get_milliseconds();
  if (r->stop_when_done) avstream_channel_stop(r->channel);
}

// An audio and a display output rendering in lock step on one clock, until
// both are done.
struct Pair {
  Renderer audio, display;
  Pair(double audio_until, double display_until, int display_stops = 1) {
    std::string name = unique_name("pair");
    audio.period = 256 / 44.1;
    display.period = 1000.0 / 60.0;
    audio.until_ms = audio_until;
    display.until_ms = display_until;
    display.stop_when_done = display_stops;
    audio.other = &display;
    display.other = &audio;
    audio.channel = avstream_add_channel(name.c_str(), renderer_time, &audio);
    display.channel = avstream_add_channel(name.c_str(), renderer_time, &display);
    avstream_start(audio.channel, 1);
    std::thread threads[2] = {std::thread(render, &audio), std::thread(render, &display)};
    for (auto& t : threads) t.join();
  }
  ~Pair() {
    avstream_destroy(audio.channel);
    avstream_destroy(display.channel);
  }
};

TEST(ClockLockstep, TwoOutputsLeapfrogAndNeitherRunsAFrameAhead) {
  Pair p(3000, 3000);
  EXPECT_TRUE(avstream_is_master(p.audio.channel));
  EXPECT_LE(p.audio.max_lead, p.audio.period + 1e-9);
  EXPECT_LE(p.display.max_lead, p.display.period + 1e-9);
  // They went together: neither finished while the other was far behind.
  EXPECT_LT(std::abs(p.audio.done_at_ms - p.display.done_at_ms), 500.0);
}

// The display ends early, by quitting or by no longer advancing: the audio
// output must go on to its end rather than wait for it forever. A quitting
// channel releases the other well within the patience for one that merely
// stops advancing, which is left out once, not on every frame.
TEST(ClockLockstep, ChannelThatQuitsOrStopsAdvancingForGoodDoesNotHoldTheOther) {
  for (auto [stops, limit_ms] : {std::pair{1, 1500.0}, {0, 4500.0}}) {
    Pair p(3000, 500, stops);
    EXPECT_LT(p.audio.done_at_ms - p.display.done_at_ms, limit_ms) << stops;
  }
}

}  // namespace
