#include <zeal/base/perf.h>

#include <cstdarg>
#include <cstdio>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

#include <zeal/base/log.h>

namespace {

struct perf_statistic {
  const char* name;
  float a[10];
  float b[10];
  float c[10];
  int index;
};

// The log is one per process: every module writes its timing lines to it,
// from the display, sound and writer threads alike. The file is named before
// the outputs start and opened by the first line; only that opening is
// locked. The audio callback's lines are written by the log's writer, so
// that the callback itself neither opens, nor locks, nor writes.
struct perf_log_state {
  std::atomic<int> disabled = 0;
  std::mutex opening;  // the name and the opening of its file
  std::string name;    // empty: standard output
  std::atomic<FILE*> stream = nullptr;
  perf_statistic statistics[2] = {{"display-ms", {}, {}, {}, 0}, {"cpu-ms", {}, {}, {}, 0}};
};
perf_log_state the_log;

perf_statistic* find_statistic(const char* name) {
  if (name == nullptr) return nullptr;
  for (auto& s : the_log.statistics)
    if (strcmp(s.name, name) == 0) return &s;
  return nullptr;
}

FILE* open_stream() {
  std::lock_guard<std::mutex> hold(the_log.opening);
  FILE* out = the_log.stream.load();
  if (out != nullptr) return out;  // opened by another thread meanwhile
  if (!the_log.name.empty()) out = fopen(the_log.name.c_str(), "wb");
  if (out == nullptr) out = stdout;
  the_log.stream.store(out);
  return out;
}

void write_line(const char* text, int32_t length) {
  FILE* out = the_log.stream.load();
  if (out == nullptr) out = open_stream();
  fwrite(text, 1, static_cast<size_t>(length), out);
  fflush(out);
}

}  // namespace

void perf_logenable(int on) { the_log.disabled = on == 0; }

void perf_logfile(const char* name) {
  std::string wanted = name != nullptr ? name : "";
  std::lock_guard<std::mutex> hold(the_log.opening);
  FILE* open = the_log.stream.load();
  if (wanted == the_log.name && open != nullptr) return;
  the_log.name = wanted;
  if (open != nullptr && open != stdout) fclose(open);
  the_log.stream.store(nullptr);
}

void perf_log(const char* format, ...) {
  if (the_log.disabled) return;
  va_list arguments;
  va_start(arguments, format);
  perf_log_va(format, arguments);
  va_end(arguments);
}

void perf_log_va(const char* format, va_list arguments) {
  // The audio callback reports its load: from there the line is formatted
  // here and written (the file opened, if first) by the log's writer.
  if (log_is_realtime_thread()) {
    char line[LOG_LINE_BYTES];
    int n = vsnprintf(line, sizeof line, format, arguments);
    if (n > 0) log_to(write_line, line, n < LOG_LINE_BYTES ? n : LOG_LINE_BYTES - 1);
    return;
  }
  FILE* out = the_log.stream.load();
  if (out == nullptr) out = open_stream();
  vfprintf(out, format, arguments);
  fflush(out);
}

void perf_stat(const char* name, double a, double b, double c) {
  perf_statistic* s = find_statistic(name);
  if (s == nullptr) return;
  s->a[s->index] = static_cast<float>(a);
  s->b[s->index] = static_cast<float>(b);
  s->c[s->index] = static_cast<float>(c);
  if (++s->index >= 10) s->index = 0;
}

int perf_stat_get(const char* name, float** a_ring, float** b_ring, float** c_ring, int** index) {
  perf_statistic* s = find_statistic(name);
  if (s == nullptr) return 0;
  if (a_ring != nullptr) *a_ring = s->a;
  if (b_ring != nullptr) *b_ring = s->b;
  if (c_ring != nullptr) *c_ring = s->c;
  if (index != nullptr) *index = &s->index;
  return 10;
}
