// The display loop: GLUT's display and idle callback. Each call decides
// whether a frame is due, has the application draw it, presents it, advances
// the display's clock channel, keeps statistics and, offline, writes the frame
// to an image file.
#pragma once

struct display_io;
struct display_io_handle;

void glut_display_cb();
// One call of the loop on `handle` (glut_display_cb works on glut_io).
void display_loop_step(display_io_handle* handle);

// The wall clock the loop reads (get_milliseconds unless replaced).
using display_loop_clock_fn = double (*)();
void display_loop_set_clock(display_loop_clock_fn clock);

// Reports the statistics block to the performance log and resets it.
void display_loop_report(display_io* io, int frame_index);
// Writes the pixels of the current GL buffer to prefix-NNNNNNNN.tga, upright.
void display_loop_capture(display_io* io);
// Forgets the full-screen switch in progress.
void display_loop_reset_switching();
