// The display output: a realtime device that shows frames in a GLUT window
// (or full screen) and an offline device that renders every frame to a file,
// in a window or, through EGL, with no window system at all.
//
// This file's records and accessors call nothing above them; the display's
// life (make, open, finish) is in display_io.cpp, the frame loop in
// display_loop.cpp, and each platform (platform_glut.cpp, platform_egl.cpp)
// sits behind the operations of a display_platform.
#pragma once
#include <cstdint>

#include <zeal/arch/opengl/frame.h>
#include <zeal/arch/opengl/geometry.h>
#include <zeal/arch/opengl/image.h>
#include <zeal/arch/opengl/input.h>
#include <zeal/base/array.h>
#include <zeal/base/progress.h>

struct avstream_channel;
struct display_io;
struct film;
struct frame_writer;
struct stop_request;

using display_fn = void (*)(void* user, display_frame* frame);
using display_context_fn = int32_t (*)(void* user, display_context* context);

struct display_device {
  uint32_t offline;
  uint32_t fullscreen_capable;
  uint32_t fullscreen_wanted;
  int32_t screen_width;
  int32_t screen_height;
  uint32_t available;
  array file_prefix;  // with its terminating zero
  image capture;      // offline device only
  uint32_t need_mouse;
  uint32_t need_keyboard;
  uint32_t need_joystick;
  input_slot slots[3];  // mouse, joystick, keyboard
  display_io* io;       // the display io that claimed the device
  // Input callbacks are looked for again at most every 1.5 s.
  double last_device_check;
  uint32_t last_joystick_mask;
  int32_t last_mouse_button;
  uint32_t draft;  // offline: half size, without multisampling
  struct film* film;  // offline: pictures go to this film instead of image files
};

// What a platform does for the display: the window or offscreen target, its
// events and its pictures. Every operation takes the open display.
struct display_io_handle;
struct display_platform {
  // What draws, for the line a render prints first ("GLX", "EGL device 0").
  const char* (*describe)(const display_io* io);
  // The screen the views are fitted into.
  void (*screen_size)(int32_t size[2]);
  // Makes the window or target for io->device at the io's view size and makes
  // its context current; 0, after an ERROR line, when it cannot.
  int (*open)(display_io_handle* handle);
  // Lets go of the window or target; the context's users are told first.
  // Nothing once done.
  void (*close)(display_io_handle* handle);
  // Pending window events, handled once.
  void (*poll)(display_io_handle* handle);
  // The frame just drawn is where glReadPixels reads it.
  void (*resolve)(display_io_handle* handle);
  // Shows the frame (live) or makes ready for the next one.
  void (*present)(display_io_handle* handle);
  int (*fullscreen_active)();
  void (*toggle_fullscreen)(display_io_handle* handle);
  // Makes sure the input callbacks are installed (at most every 1.5 s unless forced).
  void (*attach_input)(display_device* device, int force);
  // Frees what the platform made for the io (its context), once at teardown.
  void (*release)(display_io* io);
};

// The wall clock the display loop reads (get_milliseconds unless replaced).
using display_loop_clock_fn = double (*)();

struct display_io {
  display_device* device;
  double period;
  double presentation_offset;
  int32_t frame_counter;
  display_fn display;
  display_context_fn attach;
  display_context_fn detach;
  void* user;
  display_frame frames[2];
  int32_t current;  // the frame last presented
  display_stats stats;
  array hooks;
  avstream_channel* channel;
  display_device** define_list;
  int32_t window;
  int32_t view_width;
  int32_t view_height;
  int32_t aspect_numerator;
  int32_t aspect_denominator;
  int32_t red_bits;
  int32_t green_bits;
  int32_t blue_bits;
  double last_frame_at;  // device time (ms from start) of the last frame begun
  int32_t rolled_frames;  // offline: frames drawn while the clock rolls
  display_device* devices[3];  // realtime, offline, null: made and freed with the io
  // Raised when the display ends, on Escape or when the window is closed;
  // once raised, the loop leaves the main loop and finish returns.
  stop_request* stop;
  frame_writer* writer;  // offline: writes the captured frames
  display_loop_clock_fn clock;
  int32_t switching;        // a full-screen switch is in progress
  int32_t switch_attempts;  // frames skipped while switching
  opengl_geometry_frames geometry;
  int32_t report_progress;  // offline: print the render's progress
  render_progress progress;
  // Offline: only rolled frames [range_from, range_to) are drawn and kept
  // (no end when range_to <= range_from); once they are, the display stops
  // its clock channel, calls range_done and waits for the stop.
  int32_t range_from;
  int32_t range_to;
  int32_t range_finished;
  void (*range_done)(void* user);
  void* range_user;
  int32_t left;  // the window is gone after a stop: display_io_finish returns
  const display_platform* platform;
  void* platform_state;  // the platform's own, freed by its release
  display_io_handle* handle;  // while open
};

