// The display loop: each call decides whether a frame is due, has the
// application draw it, presents it through the display's platform, advances
// the display's clock channel, keeps statistics and, offline, writes the frame
// to an image file or a film.
#pragma once

struct display_io;
struct display_io_handle;

// One call of the loop on `handle` (glut_display_cb works on the open display).
void display_loop_step(display_io_handle* handle);

// Reports the statistics block to the performance log and resets it.
void display_loop_report(display_io* io, int frame_index);
// Writes the pixels of the current GL buffer to prefix-NNNNNNNN.tga, upright.
void display_loop_capture(display_io* io);

// The context of a window or target just made: the frames share one record
// and the application is told (its attach callback).
void display_make_context(display_io* io);
// The context is about to go: its users let go of it first.
void display_release_context(display_io* io);
