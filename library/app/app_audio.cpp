// Audio output glue of the main sequence. No audio output exists yet: the
// stream is dropped as when no device can be had.
#include "app/app.h"
#include "app/app_steps.h"

void app_audio_make(App*) {}
void app_audio_setup(App* app) { app->config.streams &= ~static_cast<int32_t>(APP_STREAM_AUDIO); }
void app_audio_commit(App*) {}
void app_audio_finish(App*) {}
