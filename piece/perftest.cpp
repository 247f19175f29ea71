#include "piece/perftest.h"

#include <GL/glew.h>

#include <cstdlib>

#include <zeal/arch/opengl/frame.h>
#include <zeal/arch/opengl/geometry.h>
#include <zeal/base/thread.h>

perftest_scene perftest_scene_make() {
  perftest_scene test{};
  test.cp = 1.0f;
  return test;
}

void perftest_update(perftest_scene* test, double t) {
  if (test->ps == nullptr) return;
  ParticleSystem_update(test->ps, &test->load, &test->generator, 0, test->cp, static_cast<float>(t));
}

int32_t perftest_step_result(double t) { return t >= 2000.0 ? APP_END : APP_STEP; }

void perftest_calibrate(perftest_scene* test, double dt) {
  if (dt > 22.22222222222222) {
    if (++test->overload_count > 3) {
      test->overload_count = 0;
      test->cp = static_cast<float>(test->cp * 0.98);
    }
  } else {
    if (++test->safe_count > 3) {
      test->safe_count = 0;
      test->overload_count = 0;
      double gain = (27.777777777777775 - dt) * 0.05;
      test->cp = static_cast<float>(test->cp * (1.0 + (gain < 0.05 ? gain : 0.05)));
    }
  }
  if (test->cp < 0.25f) test->cp = 0.25f;
  if (test->cp > 1.0f) test->cp = 1.0f;
}

int32_t perftest(perftest_scene* test, uint32_t stream, uint32_t phase, App* app) {
  if (app != nullptr && app->config.diskwriter) return APP_END;
  if (stream != APP_STREAM_DISPLAY) return APP_END;
  switch (phase) {
    case APP_BEGIN:
      prng_seed(&test->generator, PERFTEST_SEED);
      free(test->ps);  // a second begin starts afresh
      test->ps = static_cast<ParticleSystem*>(calloc(1, sizeof(ParticleSystem)));
      if (test->ps != nullptr) ParticleSystem_make(test->ps, &test->generator);
      test->load = PERFTEST_CONTROLS;
      test->palette = image{};
      texture_delete(&test->tex);
      texture_make(&test->tex);
      texture_defparticle(&test->tex, 64);
      return APP_STEP;
    case APP_END:
      if (test->palette.owned) free(test->palette.pixels);
      test->palette = image{};
      texture_delete(&test->tex);
      test->tex = texture{};
      free(test->ps);
      test->ps = nullptr;
      return APP_END;
    case APP_STEP: {
      display_frame* frame = app != nullptr ? app->display_frame : nullptr;
      if (frame == nullptr) return APP_END;
      double t = display_frame_in_ms(frame);
      double t0 = get_milliseconds();
      display_frame_define(frame, nullptr);
      if (display_frame_is_being_defined(frame) && test->ps != nullptr) {
        perftest_update(test, t);
        opengl_geometry g;
        opengl_geometry_make(&g, frame);
        ParticleSystem_define(test->ps, &g, &test->tex, &test->palette, test->cp, t, 1.0);
        opengl_geometry_draw(&g);
        opengl_geometry_delete(&g);
      }
      // What was drawn only loads the renderer; the frame shows black.
      glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
      glClearDepth(1.0);
      glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
      display_frame_commit(frame);
      perftest_calibrate(test, get_milliseconds() - t0);
      return perftest_step_result(t);
    }
    default:
      return APP_END;
  }
}
