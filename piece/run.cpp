#include "piece/run.h"

#include <cstdlib>

#include <zeal/app/app.h>
#include <zeal/app/configurator.h>
#include <zeal/base/perf.h>
#include "piece/ftable.h"
#include "piece/origin.h"
#include "piece/scene.h"
#include "piece/sound.h"

// Score breakpoints: key (ms of scene time), then channels 1 to 4 (particle
// respawns, attractors, mass spread, lift).
static const float SCORE[6][5] = {
    {0, 0, 1, 1, 1},           {6000, 100, 4, 5, 1},       {60000, 20, 3, 7.2f, 11},
    {90000, 45, 2, 10.2f, 18}, {112000, 42, 2, 10.2f, 18}, {120000, 0, 2, 6, 6},
};

static int32_t application_begin(App* app) {
  perf_logenable(0);
  app->config.name = "vv-plume";
  // Two seconds of lead-in, then the piece: what a rendering takes.
  app->config.duration_ms = 125000.0;
  if (configwindow(app) != 0) return APP_END;
  void** slot = &app->state[app_stream_index(APP_STREAM_APP)];
  if (*slot != nullptr) return APP_STEP;
  // Freed by the runtime with the slot; calloc gives the empty record.
  auto* piece = static_cast<piece_shared*>(calloc(1, sizeof(piece_shared)));
  if (piece == nullptr) return APP_STEP;
  *slot = piece;
  ftable* score = &piece->score;
  score->width = 5;
  score->rate = 1.0f;
  for (int32_t channel = 1; channel <= 4; ++channel)
    for (const float* row : SCORE) ftable_add_point(score, channel, row[0], row[channel]);
  ftable_print(score);
  return APP_STEP;
}

static int32_t application_end(App* app) {
  piece_shared* piece = piece_of(app);
  if (piece == nullptr) return APP_STEP;
  ftable_free(&piece->score);
  scene_resources_free(piece->resources);
  piece->resources = nullptr;
  return APP_STEP;
}

int32_t run(uint32_t stream, uint32_t phase, App* app) {
  if (stream == APP_STREAM_AUDIO) return sound_run(phase, app);
  if (stream == APP_STREAM_APP) {
    if (phase == APP_BEGIN) return application_begin(app);
    if (phase == APP_END) return application_end(app);
    return APP_STEP;
  }
  if (stream == APP_STREAM_DISPLAY) {
    if (phase == APP_BEGIN) return scene_begin(app);
    if (phase == APP_END) return scene_end(app);
    if (phase == APP_STEP) return scene_step(app);
  }
  return APP_STEP;
}
