#include <zeal/base/log.h>

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <zeal/base/thread.h>

namespace {

constexpr double kWriterPollMs = 5.0;
constexpr const char* kPrefixes[] = {"ERROR: ", "WARNING: ", ""};

// A bounded queue of whole lines, many producers and one consumer at a time
// (the drain lock): each slot's sequence says whose turn it is, so that a
// producer claims a slot with one compare-and-swap and never waits.
struct Slot {
  std::atomic<uint32_t> sequence;
  log_sink sink;
  int32_t length;
  char text[LOG_LINE_BYTES];
};

// Standard output is one per process, and so is the queue in front of it:
// the one mutable record of the log.
struct Log {
  Slot slots[LOG_QUEUE_LINES];
  std::atomic<uint32_t> head{0};  // next slot a producer claims
  uint32_t tail = 0;              // next slot to print, under `drain`
  std::atomic<uint64_t> dropped{0};
  std::atomic<bool> running{false};
  // Whether a writer was asked for since the last stop: a thread that could
  // not be started is not tried again from every real-time block.
  std::atomic<bool> started{false};
  std::atomic<bool> quit{false};
  std::mutex drain;    // one consumer at a time, in queue order
  std::mutex control;  // starting and stopping the writer
  thread_handle writer{};
  bool exit_hook = false;

  Log() {
    for (uint32_t i = 0; i < LOG_QUEUE_LINES; ++i) slots[i].sequence.store(i, std::memory_order_relaxed);
  }
};

Log the_log;
thread_local bool realtime_here = false;

static_assert((LOG_QUEUE_LINES & (LOG_QUEUE_LINES - 1)) == 0, "the queue wraps with a mask");

FILE* file_of(int32_t stream) { return stream == LOG_STDERR ? stderr : stdout; }

void to_stdout(const char* text, int32_t length) { fwrite(text, 1, static_cast<size_t>(length), stdout); }
void to_stderr(const char* text, int32_t length) { fwrite(text, 1, static_cast<size_t>(length), stderr); }

// Prefix, text and newline into `out`; the length kept (cut to fit) and,
// in `whole`, the length the line needed.
int32_t format_line(char (&out)[LOG_LINE_BYTES], log_level level, const char* format, va_list arguments,
                    int* whole) {
  const char* prefix = kPrefixes[level >= LOG_ERROR && level <= LOG_INFORMATION ? level : LOG_INFORMATION];
  int32_t n = static_cast<int32_t>(strlen(prefix));
  memcpy(out, prefix, static_cast<size_t>(n));
  int text = vsnprintf(out + n, LOG_LINE_BYTES - 1 - static_cast<size_t>(n), format, arguments);
  if (text < 0) text = 0;
  *whole = n + text + 1;
  n += text < LOG_LINE_BYTES - 2 - n ? text : LOG_LINE_BYTES - 2 - n;
  out[n++] = '\n';
  out[n] = 0;
  return n;
}

void enqueue(log_sink sink, const char* text, int32_t length) {
  if (length > LOG_LINE_BYTES) length = LOG_LINE_BYTES;
  Log& log = the_log;
  uint32_t at = log.head.load(std::memory_order_relaxed);
  for (;;) {
    Slot& slot = log.slots[at & (LOG_QUEUE_LINES - 1)];
    uint32_t sequence = slot.sequence.load(std::memory_order_acquire);
    auto ahead = static_cast<int32_t>(sequence - at);
    if (ahead == 0) {
      if (log.head.compare_exchange_weak(at, at + 1, std::memory_order_relaxed)) {
        slot.sink = sink;
        slot.length = length;
        memcpy(slot.text, text, static_cast<size_t>(length));
        slot.sequence.store(at + 1, std::memory_order_release);
        return;
      }
    } else if (ahead < 0) {
      log.dropped.fetch_add(1, std::memory_order_relaxed);  // the writer is a whole queue behind
      return;
    } else {
      at = log.head.load(std::memory_order_relaxed);
    }
  }
}

// Prints what is queued, then the count of what was dropped.
void drain() {
  Log& log = the_log;
  std::lock_guard<std::mutex> hold(log.drain);
  bool wrote = false;
  for (;;) {
    Slot& slot = log.slots[log.tail & (LOG_QUEUE_LINES - 1)];
    if (slot.sequence.load(std::memory_order_acquire) != log.tail + 1) break;
    slot.sink(slot.text, slot.length);
    wrote = true;
    slot.sequence.store(log.tail + LOG_QUEUE_LINES, std::memory_order_release);
    log.tail += 1;
  }
  uint64_t dropped = log.dropped.exchange(0, std::memory_order_relaxed);
  if (dropped > 0) {
    fprintf(stdout, "WARNING: the log dropped %llu line(s) from a real-time thread\n",
            static_cast<unsigned long long>(dropped));
    wrote = true;
  }
  // Real-time lines come late already: they should not wait in a buffer too.
  if (wrote) {
    fflush(stdout);
    fflush(stderr);
  }
}

void* writer_thread(void*) {
  while (!the_log.quit.load(std::memory_order_acquire)) {
    drain();
    inthread_sleep(kWriterPollMs);
  }
  drain();
  return nullptr;
}

void stop_at_exit() { log_stop(); }

void start_writer() {
  Log& log = the_log;
  std::lock_guard<std::mutex> hold(log.control);
  if (log.running.load(std::memory_order_relaxed)) return;
  log.quit.store(false, std::memory_order_relaxed);
  // The writer takes no signal: they belong to the threads that wait for them.
  sigset_t all, before;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &before);
  int status = thread_start(&log.writer, writer_thread, nullptr);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  // Without a writer, queued lines still come out at the next flush.
  if (status != 0) return;
  if (!log.exit_hook) log.exit_hook = atexit(stop_at_exit) == 0;
  log.running.store(true, std::memory_order_release);
}

}  // namespace

