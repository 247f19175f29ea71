// Textures with power-of-two storage: the image may have any size and the
// coordinate box tells which part of the storage it covers.
#pragma once
#include <cstdint>

struct image;

enum : uint32_t { TEXTURE_NO_MIPMAP = 1, TEXTURE_SHADER_ONLY = 2 };

struct texture {
  uint32_t made;
  uint32_t has_image;
  uint32_t bound;  // bound once: the target can no longer change
  uint32_t name;
  uint32_t target;
  uint32_t unit;   // GL_TEXTURE0 + unit number
  uint32_t flags;
  float s_min;
  float s_max;
  float t_min;
  float t_max;
  int32_t width;
  int32_t height;
  int32_t depth;
  int32_t storage_width;
  int32_t storage_height;
  int32_t storage_depth;
  void* pixels;  // upload buffer, freed after upload
  uint32_t format;
  uint32_t type;
};

// made 1 with a new GL name. texture_delete releases the name; made 0.
void texture_make(texture* t);
void texture_delete(texture* t);

// Specifies storage for 1, 2 or 3 `sizes`; made 0 on any failure.
void private_texture_define_with_format(texture* t, uint32_t flags, int32_t unit,
                                        int32_t dimensions, const int32_t* sizes,
                                        uint32_t format, uint32_t type);
// Fills the storage from t->pixels (width * height * depth words) and frees them.
void texture_upload(texture* t);

void texture_fromimage(texture* t, const image* img, uint32_t flags);
void texture_deftint(texture* t);
void texture_defparticle(texture* t, int32_t size);
// Alpha of the generated textures at one pixel.
uint8_t texture_tint_alpha(int32_t x, int32_t y);
uint8_t texture_particle_alpha(int32_t n, int32_t x, int32_t y);
// The band [*lo, *hi] of the particle texture of side n, as fractions of its
// side on either axis, outside which a linearly filtered sample is zero: a
// sprite trimmed to it draws the same light with fewer fragments.
void texture_particle_footprint(int32_t n, float* lo, float* hi);

// Around draws: binding prints "texture is undefined" for an unusable texture.
void texture_bind(texture* t);
void texture_unbind(texture* t);
