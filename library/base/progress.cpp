#include <zeal/base/progress.h>

#include <unistd.h>

#include <zeal/base/thread.h>

namespace {

constexpr double kTerminalEveryMs = 500.0;
constexpr double kLogEveryMs = 10000.0;

void print(render_progress* p, double now, const char* end) {
  double elapsed_s = (now - p->started_at) / 1000.0;
  double rate = elapsed_s > 0.0 ? p->frames / elapsed_s : 0.0;
  double done_ms = p->frames * p->frame_ms;
  fprintf(p->out, "%srendered %ld", p->terminal ? "\r" : "", p->frames);
  if (p->total_ms > 0.0) fprintf(p->out, " of %.0f", p->total_ms / p->frame_ms);
  fprintf(p->out, " frames, %.1f s", done_ms / 1000.0);
  if (p->total_ms > 0.0) fprintf(p->out, " of %.1f s", p->total_ms / 1000.0);
  fprintf(p->out, ", %.1f frames/s", rate);
  if (p->total_ms > 0.0 && rate > 0.0) {
    double left = (p->total_ms - done_ms) / p->frame_ms / rate;
    fprintf(p->out, ", %.0f s left", left > 0.0 ? left : 0.0);
  }
  fprintf(p->out, "%s", end);
  fflush(p->out);
  p->printed_at = now;
  p->printed = p->terminal && end[0] != '\n';
}

}  // namespace

void progress_start(render_progress* p, double total_ms, double frame_ms) {
  *p = render_progress{};
  p->total_ms = total_ms;
  p->frame_ms = frame_ms;
  p->out = stderr;
  p->terminal = isatty(fileno(stderr));
}

void progress_frame(render_progress* p) {
  double now = get_milliseconds();
  if (p->frames == 0) p->started_at = p->printed_at = now;
  p->frames += 1;
  if (now - p->printed_at >= (p->terminal ? kTerminalEveryMs : kLogEveryMs)) print(p, now, p->terminal ? "  " : "\n");
}

void progress_finish(render_progress* p) {
  if (p->out == nullptr || p->frames == 0) return;
  print(p, get_milliseconds(), "\n");
}
