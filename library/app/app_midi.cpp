// MIDI glue of the main sequence: the devices, the MIDI-in callback and the
// MIDI-out thread.
#include <cstdio>

#include <zeal/app/app.h>
#include <zeal/app/app_input.h>
#include <zeal/app/app_steps.h>
#include <zeal/app/bus.h>
#include <zeal/base/log.h>
#include <zeal/io/avstream.h>
#include <zeal/io/midi.h>
#include <zeal/io/midi_decode.h>

namespace {

constexpr double kTickMs = 1000.0 / 3640.0;

}  // namespace

void app_midifn(void* arg, const uint8_t* packet) {
  auto* app = static_cast<App*>(arg);
  if (app_has_stream(app, APP_STREAM_CONTROL_IN)) {
    // This runs in the platform's real-time callback: one pass over at most
    // APP_MIDI_IN_BYTES, what is left only counted.
    midi_event_cursor cursor = midi_event_cursor_make(packet, APP_MIDI_IN_BYTES);
    midi_event event;
    uint64_t dropped = 0;
    while (midi_event_next(&cursor, &event))
      dropped += !app_bus_post(app, app->midi_in_ring, &event);
    int32_t beyond = packet != nullptr ? midi_packet_length(packet) - APP_MIDI_IN_BYTES : 0;
    if (beyond > 0) {
      app->midi_in_cut_packets.fetch_add(1, std::memory_order_relaxed);
      app->midi_in_cut_bytes.fetch_add(static_cast<uint64_t>(beyond), std::memory_order_relaxed);
    }
    if (dropped > 0) app->midi_in_dropped_events.fetch_add(dropped, std::memory_order_relaxed);
  }
  if (app_has_stream(app, APP_STREAM_MIDI_IN)) {
    app->midi_packet = packet;
    app_two_call_step(app, APP_STREAM_MIDI_IN);
    app->midi_packet = nullptr;
  }
}

void app_midi_report(App* app) {
  if (app->midi_in_reported) return;
  uint64_t packets = app->midi_in_cut_packets.load(std::memory_order_relaxed);
  uint64_t bytes = app->midi_in_cut_bytes.load(std::memory_order_relaxed);
  uint64_t dropped = app->midi_in_dropped_events.load(std::memory_order_relaxed);
  if (packets == 0 && dropped == 0) return;
  app->midi_in_reported = 1;
  log_warning("MIDI in: %llu packet(s) longer than %d bytes, %llu byte(s) beyond not decoded; "
              "%llu event(s) dropped on a full control bus. Reported once.",
              static_cast<unsigned long long>(packets), APP_MIDI_IN_BYTES,
              static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(dropped));
  fflush(stdout);
}

double midiout_telltime(void* arg) {
  auto* app = static_cast<App*>(arg);
  return app->midi_out_ms - 500.0;
}

void* midiout_thread(void* arg) {
  auto* app = static_cast<App*>(arg);
  // A render holds its outputs in lock step on the rendered clock; MIDI out
  // goes to live software on the wall clock, and in that lock step it would
  // hold the render to a crawl. It keeps a clock of its own then.
  int own_clock = app->config.diskwriter != 0;
  avstream_channel* channel = avstream_add_channel(own_clock ? "MIDI_OUT" : app->config.name, midiout_telltime, app);
  app->midi_out_channel = channel;
  if (channel != nullptr && (own_clock || !app_has_stream(app, APP_STREAM_DISPLAY))) avstream_start(channel, 0);
  double t0 = get_milliseconds();
  if (app->handler(APP_STREAM_MIDI_OUT, APP_BEGIN, app) == APP_END) app_quit(app, APP_STREAM_MIDI_OUT);
  while (app_has_stream(app, APP_STREAM_MIDI_OUT) && !stop_raised(&app->stop)) {
    double elapsed = get_milliseconds() - t0;
    // Catch up tick by tick after a late wake-up, but never call a handler
    // whose stream has just ended.
    while (elapsed > app->midi_out_ms && app_has_stream(app, APP_STREAM_MIDI_OUT)) {
      if (channel != nullptr && avstream_is_rolling(channel) &&
          app->handler(APP_STREAM_MIDI_OUT, APP_STEP, app) == APP_END) {
        app->handler(APP_STREAM_MIDI_OUT, APP_END, app);
        app_quit(app, APP_STREAM_MIDI_OUT);
      }
      double ms = app->midi_out_ms.load();
      if (channel != nullptr) avstream_channel_advance(channel, ms, ms + kTickMs);
      app->midi_out_ticks += 1;
      app->midi_out_ms.store(ms + kTickMs);
    }
    inthread_sleep(kTickMs);
  }
  return nullptr;
}

void app_midi_setup(App* app, uint32_t flags) {
  midi_io_make(&app->midi_client);
  midi_device* out = nullptr;
  midi_device* in = nullptr;
  if (flags & APP_STREAM_MIDI_OUT) {
    midi_io_define_device(app->midi_client, &out);
    midi_device_set_name(out, "tidepool:out");
    midi_device_enable_out(out);
  }
  // A replay's MIDI comes from its recording: no port is opened for it, and
  // the recorded events go through app_midifn at their control ticks.
  int replayed = app->replay != nullptr && (flags & APP_STREAM_MIDI_IN);
  if ((flags & APP_STREAM_MIDI_IN) && !replayed) {
    midi_io_define_device(app->midi_client, &in);
    midi_device_set_name(in, "tidepool:in");
    midi_device_in(in, app_midifn, app);
  }
  if (in == nullptr && !replayed) app->config.streams &= ~static_cast<int32_t>(APP_STREAM_MIDI_IN);
  if (out == nullptr) app->config.streams &= ~static_cast<int32_t>(APP_STREAM_MIDI_OUT);
  app->midi_in = in;
  app->midi_out = out;
}

void app_midi_commit(App* app) {
  if (app->midi_in == nullptr && app->midi_out == nullptr) return;
  midi_io_commit(app->midi_client);
  if (app->midi_out != nullptr) {
    app->midi_out_ms = 0;
    app->midi_out_ticks = 0;
    if (thread_start(&app->midi_out_thread, midiout_thread, app) != 0)
      log_error("cannot start the MIDI-out thread");
  }
}

void app_midi_finish(App* app) {
  // The thread ends with its stream or the stop; join it even if the stream already quit.
  if (app->midi_out_thread.record != nullptr) thread_waitfor(&app->midi_out_thread);
  if (app->midi_out_channel != nullptr) avstream_destroy(app->midi_out_channel);
  app->midi_out_channel = nullptr;
  if (app->midi_client != nullptr) midi_io_finish(&app->midi_client);
  app->midi_in = nullptr;
  app->midi_out = nullptr;
}
