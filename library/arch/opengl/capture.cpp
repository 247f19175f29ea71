#include "arch/opengl/capture.h"

#include <cstdlib>
#include <cstring>

#include "app/app_steps.h"
#include "arch/opengl/image.h"
#include "base/thread.h"
#include "stb_image_write.h"

namespace {

struct frame_writer {
  thread_handle thread;
  thread_lock lock;
  thread_cond changed;
  int started;
  int pending;  // a frame waits in `pixels`
  void* pixels;
  size_t pixels_bytes;
  int32_t width, height;
  char* name;
  size_t name_bytes;
};

frame_writer writer;

int ends_with(const char* text, const char* tail) {
  size_t n = strlen(text), m = strlen(tail);
  return n >= m && strcmp(text + n - m, tail) == 0;
}

void turn_upside_down(unsigned char* pixels, int32_t width, int32_t height) {
  size_t row_bytes = static_cast<size_t>(width) * 4;
  auto* row = static_cast<unsigned char*>(malloc(row_bytes));
  if (row == nullptr) return;
  for (int32_t y = 0; y < height / 2; ++y) {
    unsigned char* a = pixels + static_cast<size_t>(y) * row_bytes;
    unsigned char* b = pixels + static_cast<size_t>(height - 1 - y) * row_bytes;
    memcpy(row, a, row_bytes);
    memcpy(a, b, row_bytes);
    memcpy(b, row, row_bytes);
  }
  free(row);
}

void write_file(const char* name, unsigned char* pixels, int32_t width, int32_t height) {
  turn_upside_down(pixels, width, height);
  if (ends_with(name, ".bmp")) stbi_write_bmp(name, width, height, 4, pixels);
  else if (ends_with(name, ".tga")) stbi_write_tga(name, width, height, 4, pixels);
}

void* writer_main(void*) {
  inthread_lock(&writer.lock);
  for (;;) {
    while (!writer.pending) inthread_cond_wait(&writer.changed, &writer.lock);
    // The frame is the writer's until `pending` drops; the display waits for that.
    inthread_unlock(&writer.lock);
    write_file(writer.name, static_cast<unsigned char*>(writer.pixels), writer.width,
               writer.height);
    inthread_lock(&writer.lock);
    writer.pending = 0;
    inthread_cond_signal(&writer.changed);
  }
  return nullptr;
}

void flush_at_exit(void*) { capture_flush(); }

// Waits, holding the lock, until no frame is pending.
void wait_idle() {
  while (writer.pending) inthread_cond_wait(&writer.changed, &writer.lock);
}

int start_writer() {
  if (writer.started) return 1;
  thread_lock_make(&writer.lock);
  thread_cond_make(&writer.changed);
  thread_make(&writer.thread);
  if (thread_start(&writer.thread, writer_main, nullptr) != 0) return 0;
  writer.started = 1;
  app_at_exit(flush_at_exit, nullptr);
  return 1;
}

int ensure_bytes(void** buffer, size_t* have, size_t want) {
  if (*have >= want) return 1;
  void* grown = realloc(*buffer, want);
  if (grown == nullptr) return 0;
  *buffer = grown;
  *have = want;
  return 1;
}

}  // namespace

void capture_write(image* capture, const char* name) {
  if (capture->pixels == nullptr || capture->kind != IMAGE_KIND_U8 ||
      capture->stride != capture->width || capture->components != 4)
    return;
  size_t bytes = static_cast<size_t>(capture->width) * capture->height * 4;
  size_t name_bytes = strlen(name) + 1;
  if (!start_writer()) {
    write_file(name, static_cast<unsigned char*>(capture->pixels), capture->width,
               capture->height);
    return;
  }
  inthread_lock(&writer.lock);
  wait_idle();
  if (ensure_bytes(&writer.pixels, &writer.pixels_bytes, bytes) &&
      ensure_bytes(reinterpret_cast<void**>(&writer.name), &writer.name_bytes, name_bytes)) {
    memcpy(writer.name, name, name_bytes);
    // The writer's spare buffer becomes the next capture: no copy, no allocation.
    void* spare = writer.pixels;
    writer.pixels = capture->pixels;
    writer.pixels_bytes = bytes;
    capture->pixels = spare;
    writer.width = capture->width;
    writer.height = capture->height;
    writer.pending = 1;
    inthread_cond_signal(&writer.changed);
  }
  inthread_unlock(&writer.lock);
}

void capture_flush() {
  if (!writer.started) return;
  inthread_lock(&writer.lock);
  wait_idle();
  inthread_unlock(&writer.lock);
}
