// The display loop: GLUT's display and idle callback. Each call decides
// whether a frame is due, has the application draw it, presents it, advances
// the display's clock channel, keeps statistics and, offline, writes the frame
// to an image file.
#pragma once

struct display_io;
struct display_io_handle;

void glut_display_cb();
// One call of the loop on `handle` (glut_display_cb works on the open display).
void display_loop_step(display_io_handle* handle);

// Reports the statistics block to the performance log and resets it.
void display_loop_report(display_io* io, int frame_index);
// Writes the pixels of the current GL buffer to prefix-NNNNNNNN.tga, upright.
void display_loop_capture(display_io* io);
