#include <zeal/arch/opengl/platform_egl.h>

#include <GL/glew.h>
#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <zeal/arch/opengl/display.h>
#include <zeal/arch/opengl/display_loop.h>
#include <zeal/base/log.h>

namespace {

// Samples of the multisampled target, as a window asked for with
// multisampling gets them from Mesa.
constexpr GLsizei SAMPLES = 4;

struct egl_target {
  EGLDisplay display = EGL_NO_DISPLAY;
  EGLContext context = EGL_NO_CONTEXT;
  int any_config = 0;  // the context goes with a surface of any configuration
  std::string device;       // which EGL device or platform
  std::string description;  // and what is drawn into
  EGLSurface pbuffer = EGL_NO_SURFACE;  // the frame is drawn here when there is one
  // else into framebuffer objects:
  GLuint draw = 0;     // the frame is drawn here (multisampled unless draft)
  GLuint resolved = 0;  // and resolved here for reading (0 when drawn single-sampled)
  GLuint buffers[3] = {0, 0, 0};  // colour, depth, resolved colour
  int open = 0;
};

egl_target* target_of(const display_io* io) { return static_cast<egl_target*>(io->platform_state); }

int has_extension(const char* list, const char* name) {
  if (list == nullptr) return 0;
  size_t n = strlen(name);
  for (const char* p = list; (p = strstr(p, name)) != nullptr; p += n)
    if ((p == list || p[-1] == ' ') && (p[n] == ' ' || p[n] == '\0')) return 1;
  return 0;
}

struct egl_entry_points {
  PFNEGLQUERYDEVICESEXTPROC query_devices;
  PFNEGLQUERYDEVICESTRINGEXTPROC query_device_string;
  PFNEGLGETPLATFORMDISPLAYEXTPROC platform_display;
};

std::string egl_error() {
  char text[32];
  snprintf(text, sizeof text, "EGL error 0x%04x", static_cast<unsigned>(eglGetError()));
  return text;
}

// A desktop OpenGL compatibility context on `display`, current with no
// surface; the reason in `why` when there is none. An EGL display is the
// process's own, one for each platform and device, whatever its callers:
// once initialised it stays so until the process ends (terminating it would
// unload the driver, and with it what a leak check needs to tell the
// driver's memory from ours).
EGLContext make_context(EGLDisplay display, int* any_config, std::string* why) {
  EGLint major = 0, minor = 0;
  if (!eglInitialize(display, &major, &minor)) {
    *why = "eglInitialize failed (" + egl_error() + ")";
    return EGL_NO_CONTEXT;
  }
  const char* extensions = eglQueryString(display, EGL_EXTENSIONS);
  if (!has_extension(extensions, "EGL_KHR_surfaceless_context")) {
    *why = "the display cannot make a context current without a surface (no EGL_KHR_surfaceless_context)";
    return EGL_NO_CONTEXT;
  }
  if (!eglBindAPI(EGL_OPENGL_API)) {
    *why = "no desktop OpenGL through EGL (" + egl_error() + ")";
    return EGL_NO_CONTEXT;
  }
  EGLConfig config = nullptr;
  *any_config = has_extension(extensions, "EGL_KHR_no_config_context");
  if (!*any_config) {
    const EGLint wanted[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
    EGLint count = 0;
    if (!eglChooseConfig(display, wanted, &config, 1, &count) || count < 1) {
      *why = "no EGL configuration renders desktop OpenGL";
      return EGL_NO_CONTEXT;
    }
  }
  const EGLint attributes[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT,
                               EGL_NONE};
  EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, attributes);
  if (context == EGL_NO_CONTEXT) {
    *why = "no OpenGL compatibility-profile context (" + egl_error() + ")";
    return EGL_NO_CONTEXT;
  }
  if (!eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
    *why = "the context cannot be made current (" + egl_error() + ")";
    eglDestroyContext(display, context);
    return EGL_NO_CONTEXT;
  }
  return context;
}

std::vector<EGLDeviceEXT> devices_of(const egl_entry_points& egl) {
  EGLint count = 0;
  if (egl.query_devices == nullptr || !egl.query_devices(0, nullptr, &count) || count <= 0) return {};
  std::vector<EGLDeviceEXT> devices(static_cast<size_t>(count));
  if (!egl.query_devices(count, devices.data(), &count)) return {};
  devices.resize(static_cast<size_t>(count));
  return devices;
}

int is_software(const egl_entry_points& egl, EGLDeviceEXT device) {
  const char* extensions = egl.query_device_string ? egl.query_device_string(device, EGL_EXTENSIONS) : nullptr;
  return has_extension(extensions, "EGL_MESA_device_software");
}

// Draws on `display` (from the platform named `name`) when it gives a context.
int take_display(egl_target* t, EGLDisplay display, const std::string& name, std::string* why) {
  if (display == EGL_NO_DISPLAY) {
    *why = name + " gives no display (" + egl_error() + ")";
    return 0;
  }
  EGLContext context = make_context(display, &t->any_config, why);
  if (context == EGL_NO_CONTEXT) {
    *why = name + ": " + *why;
    return 0;
  }
  t->display = display;
  t->context = context;
  t->device = name;
  return 1;
}

int try_device(const egl_entry_points& egl, EGLDeviceEXT device, int index, egl_target* t, std::string* why) {
  return take_display(t, egl.platform_display(EGL_PLATFORM_DEVICE_EXT, device, nullptr),
                      "EGL device " + std::to_string(index), why);
}

int find_context(egl_target* t, int32_t wanted, std::string* why) {
  const char* client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  egl_entry_points egl{};
  if (has_extension(client, "EGL_EXT_platform_base")) {
    egl.platform_display =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
  }
  if (egl.platform_display == nullptr) {
    *why = "EGL offers no platforms (no EGL_EXT_platform_base: is an EGL driver such as libegl-mesa0 installed?)";
    return 0;
  }
  int device_platform = has_extension(client, "EGL_EXT_platform_device");
  if (device_platform) {
    egl.query_devices = reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
    egl.query_device_string =
        reinterpret_cast<PFNEGLQUERYDEVICESTRINGEXTPROC>(eglGetProcAddress("eglQueryDeviceStringEXT"));
  }
  std::vector<EGLDeviceEXT> devices = device_platform ? devices_of(egl) : std::vector<EGLDeviceEXT>{};
  if (wanted >= 0) {
    if (!device_platform) {
      *why = "no EGL device " + std::to_string(wanted) + ": EGL has no device platform (EGL_EXT_platform_device)";
      return 0;
    }
    if (static_cast<size_t>(wanted) >= devices.size()) {
      *why = "no EGL device " + std::to_string(wanted) + ": " + std::to_string(devices.size()) +
             " found (devices are numbered from 0)";
      return 0;
    }
    return try_device(egl, devices[static_cast<size_t>(wanted)], wanted, t, why);
  }
  // A GPU first; Mesa lists its software renderer as a device too, which the
  // surfaceless platform reaches as well.
  std::string tried;
  for (size_t i = 0; i < devices.size(); ++i) {
    if (is_software(egl, devices[i])) continue;
    if (try_device(egl, devices[i], static_cast<int>(i), t, why)) return 1;
    tried += "; " + *why;
  }
  if (!has_extension(client, "EGL_MESA_platform_surfaceless")) {
    *why = "no EGL device could draw and there is no surfaceless platform (EGL_MESA_platform_surfaceless)" + tried;
    return 0;
  }
  EGLDisplay display = egl.platform_display(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
  if (take_display(t, display, "EGL, surfaceless", why)) return 1;
  *why += tried;
  return 0;
}

void delete_target(egl_target* t) {
  GLuint framebuffers[2] = {t->draw, t->resolved};
  glDeleteFramebuffers(2, framebuffers);
  glDeleteRenderbuffers(3, t->buffers);
  t->draw = t->resolved = 0;
  t->buffers[0] = t->buffers[1] = t->buffers[2] = 0;
}

// Colour without alpha (read back as opaque) and a 32-bit depth buffer, as
// the window's visual has them, so that both draw the same pixels.
GLuint make_framebuffer(GLsizei samples, int32_t width, int32_t height, GLuint* colour, GLuint* depth) {
  GLuint framebuffer = 0;
  glGenFramebuffers(1, &framebuffer);
  glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
  glGenRenderbuffers(1, colour);
  glBindRenderbuffer(GL_RENDERBUFFER, *colour);
  glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples, GL_RGB8, width, height);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, *colour);
  if (depth != nullptr) {
    glGenRenderbuffers(1, depth);
    glBindRenderbuffer(GL_RENDERBUFFER, *depth);
    glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples, GL_DEPTH_COMPONENT32, width, height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, *depth);
  }
  glBindRenderbuffer(GL_RENDERBUFFER, 0);
  return framebuffer;
}

