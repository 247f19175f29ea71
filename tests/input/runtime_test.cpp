#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "app/app_input.h"
#include "app/bus.h"
#include "common/run_app.h"
#include "io/avstream.h"
#include "io/midi.h"
#include "midi_peer.h"

namespace {

// --- Control input alone: the tick runs on its own thread. ---

pthread_t main_thread;
int ticks, off_main = 1, thread_running, has_channel;
double first_wall, first_clock, wall_per_tick, clock_per_tick;

// Measures 100 tick periods once the clock rolls (its time is 0 until then).
int32_t control_only(uint32_t stream, uint32_t phase, App* app) {
  if (stream == APP_STREAM_APP) main_thread = pthread_self();
  if (stream != APP_STREAM_CONTROL_IN || phase != APP_STEP) return APP_STEP;
  off_main &= !pthread_equal(pthread_self(), main_thread);
  if (control_in_ms(app) == 0.0) return APP_STEP;
  if (ticks++ == 0) first_wall = get_milliseconds(), first_clock = control_in_ms(app);
  if (ticks <= 100) return APP_STEP;
  wall_per_tick = (get_milliseconds() - first_wall) / 100;
  clock_per_tick = (control_in_ms(app) - first_clock) / 100;
  thread_running = app->control_thread_running;
  has_channel = app->control_channel != nullptr;
  return APP_END;
}

int32_t midi_streams[3];
int32_t report_streams(uint32_t stream, uint32_t phase, App* app) {
  if (stream != APP_STREAM_CONTROL_IN || phase != APP_STEP) return APP_STEP;
  midi_streams[0] = app->config.streams.load();
  midi_streams[1] = app->midi_in != nullptr;
  midi_streams[2] = app->midi_out != nullptr;
  return APP_END;
}

}  // namespace

// The thread sleeps its 5 ms between ticks (how much longer a tick takes
// depends on the machine's load), and the tick's time comes from the
// control channel, which follows the wall clock.
TEST(Runtime, ControlInputAloneTicksOnItsOwnThreadEveryFiveMillisecondsOrMore) {
  std::string out;
  EXPECT_EQ(run_app({"input-test"}, APP_STREAM_CONTROL_IN, control_only, &out), 0) << out;
  EXPECT_GE(wall_per_tick, 5.0);
  EXPECT_NEAR(clock_per_tick, wall_per_tick, 0.5);
  EXPECT_EQ((std::vector<int>{off_main, thread_running, has_channel}), (std::vector<int>{1, 1, 1}));
}

TEST(Runtime, WithoutAMidiServiceBothMidiStreamsAreDropped) {
  setenv("ZEAL_MIDI_API", "none", 1);
  std::string out;
  int status = run_app({"input-test"}, APP_STREAM_CONTROL_IN | APP_STREAM_MIDI_IN | APP_STREAM_MIDI_OUT,
                       report_streams, &out);
  unsetenv("ZEAL_MIDI_API");
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ((std::vector<int32_t>(midi_streams, midi_streams + 3)), (std::vector<int32_t>{APP_STREAM_CONTROL_IN, 0, 0}));
}

namespace {

// --- End to end: a piece that echoes what it hears and sends clock ticks. ---

std::atomic<int> quitting{0};
std::atomic<int> heard{0};  // ticks start once the peer is known to listen
int64_t midi_out_steps;

void send_and_report(App* app, const midi_event& event, double t_ms) {
  midi_event_list* list = midi_event_list_new();
  midi_event_list_add_at(list, &event, t_ms);
  const uint8_t* packet = list->buffer + 4;
  for (int32_t i = 0; i < midi_packet_list_count(list->buffer); ++i) {
    printf("sent");
    for (int32_t b = 0; b < midi_packet_length(packet); ++b) printf(" %d", midi_packet_data(packet)[b]);
    printf(" @ %llu\n", static_cast<unsigned long long>(midi_packet_stamp(packet)));
    packet = midi_packet_next(packet);
  }
  midi_device_out(app->midi_out, list);
  midi_event_list_destroy(list);
}

int32_t echo(uint32_t stream, uint32_t phase, App* app) {
  if (phase != APP_STEP) return APP_STEP;
  if (stream == APP_STREAM_CONTROL_IN) {
    midi_event e;
    while (event_has_next(app, nullptr)) {
      event_get_next(app, &e);
      printf("got %d %d %d %d %d %d\n", e.kind, e.channel, e.first_tag, e.first, e.second_tag, e.second);
      if (e.kind != MIDI_KIND_CHANNEL) continue;
      if (e.first_tag == MIDI_TAG_CONTROLLER && e.first == 127) quitting.store(1);
      else send_and_report(app, e, 30.0);
    }
  } else if (stream == APP_STREAM_MIDI_IN) {
    const uint8_t* p = app->midi_packet;
    heard.store(1);
    printf("packet %d %d\n", midi_packet_length(p), midi_packet_stamp(p) <= midi_host_time());
  } else if (stream == APP_STREAM_MIDI_OUT && heard.load() && ++midi_out_steps % 364 == 0) {
    midi_event tick;
    midiclock_tick(&tick);
    send_and_report(app, tick, 5.0);
  }
  return quitting.load() ? APP_END : APP_STEP;
}

using Bytes = std::vector<uint8_t>;

struct Sent {
  Bytes bytes;
  uint64_t stamp;
};

std::vector<Sent> parse_sent(const std::string& out) {
  std::vector<Sent> sent;
  for (auto& line : lines_starting(out, "sent")) {
    std::istringstream in(line);
    Sent s{};
    std::string word;
    while (in >> word && word != "@") s.bytes.push_back(static_cast<uint8_t>(std::stoi(word)));
    in >> s.stamp;
    sent.push_back(s);
  }
  return sent;
}

}  // namespace

