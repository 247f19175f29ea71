#include "piece/perftest.h"

#include <cstdlib>

float perftest_cp = 1.0f;
int32_t perftest_safe_count = 0;
int32_t perftest_overload_count = 0;

perftest_scene perftest_state;

void perftest_update(double t) {
  perftest_scene* test = &perftest_state;
  if (test->ps == nullptr) return;
  ParticleSystem_update(test->ps, &test->load, &test->generator, 0, perftest_cp,
                        static_cast<float>(t));
}

int32_t perftest_step_result(double t) { return t >= 2000.0 ? APP_END : APP_STEP; }

void perftest_calibrate(double dt) {
  if (dt > 22.22222222222222) {
    if (++perftest_overload_count > 3) {
      perftest_overload_count = 0;
      perftest_cp = static_cast<float>(perftest_cp * 0.98);
    }
  } else {
    if (++perftest_safe_count > 3) {
      perftest_safe_count = 0;
      perftest_overload_count = 0;
      double gain = (27.777777777777775 - dt) * 0.05;
      perftest_cp = static_cast<float>(perftest_cp * (1.0 + (gain < 0.05 ? gain : 0.05)));
    }
  }
  if (perftest_cp < 0.25f) perftest_cp = 0.25f;
  if (perftest_cp > 1.0f) perftest_cp = 1.0f;
}

int32_t perftest(uint32_t stream, uint32_t phase, App* app) {
  if (app != nullptr && app->config.diskwriter) return APP_END;
  if (stream != APP_STREAM_DISPLAY) return APP_END;
  perftest_scene* test = &perftest_state;
  switch (phase) {
    case APP_BEGIN:
      prng_seed(&test->generator, PERFTEST_SEED);
      free(test->ps);  // a second begin starts afresh
      test->ps = static_cast<ParticleSystem*>(calloc(1, sizeof(ParticleSystem)));
      if (test->ps != nullptr) ParticleSystem_make(test->ps, &test->generator);
      test->load = PERFTEST_CONTROLS;
      test->palette = image{};
      return APP_STEP;
    case APP_END:
      if (test->palette.owned) free(test->palette.pixels);
      test->palette = image{};
      free(test->ps);
      test->ps = nullptr;
      return APP_END;
    case APP_STEP:
      // The measured frame (update, quads, draw, clear) joins with the
      // display side; until then the calibration is skipped.
      return APP_END;
    default:
      return APP_END;
  }
}
