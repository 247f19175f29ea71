// Display frames: what the application draws into for one video frame, with
// hooks that other parts register to run at every define and commit.
#pragma once
#include <cstdint>

#include <zeal/base/array.h>

struct display_device;
struct framebuffer_texture;

// One per GL context; the frames of a display share it.
struct display_context {
  display_device* device;
};

// Frame statistics of a display output, reported by the display loop.
struct display_stats {
  double display_sum;
  double creation_sum;
  double display_min;
  double display_max;
  double creation_min;
  double creation_max;
  int32_t counted;
};
void display_stats_reset(display_stats* stats);

enum : uint32_t { FRAME_RASTER = 1, FRAME_FOR_FRAMEBUFFER = 2 };

struct display_frame {
  uint32_t flags;
  uint32_t none;            // nothing to show: after make and commit-none
  uint32_t being_defined;
  display_context* context;
  framebuffer_texture* fb_texture;  // raster mode only
  double start;             // time base of the frame's clock
  double time;              // on the output clock
  double define_time;       // wall ms
  double commit_time;       // wall ms
  double shown_at;          // ms from start
  display_stats* statistics;
  array* hooks;             // of frame_hook, shared by a display's frames
};

using frame_hook_allocate_fn = void* (*)();
using frame_hook_free_fn = void (*)(void* instance);
using frame_hook_step_fn = void (*)(void* instance, display_frame* frame);

struct frame_hook {
  uint32_t active;
  frame_hook_allocate_fn allocate;
  frame_hook_free_fn free;
  frame_hook_step_fn define;
  frame_hook_step_fn commit;
  void* instance;  // made on first need
};

void frame_make(display_frame* frame, double time, display_stats* statistics, array* hooks);
void frame_delete(display_frame* frame);
// Deletes the raster texture (its GL texture belongs to the current context).
void frame_drop_texture(display_frame* frame);
void frame_newcontext(display_frame* frame, display_device* device);
void frame_sharecontext(display_frame* frame, display_frame* other);
void frame_closecontext(display_frame* frame);

void display_frame_define(display_frame* frame, display_context** context);
// Raster mode: the application fills `pixels` (0x00RRGGBB words, or three
// floats per pixel) and the commit shows them over the whole view.
void display_frame_define_raster_i32(display_frame* frame, uint32_t** pixels, int32_t* width,
                                     int32_t* height, int32_t* stride);
void display_frame_define_raster_float96(display_frame* frame, float** pixels, int32_t* width,
                                         int32_t* height, int32_t* stride);
void display_frame_commit(display_frame* frame);
void display_frame_commit_none(display_frame* frame);

// Returns the hook's index, its handle; -1 when the array could not grow.
int32_t display_frame_add_hooks(display_frame* frame, frame_hook_allocate_fn allocate,
                                frame_hook_free_fn free, frame_hook_step_fn define,
                                frame_hook_step_fn commit);
void display_frame_remove_hooks(display_frame* frame, int32_t index);
void frame_call_define_hook(display_frame* frame, int32_t index);
void frame_call_define_hooks(display_frame* frame);
void frame_call_commit_hooks(display_frame* frame);

double display_frame_in_ms(const display_frame* frame);
display_device* display_frame_device(const display_frame* frame);
display_context* display_frame_context(const display_frame* frame);
int display_frame_is_being_defined(const display_frame* frame);
array* display_frame_hooks(const display_frame* frame);
void frame_set_for_framebuffer(display_frame* frame);
int frame_is_for_framebuffer(const display_frame* frame);
