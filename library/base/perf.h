// Process-wide performance log and two small rings of recent timing samples.
#pragma once

void perf_logenable(int on);
// The log goes to file `name` (copied), or to standard output when null or unopenable.
void perf_logfile(const char* name);
void perf_log(const char* format, ...) __attribute__((format(printf, 1, 2)));
void perf_log_va(const char* format, __builtin_va_list arguments);
// Stores a, b, c for "display-ms" or "cpu-ms"; other names are ignored.
void perf_stat(const char* name, double a, double b, double c);
// 10 for a known statistic (after storing its rings), 0 otherwise.
int perf_stat_get(const char* name, float** a_ring, float** b_ring, float** c_ring, int** index);
