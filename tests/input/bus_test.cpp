#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include <zeal/app/app.h>
#include <zeal/app/app_input.h>
#include <zeal/app/bus.h>
#include <zeal/base/thread.h>
#include "common/midi_flood.h"
#include <zeal/io/midi_event.h>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

constexpr int32_t kWrap = 0x7fffffff;  // the largest index; the next is 0

// An event whose eight words all carry the same number, so tearing shows.
struct Event {
  int32_t words[8];
};
Event numbered(int32_t n) {
  Event e;
  for (auto& w : e.words) w = n;
  return e;
}
bool whole(const Event& e) {
  for (auto w : e.words)
    if (w != e.words[0]) return false;
  return true;
}

// The handler reads up to `budget` events per step and records them.
struct Reader {
  int32_t budget = 1000;
  bool quit_in_step = false;
  std::vector<Event> got;
  int steps = 0;
};
Reader* reader;

int32_t read_events(uint32_t, uint32_t phase, App* app) {
  if (phase != APP_STEP) return APP_STEP;
  ++reader->steps;
  for (int32_t i = 0; i < reader->budget && event_has_next(app, nullptr) == 8; ++i) {
    Event e;
    event_get_next(app, &e);
    reader->got.push_back(e);
  }
  return reader->quit_in_step ? APP_END : APP_STEP;
}

struct Bus {
  App app{};
  Reader r;
  Bus() {
    reader = &r;
    app.config.streams = APP_STREAM_CONTROL_IN | APP_STREAM_AUDIO;
    app.handler = read_events;
    app.bus_lock.store(1);
    app_bus_make(&app);
  }
  ~Bus() { app_bus_destroy(&app); }
  lf_ringbuffer* producer(int32_t i) {
    return static_cast<lf_ringbuffer*>(array_element(&app.bus.producers, sizeof(lf_ringbuffer), i));
  }
  lf_ringbuffer* consumer() {
    return static_cast<lf_ringbuffer*>(array_element(&app.bus.consumers, sizeof(lf_ringbuffer), 0));
  }
  // Posts events numbered `first` .. `first + count - 1` to the MIDI-in ring.
  void post(int32_t first, int32_t count) {
    for (int32_t i = first; i < first + count; ++i) {
      Event e = numbered(i);
      app_bus_post(&app, app.midi_in_ring, &e);
    }
  }
};

void expect_numbers(const std::vector<Event>& got, int32_t first, int32_t count) {
  ASSERT_EQ(static_cast<int32_t>(got.size()), count);
  for (int32_t i = 0; i < count; ++i) {
    EXPECT_TRUE(whole(got[i]));
    EXPECT_EQ(got[i].words[0], first + i);
  }
}

}  // namespace

TEST(Bus, FullProducerDropsSilentlyAndMoreThanARingfulMovesOverTicks) {
  Bus bus;
  CaptureStdout();
  bus.post(0, 70);
  EXPECT_EQ(GetCapturedStdout(), "");
  app_controlin(&bus.app, 12.5);
  EXPECT_EQ(bus.app.control_ms, 12.5);
  expect_numbers(bus.r.got, 0, 64);

  // A larger producer: 150 waiting events move 64 per tick, none lost.
  lf_ringbuffer_destroy(bus.producer(0));
  lf_ringbuffer_make(bus.producer(0), 32, 200);
  bus.post(0, 150);
  bus.r.got.clear();
  for (size_t moved : {64u, 128u, 150u}) {
    app_controlin(&bus.app, 1);
    EXPECT_EQ(bus.r.got.size(), moved);
  }
  expect_numbers(bus.r.got, 0, 150);
}

TEST(Bus, FullConsumerDropsWithTheWarningNamingIt) {
  Bus bus;
  bus.post(0, 64);
  for (int32_t i = 0; i < 64; ++i) {
    int32_t display[6] = {1000 + i, 0, 1, 65, 4, 65};
    control_event_handler(&bus.app, display, 6);
  }
  CaptureStdout();
  app_controlin(&bus.app, 0);
  EXPECT_EQ(GetCapturedStdout(),
            "WARNING: one output is running too slow (0) (must write: 64, written: 0)\n");
  expect_numbers(bus.r.got, 0, 64);  // the display events were lost
}

