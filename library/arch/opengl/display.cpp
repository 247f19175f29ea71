#include <zeal/arch/opengl/display.h>

#include <atomic>
#include <cmath>
#include <cstring>

#include <zeal/base/perf.h>
#include <zeal/base/stop.h>
#include <zeal/io/avstream.h>


namespace {

// On the clock's thread, while the display thread presents frames.
double device_base_telltime(void* arg) {
  auto* io = static_cast<display_io*>(arg);
  int32_t current = std::atomic_ref<int32_t>(io->current).load(std::memory_order_acquire);
  return std::atomic_ref<double>(io->frames[current].shown_at).load(std::memory_order_relaxed);
}

}  // namespace

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

void display_io_stop(display_io* io) {
  if (io != nullptr && io->stop != nullptr) stop_raise(io->stop, 0);
}

void my_exit(display_io* io) {
  perf_log("quit\n");
  display_io_stop(io);
}

void core_keyboard_key(display_device* device, int32_t key, int alt) {
  display_io* io = device->io;
  if (key == 27) {
    if (io != nullptr && io->handle != nullptr && io->platform->fullscreen_active())
      io->platform->toggle_fullscreen(io->handle);
    my_exit(io);
  }
  if (key == 13 && alt) device->fullscreen_wanted = !device->fullscreen_wanted;
}

namespace {
// Resident geometry is counted in the display that draws it.
display_io* the_open_io = nullptr;
}  // namespace

display_io* display_open_io() { return the_open_io; }
void display_set_open_io(display_io* io) { the_open_io = io; }
