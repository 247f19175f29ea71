#include <zeal/arch/opengl/capture.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <zeal/arch/opengl/image.h>
#include <zeal/base/log.h>
#include <zeal/base/stop.h>
#include "stb_image_write.h"

namespace {

// The capture's pixels are malloc'd by the display: the two buffers change
// hands, so both are held the same way.
struct malloc_deleter {
  void operator()(unsigned char* p) const { free(p); }
};
using pixel_buffer = std::unique_ptr<unsigned char, malloc_deleter>;

}  // namespace

struct frame_writer {
  stop_request* stop = nullptr;
  std::mutex lock;
  std::condition_variable changed;
  bool pending = false;  // a frame waits in `pixels`
  bool quitting = false;
  bool failed = false;   // a file could not be written: no more are tried
  pixel_buffer pixels;
  size_t pixels_bytes = 0;
  std::vector<unsigned char> row;
  int32_t width = 0, height = 0;
  std::string name;
  std::thread thread;  // last: starts once the rest is made
};

namespace {

bool ends_with(const std::string& text, const char* tail) {
  size_t m = strlen(tail);
  return text.size() >= m && text.compare(text.size() - m, m, tail) == 0;
}

void turn_upside_down(frame_writer* w) {
  size_t row_bytes = static_cast<size_t>(w->width) * 4;
  w->row.resize(row_bytes);
  unsigned char* pixels = w->pixels.get();
  for (int32_t y = 0; y < w->height / 2; ++y) {
    unsigned char* a = pixels + static_cast<size_t>(y) * row_bytes;
    unsigned char* b = pixels + static_cast<size_t>(w->height - 1 - y) * row_bytes;
    memcpy(w->row.data(), a, row_bytes);
    memcpy(a, b, row_bytes);
    memcpy(b, w->row.data(), row_bytes);
  }
}

void to_file(void* context, void* data, int size) {
  fwrite(data, 1, static_cast<size_t>(size), static_cast<FILE*>(context));
}

// The reason the frame could not be written, or empty when it was.
std::string write_file(frame_writer* w) {
  turn_upside_down(w);
  FILE* file = fopen(w->name.c_str(), "wb");
  if (file == nullptr) return strerror(errno);
  int encoded = 1;
  if (ends_with(w->name, ".bmp")) encoded = stbi_write_bmp_to_func(to_file, file, w->width, w->height, 4, w->pixels.get());
  else if (ends_with(w->name, ".tga")) encoded = stbi_write_tga_to_func(to_file, file, w->width, w->height, 4, w->pixels.get());
  int write_error = ferror(file) ? errno : 0;
  if (fclose(file) != 0 && write_error == 0) write_error = errno;
  if (write_error != 0) return strerror(write_error);
  return encoded ? "" : "the image could not be encoded";
}

void writer_main(frame_writer* w) {
  std::unique_lock<std::mutex> hold(w->lock);
  for (;;) {
    w->changed.wait(hold, [w] { return w->pending || w->quitting; });
    if (!w->pending) return;
    // The frame is the writer's until `pending` drops; the display waits for that.
    hold.unlock();
    std::string why = write_file(w);
    hold.lock();
    if (!why.empty()) {
      log_error("cannot write frame \"%s\": %s", w->name.c_str(), why.c_str());
      fflush(stdout);
      w->failed = true;
      if (w->stop != nullptr) stop_raise(w->stop, 1);
    }
    w->pending = false;
    w->changed.notify_all();
  }
}

}  // namespace

frame_writer* frame_writer_make(stop_request* stop) {
  auto* w = new frame_writer;
  w->stop = stop;
  w->thread = std::thread(writer_main, w);
  return w;
}

void frame_writer_destroy(frame_writer* w) {
  if (w == nullptr) return;
  {
    std::lock_guard<std::mutex> hold(w->lock);
    w->quitting = true;
  }
  w->changed.notify_all();
  w->thread.join();
  delete w;
}

void capture_write(frame_writer* w, image* capture, const char* name) {
  if (w == nullptr || capture->pixels == nullptr || capture->kind != IMAGE_KIND_U8 ||
      capture->stride != capture->width || capture->components != 4)
    return;
  size_t bytes = static_cast<size_t>(capture->width) * capture->height * 4;
  std::unique_lock<std::mutex> hold(w->lock);
  w->changed.wait(hold, [w] { return !w->pending; });
  if (w->failed) return;
  // The capture's pixels go to the writer and its spare buffer becomes the
  // next capture: no copy, and no allocation once both exist.
  pixel_buffer spare = std::move(w->pixels);
  if (spare == nullptr || w->pixels_bytes < bytes) spare.reset(static_cast<unsigned char*>(malloc(bytes)));
  if (spare == nullptr) return;
  w->pixels.reset(static_cast<unsigned char*>(capture->pixels));
  w->pixels_bytes = bytes;
  capture->pixels = spare.release();
  w->width = capture->width;
  w->height = capture->height;
  w->name = name;
  w->pending = true;
  w->changed.notify_all();
}

void capture_flush(frame_writer* w) {
  if (w == nullptr) return;
  std::unique_lock<std::mutex> hold(w->lock);
  w->changed.wait(hold, [w] { return !w->pending; });
}
