// The configuration window: before the outputs start, a small modal window
// in which the user chooses full screen, rendering to disk and the rendering
// directory, or cancels. It edits the app record's configuration in place.
#pragma once
#include <cstdint>

struct App;

// 1 when the user cancelled (Cancel, Escape or closing the window), else 0.
// Returns 0 at once after "--no-configurator" or when there is no display.
int configwindow(App* app);

// The directory offered first: $XDG_DOCUMENTS_DIR or ~/Documents when it is
// a directory, else the home directory. Written into `out` (zero-terminated).
void configurator_default_directory(char* out, int32_t capacity);

// The window's size and where its controls are, in window pixels from the
// top left (for people and programs that drive it).
constexpr int32_t CONFIGURATOR_WIDTH = 480;
constexpr int32_t CONFIGURATOR_HEIGHT = 270;
enum { CONFIG_FULLSCREEN, CONFIG_DISKWRITER, CONFIG_PATH, CONFIG_CANCEL, CONFIG_RUN, CONFIG_CONTROLS };
void configurator_control_centre(int control, int32_t pixel[2]);