TEST(Runtime, EchoesNotesAndSendsClockTicksThroughRealPorts) {
  if (!jack_reachable()) GTEST_SKIP() << "no JACK server";
  JackTurn turn;
  setenv("ZEAL_MIDI_API", "jack", 1);
  std::vector<PeerMessage> got;
  bool connected = false;
  std::thread other_program([&] {
    MidiPeer peer;
    connected = peer.connect(5000);
    if (!connected) return quitting.store(1);
    inthread_sleep(200);
    for (const std::vector<uint8_t>& m : {Bytes{0x90, 60, 100}, {0xB3, 7, 99}, {0x80, 60, 64}, {0x90, 61, 0}}) {
      peer.send(m);
      inthread_sleep(10);
    }
    for (int i = 0; i < 500; ++i) {
      got = peer.wait_for(0, 0);
      int notes = 0, ticks = 0;
      for (auto& m : got) (m.bytes == Bytes{0xF8} ? ticks : notes) += 1;
      if (notes >= 4 && ticks >= 3) break;
      inthread_sleep(10);
    }
    peer.send({0xBF, 127, 0});
    inthread_sleep(100);
  });
  std::string out;
  int status = run_app({"input-test"}, APP_STREAM_CONTROL_IN | APP_STREAM_MIDI_IN | APP_STREAM_MIDI_OUT, echo, &out);
  other_program.join();
  unsetenv("ZEAL_MIDI_API");
  ASSERT_TRUE(connected);
  EXPECT_EQ(status, 0) << out;

  // The control stream saw the right records.
  EXPECT_EQ(lines_starting(out, "got"), (std::vector<std::string>{"2 0 5 60 6 100", "2 3 3 7 4 99", "2 0 7 60 0 0",
                                                                   "2 0 7 61 0 0", "2 15 3 127 4 0"}));
  EXPECT_EQ(lines_starting(out, "packet"), std::vector<std::string>(5, "3 1"));

  // What the peer heard: the echoes in order, among clock ticks, each no
  // earlier than its stamp, all in stamp order.
  std::vector<Bytes> echoes;
  for (auto& m : got)
    if (m.bytes != Bytes{0xF8}) echoes.push_back(m.bytes);
  EXPECT_EQ(echoes, (std::vector<Bytes>{{0x90, 60, 100}, {0xB3, 7, 99}, {0x80, 60, 0}, {0x80, 61, 0}}));
  EXPECT_GE(got.size() - echoes.size(), 3u);
  std::vector<Sent> sent = parse_sent(out);
  std::map<Bytes, size_t> seen;
  uint64_t last_stamp = 0;
  for (auto& m : got) {
    size_t k = seen[m.bytes]++;
    const Sent* match = nullptr;
    for (auto& s : sent)
      if (s.bytes == m.bytes && k-- == 0) {
        match = &s;
        break;
      }
    ASSERT_NE(match, nullptr);
    EXPECT_GE(m.at, match->stamp);
    EXPECT_GE(match->stamp, last_stamp);
    last_stamp = match->stamp;
  }
}

namespace {

// --- The MIDI-out thread on its own, without a MIDI service. ---

std::string midi_calls;
uint64_t ticks_at_end;

int32_t note_midi(uint32_t stream, uint32_t phase, App* app) {
  midi_calls += std::to_string(stream) + ":" + std::to_string(phase) + " ";
  // A slow begin leaves the thread ticks to catch up; the first step ends it.
  if (stream == APP_STREAM_MIDI_OUT && phase == APP_BEGIN) inthread_sleep(5.0);
  if (stream == APP_STREAM_MIDI_OUT && phase == APP_STEP) {
    ticks_at_end = app->midi_out_ticks;
    return APP_END;
  }
  return APP_STEP;
}

}  // namespace

TEST(Runtime, MidiOutThreadStopsCallingOnceItsStreamEnds) {
  App app{};
  app.config.name = "midi-out-test";
  app.config.streams = APP_STREAM_MIDI_OUT | APP_STREAM_AUDIO;
  app.handler = note_midi;
  midi_calls.clear();
  midiout_thread(&app);
  EXPECT_EQ(midi_calls, "32:0 32:2 32:1 ");
  // Ticks run unseen until the clock rolls; the catch-up stops with the stream.
  EXPECT_GE(app.midi_out_ticks, ticks_at_end + 1);
  EXPECT_LT(app.midi_out_ticks, ticks_at_end + 15);
  EXPECT_DOUBLE_EQ(midiout_telltime(&app), app.midi_out_ms - 500.0);
  avstream_destroy(app.midi_out_channel);
}
