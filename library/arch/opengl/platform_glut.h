// The GLUT platform: the window (or full screen through game mode) that
// shows frames live, and that renders draw into when there is an X display;
// its input callbacks and its main loop. GLUT is initialised once per process
// and its callbacks carry no argument, so they find the open display and the
// open configuration window here: the only state of the framework's OpenGL
// back end that lives in the process.
#pragma once
#include <cstdint>

struct configurator;
struct display_device;
struct display_io_handle;
struct display_platform;

const display_platform* glut_platform();

// The display whose window is open; null outside display_io_finish.
display_io_handle* glut_io();
void glut_set_io(display_io_handle* handle);
// The configuration window while it runs.
configurator* glut_configurator();
void glut_set_configurator(configurator* c);

// Initialises GLUT after checking that an X display can be opened; 0 (after
// an ERROR line naming the display) when none can. Does nothing once done.
int glut_initialize();
int glut_is_initialized();

// The window, and the callbacks GLUT calls on it.
void glut_make_window(display_io_handle* handle, int fullscreen);
void glut_delete_window(display_io_handle* handle, int leaving_game_mode);
void glut_toggle_fullscreen(display_io_handle* handle);
void glut_reshape_cb(int width, int height);
void glut_timer(int value);
void glut_display_cb();
// Tries the game mode strings in order; returns the index of the one chosen,
// or -1 when none is possible (the last one then stays set).
int display_choose_game_mode(int32_t width, int32_t height, int32_t screen_width,
                             int32_t screen_height);

// Input callbacks; they deliver to the device of the open display.
void do_keyboard(unsigned char key, int x, int y);
void do_keyboard_up(unsigned char key, int x, int y);
void do_mouse(int button, int state, int x, int y);
void do_mouse_move(int x, int y);
void do_joystick(unsigned int mask, int x, int y, int z);
// The position sent for a GLUT axis value (-1000 .. 1000).
int32_t input_joystick_position(int value);
void attach_input_devices(display_device* device, int force);
// Escape and Alt+Return on the window (core_keyboard_key, with GLUT's Alt state).
void core_keyboard_handler(void* user, const int32_t* event, int32_t words);

// Bitmap fonts: GLUT draws them at the raster position of its window's context.
enum : int32_t {
  GLUT_FONT_9_BY_15,
  GLUT_FONT_8_BY_13,
  GLUT_FONT_HELVETICA_10,
  GLUT_FONT_HELVETICA_12,
  GLUT_FONT_HELVETICA_18,
};
int32_t glut_bitmap_width(int32_t font, unsigned char c);
int32_t glut_bitmap_length(int32_t font, const char* text);
void glut_bitmap_draw(int32_t font, const char* text, int32_t count);
