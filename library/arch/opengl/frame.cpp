#include <zeal/arch/opengl/frame.h>

#include <GL/glew.h>

#include <cstdlib>

#include <zeal/arch/opengl/framebuffer_texture.h>
#include <zeal/arch/opengl/trace.h>
#include <zeal/base/thread.h>

void display_stats_reset(display_stats* stats) {
  *stats = display_stats{0.0, 0.0, 1e20, 0.0, 1e20, 0.0, 0};
}

void frame_make(display_frame* frame, double time, display_stats* statistics, array* hooks) {
  *frame = display_frame{};
  frame->none = 1;
  frame->start = get_milliseconds();
  frame->time = time;
  frame->shown_at = time;
  frame->statistics = statistics;
  frame->hooks = hooks;
}

void frame_drop_texture(display_frame* frame) {
  if (frame->fb_texture == nullptr) return;
  framebuffer_texture_release(frame->fb_texture);
  free(frame->fb_texture);
  frame->fb_texture = nullptr;
}

void frame_delete(display_frame* frame) {
  frame_drop_texture(frame);
  frame->statistics = nullptr;
  frame->hooks = nullptr;
}

void frame_newcontext(display_frame* frame, display_device* device) {
  auto* context = static_cast<display_context*>(calloc(1, sizeof(display_context)));
  if (context == nullptr) return;
  context->device = device;
  display_context* previous = frame->context;
  frame->context = context;
  free(previous);
}

void frame_sharecontext(display_frame* frame, display_frame* other) { frame->context = other->context; }

void frame_closecontext(display_frame*) {}

static frame_hook* hook_at(const display_frame* frame, int32_t index) {
  if (frame->hooks == nullptr) return nullptr;
  return static_cast<frame_hook*>(array_element(frame->hooks, sizeof(frame_hook), index));
}

static int32_t hook_count(const display_frame* frame) {
  if (frame->hooks == nullptr) return 0;
  int32_t n = array_count(frame->hooks, sizeof(frame_hook));
  return n < 0 ? 0 : n;
}

// Makes the hook's instance if needed. 0 when its allocate gave none: the
// hook then waits for the next pass rather than getting a null instance.
static int hook_ready(frame_hook* hook) {
  if (hook->instance == nullptr && hook->allocate != nullptr) hook->instance = hook->allocate();
  return hook->instance != nullptr || hook->allocate == nullptr;
}

void frame_call_define_hook(display_frame* frame, int32_t index) {
  frame_hook* hook = hook_at(frame, index);
  if (hook == nullptr || !hook->active || !hook_ready(hook)) return;
  if (hook->define != nullptr) hook->define(hook->instance, frame);
}

void frame_call_define_hooks(display_frame* frame) {
  // Counted on every turn: a define step may add hooks.
  for (int32_t i = 0; i < hook_count(frame); ++i) frame_call_define_hook(frame, i);
}

void frame_call_commit_hooks(display_frame* frame) {
  for (int32_t i = 0; i < hook_count(frame); ++i) {
    frame_hook* hook = hook_at(frame, i);
    if (!hook->active || !hook_ready(hook)) continue;
    if (hook->commit != nullptr) hook->commit(hook->instance, frame);
  }
}

int32_t display_frame_add_hooks(display_frame* frame, frame_hook_allocate_fn allocate,
                                frame_hook_free_fn free_fn, frame_hook_step_fn define,
                                frame_hook_step_fn commit) {
  if (frame->hooks == nullptr) return -1;
  int32_t index = hook_count(frame);
  auto* hook = static_cast<frame_hook*>(array_allocate(frame->hooks, sizeof(frame_hook), index));
  if (hook == nullptr) return -1;
  *hook = frame_hook{1, allocate, free_fn, define, commit, nullptr};
  if (frame->being_defined) frame_call_define_hook(frame, index);
  return index;
}

void display_frame_remove_hooks(display_frame* frame, int32_t index) {
  int32_t n = hook_count(frame);
  if (index < 0 || index >= n) return;
  frame_hook* hook = hook_at(frame, index);
  if (index != n - 1 && !hook->active) return;
  if (hook->instance != nullptr && hook->free != nullptr) hook->free(hook->instance);
  hook->instance = nullptr;
  hook->active = 0;
  if (index == n - 1) array_truncate(frame->hooks, sizeof(frame_hook), n - 1);
}

void display_frame_define(display_frame* frame, display_context** context) {
  frame->flags &= ~FRAME_RASTER;
  frame->none = 0;
  frame->being_defined = 1;
  if (context != nullptr) *context = frame->context;
  frame->define_time = get_milliseconds();
  frame_call_define_hooks(frame);
}

static void define_raster(display_frame* frame, uint32_t kind, void** pixels, int32_t* width,
                          int32_t* height, int32_t* stride) {
  frame->flags |= FRAME_RASTER;
  frame->none = 0;
  framebuffer_texture_define(frame, kind);
  framebuffer_texture* fbt = frame->fb_texture;
  *pixels = fbt != nullptr ? fbt->client : nullptr;
  *width = fbt != nullptr ? fbt->width : 0;
  *height = fbt != nullptr ? fbt->height : 0;
  *stride = *width;
  frame->define_time = get_milliseconds();
  frame->being_defined = 1;
  frame_call_define_hooks(frame);
}

void display_frame_define_raster_i32(display_frame* frame, uint32_t** pixels, int32_t* width,
                                     int32_t* height, int32_t* stride) {
  void* p = nullptr;
  define_raster(frame, RASTER_I32, &p, width, height, stride);
  *pixels = static_cast<uint32_t*>(p);
}

void display_frame_define_raster_float96(display_frame* frame, float** pixels, int32_t* width,
                                         int32_t* height, int32_t* stride) {
  void* p = nullptr;
  define_raster(frame, RASTER_FLOAT96, &p, width, height, stride);
  *pixels = static_cast<float*>(p);
}

void display_frame_commit(display_frame* frame) {
  frame_call_commit_hooks(frame);
  frame->being_defined = 0;
  frame->commit_time = get_milliseconds();
  if ((frame->flags & FRAME_RASTER) && frame->fb_texture != nullptr)
    framebuffer_texture_show(frame->fb_texture);
  opengl_trace("library/arch/opengl/frame", 222, nullptr);
}

void display_frame_commit_none(display_frame* frame) {
  frame->none = 1;
  frame->define_time = get_milliseconds();
  frame->commit_time = frame->define_time;
  glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

double display_frame_in_ms(const display_frame* frame) { return frame->time; }

display_device* display_frame_device(const display_frame* frame) {
  return frame->context != nullptr ? frame->context->device : nullptr;
}

display_context* display_frame_context(const display_frame* frame) { return frame->context; }
int display_frame_is_being_defined(const display_frame* frame) { return frame->being_defined != 0; }
array* display_frame_hooks(const display_frame* frame) { return frame->hooks; }
void frame_set_for_framebuffer(display_frame* frame) { frame->flags |= FRAME_FOR_FRAMEBUFFER; }
int frame_is_for_framebuffer(const display_frame* frame) {
  return (frame->flags & FRAME_FOR_FRAMEBUFFER) != 0;
}
