#include "piece/layer_profile.h"

#include <GL/glew.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

const char* const NAMES[LAYER_PARTS] = {"outside", "clear", "flocks-cpu", "box", "fish",
                                        "particles-cpu", "particles", "tint"};
constexpr double REPORT_EVERY_MS = 5000.0;

struct profile {
  bool on = getenv("ZEAL_PROFILE_LAYERS") != nullptr;
  bool started = false;
  std::chrono::steady_clock::time_point last;
  double sums[LAYER_PARTS] = {};
  double idle_finish = 0.0;  // what a glFinish with nothing to wait for costs
  int frames = 0;
  double first_s = 0.0, last_s = 0.0;
};

profile the;

double since_last(std::chrono::steady_clock::time_point now) {
  return std::chrono::duration<double, std::milli>(now - the.last).count();
}

void report() {
  double total = 0.0;
  for (double sum : the.sums) total += sum;
  fprintf(stderr, "layers s %.0f..%.0f, %d frames, %.2f ms/frame, idle glFinish %.3f ms:", the.first_s,
          the.last_s, the.frames, total / the.frames, the.idle_finish / the.frames);
  for (int i = 0; i < LAYER_PARTS; ++i)
    fprintf(stderr, " %s %.2f (%.0f%%)", NAMES[i], the.sums[i] / the.frames,
            total > 0.0 ? 100.0 * the.sums[i] / total : 0.0);
  fprintf(stderr, "\n");
  for (double& sum : the.sums) sum = 0.0;
  the.idle_finish = 0.0;
  the.frames = 0;
}

}  // namespace

void layer_profile_mark(layer_part finished) {
  if (!the.on) return;
  glFinish();
  auto now = std::chrono::steady_clock::now();
  if (the.started) the.sums[finished] += since_last(now);
  the.last = now;
  the.started = true;
}

void layer_profile_frame(double s) {
  if (!the.on) return;
  layer_profile_mark(LAYER_OUTSIDE);
  if (the.frames > 0 && s - the.first_s >= REPORT_EVERY_MS) report();
  if (the.frames == 0) the.first_s = s;
  the.last_s = s;
  the.frames += 1;
  // A second wait finds the renderer idle: its cost is the measuring's own.
  glFinish();
  auto now = std::chrono::steady_clock::now();
  the.idle_finish += since_last(now);
  the.last = now;
}
