#include <zeal/arch/opengl/texture.h>

#include <GL/glew.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <zeal/arch/opengl/image.h>
#include <zeal/arch/opengl/trace.h>
#include <zeal/base/log.h>

static const char* const SOURCE = "library/arch/opengl/texture";

void texture_make(texture* t) {
  *t = texture{};
  GLuint name = 0;
  glGenTextures(1, &name);
  t->name = name;
  t->made = 1;
}

void texture_delete(texture* t) {
  if (t->name != 0) {
    GLuint name = t->name;
    glDeleteTextures(1, &name);
  }
  t->name = 0;
  t->made = 0;
  t->has_image = 0;
  free(t->pixels);
  t->pixels = nullptr;
}

static int32_t storage_size(int32_t n) {
  int32_t size = 2;
  while (size < n) size *= 2;
  return size;
}

void private_texture_define_with_format(texture* t, uint32_t flags, int32_t unit,
                                        int32_t dimensions, const int32_t* sizes,
                                        uint32_t format, uint32_t type) {
  if (t->made) {
    t->has_image = 0;
    t->flags = flags;
    t->width = t->height = t->depth = 0;
    if (dimensions < 1 || dimensions > 3) {
      texture_delete(t);
      return;
    }
    if (dimensions == 3) t->depth = sizes[2];
    if (dimensions >= 2) t->height = sizes[1];
    t->width = sizes[0];
    GLint units = 0;
    glGetIntegerv(GL_MAX_TEXTURE_UNITS, &units);
    if (unit < 0 || unit >= units) {
      texture_delete(t);
      return;
    }
    t->unit = GL_TEXTURE0 + unit;
    t->storage_width = storage_size(t->width);
    t->storage_height = storage_size(t->height);
    t->storage_depth = storage_size(t->depth);
    uint32_t target = t->depth ? GL_TEXTURE_3D : t->height ? GL_TEXTURE_2D : GL_TEXTURE_1D;
    if (t->bound && target != t->target) {
      log_info("Target cannot change for a given texture id");
      texture_delete(t);
      return;
    }
    t->target = target;
    if (t->width < 1) t->width = 1;
    if (t->height < 1) t->height = 1;
    if (t->depth < 1) t->depth = 1;
    glActiveTexture(t->unit);
    opengl_trace(SOURCE, 150, nullptr);
    if (!(flags & TEXTURE_SHADER_ONLY)) {
      glEnable(t->target);
      opengl_trace(SOURCE, 153, nullptr);
    }
    glBindTexture(t->target, t->name);
    opengl_trace(SOURCE, 156, "glBindTexture %d / (1D:%d 2D:%d 3D:%d) %d\n", t->target,
                 GL_TEXTURE_1D, GL_TEXTURE_2D, GL_TEXTURE_3D, t->name);
    t->bound = 1;
    t->format = format;
    t->type = type;
    int line = 0;
    if (t->target == GL_TEXTURE_1D) {
      glTexImage1D(GL_TEXTURE_1D, 0, format, t->storage_width, 0, format, type, nullptr);
      line = 177;
    } else if (t->target == GL_TEXTURE_2D) {
      glTexImage2D(GL_TEXTURE_2D, 0, format, t->storage_width, t->storage_height, 0, format,
                   type, nullptr);
      line = 189;
    } else {
      glTexImage3D(GL_TEXTURE_3D, 0, format, t->storage_width, t->storage_height,
                   t->storage_depth, 0, format, type, nullptr);
      line = 202;
    }
    // Read here rather than in the error check: a refused size unmakes the texture.
    GLenum error = glGetError();
    if (error != GL_NO_ERROR) log_error("%s:%d %s", SOURCE, line, opengl_error_text(error));
    t->has_image = 1;
    if (error == GL_INVALID_VALUE) {
      texture_delete(t);
    } else {
      glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
      glTexParameteri(t->target, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
      glTexParameteri(t->target, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
      if (!(flags & TEXTURE_NO_MIPMAP)) glTexParameteri(t->target, GL_GENERATE_MIPMAP, GL_TRUE);
      t->s_min = 0.0f;
      t->s_max = static_cast<float>(t->width) / static_cast<float>(t->storage_width);
      t->t_min = 0.0f;
      t->t_max = static_cast<float>(t->height) / static_cast<float>(t->storage_height);
    }
  }
  if (!(flags & TEXTURE_SHADER_ONLY) && t->target != 0) glDisable(t->target);
}

void texture_upload(texture* t) {
  if (!t->made || !t->has_image || t->pixels == nullptr) return;
  glActiveTexture(t->unit);
  if (!(t->flags & TEXTURE_SHADER_ONLY)) glEnable(t->target);
  glBindTexture(t->target, t->name);
  t->bound = 1;
  const void* p = t->pixels;
  int32_t w = t->width, h = t->height;
  int32_t extra_w = t->storage_width - w, extra_h = t->storage_height - h;
  // The storage beyond the image gets the buffer's first pixels, never
  // undefined data that filtering at the edge could pick up.
  if (t->target == GL_TEXTURE_1D) {
    glTexSubImage1D(GL_TEXTURE_1D, 0, 0, w, t->format, t->type, p);
    if (extra_w > 0) glTexSubImage1D(GL_TEXTURE_1D, 0, w, extra_w, t->format, t->type, p);
  } else if (t->target == GL_TEXTURE_2D) {
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, w, h, t->format, t->type, p);
    if (extra_w > 0) glTexSubImage2D(GL_TEXTURE_2D, 0, w, 0, extra_w, h, t->format, t->type, p);
    if (extra_h > 0) {
      glTexSubImage2D(GL_TEXTURE_2D, 0, 0, h, w, extra_h, t->format, t->type, p);
      if (extra_w > 0)
        glTexSubImage2D(GL_TEXTURE_2D, 0, w, h, extra_w, extra_h, t->format, t->type, p);
    }
  } else {
    glTexSubImage3D(GL_TEXTURE_3D, 0, 0, 0, 0, w, h, t->depth, t->format, t->type, p);
  }
  opengl_trace(SOURCE, 367, nullptr);
  free(t->pixels);
  t->pixels = nullptr;
  if (!(t->flags & TEXTURE_SHADER_ONLY)) glDisable(t->target);
}

static uint32_t* define_rgba(texture* t, uint32_t flags, int32_t width, int32_t height) {
  int32_t sizes[2] = {width, height};
  private_texture_define_with_format(t, flags, 0, 2, sizes, GL_RGBA,
                                     GL_UNSIGNED_INT_8_8_8_8_REV);
  if (!t->made) return nullptr;
  free(t->pixels);
  size_t count = static_cast<size_t>(t->width) * t->height * t->depth;
  t->pixels = calloc(count, 4);
  return static_cast<uint32_t*>(t->pixels);
}

void texture_fromimage(texture* t, const image* img, uint32_t flags) {
  uint32_t* pixels = define_rgba(t, flags, img->width, img->height);
  if (pixels == nullptr) return;
  if (img->kind == IMAGE_KIND_U8 && img->components == 4 && img->pixels != pixels &&
      img->pixels != nullptr) {
    const auto* source = static_cast<const uint8_t*>(img->pixels);
    auto* destination = reinterpret_cast<uint8_t*>(pixels);
    if (img->stride == img->width) {
      memcpy(destination, source, static_cast<size_t>(img->stride) * 4 * img->height);
    } else {
      for (int32_t y = 0; y < img->height; ++y) {
        memcpy(destination, source, static_cast<size_t>(img->width) * 4);
        source += static_cast<size_t>(img->stride) * 4;
        destination += static_cast<size_t>(img->width) * 4;
      }
    }
  }
  texture_upload(t);
}

static uint8_t clamp_alpha(float value) {
  int32_t a = static_cast<int32_t>(value);
  return static_cast<uint8_t>(a < 0 ? 0 : a > 255 ? 255 : a);
}

uint8_t texture_tint_alpha(int32_t x, int32_t y) {
  float dx = static_cast<float>(x - 128), dy = static_cast<float>(y - 128);
  float r = sqrtf(dx * dx + dy * dy + 1.0f) * 0.007891817f;
  float a = expf(-0.5f * r * r);
  return clamp_alpha((1.0f - a) * 256.0f);
}

uint8_t texture_particle_alpha(int32_t n, int32_t x, int32_t y) {
  float size = static_cast<float>(n);
  float k = 1.0f / sqrtf(2.0f * size * size);
  float fx = static_cast<float>(x) - 0.5f * size, fy = static_cast<float>(y) - 0.5f * size;
  float d = sqrtf(fx * fx + fy * fy + 1.0f) * k;
  float tent = 1.0f - 4.0f * d;
  float window = 0.54f + 0.46f * cosf(6.2831855f * d);
  return clamp_alpha(tent * window * 256.0f);
}

void texture_particle_footprint(int32_t n, float* lo, float* hi) {
  // The disc is widest along the middle row; a sample reaches the texels on
  // either side of it, so the band runs half a texel beyond the outer ones.
  int32_t first = n, last = -1;
  for (int32_t x = 0; x < n; ++x) {
    if (texture_particle_alpha(n, x, n / 2) == 0) continue;
    if (first == n) first = x;
    last = x;
  }
  *lo = 0.0f;
  *hi = 1.0f;
  if (last < 0) return;
  float side = static_cast<float>(n);
  *lo = std::max(0.0f, (static_cast<float>(first) - 0.5f) / side);
  *hi = std::min(1.0f, (static_cast<float>(last) + 1.5f) / side);
}

void texture_deftint(texture* t) {
  uint32_t* pixels = define_rgba(t, 0, 256, 256);
  if (pixels == nullptr) return;
  for (int32_t y = 0; y < 256; ++y)
    for (int32_t x = 0; x < 256; ++x)
      pixels[y * 256 + x] = static_cast<uint32_t>(texture_tint_alpha(x, y)) << 24 | 0x998120u;
  texture_upload(t);
}

void texture_defparticle(texture* t, int32_t n) {
  uint32_t* pixels = define_rgba(t, 0, n, n);
  if (pixels == nullptr) return;
  for (int32_t y = 0; y < n; ++y)
    for (int32_t x = 0; x < n; ++x)
      pixels[y * n + x] = static_cast<uint32_t>(texture_particle_alpha(n, x, y)) << 24 | 0xFFFFFFu;
  texture_upload(t);
}

void texture_bind(texture* t) {
  if (!t->made || !t->has_image) {
    log_info("texture is undefined");
    return;
  }
  glActiveTexture(t->unit);
  opengl_trace(SOURCE, 431, nullptr);
  if (!(t->flags & TEXTURE_SHADER_ONLY)) {
    glEnable(t->target);
    opengl_trace(SOURCE, 434, nullptr);
  }
  glBindTexture(t->target, t->name);
  opengl_trace(SOURCE, 437, nullptr);
  t->bound = 1;
}

void texture_unbind(texture* t) {
  if (!t->made || !t->has_image) return;
  glActiveTexture(t->unit);
  opengl_trace(SOURCE, 450, nullptr);
  if (!(t->flags & TEXTURE_SHADER_ONLY)) {
    glDisable(t->target);
    opengl_trace(SOURCE, 453, nullptr);
  }
}
