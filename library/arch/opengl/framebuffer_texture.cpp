#include <zeal/arch/opengl/framebuffer_texture.h>

#include <GL/glew.h>

#include <cstdlib>

#include <zeal/arch/opengl/display.h>
#include <zeal/arch/opengl/trace.h>
#include <zeal/base/thread.h>

int32_t framebuffer_texture_size(int32_t n) {
  int32_t size = 2;
  while (size < n && size < (1 << 30)) size *= 2;
  return size;
}

void prv_fb_tex(framebuffer_texture* fbt) {
  if (fbt->bits_per_pixel == 16)
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, fbt->texture_width, fbt->texture_height, 0, GL_RGB,
                 GL_UNSIGNED_SHORT_5_6_5, nullptr);
  else
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, fbt->texture_width, fbt->texture_height, 0, GL_BGRA,
                 GL_UNSIGNED_INT_8_8_8_8_REV, nullptr);
}

void framebuffer_texture_release(framebuffer_texture* fbt) {
  if (fbt->texture != 0) glDeleteTextures(1, &fbt->texture);
  fbt->texture = 0;
  if (fbt->client != fbt->upload) free(fbt->client);
  free(fbt->upload);
  fbt->client = nullptr;
  fbt->upload = nullptr;
}

// Bytes of the client buffer per texel: shared with the upload buffer for
// 32-bit words at 32 bits.
static size_t client_texel_bytes(const framebuffer_texture* fbt) {
  if (fbt->kind == RASTER_FLOAT96) return 3 * sizeof(float);
  return fbt->bits_per_pixel == 16 ? sizeof(uint32_t) : 0;
}

static int allocate_buffers(framebuffer_texture* fbt) {
  size_t texels = static_cast<size_t>(fbt->texture_width) * static_cast<size_t>(fbt->texture_height);
  fbt->upload = calloc(texels, 4);
  size_t client = client_texel_bytes(fbt);
  fbt->client = client == 0 ? fbt->upload : calloc(texels, client);
  return fbt->upload != nullptr && fbt->client != nullptr;
}

void framebuffer_texture_define(display_frame* frame, uint32_t kind) {
  // The frame's record read here, not asked of frame.cpp, which calls this file.
  display_device* device = frame->context != nullptr ? frame->context->device : nullptr;
  int32_t bpp = device != nullptr ? display_device_bpp(device) : 32;
  int32_t size[2] = {0, 0};
  if (device != nullptr) display_device_resolution_in_px(device, size);

  framebuffer_texture* fbt = frame->fb_texture;
  if (fbt != nullptr && fbt->kind == kind && fbt->bits_per_pixel == bpp && fbt->upload != nullptr)
    return;
  if (fbt != nullptr) {
    framebuffer_texture_release(fbt);
  } else {
    fbt = static_cast<framebuffer_texture*>(calloc(1, sizeof(framebuffer_texture)));
    if (fbt == nullptr) return;
    frame->fb_texture = fbt;
  }
  fbt->kind = kind;
  fbt->bits_per_pixel = bpp;
  fbt->width = size[0];
  fbt->height = size[1];
  fbt->texture_width = framebuffer_texture_size(size[0]);
  fbt->texture_height = framebuffer_texture_size(size[1]);
  if (!allocate_buffers(fbt)) {
    framebuffer_texture_release(fbt);
    fbt->width = fbt->height = 0;
    return;
  }

  glEnable(GL_TEXTURE_2D);
  glGenTextures(1, &fbt->texture);
  glBindTexture(GL_TEXTURE_2D, fbt->texture);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  prv_fb_tex(fbt);
  if (glGetError() == GL_INVALID_VALUE) {
    // Too large for OpenGL: shrink the raster until it fits 512 x 512.
    float w = static_cast<float>(fbt->width);
    float h = static_cast<float>(fbt->height);
    while (w > 512.0f || h > 512.0f) {
      w *= 0.70710677f;
      h *= 0.70710677f;
    }
    fbt->width = static_cast<int32_t>(w);
    fbt->height = static_cast<int32_t>(h);
    fbt->texture_width = 512;
    fbt->texture_height = 512;
    int shared = fbt->client == fbt->upload;
    free(fbt->upload);
    fbt->upload = calloc(512 * 512, 4);
    if (shared) fbt->client = fbt->upload;
    prv_fb_tex(fbt);
  }
  opengl_trace("library/arch/opengl/framebuffer_texture", 128, nullptr);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
  glDisable(GL_TEXTURE_2D);
  fbt->blit_ms = 0.0;
  fbt->blit_count = 0;
}

