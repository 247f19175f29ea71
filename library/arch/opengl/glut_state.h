// What GLUT makes process-wide: it is initialised once per process (again
// after its main loop has returned), and its callbacks carry no argument, so
// they find the open display and the open configuration window here. This is
// the only state of the framework's OpenGL back end that lives in the process.
#pragma once

struct display_io_handle;
struct configurator;

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
// 1 for the first window after (re)initialisation: GLEW is set up then.
int glew_must_initialize();
void glew_note_initialized();
