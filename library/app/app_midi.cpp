// MIDI glue of the main sequence. No MIDI service exists yet: both MIDI
// streams are dropped as when no client can be made.
#include "app/app.h"
#include "app/app_steps.h"

void app_midi_setup(App* app, uint32_t) {
  app->config.streams &= ~static_cast<int32_t>(APP_STREAM_MIDI_IN | APP_STREAM_MIDI_OUT);
}
void app_midi_commit(App*) {}
void app_midi_finish(App*) {}
