#include "arch/opengl/display.h"

#include <GL/glew.h>
#include <GL/freeglut.h>
#include <X11/Xlib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/app_steps.h"
#include "app/perf.h"
#include "arch/opengl/capture.h"
#include "io/avstream.h"

display_io_handle* glut_io;
int glut_must_initialize_p = 1;
int glew_must_initialize_p = 1;

namespace {

display_device* devices[DISPLAY_MAX_DEVICES + 1];
int next_device;

void register_device(int offline) {
  if (next_device >= DISPLAY_MAX_DEVICES) return;
  auto* device = static_cast<display_device*>(calloc(1, sizeof(display_device)));
  if (device == nullptr) return;
  device->offline = offline ? 1 : 0;
  device->fullscreen_capable = offline ? 0 : 1;
  device->screen_width = glutGet(GLUT_SCREEN_WIDTH);
  device->screen_height = glutGet(GLUT_SCREEN_HEIGHT);
  device->available = 1;
  display_input_init(device->slots);
  devices[next_device++] = device;
}

int is_registered(const display_device* device) {
  for (int i = 0; i < next_device; ++i)
    if (devices[i] == device) return 1;
  return 0;
}

// freeglut ends the process itself when no display can be opened; say why
// and how to run without a screen instead.
Display* require_x_display() {
  Display* display = XOpenDisplay(nullptr);
  if (display != nullptr) return display;
  const char* name = getenv("DISPLAY");
  printf(
      "ERROR: no X display could be opened (DISPLAY is %s%s%s); to run without a screen, "
      "start the program under a virtual X server, for example: "
      "xvfb-run -a -s \"-screen 0 1920x1080x24\" PROGRAM [ARGUMENTS]\n",
      name ? "\"" : "", name ? name : "not set", name ? "\"" : "");
  app_exit(1);
}

void initialize_glut() {
  // Held open across glutInit: a server left without clients resets, and
  // refuses connections while it does.
  Display* probe = require_x_display();
  static char title[] = "title";
  static char* argv[] = {title, nullptr};
  int argc = 1;
  glutInit(&argc, argv);
  // Registered after glutInit, so it runs before freeglut's own clean-up.
  atexit(display_note_process_exit);
  XCloseDisplay(probe);
  // Closing the window from the window manager goes through my_exit.
  glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_CONTINUE_EXECUTION);
  glut_must_initialize_p = 0;
}

double device_base_telltime(void* arg) {
  auto* io = static_cast<display_io*>(arg);
  return io->frames[io->current].shown_at;
}

}  // namespace

int display_device_count() { return next_device; }
display_device* display_device_get(int index) {
  return index >= 0 && index < next_device ? devices[index] : nullptr;
}

void display_io_make(display_io_handle* handle) {
  if (glut_must_initialize_p) initialize_glut();
  register_device(0);
  register_device(1);
  auto* io = static_cast<display_io*>(calloc(1, sizeof(display_io)));
  if (io != nullptr) {
    io->period = 1000.0 / 30.0;
    display_stats_reset(&io->stats);
  }
  handle->title = "";
  handle->io = io;
}

void display_io_define(display_io_handle* handle, display_device*** list) {
  display_io* io = handle->io;
  *list = nullptr;
  if (io == nullptr) return;
  free(io->define_list);
  io->define_list = static_cast<display_device**>(calloc(next_device + 1, sizeof(display_device*)));
  if (io->define_list == nullptr) return;
  int n = 0;
  for (int i = 0; i < next_device; ++i) {
    if (devices[i]->available && devices[i]->io == nullptr) {
      devices[i]->io = io;
      io->define_list[n++] = devices[i];
    }
  }
  *list = io->define_list;
}

void display_io_commit(display_io_handle* handle, display_device* device) {
  display_io* io = handle->io;
  if (io == nullptr) return;
  for (int i = 0; i < next_device; ++i)
    if (devices[i] != device && devices[i]->io == io) devices[i]->io = nullptr;
  if (device != nullptr && is_registered(device)) {
    device->io = io;
    device->available = 0;
    frame_make(&io->frames[0], io->presentation_offset, &io->stats, &io->hooks);
    frame_make(&io->frames[1], io->presentation_offset, &io->stats, &io->hooks);
    io->device = device;
    io->frames[1].start = io->frames[0].start;
  }
  free(io->define_list);
  io->define_list = nullptr;
}

int display_device_is_realtime(const display_device* device) { return device->offline == 0; }

int display_device_bpp(const display_device* device) {
  return device->io != nullptr && device->io->red_bits == 5 ? 16 : 32;
}

void display_device_resolution_in_px(const display_device* device, int32_t size[2]) {
  size[0] = device->io != nullptr ? device->io->view_width : 0;
  size[1] = device->io != nullptr ? device->io->view_height : 0;
}

float display_device_pixel_ratio(const display_device* device) {
  int32_t size[2];
  display_device_resolution_in_px(device, size);
  return static_cast<float>(size[0]) / static_cast<float>(size[1]);
}

void display_aspect_reduce(int32_t width, int32_t height, int32_t* numerator, int32_t* denominator) {
  const int32_t candidates[3] = {3, 9, 10};
  for (int32_t d : candidates) {
    float q = static_cast<float>(d) * static_cast<float>(width) / static_cast<float>(height);
    int32_t n = static_cast<int32_t>(q);
    if (std::fabs(q - static_cast<float>(n)) < 1e-6f) {
      *numerator = n;
      *denominator = d;
      return;
    }
  }
  *numerator = width;
  *denominator = height;
}

