#include <zeal/arch/opengl/platform_glut.h>

#include <GL/glew.h>
#include <GL/freeglut.h>
#include <X11/Xlib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <zeal/arch/opengl/display.h>
#include <zeal/arch/opengl/display_loop.h>
#include <zeal/arch/opengl/input.h>
#include <zeal/base/log.h>
#include <zeal/base/thread.h>

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


int glut_initialize() {
  if (!the_glut.must_initialize) return 1;
  // freeglut ends the process itself when no display can be opened: say why
  // and how to run without a screen instead. The probe is held open across
  // glutInit: a server left without clients resets, refusing connections.
  Display* probe = XOpenDisplay(nullptr);
  if (probe == nullptr) {
    const char* name = getenv("DISPLAY");
    log_error(
        "no X display could be opened (DISPLAY is %s%s%s); renders (--film, --diskwriter) "
        "need none, but to play without a screen, start the program under a virtual X server, "
        "for example: xvfb-run -a -s \"-screen 0 1920x1080x24\" PROGRAM [ARGUMENTS]",
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

namespace {

// A window closed from the window manager ends the program; freeglut
// destroys it once this returns. Windows the display deletes itself are
// unhooked first.
void glut_close_cb() {
  if (glut_io() == nullptr || glut_io()->io == nullptr) return;
  display_io* io = glut_io()->io;
  display_release_context(io);
  io->window = 0;
  my_exit(io);
}

// The device whose window is open: GLUT callbacks deliver to it.
display_device* open_device() {
  if (glut_io() == nullptr || glut_io()->io == nullptr) return nullptr;
  return glut_io()->io->device;
}

void send(int32_t code, int32_t value, int32_t code2, int32_t value2, uint32_t id) {
  display_device* device = open_device();
  if (device == nullptr) return;
  int32_t event[INPUT_EVENT_WORDS] = {static_cast<int32_t>(id), 0, code, value, code2, value2};
  for (input_slot& slot : device->slots)
    if (event_hooks_send(&slot, event, INPUT_EVENT_WORDS)) return;
}

void send_key(int32_t code, unsigned char key) {
  send(code, key, 4, static_cast<signed char>(key), INPUT_KEYBOARD_ID);
}

void report_glew() {
  GLenum status = glewInit();
  if (status != GLEW_OK) {
    log_print(LOG_STDERR, LOG_INFORMATION, "Error: %s", reinterpret_cast<const char*>(glewGetErrorString(status)));
    log_info("Status: GLEW %s Failed", reinterpret_cast<const char*>(glewGetString(GLEW_VERSION)));
  } else {
    log_info("Status: Using GLEW %s", reinterpret_cast<const char*>(glewGetString(GLEW_VERSION)));
  }
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
    glutGameModeString(mode);
    bool possible = glutGameModeGet(GLUT_GAME_MODE_POSSIBLE) != 0;
    log_info("trying out: %s.. %s", mode, possible ? "ok" : "ko");
    if (possible) return i;
  }
  return -1;
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
      log_print(LOG_STDERR, LOG_INFORMATION, "Error: could not open window");
      my_exit(io);
      return;
    }
    made = 1;
  }
  if (the_glut.glew_must_initialize) {
    report_glew();
    the_glut.glew_must_initialize = 0;
  }
  if (!made) return;

  glGetIntegerv(GL_RED_BITS, &io->red_bits);
  glGetIntegerv(GL_GREEN_BITS, &io->green_bits);
  glGetIntegerv(GL_BLUE_BITS, &io->blue_bits);
  if (io->green_bits < 8)
    log_warning("bpp is %d/%d/%d.", io->red_bits, io->green_bits, io->blue_bits);

  glutSpecialFunc(nullptr);
  glutReshapeFunc(glut_reshape_cb);
  glutDisplayFunc(glut_display_cb);
  glutIdleFunc(glut_display_cb);
  glutCloseFunc(glut_close_cb);
  event_add_handler(device, INPUT_KEYBOARD_ID, core_keyboard_handler, device);
  attach_input_devices(device, 1);
  glut_timer(0);
  glutSetWindow(io->window);

  display_make_context(io);
}

void glut_delete_window(display_io_handle* handle, int leaving_game_mode) {
  display_io* io = handle->io;
  display_release_context(io);
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
    log_info("switching to windowed mode");
    glut_delete_window(handle, 1);
    glut_make_window(handle, 0);
  } else {
    log_info("switching to fullscreen mode");
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

void do_keyboard(unsigned char key, int, int) {
  send_key(1, key);
  send_key(2, key);
}

void do_keyboard_up(unsigned char key, int, int) { send_key(3, key); }

void do_mouse(int button, int state, int, int) {
  if (display_device* device = open_device()) device->last_mouse_button = button;
  int32_t code = button == GLUT_RIGHT_BUTTON ? 1 : button == GLUT_MIDDLE_BUTTON ? 2 : 0;
  if (state == GLUT_DOWN) send(1, code, 0, 0, INPUT_MOUSE_ID);
  else if (state == GLUT_UP) send(2, code, 0, 0, INPUT_MOUSE_ID);
}

void do_mouse_move(int x, int y) { send(4, x, 5, y, INPUT_MOUSE_ID); }

int32_t input_joystick_position(int value) {
  float f = static_cast<float>(value) * 0.001f;
  float m = std::fabs(f) < 1.0f ? std::fabs(f) : 1.0f;
  return static_cast<int32_t>(f > 0.0f ? std::lrint(m * 100000.0f) : std::lrint(m * -100000.0f));
}

// Buttons 12 to 15 are the directional pad.
static int32_t joystick_direction(int button) {
  static const int32_t directions[4] = {7, 10, 8, 9};
  return button >= 12 && button <= 15 ? directions[button - 12] : -1;
}

void do_joystick(unsigned int mask, int x, int y, int z) {
  display_device* device = open_device();
  if (device == nullptr) return;
  for (int b = 0; b < 24; ++b) {
    uint32_t bit = 1u << b;
    if (((mask ^ device->last_joystick_mask) & bit) == 0) continue;
    int pressed = (mask & bit) != 0;
    int32_t direction = joystick_direction(b);
    if (direction < 0) send(pressed ? 1 : 2, b, 0, 0, INPUT_JOYSTICK_ID);
    else send(pressed ? 4 : 5, direction, 0, 0, INPUT_JOYSTICK_ID);
  }
  for (int b = 0; b < 24; ++b) {
    if ((mask & (1u << b)) == 0) continue;
    int32_t direction = joystick_direction(b);
    if (direction < 0) send(3, b, 0, 0, INPUT_JOYSTICK_ID);
    else send(6, direction, 0, 0, INPUT_JOYSTICK_ID);
  }
  const int axes[3] = {x, y, z};
  for (int a = 0; a < 3; ++a) send(11, a, 12, input_joystick_position(axes[a]), INPUT_JOYSTICK_ID);
  device->last_joystick_mask = mask;
}

void attach_input_devices(display_device* device, int force) {
  if (force) device->need_mouse = device->need_keyboard = device->need_joystick = 1;
  double now = get_milliseconds();
  if (now - device->last_device_check <= 1500.0) return;
  device->last_device_check = now;
  if (device->need_joystick && glutDeviceGet(GLUT_HAS_JOYSTICK)) {
    glutJoystickFunc(do_joystick, 15);
    device->need_joystick = 0;
  }
  if (device->need_keyboard && glutDeviceGet(GLUT_HAS_KEYBOARD)) {
    glutIgnoreKeyRepeat(0);
    glutKeyboardUpFunc(do_keyboard_up);
    glutKeyboardFunc(do_keyboard);
    device->need_keyboard = 0;
  }
  if (device->need_mouse && glutDeviceGet(GLUT_HAS_MOUSE)) {
    glutMouseFunc(do_mouse);
    glutMotionFunc(do_mouse_move);
    glutPassiveMotionFunc(do_mouse_move);
    device->need_mouse = 0;
  }
}

void core_keyboard_handler(void* user, const int32_t* event, int32_t words) {
  if (words < INPUT_EVENT_WORDS || event[2] != 1) return;
  int alt = event[3] == 13 && (glutGetModifiers() & GLUT_ACTIVE_ALT) != 0;
  core_keyboard_key(static_cast<display_device*>(user), event[3], alt);
}

void glut_display_cb() {
  if (glut_io() == nullptr || glut_io()->io == nullptr || glut_io()->io->device == nullptr) return;
  display_loop_step(glut_io());
}

namespace {

void* bitmap_font(int32_t font) {
  switch (font) {
    case GLUT_FONT_8_BY_13: return GLUT_BITMAP_8_BY_13;
    case GLUT_FONT_HELVETICA_10: return GLUT_BITMAP_HELVETICA_10;
    case GLUT_FONT_HELVETICA_12: return GLUT_BITMAP_HELVETICA_12;
    case GLUT_FONT_HELVETICA_18: return GLUT_BITMAP_HELVETICA_18;
    default: return GLUT_BITMAP_9_BY_15;
  }
}

}  // namespace

int32_t glut_bitmap_width(int32_t font, unsigned char c) { return glutBitmapWidth(bitmap_font(font), c); }

int32_t glut_bitmap_length(int32_t font, const char* text) {
  return glutBitmapLength(bitmap_font(font), reinterpret_cast<const unsigned char*>(text));
}

void glut_bitmap_draw(int32_t font, const char* text, int32_t count) {
  for (int32_t i = 0; i < count; ++i) glutBitmapCharacter(bitmap_font(font), static_cast<unsigned char>(text[i]));
}

namespace {

void glut_screen_size(int32_t size[2]) {
  size[0] = glutGet(GLUT_SCREEN_WIDTH);
  size[1] = glutGet(GLUT_SCREEN_HEIGHT);
}

int glut_open(display_io_handle* handle) {
  display_io* io = handle->io;
  display_device* device = io->device;
  glut_set_io(handle);
  glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH | (device->draft ? 0 : GLUT_MULTISAMPLE));
  glutInitWindowPosition(100, 100);
  glutInitWindowSize(io->view_width, io->view_height);
  display_choose_game_mode(io->view_width, io->view_height, device->screen_width, device->screen_height);
  glut_make_window(handle, static_cast<int>(device->fullscreen_wanted));
  if (!device->offline && glutGet(GLUT_WINDOW_DOUBLEBUFFER)) io->presentation_offset += io->period;
  return 1;
}

void glut_close(display_io_handle* handle) {
  display_io* io = handle->io;
  if (io->window > 0) glut_delete_window(handle, glutGameModeGet(GLUT_GAME_MODE_ACTIVE) != 0);
  if (glut_io() == handle) glut_set_io(nullptr);
}

// The display's window is current again afterwards: GL calls go to it.
void glut_poll(display_io_handle* handle) {
  glutMainLoopEvent();
  if (handle->io->window > 0) glutSetWindow(handle->io->window);
}

void glut_resolve(display_io_handle*) {}

// Offline, nobody looks at the window: the frame is in its file already.
void glut_present(display_io_handle* handle) {
  if (!handle->io->device->offline) glutSwapBuffers();
}

int glut_fullscreen_active() { return glutGameModeGet(GLUT_GAME_MODE_ACTIVE) != 0; }

void glut_release(display_io*) {}

const char* glut_describe(const display_io*) { return "GLX, in a window"; }

const display_platform the_glut_platform = {
    glut_describe, glut_screen_size, glut_open, glut_close, glut_poll, glut_resolve, glut_present,
    glut_fullscreen_active, glut_toggle_fullscreen, attach_input_devices, glut_release,
};

}  // namespace

const display_platform* glut_platform() { return &the_glut_platform; }
