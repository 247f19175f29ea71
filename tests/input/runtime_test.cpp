#include <gtest/gtest.h>
#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <zeal/app/app.h>
#include <zeal/app/app_input.h>
#include <zeal/app/bus.h>
#include "common/run_app.h"
#include <zeal/io/avstream.h>
#include <zeal/io/midi.h>

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