static uint8_t unit_to_byte(float v) {
  if (!(v > 0.0f)) return 0;
  if (v > 1.0f) v = 1.0f;
  return static_cast<uint8_t>(v * 255.0f);
}

static float unit_clamp(float v) { return v > 1.0f ? 1.0f : (v > 0.0f ? v : 0.0f); }

static void convert(framebuffer_texture* fbt) {
  size_t n = static_cast<size_t>(fbt->width) * static_cast<size_t>(fbt->height);
  if (fbt->bits_per_pixel != 16) {
    if (fbt->kind != RASTER_FLOAT96) return;
    const float* in = static_cast<const float*>(fbt->client);
    auto* out = static_cast<uint32_t*>(fbt->upload);
    for (size_t i = 0; i < n; ++i, in += 3)
      out[i] = static_cast<uint32_t>(unit_to_byte(in[0])) << 16 |
               static_cast<uint32_t>(unit_to_byte(in[1])) << 8 | unit_to_byte(in[2]);
    return;
  }
  auto* out = static_cast<uint16_t*>(fbt->upload);
  if (fbt->kind == RASTER_I32) {
    const uint32_t* in = static_cast<const uint32_t*>(fbt->client);
    for (size_t i = 0; i < n; ++i) {
      uint32_t v = in[i];
      out[i] = static_cast<uint16_t>((v & 0xF80000) >> 8 | (v & 0xFC00) >> 5 | (v & 0xF8) >> 3);
    }
    return;
  }
  const float* in = static_cast<const float*>(fbt->client);
  for (size_t i = 0; i < n; ++i, in += 3) {
    uint32_t r = static_cast<uint32_t>(unit_clamp(in[0]) * 31.0f);
    uint32_t g = static_cast<uint32_t>(unit_clamp(in[1]) * 63.0f);
    uint32_t b = static_cast<uint32_t>(unit_clamp(in[2]) * 31.0f);
    out[i] = static_cast<uint16_t>(r << 11 | g << 5 | b);
  }
}

void framebuffer_texture_show(framebuffer_texture* fbt) {
  if (fbt->upload == nullptr) return;
  glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(-1.0, 1.0, 1.0, -1.0, -1.0, 1.0);  // first pixel row at the top
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, fbt->texture);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);

  double t0 = get_milliseconds();
  convert(fbt);
  if (fbt->bits_per_pixel == 16)
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, fbt->width, fbt->height, GL_RGB,
                    GL_UNSIGNED_SHORT_5_6_5, fbt->upload);
  else
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, fbt->width, fbt->height, GL_BGRA,
                    GL_UNSIGNED_INT_8_8_8_8_REV, fbt->upload);
  fbt->blit_ms += get_milliseconds() - t0;
  fbt->blit_count += 1;

  float s = static_cast<float>(fbt->width) / static_cast<float>(fbt->texture_width);
  float t = static_cast<float>(fbt->height) / static_cast<float>(fbt->texture_height);
  GLint viewport[4];
  glGetIntegerv(GL_VIEWPORT, viewport);
  if (viewport[2] > 0 && viewport[3] > 0)
    glTranslatef(0.075f / static_cast<float>(viewport[2]), 0.075f / static_cast<float>(viewport[3]),
                 0.0f);
  glBegin(GL_QUADS);
  glTexCoord2f(0.0f, 0.0f);
  glVertex2f(-1.0f, -1.0f);
  glTexCoord2f(0.0f, t);
  glVertex2f(-1.0f, 1.0f);
  glTexCoord2f(s, t);
  glVertex2f(1.0f, 1.0f);
  glTexCoord2f(s, 0.0f);
  glVertex2f(1.0f, -1.0f);
  glEnd();
  glDisable(GL_TEXTURE_2D);
}
