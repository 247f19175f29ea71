#include "app/perf.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

struct perf_statistic {
  const char* name;
  float a[10];
  float b[10];
  float c[10];
  int index;
};

int disabled;
const char* log_name;
FILE* log_stream;
perf_statistic statistics[2] = {{"display-ms", {}, {}, {}, 0}, {"cpu-ms", {}, {}, {}, 0}};

perf_statistic* find_statistic(const char* name) {
  if (name == nullptr) return nullptr;
  for (auto& s : statistics)
    if (strcmp(s.name, name) == 0) return &s;
  return nullptr;
}

}  // namespace

void perf_logenable(int on) { disabled = on == 0; }

void perf_logfile(const char* name) {
  if (name != nullptr && log_name != nullptr && strcmp(name, log_name) == 0) return;
  log_name = name;
  if (log_stream != nullptr && log_stream != stdout) {
    fclose(log_stream);
    log_stream = nullptr;
  }
}

void perf_log(const char* format, ...) {
  if (disabled) return;
  va_list arguments;
  va_start(arguments, format);
  perf_log_va(format, arguments);
  va_end(arguments);
}

void perf_log_va(const char* format, va_list arguments) {
  if (log_stream == nullptr) {
    if (log_name != nullptr) log_stream = fopen(log_name, "wb");
    if (log_stream == nullptr) log_stream = stdout;
  }
  vfprintf(log_stream, format, arguments);
  fflush(log_stream);
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
