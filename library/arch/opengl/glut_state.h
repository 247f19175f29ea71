// What GLUT makes process-wide: it is initialised once per process (again
// after its main loop has returned), and its callbacks carry no argument, so
// they find the open display and the open configuration window here.
#pragma once

struct display_io_handle;
struct configurator;

// The display whose window is open; null outside display_io_finish.
extern display_io_handle* glut_io;
// The configuration window while it runs.
extern configurator* glut_configurator;
// 1 until GLUT (GLEW) is initialised, and again once GLUT's main loop has
// returned and taken its state down.
extern int glut_must_initialize_p;
extern int glew_must_initialize_p;

// Initialises GLUT after checking that an X display can be opened; 0 (after
// an ERROR line naming the display) when none can.
int glut_initialize();
