// Calibration of the picture's quality factor before the piece starts: the
// particle system runs at full load while frame times nudge `perftest_cp`
// towards frames of about 22 ms.
#pragma once
#include <cstdint>

#include "app/app.h"
#include "arch/opengl/texture.h"
#include "piece/particles.h"

// The quality factor handed to the particle system, kept in [0.25, 1.0].
extern float perftest_cp;
// Fast and slow frames seen since the last change of perftest_cp.
extern int32_t perftest_safe_count;
extern int32_t perftest_overload_count;

// The load the test runs at.
constexpr controls PERFTEST_CONTROLS{200, 4, 5.0f, 8.0f};
constexpr uint32_t PERFTEST_SEED = 3293843;

// What the test draws, made by begin and released by end.
struct perftest_scene {
  prng generator;
  ParticleSystem* ps;  // null outside begin ... end
  controls load;
  image palette;  // empty: particles take the default colour
  texture tex;    // the particle sprite, 64 pixels
};
extern perftest_scene perftest_state;

// The frame's simulation: the test's particles updated to display time t at
// the current quality factor. Nothing happens outside begin ... end.
void perftest_update(double t);
// The step's answer for a frame at display time t: 1 (done) from 2000 ms on.
int32_t perftest_step_result(double t);

// Counts one frame that took dt ms: every fourth slow frame (over 22.2 ms)
// lowers perftest_cp by 2 %, every fourth fast one raises it by 5 %.
void perftest_calibrate(double dt);

// Handler for the display stream. Skipped (1 at once) when rendering to disk;
// begin makes the test's particle system and texture, end releases them; a
// step draws and hides one frame of particles, times the whole frame's work
// and calibrates with it.
int32_t perftest(uint32_t stream, uint32_t phase, App* app);