void log_vprint(log_stream stream, log_level level, const char* format, va_list arguments) {
  char line[LOG_LINE_BYTES];
  va_list copy;
  va_copy(copy, arguments);
  int whole = 0;
  int32_t length = format_line(line, level, format, copy, &whole);
  va_end(copy);
  if (realtime_here) {
    enqueue(stream == LOG_STDERR ? to_stderr : to_stdout, line, length);
    return;
  }
  FILE* file = file_of(stream);
  if (whole <= length) {
    fwrite(line, 1, static_cast<size_t>(length), file);
    return;
  }
  // Too long for the stack: printed as it comes, in one piece still.
  flockfile(file);
  fputs(kPrefixes[level >= LOG_ERROR && level <= LOG_INFORMATION ? level : LOG_INFORMATION], file);
  vfprintf(file, format, arguments);
  fputc('\n', file);
  funlockfile(file);
}

void log_print(log_stream stream, log_level level, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  log_vprint(stream, level, format, arguments);
  va_end(arguments);
}

void log_error(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  log_vprint(LOG_STDOUT, LOG_ERROR, format, arguments);
  va_end(arguments);
}

void log_warning(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  log_vprint(LOG_STDOUT, LOG_WARNING, format, arguments);
  va_end(arguments);
}

void log_info(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  log_vprint(LOG_STDOUT, LOG_INFORMATION, format, arguments);
  va_end(arguments);
}

void log_to(log_sink sink, const char* text, int32_t length) {
  if (realtime_here)
    enqueue(sink, text, length);
  else
    sink(text, length);
}

bool log_realtime_thread(bool on) {
  bool was = realtime_here;
  realtime_here = on;
  if (on && !the_log.started.exchange(true, std::memory_order_acq_rel)) start_writer();
  return was;
}

bool log_is_realtime_thread() { return realtime_here; }

void log_flush() { drain(); }

void log_stop() {
  Log& log = the_log;
  {
    std::lock_guard<std::mutex> hold(log.control);
    if (log.running.load(std::memory_order_relaxed)) {
      log.quit.store(true, std::memory_order_release);
      while (!thread_waitfor(&log.writer)) inthread_sleep(1.0);
      log.running.store(false, std::memory_order_relaxed);
    }
    log.started.store(false, std::memory_order_release);
  }
  drain();
}
