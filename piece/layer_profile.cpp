#include "piece/layer_profile.h"

#include <GL/glew.h>
#include <dirent.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

const char* const NAMES[LAYER_PARTS] = {"outside", "clear", "flocks-cpu", "flocks", "particles-cpu",
                                        "particles", "tint"};
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

}  // namespace

struct layer_profile {
  bool started = false;
  instant last;
  clockid_t renderers[MAX_RENDERERS];
  int renderer_count = -1;
  instant sums[LAYER_PARTS];
  double idle_finish = 0.0;  // what a glFinish with nothing to wait for costs
  int frames = 0;
  double first_s = 0.0, last_s = 0.0;
};

namespace {

double ms_of(clockid_t clock) {
  timespec t{};
  if (clock_gettime(clock, &t) != 0) return 0.0;
  return 1e3 * static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_nsec);
}

// Mesa's software renderer names its threads "llvmpipe-N"; Linux gives every
// thread of the process a processor clock reachable from its id.
void find_renderers(layer_profile* p) {
  p->renderer_count = 0;
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == nullptr) return;
  while (dirent* entry = readdir(tasks)) {
    char path[300], name[32] = {};
    snprintf(path, sizeof path, "/proc/self/task/%s/comm", entry->d_name);
    FILE* comm = fopen(path, "r");
    if (comm == nullptr) continue;
    bool renderer = fgets(name, sizeof name, comm) != nullptr && strncmp(name, "llvmpipe", 8) == 0;
    fclose(comm);
    if (renderer && p->renderer_count < MAX_RENDERERS) {
      auto tid = static_cast<clockid_t>(atoi(entry->d_name));
      p->renderers[p->renderer_count++] = (~tid << 3) | 6;  // the thread's scheduler clock
    }
  }
  closedir(tasks);
}

instant now(const layer_profile* p) {
  instant i;
  i.wall = ms_of(CLOCK_MONOTONIC);
  i.main = ms_of(CLOCK_THREAD_CPUTIME_ID);
  i.cpu = i.main;
  for (int r = 0; r < p->renderer_count; ++r) i.cpu += ms_of(p->renderers[r]);
  i.others = ms_of(CLOCK_PROCESS_CPUTIME_ID) - i.cpu;
  return i;
}

void report(layer_profile* p) {
  instant total;
  for (const instant& sum : p->sums)
    total.wall += sum.wall, total.cpu += sum.cpu, total.main += sum.main, total.others += sum.others;
  double n = p->frames;
  fprintf(stderr,
          "layers s %.0f..%.0f, %d frames, %d renderer threads, ms/frame wall %.2f cpu %.2f "
          "(main thread %.2f, other threads %.2f), idle glFinish %.3f; "
          "per part wall/cpu/main-thread cpu (cpu share):",
          p->first_s, p->last_s, p->frames, p->renderer_count, total.wall / n, total.cpu / n,
          total.main / n, total.others / n, p->idle_finish / n);
  for (int i = 0; i < LAYER_PARTS; ++i)
    fprintf(stderr, " %s %.1f/%.1f/%.1f (%.0f%%)", NAMES[i], p->sums[i].wall / n,
            p->sums[i].cpu / n, p->sums[i].main / n,
            total.cpu > 0.0 ? 100.0 * p->sums[i].cpu / total.cpu : 0.0);
  fprintf(stderr, "\n");
  for (instant& sum : p->sums) sum = instant{};
  p->idle_finish = 0.0;
  p->frames = 0;
}

}  // namespace

layer_profile* layer_profile_make() {
  return getenv("ZEAL_PROFILE_LAYERS") != nullptr ? new layer_profile{} : nullptr;
}

void layer_profile_free(layer_profile* p) { delete p; }

void layer_profile_mark(layer_profile* p, layer_part finished) {
  if (p == nullptr) return;
  glFinish();
  if (p->renderer_count < 0) find_renderers(p);
  instant t = now(p);
  if (p->started) {
    p->sums[finished].wall += t.wall - p->last.wall;
    p->sums[finished].cpu += t.cpu - p->last.cpu;
    p->sums[finished].main += t.main - p->last.main;
    p->sums[finished].others += t.others - p->last.others;
  }
  p->last = t;
  p->started = true;
}

void layer_profile_frame(layer_profile* p, double s) {
  if (p == nullptr) return;
  layer_profile_mark(p, LAYER_OUTSIDE);
  if (p->frames > 0 && s - p->first_s >= REPORT_EVERY_MS) report(p);
  if (p->frames == 0) p->first_s = s;
  p->last_s = s;
  p->frames += 1;
  // A second wait finds the renderer idle: its cost is the measuring's own.
  glFinish();
  instant t = now(p);
  p->idle_finish += t.wall - p->last.wall;
  p->last = t;
}
