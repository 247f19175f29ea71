// What pieces and the output glue ask of the running app: its streams, their
// ending and two-call step, and the clocks' rates. Everything here reads or
// changes the app record only, so every other file of the runtime may call
// it without calling back up into the main sequence.
#include <cstdint>
#include <cstdlib>

#include <zeal/app/app.h>
#include <zeal/base/stop.h>

int app_stream_index(uint32_t bit) {
  int i = 0;
  while (bit > 1) {
    bit >>= 1;
    ++i;
  }
  return i;
}

int32_t app_has_stream(const App* app, uint32_t bit) {
  return static_cast<int32_t>(static_cast<uint32_t>(app->config.streams) & bit);
}

int32_t app_quit(App* app, uint32_t bit) {
  int i = app_stream_index(bit);
  int32_t before = app->config.streams.fetch_and(static_cast<int32_t>(~bit));
  int32_t left = before & static_cast<int32_t>(~bit);
  // Only the caller that actually ended the stream frees its state.
  if ((before & static_cast<int32_t>(bit)) != 0 && i < 6) {
    free(app->state[i]);
    app->state[i] = nullptr;
  }
  // MIDI input only answers packets from outside: once the streams that the
  // runtime drives have ended, the program ends with them.
  if ((left & ~static_cast<int32_t>(APP_STREAM_MIDI_IN)) == 0) stop_raise(&app->stop, 0);
  return left;
}

int32_t app_stopping(const App* app) { return stop_raised(&app->stop); }

double control_in_ms(const App* app) { return app->control_ms; }
double midi_out_ticks_per_s() { return 3640.0; }
double midi_out_latency_ms() { return 500.0; }

void app_two_call_step(App* app, uint32_t bit) {
  int i = app_stream_index(bit);
  int32_t first = app->started[i] ? static_cast<int32_t>(APP_STEP) : app->handler(bit, APP_BEGIN, app);
  int32_t second = app->handler(bit, static_cast<uint32_t>(first), app);
  if (second == APP_END && first != APP_END) app->handler(bit, APP_END, app);
  if (first == APP_BEGIN && second == APP_STEP) app->started[i] = 1;
  if (second == APP_END) app_quit(app, bit);
}

int app_wants_configurator(const App* app) { return !app->no_configurator; }
