#include <zeal/arch/opengl/framebuffer.h>

#include <GL/glew.h>

#include <cstddef>
#include <cstdio>

#include <zeal/arch/opengl/display.h>
#include <zeal/arch/opengl/trace.h>
#include <zeal/base/log.h>

static const char* const SOURCE = "library/arch/opengl/framebuffer";

static opengl_framebuffer* owner_of(display_frame* frame) {
  return reinterpret_cast<opengl_framebuffer*>(reinterpret_cast<char*>(frame) -
                                               offsetof(opengl_framebuffer, frame));
}

void activate(opengl_framebuffer* fb) {
  glBindFramebuffer(GL_FRAMEBUFFER, fb->object);
  opengl_trace(SOURCE, 6, nullptr);
  if (fb->flags & FRAMEBUFFER_DEPTH_ONLY) {
    glDrawBuffer(GL_NONE);
    opengl_trace(SOURCE, 10, nullptr);
    glReadBuffer(GL_NONE);
    opengl_trace(SOURCE, 12, nullptr);
  } else {
    glDrawBuffer(GL_COLOR_ATTACHMENT0);
    opengl_trace(SOURCE, 15, nullptr);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    opengl_trace(SOURCE, 17, nullptr);
  }
  glPushAttrib(GL_COLOR_BUFFER_BIT | GL_VIEWPORT_BIT | GL_DEPTH_BUFFER_BIT);
  opengl_trace(SOURCE, 21, nullptr);
  glViewport(0, 0, fb->tex.width, fb->tex.height);
  fb->active = 1;
}

void deactivate(opengl_framebuffer* fb) {
  glPopAttrib();
  opengl_trace(SOURCE, 28, nullptr);
  glBindFramebuffer(GL_FRAMEBUFFER, fb->previous);
  opengl_trace(SOURCE, 30, nullptr);
  if (fb->previous == 0) {
    glReadBuffer(GL_BACK);
    glDrawBuffer(GL_BACK);
  }
  fb->active = 0;
}

static int32_t power_of_two(int32_t n) {
  int32_t size = 2;
  while (size < n) size *= 2;
  return size;
}

void opengl_framebuffer_define_texture(opengl_framebuffer* fb, uint32_t flags, int32_t unit) {
  int32_t size[2] = {0, 0};
  if (fb->device != nullptr) display_device_resolution_in_px(fb->device, size);
  if (!(fb->flags & FRAMEBUFFER_VIEW_SIZE)) {
    int32_t divisor = fb->divisor > 1 ? fb->divisor : 1;
    size[0] = power_of_two(size[0]) / divisor;
    size[1] = power_of_two(size[1]) / divisor;
  }
  if (!fb->tex.made) texture_make(&fb->tex);
  if (fb->flags & FRAMEBUFFER_DEPTH_ONLY)
    private_texture_define_with_format(&fb->tex, flags | TEXTURE_NO_MIPMAP, unit, 2, size,
                                       GL_DEPTH_COMPONENT, GL_UNSIGNED_BYTE);
  else
    private_texture_define_with_format(&fb->tex, flags | TEXTURE_NO_MIPMAP, unit, 2, size, GL_RGBA,
                                       GL_UNSIGNED_INT_8_8_8_8_REV);
}

void opengl_framebuffer_make(opengl_framebuffer* fb) {
  fb->active = 0;
  fb->outer = nullptr;
  fb->renderbuffer = 0;
  fb->previous = 0;
  fb->hook = -1;
  fb->available = GLEW_ARB_framebuffer_object ? 1 : 0;
  if (!fb->available) {
    log_error("FBO extension unavailable!");
    return;
  }
  frame_set_for_framebuffer(&fb->frame);
  GLuint object = 0;
  glGenFramebuffers(1, &object);
  fb->object = object;
  GLint previous = 0;
  glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previous);
  fb->previous = static_cast<uint32_t>(previous);
  opengl_framebuffer_define_texture(fb, 0, 0);
  glBindFramebuffer(GL_FRAMEBUFFER, fb->object);
  opengl_trace(SOURCE, 140, nullptr);
  if (fb->flags & FRAMEBUFFER_DEPTH_ONLY) {
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_TEXTURE_2D, fb->tex.name, 0);
    opengl_trace(SOURCE, 145, nullptr);
    glDrawBuffer(GL_NONE);
    opengl_trace(SOURCE, 148, nullptr);
    glReadBuffer(GL_NONE);
  } else {
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, fb->tex.name, 0);
    GLuint renderbuffer = 0;
    glGenRenderbuffers(1, &renderbuffer);
    fb->renderbuffer = renderbuffer;
  }
  opengl_trace(SOURCE, 156, nullptr);
  GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
  if (status == GL_FRAMEBUFFER_COMPLETE) {
    fb->hook = display_frame_add_hooks(&fb->frame, hook_world_allocate, hook_world_free,
                                       hook_world_define, hook_world_commit);
  } else {
    log_info("%s", status == GL_FRAMEBUFFER_UNSUPPORTED ? "GL_FRAMEBUFFER_UNSUPPORTED" : "Other error");
    log_info("could not setup framebuffer extension.");
    fb->available = 0;
  }
  if (fb->renderbuffer != 0) {
    glBindRenderbuffer(GL_RENDERBUFFER, fb->renderbuffer);
    opengl_trace(SOURCE, 171, nullptr);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT, fb->tex.storage_width,
                          fb->tex.storage_height);
    opengl_trace(SOURCE, 174, nullptr);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, fb->renderbuffer);
    opengl_trace(SOURCE, 177, nullptr);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    opengl_trace(SOURCE, 179, nullptr);
  }
  glBindFramebuffer(GL_FRAMEBUFFER, fb->previous);
  opengl_trace(SOURCE, 183, nullptr);
}

display_frame* opengl_framebuffer_addf(opengl_framebuffer* fb, display_frame* frame) {
  frame_sharecontext(&fb->frame, frame);
  fb->frame.start = frame->start;
  fb->frame.time = frame->time;
  fb->outer = frame_is_for_framebuffer(frame) ? owner_of(frame) : nullptr;
  return &fb->frame;
}

void opengl_framebuffer_destroy(opengl_framebuffer* fb) {
  if (!fb->available) return;
  GLuint object = fb->object;
  glDeleteFramebuffers(1, &object);
  fb->object = 0;
  if (fb->hook >= 0) display_frame_remove_hooks(&fb->frame, fb->hook);
  fb->hook = -1;
  if (fb->renderbuffer != 0) {
    GLuint renderbuffer = fb->renderbuffer;
    glDeleteRenderbuffers(1, &renderbuffer);
    fb->renderbuffer = 0;
  }
  fb->available = 0;
}

// The frame hooks run only for hooks that have an instance; the world hook
// needs none of its own (the frame leads to its framebuffer), so it is given
// a shared token.
static const char world_token = 0;
void* hook_world_allocate() { return const_cast<char*>(&world_token); }
void hook_world_free(void*) {}

void hook_world_define(void*, display_frame* frame) {
  opengl_framebuffer* fb = owner_of(frame);
  if (fb->outer != nullptr && fb->outer->active)
    deactivate(fb->outer);
  else
    fb->outer = nullptr;
  activate(fb);
}

void hook_world_commit(void*, display_frame* frame) {
  opengl_framebuffer* fb = owner_of(frame);
  deactivate(fb);
  if (fb->outer != nullptr) activate(fb->outer);
}
