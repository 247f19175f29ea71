#include "arch/opengl/display.h"

#include <GL/glew.h>
#include <GL/freeglut.h>
#include <X11/Xlib.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "arch/opengl/capture.h"
#include "arch/opengl/display_loop.h"
#include "arch/opengl/glut_state.h"
#include "base/perf.h"
#include "base/stop.h"
#include "base/thread.h"
#include "io/avstream.h"

namespace {

display_device* make_device(display_io* io, int offline) {
  auto* device = static_cast<display_device*>(calloc(1, sizeof(display_device)));
  if (device == nullptr) return nullptr;
  device->offline = offline ? 1 : 0;
  device->fullscreen_capable = offline ? 0 : 1;
  device->screen_width = glutGet(GLUT_SCREEN_WIDTH);
  device->screen_height = glutGet(GLUT_SCREEN_HEIGHT);
  device->available = 1;
  device->last_device_check = -1600.0;
  display_input_init(device->slots);
  (void)io;
  return device;
}

void free_device(display_device* device) {
  array_reset(&device->file_prefix);
  free(device->capture.pixels);
  for (input_slot& slot : device->slots) array_reset(&slot.handlers);
  free(device);
}

int is_own_device(const display_io* io, const display_device* device) {
  for (const display_device* d : io->devices)
    if (d != nullptr && d == device) return 1;
  return 0;
}

// On the clock's thread, while the display thread presents frames.
double device_base_telltime(void* arg) {
  auto* io = static_cast<display_io*>(arg);
  int32_t current = std::atomic_ref<int32_t>(io->current).load(std::memory_order_acquire);
  return std::atomic_ref<double>(io->frames[current].shown_at).load(std::memory_order_relaxed);
}

}  // namespace

void display_io_make(display_io_handle* handle) {
  handle->title = "";
  handle->io = nullptr;
  if (!glut_initialize()) return;
  auto* io = static_cast<display_io*>(calloc(1, sizeof(display_io)));
  if (io == nullptr) return;
  io->period = 1000.0 / 30.0;
  io->clock = get_milliseconds;
  io->geometry.report_at = -1.0;
  display_stats_reset(&io->stats);
  io->devices[0] = make_device(io, 0);
  io->devices[1] = make_device(io, 1);
  handle->io = io;
}

void display_io_watch(display_io_handle* handle, stop_request* stop) {
  if (handle->io != nullptr) handle->io->stop = stop;
}

void display_io_define(display_io_handle* handle, display_device*** list) {
  display_io* io = handle->io;
  *list = nullptr;
  if (io == nullptr) return;
  free(io->define_list);
  io->define_list = static_cast<display_device**>(calloc(3, sizeof(display_device*)));
  if (io->define_list == nullptr) return;
  int n = 0;
  for (display_device* device : io->devices) {
    if (device != nullptr && device->available && device->io == nullptr) {
      device->io = io;
      io->define_list[n++] = device;
    }
  }
  *list = io->define_list;
}

void display_io_commit(display_io_handle* handle, display_device* device) {
  display_io* io = handle->io;
  if (io == nullptr) return;
  for (display_device* d : io->devices)
    if (d != nullptr && d != device && d->io == io) d->io = nullptr;
  if (device != nullptr && is_own_device(io, device)) {
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

void display_device_prefer_draft(display_device* device, int flag) {
  device->draft = (flag && device->offline) ? 1 : 0;
}

void display_device_set_film(display_device* device, film* f) {
  if (device->offline) device->film = f;
}

display_view display_device_view(const display_device* device) {
  const display_io* io = device->io;
  display_view view = display_fit_view(io != nullptr ? io->aspect_numerator : 16,
                                       io != nullptr ? io->aspect_denominator : 9, device->screen_width,
                                       device->screen_height);
  if (device->draft) {
    view.width /= 2;
    view.height /= 2;
  }
  return view;
}

void display_io_set_range(display_io_handle* handle, int32_t from, int32_t to, void (*done)(void* user),
                          void* user) {
  display_io* io = handle->io;
  if (io == nullptr) return;
  io->range_from = from > 0 ? from : 0;
  io->range_to = to;
  io->range_done = done;
  io->range_user = user;
}

void display_io_report_progress(display_io_handle* handle, double total_ms) {
  display_io* io = handle->io;
  if (io == nullptr) return;
  io->report_progress = 1;
  progress_start(&io->progress, total_ms, io->period);
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
  glut_set_io(handle);
  device->screen_width = screen_width;
  device->screen_height = screen_height;
  display_view view = display_device_view(device);
  io->view_width = view.width;
  io->view_height = view.height;
  io->aspect_numerator = view.numerator;
  io->aspect_denominator = view.denominator;
  if (device->offline) {
    free(device->capture.pixels);
    device->capture = image{IMAGE_KIND_U8, calloc(static_cast<size_t>(view.width) * view.height, 4),
                            view.width, view.height, 1, 4, view.width, 1, 1};
    // Image files, unless the pictures go to a film alone.
    if (io->writer == nullptr && (device->film == nullptr || device->file_prefix.size > 0))
      io->writer = frame_writer_make(io->stop);
  }

  glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH | (device->draft ? 0 : GLUT_MULTISAMPLE));
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
  if (glut_io() == handle) glut_set_io(nullptr);
  if (io == nullptr) return;
  // Every frame handed to the writer is in its file before the io goes.
  frame_writer_destroy(io->writer);
  if (io->report_progress) progress_finish(&io->progress);
  int32_t n = array_count(&io->hooks, sizeof(frame_hook));
  for (int32_t i = 0; i < n; ++i) {
    auto* hook = static_cast<frame_hook*>(array_element(&io->hooks, sizeof(frame_hook), i));
    if (hook->active && hook->instance != nullptr && hook->free != nullptr) hook->free(hook->instance);
  }
  array_reset(&io->hooks);
  array_reset(&io->geometry.active);
  display_context* context = io->frames[0].context;
  if (io->frames[1].context != context) free(io->frames[1].context);
  free(context);
  frame_delete(&io->frames[0]);
  frame_delete(&io->frames[1]);
  if (io->channel != nullptr) avstream_destroy(io->channel);
  for (display_device* device : io->devices)
    if (device != nullptr) free_device(device);
  free(io->define_list);
  free(io);
  handle->io = nullptr;
}

void display_io_finish(display_io_handle* handle) {
  if (handle->io == nullptr) return;
  if (handle->io->device != nullptr) {
    display_io_open(handle);
    // GLUT's events and the display's frames until a stop; GLUT itself stays
    // up (its own main loop would take it down on return) for a later display.
    while (!handle->io->left) {
      glutMainLoopEvent();
      display_loop_step(handle);
    }
    glutMainLoopEvent();  // the window's destruction
  }
  display_io_teardown(handle);
}

void display_io_stop(display_io* io) {
  if (io != nullptr && io->stop != nullptr) stop_raise(io->stop, 0);
}

void my_exit(display_io* io) {
  perf_log("quit\n");
  display_io_stop(io);
}