// A configuration as the window's visual has it: 8-bit colour without alpha
// (read back as opaque), a 32-bit depth buffer (else 24), no stencil, the
// samples asked for; null when there is none.
EGLConfig window_like_config(EGLDisplay display, EGLint samples) {
  const EGLint wanted[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                           EGL_RED_SIZE,     8,                EGL_GREEN_SIZE,      8,
                           EGL_BLUE_SIZE,    8,                EGL_SAMPLES,         samples,
                           EGL_NONE};
  EGLint count = 0;
  if (!eglChooseConfig(display, wanted, nullptr, 0, &count) || count <= 0) return nullptr;
  std::vector<EGLConfig> configs(static_cast<size_t>(count));
  if (!eglChooseConfig(display, wanted, configs.data(), count, &count)) return nullptr;
  EGLConfig best = nullptr;
  EGLint best_depth = 0;
  for (EGLint i = 0; i < count; ++i) {
    EGLint red = 0, green = 0, blue = 0, alpha = 0, depth = 0, stencil = 0, got_samples = 0;
    eglGetConfigAttrib(display, configs[i], EGL_RED_SIZE, &red);
    eglGetConfigAttrib(display, configs[i], EGL_GREEN_SIZE, &green);
    eglGetConfigAttrib(display, configs[i], EGL_BLUE_SIZE, &blue);
    eglGetConfigAttrib(display, configs[i], EGL_ALPHA_SIZE, &alpha);
    eglGetConfigAttrib(display, configs[i], EGL_DEPTH_SIZE, &depth);
    eglGetConfigAttrib(display, configs[i], EGL_STENCIL_SIZE, &stencil);
    eglGetConfigAttrib(display, configs[i], EGL_SAMPLES, &got_samples);
    if (red != 8 || green != 8 || blue != 8 || alpha != 0 || stencil != 0 || got_samples != samples) continue;
    if (depth > best_depth && depth <= 32) {
      best = configs[i];
      best_depth = depth;
    }
  }
  return best_depth >= 24 ? best : nullptr;
}