// A tick moves the events unless another thread holds the bus, and steps
// the handler either way; what the handler leaves unread is gone at the next
// tick; a handler that quits with unread events ends the tick.
TEST(Bus, TickMovesStepsAndForgetsWhatWasNotRead) {
  Bus bus;
  bus.r.budget = 1;
  bus.post(5, 3);
  bus.app.bus_lock.store(0);
  app_controlin(&bus.app, 3.0);
  EXPECT_EQ(bus.r.steps, 1);
  EXPECT_TRUE(bus.r.got.empty());
  bus.app.bus_lock.store(1);
  app_controlin(&bus.app, 4.0);
  expect_numbers(bus.r.got, 5, 1);
  double t = 0;
  EXPECT_EQ(event_has_next(&bus.app, &t), 0);
  EXPECT_EQ(t, 4.0);
  bus.post(9, 1);
  bus.r.budget = 0;
  bus.r.quit_in_step = true;
  app_controlin(&bus.app, 5.0);
  EXPECT_EQ(app_has_stream(&bus.app, APP_STREAM_CONTROL_IN), 0);
  EXPECT_EQ(bus.r.steps, 3);
}

TEST(Bus, ShortDisplayEventTakesAWholeZeroPaddedSlot) {
  Bus bus;
  Event stale = numbered(-1);  // leaves garbage where the next event goes
  app_bus_post(&bus.app, bus.app.display_events_ring, &stale);
  lf_ringbuffer_read(bus.producer(1), nullptr, 32);
  const int32_t key[6] = {948590299, 0, 1, 97, 4, 97};
  control_event_handler(&bus.app, key, 6);
  EXPECT_EQ(lf_ringbuffer_used(bus.producer(1)), 32);
  int32_t twelve[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  control_event_handler(&bus.app, twelve, 12);  // cut to 32 bytes
  app_controlin(&bus.app, 0);
  ASSERT_EQ(bus.r.got.size(), 2u);
  EXPECT_EQ(std::vector<int32_t>(bus.r.got[0].words, bus.r.got[0].words + 8),
            (std::vector<int32_t>{948590299, 0, 1, 97, 4, 97, 0, 0}));
  EXPECT_EQ(memcmp(bus.r.got[1].words, twelve, 32), 0);
}

TEST(Bus, NothingFlowsWithoutTheControlStream) {
  Bus bus;
  bus.app.config.streams = APP_STREAM_AUDIO;
  bus.post(1, 1);
  EXPECT_EQ(lf_ringbuffer_used(bus.producer(0)), 0);
}

// The rings hold exactly their events across the wrap of either index.
TEST(Bus, ConcurrentProducerLosesNothingThatFitsAndNeverTears) {
  Bus bus;
  // Start near the wrap so that both indices cross 2^31 during the run.
  bus.producer(0)->read.store(kWrap - 4096);
  bus.producer(0)->write.store(kWrap - 4095);
  bus.consumer()->read.store(kWrap - 64000);
  bus.consumer()->write.store(kWrap - 63999);
  std::atomic<bool> done{false};
  std::atomic<int32_t> sent{0};
  std::thread producer([&] {
    double end = get_milliseconds() + 2500;
    int32_t n = 0;
    while (get_milliseconds() < end) {
      Event e = numbered(n);
      if (lf_ringbuffer_write(bus.producer(0), &e, 32)) {
        ++n;
        if (n % 16 == 0) std::this_thread::yield();
      } else {
        std::this_thread::yield();
      }
    }
    sent.store(n);
    done.store(true);
  });
  while (!done.load()) {
    app_controlin(&bus.app, 0);
    inthread_sleep(0.5);
  }
  producer.join();
  app_controlin(&bus.app, 0);
  ASSERT_GT(sent.load(), 1000);
  expect_numbers(bus.r.got, 0, sent.load());
  EXPECT_LT(bus.producer(0)->write.load(), kWrap - 4095);  // wrapped
  EXPECT_LT(bus.consumer()->write.load(), kWrap - 63999);
}

// The MIDI-in callback walks at most APP_MIDI_IN_BYTES of a packet; what it
// could not hand on is counted there and reported once, later, by the
// background thread's call.
TEST(Bus, MidiInDecodesABoundedPacketAndReportsWhatItCouldNotHandOnOnce) {
  Bus bus;
  std::vector<uint8_t> packet = midi_flood_packet(30000, 1);
  CaptureStdout();
  app_midi_report(&bus.app);  // nothing counted yet
  app_midifn(&bus.app, packet.data());
  EXPECT_EQ(GetCapturedStdout(), "");
  app_controlin(&bus.app, 0);
  ASSERT_EQ(bus.r.got.size(), 64u);
  EXPECT_EQ(bus.r.got[63].words[5], 63);  // note numbers in order
  CaptureStdout();
  app_midi_report(&bus.app);
  app_midi_report(&bus.app);
  // 4096 bytes hold 1365 whole messages: 64 went on the bus.
  EXPECT_EQ(GetCapturedStdout(),
            "WARNING: MIDI in: 1 packet(s) longer than 4096 bytes, 25904 byte(s) beyond not decoded; "
            "1301 event(s) dropped on a full control bus. Reported once.\n");
}
