// Control-input glue of the main sequence. The control bus does not exist
// yet: the stream is dropped.
#include "app/app.h"
#include "app/app_steps.h"

void app_control_setup(App* app, uint32_t) {
  app->config.streams &= ~static_cast<int32_t>(APP_STREAM_CONTROL_IN);
}
void app_control_thread_start(App*) {}
void app_control_finish(App*) {}