// A pixel buffer surface of the view's size is a window's framebuffer in all
// but name: drawn and read back as a window is, so a render gives the same
// pixels as in a window on the same driver. 0 when the display has none.
int open_pbuffer(display_io* io, egl_target* t) {
  if (!t->any_config) return 0;
  EGLConfig config = window_like_config(t->display, io->device->draft ? 0 : SAMPLES);
  if (config == nullptr) return 0;
  const EGLint size[] = {EGL_WIDTH, io->view_width, EGL_HEIGHT, io->view_height, EGL_NONE};
  t->pbuffer = eglCreatePbufferSurface(t->display, config, size);
  if (t->pbuffer == EGL_NO_SURFACE) return 0;
  if (!eglMakeCurrent(t->display, t->pbuffer, t->pbuffer, t->context)) {
    eglDestroySurface(t->display, t->pbuffer);
    t->pbuffer = EGL_NO_SURFACE;
    eglMakeCurrent(t->display, EGL_NO_SURFACE, EGL_NO_SURFACE, t->context);
    return 0;
  }
  t->description = t->device + ", pixel buffer";
  return 1;
}

const char* egl_describe(const display_io* io) { return target_of(io)->description.c_str(); }

// No screen: a view is never shrunk to fit one.
void egl_screen_size(int32_t size[2]) {
  size[0] = 16384;
  size[1] = 16384;
}

