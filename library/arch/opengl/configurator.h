// The configuration window: before the outputs start, a small modal window
// in which the user chooses full screen, rendering to disk and the rendering
// directory, or cancels.
#pragma once
#include <cstdint>

constexpr int32_t CONFIGURATOR_PATH_CAPACITY = 1024;

// What the window shows at first, and what the user chose.
struct configurator_choices {
  int32_t fullscreen;
  int32_t diskwriter;
  char path[CONFIGURATOR_PATH_CAPACITY];
};

// Whether the window can be shown: there is a window system (GLUT is set up)
// and no other configuration window runs.
int configurator_available();

// Runs the window titled `title` until Run (Return) or Cancel (Escape, or
// closing the window); 1 when cancelled, else 0 with `choices` updated.
// Returns 0 at once, leaving `choices` as they are, when GLUT is not set up.
int configurator_run(const char* title, configurator_choices* choices);

// The directory offered first: $XDG_DOCUMENTS_DIR or ~/Documents when it is
// a directory, else the home directory. Written into `out` (zero-terminated).
void configurator_default_directory(char* out, int32_t capacity);

// The window's size and where its controls are, in window pixels from the
// top left (for people and programs that drive it).
constexpr int32_t CONFIGURATOR_WIDTH = 480;
constexpr int32_t CONFIGURATOR_HEIGHT = 270;
enum { CONFIG_FULLSCREEN, CONFIG_DISKWRITER, CONFIG_PATH, CONFIG_CANCEL, CONFIG_RUN, CONFIG_CONTROLS };
void configurator_control_centre(int control, int32_t pixel[2]);
