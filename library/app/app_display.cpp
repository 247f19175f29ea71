// Display output glue of the main sequence: makes the display I/O, chooses
// and configures its device, and runs the window; the display callbacks turn
// frames and context changes into handler calls for stream 8.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <zeal/app/app.h>
#include <zeal/app/app_steps.h>
#include <zeal/app/bus.h>
#include <zeal/app/record.h>
#include <zeal/arch/opengl/display.h>
#include <zeal/base/log.h>
#include <zeal/io/avstream.h>

namespace {

void app_display(void* user, display_frame* frame) {
  auto* app = static_cast<App*>(user);
  if (!app_has_stream(app, APP_STREAM_DISPLAY)) {
    display_frame_commit_none(frame);
    return;
  }
  app->display_frame = frame;
  double t = display_frame_in_ms(frame);
  if (app->replay != nullptr) app_replay_frame(app, t);
  if (app->recorder != nullptr) app_recorder_reached(app->recorder, t);
  // Without audio the display frames drive the control tick.
  if (!app_has_stream(app, APP_STREAM_AUDIO) && app_has_stream(app, APP_STREAM_CONTROL_IN))
    app_controlin(app, t);
  if (app->handler(APP_STREAM_DISPLAY, APP_STEP, app) == APP_END) app_quit(app, APP_STREAM_DISPLAY);
  app->display_frame = nullptr;
}

int32_t context_changed(void* user, display_context* context, uint32_t phase) {
  auto* app = static_cast<App*>(user);
  if (!app_has_stream(app, APP_STREAM_DISPLAY)) return 0;
  app->display_context = context;
  int32_t answer = app->handler(APP_STREAM_DISPLAY, phase, app);
  if (answer == APP_END) return app_quit(app, APP_STREAM_DISPLAY);
  return answer - 1;
}

int32_t app_display_attach(void* user, display_context* context) {
  return context_changed(user, context, APP_BEGIN);
}

int32_t app_display_detach(void* user, display_context* context) {
  return context_changed(user, context, APP_END);
}


// How the display draws: a render with no X display (or asked to) draws
// through EGL, with no window system; everything else in a window.
int choose_gl(const App* app, display_io_handle* handle) {
  handle->gl = DISPLAY_GL_WINDOW;
  handle->gl_device = app->gl_device;
  if (!app->config.diskwriter || app->gl == APP_GL_GLX) return 1;
  const char* chosen = getenv("ZEAL_GL_DEVICE");
  if (handle->gl_device < 0 && chosen != nullptr && chosen[0] != '\0') {
    char* end = nullptr;
    long n = strtol(chosen, &end, 10);
    if (*end != '\0' || n < 0 || n > INT32_MAX || chosen[0] < '0' || chosen[0] > '9') {
      log_error("ZEAL_GL_DEVICE is \"%s\", not an EGL device number (0, 1, ...)", chosen);
      return 0;
    }
    handle->gl_device = static_cast<int32_t>(n);
  }
  const char* x = getenv("DISPLAY");
  if (app->gl == APP_GL_EGL || handle->gl_device >= 0 || x == nullptr || x[0] == '\0')
    handle->gl = DISPLAY_GL_EGL;
  return 1;
}

}  // namespace

double app_display_now(const App* app) {
  const display_io* io = app->display_io != nullptr ? app->display_io->io : nullptr;
  if (io == nullptr || io->channel == nullptr || !avstream_is_rolling(io->channel)) return 0.0;
  // A frame begun now would carry this time.
  return avstream_time(io->channel) + io->presentation_offset;
}

int app_display_make(App* app) {
  auto* handle = new display_io_handle{};
  if (!choose_gl(app, handle)) {
    delete handle;
    return 0;
  }
  display_io_make(handle);
  if (handle->io == nullptr) {
    delete handle;
    return 0;
  }
  display_io_watch(handle, &app->stop);
  app->display_io = handle;
  return 1;
}

void app_display_setup(App* app) {
  display_io_handle* handle = app->display_io;
  display_device** list = nullptr;
  display_io_define(handle, &list);
  display_device* chosen = nullptr;
  for (int i = 0; list != nullptr && list[i] != nullptr; ++i) {
    if (display_device_is_realtime(list[i]) != (app->config.diskwriter != 0)) {
      chosen = list[i];
      break;
    }
  }
  if (chosen == nullptr) {
    display_io_commit(handle, nullptr);
    app->config.streams &= ~static_cast<int32_t>(APP_STREAM_DISPLAY);
    return;
  }
  if (app->config.diskwriter && app->config.diskwriter_path != nullptr)
    display_device_command(chosen, "set-file", app_render_stem(app).c_str());
  if (app->config.draft) display_device_prefer_draft(chosen, 1);
  display_device_attach(chosen, app_display, app_display_attach, app_display_detach, app);
  display_device_set_aspect_ratio(chosen, app->config.aspect_ratio[0], app->config.aspect_ratio[1]);
  display_device_command(chosen, "stream_name", app->config.name);
  if (app->config.fullscreen) display_device_prefer_fullscreen(chosen, 1);
  app->display = chosen;
}

void app_display_run(App* app) {
  display_io_commit(app->display_io, app->display);
  display_io_finish(app->display_io);
}

void app_display_finish(App* app) {
  if (app->display_io == nullptr) return;
  display_io_teardown(app->display_io);
  if (app->display_io->frames_kept > 0) app->range_unreached = 0;
  delete app->display_io;
  app->display_io = nullptr;
  app->display = nullptr;
}