int32_t display_device_set_aspect_ratio(display_device* device, int32_t width, int32_t height) {
  int32_t n = width, d = height;
  if (height != 0) display_aspect_reduce(width, height, &n, &d);
  if (device->io != nullptr) {
    device->io->aspect_numerator = n;
    device->io->aspect_denominator = d;
  }
  return n;
}

void display_device_prefer_fullscreen(display_device* device, int flag) {
  device->fullscreen_wanted = (flag && device->fullscreen_capable) ? 1 : 0;
}

void display_device_attach(display_device* device, display_fn display, display_context_fn attach,
                           display_context_fn detach, void* user) {
  display_io* io = device->io;
  if (io == nullptr) return;
  io->display = display;
  io->attach = attach;
  io->detach = detach;
  io->user = user;
}

int display_device_command(display_device* device, const char* name, const char* value) {
  if (strcmp(name, "stream_name") == 0) {
    display_io* io = device->io;
    if (io != nullptr && value != nullptr)
      io->channel = avstream_add_channel(value, device_base_telltime, io);
    return 1;
  }
  if (strcmp(name, "set-file") == 0 && device->offline && !device->file_prefix.failed) {
    device->file_prefix.size = 0;
    if (value != nullptr && value[0] != '\0')
      array_append(&device->file_prefix, value, static_cast<int32_t>(strlen(value) + 1));
  }
  return 0;
}

display_device* display_context_get_device(const display_context* context) {
  return context != nullptr ? context->device : nullptr;
}

display_view display_fit_view(int32_t numerator, int32_t denominator, int32_t screen_width,
                              int32_t screen_height) {
  display_view view{};
  int32_t width = numerator != 0 && denominator != 0 ? numerator * 720 / denominator : 1280;
  display_aspect_reduce(width, 720, &view.numerator, &view.denominator);
  int32_t height = 720;
  while ((width >= screen_width || height >= screen_height) && height > 0) {
    width = static_cast<int32_t>(width * 0.7071067811865475);
    height = static_cast<int32_t>(height * 0.7071067811865475);
  }
  view.height = height;
  view.width = height * view.numerator / view.denominator;
  return view;
}

void display_viewport_for(int game_mode, int32_t width, int32_t height, int32_t numerator,
                          int32_t denominator, int32_t viewport[4]) {
  int32_t w = width, h = height;
  if (game_mode && numerator > 0 && denominator > 0) {
    h = width * denominator / numerator;
    if (height < h) {
      w = height * numerator / denominator;
      h = height;
    }
  }
  viewport[0] = game_mode ? (width - w) / 2 : 0;
  viewport[1] = game_mode ? (height - h) / 2 : 0;
  viewport[2] = w;
  viewport[3] = h;
}

void display_io_open(display_io_handle* handle) {
  display_io* io = handle->io;
  display_device* device = io->device;
  int32_t screen_width = glutGet(GLUT_SCREEN_WIDTH);
  int32_t screen_height = glutGet(GLUT_SCREEN_HEIGHT);
  glut_io = handle;
  display_view view =
      display_fit_view(io->aspect_numerator, io->aspect_denominator, screen_width, screen_height);
  io->view_width = view.width;
  io->view_height = view.height;
  io->aspect_numerator = view.numerator;
  io->aspect_denominator = view.denominator;
  if (device->offline) {
    free(device->capture.pixels);
    device->capture = image{IMAGE_KIND_U8, calloc(static_cast<size_t>(view.width) * view.height, 4),
                            view.width, view.height, 1, 4, view.width, 1, 1};
  }

  glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH | GLUT_MULTISAMPLE);
  glutInitWindowPosition(100, 100);
  glutInitWindowSize(view.width, view.height);
  display_choose_game_mode(view.width, view.height, screen_width, screen_height);
  glut_make_window(handle, static_cast<int>(device->fullscreen_wanted));

  if (device->offline) io->presentation_offset = 0.0;
  else if (glutGet(GLUT_WINDOW_DOUBLEBUFFER)) io->presentation_offset += io->period;
  if (io->channel != nullptr) avstream_start(io->channel, static_cast<int>(device->offline));
}

void display_io_teardown(display_io_handle* handle) {
  display_io* io = handle->io;
  glut_io = nullptr;
  if (io == nullptr) return;
  display_device* device = io->device;
  if (device != nullptr) {
    capture_flush();
    array_reset(&device->file_prefix);
    free(device->capture.pixels);
    device->capture = image{};
    for (input_slot& slot : device->slots) {
      slot.id = 0;
      array_reset(&slot.handlers);
    }
  }
  int32_t n = array_count(&io->hooks, sizeof(frame_hook));
  for (int32_t i = 0; i < n; ++i) {
    auto* hook = static_cast<frame_hook*>(array_element(&io->hooks, sizeof(frame_hook), i));
    if (hook->active && hook->instance != nullptr && hook->free != nullptr) hook->free(hook->instance);
  }
  array_reset(&io->hooks);
  display_context* context = io->frames[0].context;
  if (io->frames[1].context != context) free(io->frames[1].context);
  free(context);
  frame_delete(&io->frames[0]);
  frame_delete(&io->frames[1]);
  if (io->channel != nullptr) avstream_destroy(io->channel);
  free(io->define_list);
  free(io);
  handle->io = nullptr;
}

void display_io_finish(display_io_handle* handle) {
  if (handle->io == nullptr || handle->io->device == nullptr) return;
  display_io_open(handle);
  glutMainLoop();
  display_io_teardown(handle);
}

void display_io_stop() { app_exit(0); }

void my_exit() {
  perf_log("quit\n");
  app_exit(0);
}
