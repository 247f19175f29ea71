// The GLUT window: game mode choice, making and deleting the window, the
// full-screen toggle, reshape and the redisplay timer.
#include <GL/glew.h>
#include <GL/freeglut.h>

#include <cstdio>

#include "arch/opengl/display.h"
#include "arch/opengl/display_loop.h"
#include "arch/opengl/glut_state.h"

namespace {

// The window's context is about to go: its users let go of it first.
void release_context(display_io* io) {
  if (io->detach != nullptr) io->detach(io->user, io->frames[0].context);
  for (display_frame& frame : io->frames) {
    frame_closecontext(&frame);
    frame_drop_texture(&frame);
  }
}

// A window closed from the window manager ends the program; freeglut
// destroys it once this returns. Windows the display deletes itself are
// unhooked first.
void glut_close_cb() {
  if (glut_io() == nullptr || glut_io()->io == nullptr) return;
  display_io* io = glut_io()->io;
  release_context(io);
  io->window = 0;
  my_exit(io);
}

}  // namespace

int display_choose_game_mode(int32_t width, int32_t height, int32_t screen_width,
                             int32_t screen_height) {
  const int32_t sizes[][2] = {{width, height}, {screen_width, screen_height}, {1920, 1200},
                              {1920, 1080},    {1680, 1050}, {1600, 1200},    {1440, 900},
                              {1400, 1050},    {1368, 768},  {1280, 1024},    {1280, 800},
                              {800, 600},      {640, 480}};
  const int count = static_cast<int>(sizeof(sizes) / sizeof(sizes[0]));
  for (int i = 0; i < count; ++i) {
    char mode[64];
    snprintf(mode, sizeof(mode), "%dx%d:%d", sizes[i][0], sizes[i][1], 32);
    printf("trying out: %s", mode);
    glutGameModeString(mode);
    if (glutGameModeGet(GLUT_GAME_MODE_POSSIBLE)) {
      printf(".. ok\n");
      return i;
    }
    printf(".. ko\n");
  }
  return -1;
}

static void report_glew() {
  GLenum status = glewInit();
  if (status != GLEW_OK) {
    fprintf(stderr, "Error: %s\n", reinterpret_cast<const char*>(glewGetErrorString(status)));
    printf("Status: GLEW %s Failed\n", reinterpret_cast<const char*>(glewGetString(GLEW_VERSION)));
  } else {
    printf("Status: Using GLEW %s\n", reinterpret_cast<const char*>(glewGetString(GLEW_VERSION)));
  }
}

void glut_make_window(display_io_handle* handle, int fullscreen) {
  display_io* io = handle->io;
  display_device* device = io->device;
  int made = 0;
  if (fullscreen && glutGameModeGet(GLUT_GAME_MODE_POSSIBLE)) {
    io->window = glutEnterGameMode();
    made = io->window > 0;
    if (glutGetWindow() != 0) glutSetCursor(GLUT_CURSOR_NONE);
  }
  if (io->window <= 0) {
    io->window = glutCreateWindow(handle->title);
    device->fullscreen_wanted = 0;
    if (io->window <= 0) {
      fprintf(stderr, "Error: could not open window\n");
      my_exit(io);
      return;
    }
    made = 1;
  }
  if (glew_must_initialize()) {
    report_glew();
    glew_note_initialized();
  }
  if (!made) return;

  glGetIntegerv(GL_RED_BITS, &io->red_bits);
  glGetIntegerv(GL_GREEN_BITS, &io->green_bits);
  glGetIntegerv(GL_BLUE_BITS, &io->blue_bits);
  if (io->green_bits < 8)
    printf("WARNING: bpp is %d/%d/%d.\n", io->red_bits, io->green_bits, io->blue_bits);

  glutSpecialFunc(nullptr);
  glutReshapeFunc(glut_reshape_cb);
  glutDisplayFunc(glut_display_cb);
  glutIdleFunc(glut_display_cb);
  glutCloseFunc(glut_close_cb);
  event_add_handler(device, INPUT_KEYBOARD_ID, core_keyboard_handler, device);
  attach_input_devices(device, 1);
  glut_timer(0);
  glutSetWindow(io->window);

  glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
  frame_newcontext(&io->frames[0], device);
  frame_sharecontext(&io->frames[1], &io->frames[0]);
  if (io->attach != nullptr) io->attach(io->user, io->frames[0].context);
}

void glut_delete_window(display_io_handle* handle, int leaving_game_mode) {
  display_io* io = handle->io;
  release_context(io);
  // freeglut calls the close callback for windows we delete ourselves too:
  // unhooked, so that it does not end the program.
  if (io->window > 0) {
    glutSetWindow(io->window);
    glutCloseFunc(nullptr);
  }
  if (leaving_game_mode) glutLeaveGameMode();
  else if (io->window > 0) glutDestroyWindow(io->window);
  io->window = 0;
}

void glut_toggle_fullscreen(display_io_handle* handle) {
  int to_window = glutGameModeGet(GLUT_GAME_MODE_ACTIVE) != 0;
  if (to_window) {
    printf("switching to windowed mode\n");
    glut_delete_window(handle, 1);
    glut_make_window(handle, 0);
  } else {
    printf("switching to fullscreen mode\n");
    glut_delete_window(handle, 0);
    glut_make_window(handle, 1);
  }
  if (glutGetWindow() != 0) glutSetCursor(to_window ? GLUT_CURSOR_INHERIT : GLUT_CURSOR_NONE);
}

void glut_reshape_cb(int width, int height) {
  if (glut_io() == nullptr || glut_io()->io == nullptr) return;
  display_io* io = glut_io()->io;
  int32_t viewport[4];
  display_viewport_for(glutGameModeGet(GLUT_GAME_MODE_ACTIVE) != 0, width, height,
                       io->aspect_numerator, io->aspect_denominator, viewport);
  glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
  io->view_width = viewport[2];
  io->view_height = viewport[3];
}

void glut_timer(int value) {
  if (value != 0 || glut_io() == nullptr || glut_io()->io == nullptr) return;
  display_io* io = glut_io()->io;
  if (io->window > 0) {
    glutSetWindow(io->window);
    glutPostRedisplay();
  }
  auto period = static_cast<int>(io->period);
  glutTimerFunc(static_cast<unsigned>(static_cast<int>(period * 0.3333333333333333)), glut_timer, 0);
}
