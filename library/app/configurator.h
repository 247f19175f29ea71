// The configuration window of the main sequence: shown during the app's
// begin, it edits the app record's configuration in place.
#pragma once

struct App;

// 1 when the user cancelled (Cancel, Escape or closing the window), else 0.
// Returns 0 at once after "--no-configurator" or when there is no display.
int configwindow(App* app);
