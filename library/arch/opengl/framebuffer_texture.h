// The texture behind a raster frame: the application's pixels are converted
// into an upload buffer and drawn as one textured quad over the view.
#pragma once
#include <cstdint>

struct display_frame;

enum : uint32_t { RASTER_FLOAT96 = 0, RASTER_I32 = 1 };

struct framebuffer_texture {
  uint32_t kind;
  int32_t width;
  int32_t height;
  int32_t bits_per_pixel;  // 16 or 32
  uint32_t texture;
  int32_t texture_width;   // powers of two, at least the raster size
  int32_t texture_height;
  void* upload;            // texture_width * texture_height * 4 bytes
  void* client;            // what the application writes (may be `upload`)
  double blit_ms;
  int32_t blit_count;
};

// The smallest power of two that is at least 2 and at least n.
int32_t framebuffer_texture_size(int32_t n);
// (Re)specifies the GL texture image at the texture size.
void prv_fb_tex(framebuffer_texture* fbt);
// Makes or reuses the frame's texture for a raster of `kind` at the device's
// view size and depth.
void framebuffer_texture_define(display_frame* frame, uint32_t kind);
// Converts, uploads and draws the raster.
void framebuffer_texture_show(framebuffer_texture* fbt);
// Deletes the GL texture and frees the buffers, keeping the record.
void framebuffer_texture_release(framebuffer_texture* fbt);
