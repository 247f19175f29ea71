#include "piece/run.h"

#include "app/app.h"
#include "app/perf.h"
#include "piece/sound.h"

// Provisional handler: names the piece and stops every output it is offered.
int32_t run(uint32_t stream, uint32_t phase, App* app) {
  if (stream == APP_STREAM_AUDIO) return sound_run(phase, app);
  if (stream == APP_STREAM_APP && phase == APP_BEGIN) {
    perf_logenable(0);
    app->config.name = "vv-plume";
    return APP_STEP;
  }
  if (phase == APP_STEP) return APP_END;
  return APP_STEP;
}
