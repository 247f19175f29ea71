// Calibration of the picture's quality factor before the piece starts: the
// particle system runs at full load while frame times nudge the factor `cp`
// towards frames of about 22 ms.
#pragma once
#include <cstdint>

#include <zeal/app/app.h>
#include <zeal/arch/opengl/texture.h>
#include "piece/particles.h"

// The load the test runs at.
constexpr controls PERFTEST_CONTROLS{200, 4, 5.0f, 8.0f};
constexpr uint32_t PERFTEST_SEED = 3293843;

// The calibration, and what the test draws (made by begin, released by end).
struct perftest_scene {
  float cp;  // the quality factor handed to the particle system, in [0.25, 1.0]
  // Fast and slow frames seen since the factor last changed.
  int32_t safe_count;
  int32_t overload_count;
  prng generator;
  ParticleSystem* ps;  // null outside begin ... end
  controls load;
  image palette;  // empty: particles take the default colour
  texture tex;    // the particle sprite, 64 pixels
};

// A test that has not run yet: quality factor 1.
perftest_scene perftest_scene_make();

// The frame's simulation: the test's particles updated to display time t at
// the current quality factor. Nothing happens outside begin ... end.
void perftest_update(perftest_scene* test, double t);
// The step's answer for a frame at display time t: 1 (done) from 2000 ms on.
int32_t perftest_step_result(double t);

// Counts one frame that took dt ms: every fourth slow frame (over 22.2 ms)
// lowers the factor by 2 %, every fourth fast one raises it by 5 %.
void perftest_calibrate(perftest_scene* test, double dt);

// Handler for the display stream. Skipped (1 at once) when rendering to disk;
// begin makes the test's particle system and texture, end releases them; a
// step draws and hides one frame of particles, times the whole frame's work
// and calibrates with it.
int32_t perftest(perftest_scene* test, uint32_t stream, uint32_t phase, App* app);