// How a display draws: in a GLUT window (GLX), or with no window system
// through EGL (renders only).
enum display_gl : int32_t { DISPLAY_GL_WINDOW = 0, DISPLAY_GL_EGL = 1 };

struct display_io_handle {
  const char* title;
  display_io* io;
  int32_t gl;         // display_gl, read by display_io_make
  int32_t gl_device;  // EGL: the device to draw on; -1: a GPU when there is one
  int32_t frames_kept;  // offline: frames kept in the files or the film; kept after the io goes
};

// Makes the display io with its two devices on the platform handle->gl
// names: initialises GLUT the first time, or makes the EGL context. Leaves
// handle->io null, after an ERROR line, when no X display can be opened or
// EGL cannot give a context.
void display_io_make(display_io_handle* handle);
// The stop the display raises when it ends and watches to know when to end.
void display_io_watch(display_io_handle* handle, stop_request* stop);
void display_io_define(display_io_handle* handle, display_device*** list);
void display_io_commit(display_io_handle* handle, display_device* device);
// Opens the window and runs the GLUT main loop until a stop is raised; then
// closes the window and frees the io.
void display_io_finish(display_io_handle* handle);
// The parts of finish: the window before the main loop, the cleanup after it.
void display_io_open(display_io_handle* handle);
void display_io_teardown(display_io_handle* handle);
// Ends the display: raises its stop, which the loop answers by leaving.
void display_io_stop(display_io* io);
void my_exit(display_io* io);
// The display that is open (between display_io_open and its teardown), if any.
display_io* display_open_io();
void display_set_open_io(display_io* io);
int display_device_is_realtime(const display_device* device);
int display_device_bpp(const display_device* device);
void display_device_resolution_in_px(const display_device* device, int32_t size[2]);
float display_device_pixel_ratio(const display_device* device);
int32_t display_device_set_aspect_ratio(display_device* device, int32_t width, int32_t height);
void display_device_prefer_fullscreen(display_device* device, int flag);
// Offline: a quick preview at half size without multisampling.
void display_device_prefer_draft(display_device* device, int flag);
// Offline: hands every picture to `film` instead of writing image files.
void display_device_set_film(display_device* device, film* f);
// The size of the pictures the device will draw, once its aspect is set.
struct display_view;
display_view display_device_view(const display_device* device);
// Offline: draws only rolled frames [from, to) (to <= from: to the end);
// `done(user)` is called once the last of them is kept.
void display_io_set_range(display_io_handle* handle, int32_t from, int32_t to, void (*done)(void* user),
                          void* user);
// Offline: prints the render's progress on standard error; `total_ms` is the
// output time the render will take (0 when not known).
void display_io_report_progress(display_io_handle* handle, double total_ms);
void display_device_attach(display_device* device, display_fn display, display_context_fn attach,
                           display_context_fn detach, void* user);
int display_device_command(display_device* device, const char* name, const char* value);
display_device* display_context_get_device(const display_context* context);

// Reduces width : height to a small ratio (denominators 3, 9, 10, else height).
void display_aspect_reduce(int32_t width, int32_t height, int32_t* numerator, int32_t* denominator);

struct display_view {
  int32_t width;
  int32_t height;
  int32_t numerator;
  int32_t denominator;
};
// The drawn area for an aspect ratio on a screen: 720 lines, shrunk by 1/sqrt 2
// until it fits inside the screen.
display_view display_fit_view(int32_t numerator, int32_t denominator, int32_t screen_width,
                              int32_t screen_height);
// The viewport for a window of width x height: boxed to the aspect in game mode.
void display_viewport_for(int game_mode, int32_t width, int32_t height, int32_t numerator,
                          int32_t denominator, int32_t viewport[4]);

// Escape quits (leaving full screen first); Alt+Return flips the full-screen wish.
void core_keyboard_key(display_device* device, int32_t key, int alt);
