// The EGL platform: renders with no window system at all. It draws with
// desktop OpenGL (the compatibility profile, so fixed-function drawing works
// as in a window) on an EGL device (a GPU through its vendor's driver) when
// there is one, else on Mesa's surfaceless platform. The frame is drawn into
// a pixel buffer of the output size configured as the window's visual
// (multisampled unless draft), so that it rasterises exactly as a window does
// on the same driver; where the driver has no such buffer, into framebuffer
// objects, resolved and read back from there.
#pragma once
#include <cstdint>

struct display_io;
struct display_platform;

const display_platform* egl_platform();

// Makes the EGL context for `io` and makes it current: on EGL device
// `device` (its index in eglQueryDevicesEXT's list), or with device < 0 on the
// first device that is not a software one, else surfaceless. 0, after one
// ERROR line naming what is missing, when there is no such context.
int egl_make_context(display_io* io, int32_t device);
