#include "piece/layer_profile.h"

#include <GL/glew.h>
#include <dirent.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

const char* const NAMES[LAYER_PARTS] = {"outside", "clear", "flocks-cpu", "box", "fish",
                                        "particles-cpu", "particles", "tint"};
constexpr double REPORT_EVERY_MS = 5000.0;
constexpr int MAX_RENDERERS = 16;

// Wall time says what a layer cost on this machine today; the processor time
// of this thread and the renderer's threads says what it costs whatever else
// runs beside it.
struct instant {
  double wall = 0.0, cpu = 0.0;
  double main = 0.0;    // of which this thread: geometry, setting up the renderer's work
  double others = 0.0;  // the process's other threads: file writers, sound
};

struct profile {
  bool on = getenv("ZEAL_PROFILE_LAYERS") != nullptr;
  bool started = false;
  instant last;
  clockid_t renderers[MAX_RENDERERS];
  int renderer_count = -1;
  instant sums[LAYER_PARTS];
  double idle_finish = 0.0;  // what a glFinish with nothing to wait for costs
  int frames = 0;
  double first_s = 0.0, last_s = 0.0;
};

profile the;

double ms_of(clockid_t clock) {
  timespec t{};
  if (clock_gettime(clock, &t) != 0) return 0.0;
  return 1e3 * static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_nsec);
}

// Mesa's software renderer names its threads "llvmpipe-N"; Linux gives every
// thread of the process a processor clock reachable from its id.
void find_renderers() {
  the.renderer_count = 0;
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == nullptr) return;
  while (dirent* entry = readdir(tasks)) {
    char path[300], name[32] = {};
    snprintf(path, sizeof path, "/proc/self/task/%s/comm", entry->d_name);
    FILE* comm = fopen(path, "r");
    if (comm == nullptr) continue;
    bool renderer = fgets(name, sizeof name, comm) != nullptr && strncmp(name, "llvmpipe", 8) == 0;
    fclose(comm);
    if (renderer && the.renderer_count < MAX_RENDERERS) {
      auto tid = static_cast<clockid_t>(atoi(entry->d_name));
      the.renderers[the.renderer_count++] = (~tid << 3) | 6;  // the thread's scheduler clock
    }
  }
  closedir(tasks);
}

instant now() {
  instant i;
  i.wall = ms_of(CLOCK_MONOTONIC);
  i.main = ms_of(CLOCK_THREAD_CPUTIME_ID);
  i.cpu = i.main;
  for (int r = 0; r < the.renderer_count; ++r) i.cpu += ms_of(the.renderers[r]);
  i.others = ms_of(CLOCK_PROCESS_CPUTIME_ID) - i.cpu;
  return i;
}

void report() {
  instant total;
  for (const instant& sum : the.sums)
    total.wall += sum.wall, total.cpu += sum.cpu, total.main += sum.main, total.others += sum.others;
  double n = the.frames;
  fprintf(stderr,
          "layers s %.0f..%.0f, %d frames, %d renderer threads, ms/frame wall %.2f cpu %.2f "
          "(main thread %.2f, other threads %.2f), idle glFinish %.3f; "
          "per part wall/cpu/main-thread cpu (cpu share):",
          the.first_s, the.last_s, the.frames, the.renderer_count, total.wall / n, total.cpu / n,
          total.main / n, total.others / n, the.idle_finish / n);
  for (int i = 0; i < LAYER_PARTS; ++i)
    fprintf(stderr, " %s %.1f/%.1f/%.1f (%.0f%%)", NAMES[i], the.sums[i].wall / n,
            the.sums[i].cpu / n, the.sums[i].main / n,
            total.cpu > 0.0 ? 100.0 * the.sums[i].cpu / total.cpu : 0.0);
  fprintf(stderr, "\n");
  for (instant& sum : the.sums) sum = instant{};
  the.idle_finish = 0.0;
  the.frames = 0;
}

}  // namespace

void layer_profile_mark(layer_part finished) {
  if (!the.on) return;
  glFinish();
  if (the.renderer_count < 0) find_renderers();
  instant t = now();
  if (the.started) {
    the.sums[finished].wall += t.wall - the.last.wall;
    the.sums[finished].cpu += t.cpu - the.last.cpu;
    the.sums[finished].main += t.main - the.last.main;
    the.sums[finished].others += t.others - the.last.others;
  }
  the.last = t;
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
  instant t = now();
  the.idle_finish += t.wall - the.last.wall;
  the.last = t;
}
