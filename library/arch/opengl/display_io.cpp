// The display's life: made with its two devices on a platform, one device
// committed, opened (a window, or an offscreen target), run until a stop,
// torn down.
#include <GL/glew.h>

#include <cstdio>
#include <cstdlib>

#include <zeal/arch/opengl/capture.h>
#include <zeal/arch/opengl/display.h>
#include <zeal/arch/opengl/display_loop.h>
#include <zeal/arch/opengl/platform_egl.h>
#include <zeal/arch/opengl/platform_glut.h>
#include <zeal/base/log.h>
#include <zeal/base/stop.h>
#include <zeal/base/thread.h>
#include <zeal/io/avstream.h>

namespace {

display_device* make_device(const display_platform* platform, int offline) {
  auto* device = static_cast<display_device*>(calloc(1, sizeof(display_device)));
  if (device == nullptr) return nullptr;
  device->offline = offline ? 1 : 0;
  device->fullscreen_capable = offline ? 0 : 1;
  int32_t screen[2];
  platform->screen_size(screen);
  device->screen_width = screen[0];
  device->screen_height = screen[1];
  device->available = 1;
  device->last_device_check = -1600.0;
  display_input_init(device->slots);
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

// Once, where a render begins: whether it draws on a GPU or in software.
void report_renderer(const display_io* io) {
  log_print(LOG_STDERR, LOG_INFORMATION, "renderer: %s, OpenGL %s (%s)", reinterpret_cast<const char*>(glGetString(GL_RENDERER)),
          reinterpret_cast<const char*>(glGetString(GL_VERSION)), io->platform->describe(io));
}

}  // namespace

void display_io_make(display_io_handle* handle) {
  handle->title = "";
  handle->io = nullptr;
  const display_platform* platform = handle->gl == DISPLAY_GL_EGL ? egl_platform() : glut_platform();
  if (handle->gl != DISPLAY_GL_EGL && !glut_initialize()) return;
  auto* io = static_cast<display_io*>(calloc(1, sizeof(display_io)));
  if (io == nullptr) return;
  io->platform = platform;
  // The context comes first: a device that cannot give one ends the program
  // before anything is drawn.
  if (handle->gl == DISPLAY_GL_EGL && !egl_make_context(io, handle->gl_device)) {
    free(io);
    return;
  }
  io->period = 1000.0 / 30.0;
  io->clock = get_milliseconds;
  io->geometry.report_at = -1.0;
  display_stats_reset(&io->stats);
  io->devices[0] = make_device(platform, 0);
  io->devices[1] = make_device(platform, 1);
  // Without a window system there is nothing to show live on.
  if (handle->gl == DISPLAY_GL_EGL) io->devices[0]->available = 0;
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

void display_io_open(display_io_handle* handle) {
  display_io* io = handle->io;
  display_device* device = io->device;
  io->handle = handle;
  int32_t screen[2];
  io->platform->screen_size(screen);
  device->screen_width = screen[0];
  device->screen_height = screen[1];
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
  display_set_open_io(io);
  if (!io->platform->open(handle)) {
    if (io->stop != nullptr) stop_raise(io->stop, 1);
    return;
  }
  if (device->offline) {
    io->presentation_offset = 0.0;
    report_renderer(io);
  }
  if (io->channel != nullptr) avstream_start(io->channel, static_cast<int>(device->offline));
}

void display_io_teardown(display_io_handle* handle) {
  display_io* io = handle->io;
  if (io == nullptr) return;
  if (io->handle == handle) io->platform->close(handle);
  if (display_open_io() == io) display_set_open_io(nullptr);
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
  io->platform->release(io);
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
    // The platform's events and the display's frames until a stop; GLUT
    // itself stays up (its own main loop would take it down on return) for a
    // later display.
    while (!handle->io->left) {
      handle->io->platform->poll(handle);
      display_loop_step(handle);
    }
    handle->io->platform->poll(handle);  // the window's destruction
  }
  display_io_teardown(handle);
}
