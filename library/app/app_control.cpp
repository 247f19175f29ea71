// Control-input glue of the main sequence: the bus and, when no audio or
// display output drives the control tick, a thread of its own.
#include <cstdio>

#include <zeal/app/app.h>
#include <zeal/app/app_input.h>
#include <zeal/app/app_steps.h>
#include <zeal/app/bus.h>
#include <zeal/arch/opengl/input.h>
#include <zeal/base/log.h>
#include <zeal/io/avstream.h>

double time_now(void*) { return get_milliseconds(); }

void* controlin_thread(void* arg) {
  auto* app = static_cast<App*>(arg);
  while (app_has_stream(app, APP_STREAM_CONTROL_IN) && !stop_raised(&app->stop)) {
    app_controlin(app, avstream_time(app->control_channel));
    inthread_sleep(5.0);
  }
  return nullptr;
}

void app_control_setup(App* app, uint32_t) {
  if (app_has_stream(app, APP_STREAM_DISPLAY) && app->display != nullptr) {
    for (uint32_t id : {INPUT_JOYSTICK_ID, INPUT_MOUSE_ID, INPUT_KEYBOARD_ID})
      event_add_handler(app->display, id, control_event_handler, app);
  }
  app_bus_make(app);
}

void app_control_thread_start(App* app) {
  app->control_thread_running = 1;
  app->control_channel = avstream_add_channel("CONTROL_IN", time_now, nullptr);
  if (app->control_channel == nullptr) {
    log_error("cannot make the CONTROL_IN clock channel");
    app->control_thread_running = 0;
    return;
  }
  if (thread_start(&app->control_thread, controlin_thread, app) != 0) {
    log_error("cannot start the control-in thread");
    app->control_thread_running = 0;
    return;
  }
  if (!app_has_stream(app, APP_STREAM_MIDI_OUT)) avstream_start(app->control_channel, 0);
}

void app_control_finish(App* app) {
  if (app->control_thread_running) thread_waitfor(&app->control_thread);
  app->control_thread_running = 0;
  if (app->control_channel != nullptr) avstream_destroy(app->control_channel);
  app->control_channel = nullptr;
  app_bus_destroy(app);
}
