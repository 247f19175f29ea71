// Offscreen framebuffers that render into a texture. A framebuffer embeds a
// display frame: defining that frame switches rendering into the texture and
// committing it switches back (to the outer framebuffer when they nest).
#pragma once
#include <cstdint>

#include <zeal/arch/opengl/frame.h>
#include <zeal/arch/opengl/texture.h>

struct display_device;

enum : uint32_t { FRAMEBUFFER_DEPTH_ONLY = 1, FRAMEBUFFER_VIEW_SIZE = 2 };

struct opengl_framebuffer {
  uint32_t flags;
  uint32_t active;
  display_frame frame;  // the owner gives it a hooks array before make
  display_device* device;
  int32_t divisor;      // 0 counts as 1
  opengl_framebuffer* outer;
  int32_t hook;
  texture tex;
  uint32_t renderbuffer;
  uint32_t available;
  uint32_t object;
  uint32_t previous;
};

void opengl_framebuffer_make(opengl_framebuffer* fb);
void opengl_framebuffer_define_texture(opengl_framebuffer* fb, uint32_t flags, int32_t unit);
// Hands out the framebuffer's frame for one definition inside `frame`.
display_frame* opengl_framebuffer_addf(opengl_framebuffer* fb, display_frame* frame);
void opengl_framebuffer_destroy(opengl_framebuffer* fb);

void activate(opengl_framebuffer* fb);
void deactivate(opengl_framebuffer* fb);

void* hook_world_allocate();
void hook_world_free(void* instance);
void hook_world_define(void* instance, display_frame* frame);
void hook_world_commit(void* instance, display_frame* frame);
