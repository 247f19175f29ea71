#include "arch/opengl/glut_state.h"

#include <GL/freeglut.h>
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

struct glut_state {
  display_io_handle* io = nullptr;
  configurator* open_configurator = nullptr;
  int must_initialize = 1;
  int glew_must_initialize = 1;
};
glut_state the_glut;

}  // namespace

display_io_handle* glut_io() { return the_glut.io; }
void glut_set_io(display_io_handle* handle) { the_glut.io = handle; }
configurator* glut_configurator() { return the_glut.open_configurator; }
void glut_set_configurator(configurator* c) { the_glut.open_configurator = c; }
int glut_is_initialized() { return !the_glut.must_initialize; }
int glew_must_initialize() { return the_glut.glew_must_initialize; }
void glew_note_initialized() { the_glut.glew_must_initialize = 0; }


int glut_initialize() {
  if (!the_glut.must_initialize) return 1;
  // freeglut ends the process itself when no display can be opened: say why
  // and how to run without a screen instead. The probe is held open across
  // glutInit: a server left without clients resets, refusing connections.
  Display* probe = XOpenDisplay(nullptr);
  if (probe == nullptr) {
    const char* name = getenv("DISPLAY");
    printf(
        "ERROR: no X display could be opened (DISPLAY is %s%s%s); to run without a screen, "
        "start the program under a virtual X server, for example: "
        "xvfb-run -a -s \"-screen 0 1920x1080x24\" PROGRAM [ARGUMENTS]\n",
        name ? "\"" : "", name ? name : "not set", name ? "\"" : "");
    return 0;
  }
  char title[] = "title";
  char* argv[] = {title, nullptr};
  int argc = 1;
  glutInit(&argc, argv);
  XCloseDisplay(probe);
#if defined(__SANITIZE_ADDRESS__)
  // Registered after glutInit, so it runs before freeglut's clean-up at exit
  // unloads the GL driver: the driver's own allocations could no longer be
  // told from ours after that.
  atexit([] { __lsan_do_leak_check(); });
#endif
  // Closing a window and leaving the main loop return to us: only the main
  // sequence ends the program.
  glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_CONTINUE_EXECUTION);
  the_glut.must_initialize = 0;
  return 1;
}
