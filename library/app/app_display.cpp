// Display output glue of the main sequence. No display output exists yet: the
// stream is dropped as when no device can be had.
#include "app/app.h"
#include "app/app_steps.h"

void app_display_make(App*) {}
void app_display_setup(App* app) { app->config.streams &= ~static_cast<int32_t>(APP_STREAM_DISPLAY); }
void app_display_run(App*) {}
