// The program's messages: one line each, on standard output (or standard
// error), at one of three levels.
//
// A real-time thread (the audio callback, a JACK process callback) must not
// allocate, lock or write: from there a line is formatted on the stack and
// queued without a lock, and a background writer prints it a few
// milliseconds later. Any other thread prints its line at once, so that the
// order of a program's messages stays what it reads.
#pragma once
#include <cstdarg>
#include <cstdint>

enum log_level : int32_t {
  LOG_ERROR,        // "ERROR: " before the text
  LOG_WARNING,      // "WARNING: "
  LOG_INFORMATION,  // the text alone
};

enum log_stream : int32_t { LOG_STDOUT, LOG_STDERR };

// A queued line holds this much, its prefix and newline included; a longer
// one is cut. Lines printed at once are never cut.
constexpr int32_t LOG_LINE_BYTES = 512;
// Lines a real-time thread may queue before the writer takes them; beyond,
// they are dropped and counted, and the writer says how many.
constexpr int32_t LOG_QUEUE_LINES = 64;

// Prints `format` (printf-style) with its level's prefix and a newline.
void log_print(log_stream stream, log_level level, const char* format, ...) __attribute__((format(printf, 3, 4)));
void log_vprint(log_stream stream, log_level level, const char* format, va_list arguments);

void log_error(const char* format, ...) __attribute__((format(printf, 1, 2)));
void log_warning(const char* format, ...) __attribute__((format(printf, 1, 2)));
void log_info(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Where a line goes other than the two standard streams (a file of timings,
// say): called with the whole line, on the writer's thread for a queued one.
using log_sink = void (*)(const char* text, int32_t length);
// Hands `length` bytes to `sink`: at once from an ordinary thread, through
// the queue (cut to a line's size) from a real-time one.
void log_to(log_sink sink, const char* text, int32_t length);

// Marks the calling thread real-time (or not); returns what it was. The
// first mark in the process starts the writer (and may allocate).
bool log_realtime_thread(bool on);
bool log_is_realtime_thread();

// Real-time while it lives, then as before: for callbacks that run on a
// thread they do not own.
struct log_realtime_scope {
  bool was;
  log_realtime_scope() : was(log_realtime_thread(true)) {}
  ~log_realtime_scope() { log_realtime_thread(was); }
  log_realtime_scope(const log_realtime_scope&) = delete;
  log_realtime_scope& operator=(const log_realtime_scope&) = delete;
};

// Prints every queued line now (not from a real-time thread).
void log_flush();
// Flushes and stops the writer; a later mark starts it again. The main
// sequence calls it at its end, and it runs at exit.
void log_stop();