// Into framebuffer objects where there is no pixel buffer.
int open_framebuffers(display_io* io, egl_target* t) {
  const int32_t w = io->view_width, h = io->view_height;
  const GLsizei samples = io->device->draft ? 0 : SAMPLES;
  while (glGetError() != GL_NO_ERROR) {}
  t->draw = make_framebuffer(samples, w, h, &t->buffers[0], &t->buffers[1]);
  GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
  if (status == GL_FRAMEBUFFER_COMPLETE && samples > 0) {
    t->resolved = make_framebuffer(0, w, h, &t->buffers[2], nullptr);
    status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
  }
  if (status != GL_FRAMEBUFFER_COMPLETE || glGetError() != GL_NO_ERROR) {
    log_error("no %dx%d framebuffer with %d samples to render into (status 0x%04x)", w, h,
           static_cast<int>(samples), static_cast<unsigned>(status));
    delete_target(t);
    return 0;
  }
  glBindFramebuffer(GL_FRAMEBUFFER, t->draw);
  glViewport(0, 0, w, h);
  t->description = t->device + ", framebuffer object";
  return 1;
}

int egl_open(display_io_handle* handle) {
  display_io* io = handle->io;
  egl_target* t = target_of(io);
  if (!open_pbuffer(io, t) && !open_framebuffers(io, t)) return 0;
  io->red_bits = io->green_bits = io->blue_bits = 8;
  t->open = 1;
  display_make_context(io);
  return 1;
}

void egl_close(display_io_handle* handle) {
  display_io* io = handle->io;
  egl_target* t = target_of(io);
  if (!t->open) return;
  display_release_context(io);
  delete_target(t);
  if (t->pbuffer != EGL_NO_SURFACE) {
    eglMakeCurrent(t->display, EGL_NO_SURFACE, EGL_NO_SURFACE, t->context);
    eglDestroySurface(t->display, t->pbuffer);
    t->pbuffer = EGL_NO_SURFACE;
  }
  t->open = 0;
}

void egl_poll(display_io_handle*) {}

// The multisampled frame averaged into the resolved one, which glReadPixels
// then reads. A blit obeys the scissor test: the whole frame is wanted.
void egl_resolve(display_io_handle* handle) {
  egl_target* t = target_of(handle->io);
  if (t->resolved == 0) return;
  const int32_t w = handle->io->view_width, h = handle->io->view_height;
  GLboolean scissor = glIsEnabled(GL_SCISSOR_TEST);
  if (scissor) glDisable(GL_SCISSOR_TEST);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, t->draw);
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, t->resolved);
  glBlitFramebuffer(0, 0, w, h, 0, 0, w, h, GL_COLOR_BUFFER_BIT, GL_NEAREST);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, t->resolved);
  if (scissor) glEnable(GL_SCISSOR_TEST);
}

// The next frame is drawn into the target again.
void egl_present(display_io_handle* handle) {
  egl_target* t = target_of(handle->io);
  if (t->open && t->draw != 0) glBindFramebuffer(GL_FRAMEBUFFER, t->draw);
}

int egl_fullscreen_active() { return 0; }
void egl_toggle_fullscreen(display_io_handle*) {}
void egl_attach_input(display_device*, int) {}

void egl_release(display_io* io) {
  egl_target* t = target_of(io);
  if (t == nullptr) return;
  eglMakeCurrent(t->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  eglDestroyContext(t->display, t->context);
  eglReleaseThread();
  delete t;
  io->platform_state = nullptr;
}

const display_platform the_egl_platform = {
    egl_describe, egl_screen_size, egl_open,  egl_close,         egl_poll,
    egl_resolve,  egl_present,     egl_fullscreen_active, egl_toggle_fullscreen, egl_attach_input,
    egl_release,
};

}  // namespace

const display_platform* egl_platform() { return &the_egl_platform; }

int egl_make_context(display_io* io, int32_t device) {
  auto* t = new egl_target;
  std::string why;
  if (!find_context(t, device, &why)) {
    log_error("cannot render through EGL: %s", why.c_str());
    delete t;
    return 0;
  }
  // GL's entry points through GLEW; with no GLX context its GLX part finds
  // no display, which is of no concern here.
  GLenum status = glewInit();
  if ((status != GLEW_OK && status != GLEW_ERROR_NO_GLX_DISPLAY) || glGenFramebuffers == nullptr ||
      glBlitFramebuffer == nullptr || glRenderbufferStorageMultisample == nullptr) {
    log_error("cannot render through EGL: the context has no framebuffer objects (GLEW: %s)",
           reinterpret_cast<const char*>(glewGetErrorString(status)));
    eglMakeCurrent(t->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(t->display, t->context);
    delete t;
    return 0;
  }
  io->platform_state = t;
  return 1;
}
