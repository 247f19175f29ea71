#include <zeal/io/avstream.h>

#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <zeal/base/array.h>
#include <zeal/base/thread.h>

namespace {

constexpr int kSamplings = 400;
constexpr double kSamplingMs = 2.5;
constexpr double kOutputWaitMs = 3000.0;
constexpr double kStartDelayMs = 250.0;
constexpr double kRefreshMs = 3000.0;
// How long a channel that is ahead waits for one that has stopped advancing
// before it no longer counts it.
constexpr double kLockstepPatienceMs = 3000.0;

struct avstream_clock {
  thread_lock lock;
  array name;
  array channels;  // avstream_channel*, in order of registration
  thread_handle thread;
  std::atomic<avstream_channel*> master;
  std::atomic<double> zero;
  int thread_started;
  std::atomic<int> rolling;
  std::atomic<int> zero_settled;
  std::atomic<int> lockstep;
  // Asks the clock thread to end (avstream_destroy), waking it from its sleep.
  std::atomic<int> quit;
  thread_cond wake;
  // Channels not yet destroyed by their outputs: the last one ends the clock.
  int owners;  // under the directory lock
};

}  // namespace

struct avstream_channel {
  avstream_clock* clock;
  avstream_time_fn fn;
  void* arg;
  std::atomic<int> advanced;
  double position;
  thread_cond cond;
  // Own time, clock-side time: written by the clock thread, read by any
  // output's thread; each value whole, so atomic.
  std::atomic<double> slot[2][2];
  std::atomic<int> sequence;
  // Ended outputs: their time goes on from the last reading at wall-clock pace.
  std::atomic<int> stopped;
  double stopped_ms;
  double stopped_at_ms;
  // Lock step: wall-clock time of the last advance, and whether the channel
  // has been left out for not advancing within the patience.
  double advanced_at_ms;
  int stalled;
};

namespace {

// Outputs of one name share a clock wherever in the process they are made.
struct clock_directory {
  std::mutex lock;
  array clocks;  // avstream_clock*
};
clock_directory directory;

int channel_count(avstream_clock* clock) { return array_count(&clock->channels, sizeof(avstream_channel*)); }

avstream_channel* channel_at(avstream_clock* clock, int i) {
  return static_cast<avstream_channel**>(clock->channels.data)[i];
}

double channel_time(avstream_channel* c) {
  if (c->stopped.load(std::memory_order_acquire)) return c->stopped_ms + (get_milliseconds() - c->stopped_at_ms);
  return c->fn(c->arg);
}

double channel_offset(avstream_channel* c) {
  int seq = c->sequence.load(std::memory_order_acquire);
  const std::atomic<double>* s = c->slot[(seq ^ 1) & 1];
  return s[1].load(std::memory_order_relaxed) - s[0].load(std::memory_order_relaxed);
}

// The channel array may grow while the clock thread works: it works on a copy.
int copy_channels(avstream_clock* clock, array* copy) {
  inthread_lock(&clock->lock);
  int n = channel_count(clock);
  array_truncate(copy, sizeof(avstream_channel*), 0);
  if (n > 0) array_append(copy, clock->channels.data, n * static_cast<int32_t>(sizeof(avstream_channel*)));
  inthread_unlock(&clock->lock);
  return copy->failed ? 0 : n;
}

void snapshot_pass(avstream_clock* clock, avstream_channel** list, int n) {
  avstream_channel* master = clock->master.load();
  for (int i = 0; i < n; ++i) {
    avstream_channel* c = list[i];
    if (c->stopped.load()) continue;
    std::atomic<double>* s = c->slot[c->sequence.load() & 1];
    if (c == master) {
      double m = channel_time(c);
      s[0].store(m, std::memory_order_relaxed);
      s[1].store(m, std::memory_order_relaxed);
    } else {
      s[1].store(avstream_time(c), std::memory_order_relaxed);
      s[0].store(channel_time(c), std::memory_order_relaxed);
    }
    c->sequence.fetch_add(1, std::memory_order_release);
  }
}

// Sleeps `ms` unless the clock is asked to end; 0 when it is.
int clock_sleep(avstream_clock* clock, double ms) {
  inthread_lock(&clock->lock);
  if (!clock->quit.load()) inthread_cond_wait_ms(&clock->wake, &clock->lock, ms);
  int go_on = !clock->quit.load();
  inthread_unlock(&clock->lock);
  return go_on;
}

int all_advanced(avstream_channel** list, int n) {
  for (int i = 0; i < n; ++i)
    if (!list[i]->advanced.load() && !list[i]->stopped.load()) return 0;
  return 1;
}

avstream_channel* measure_and_choose(avstream_channel** list, int n) {
  auto* s = static_cast<float*>(calloc(kSamplings, sizeof(float)));
  auto* v = static_cast<float*>(calloc(static_cast<size_t>(n) * kSamplings, sizeof(float)));
  auto* errors = static_cast<double*>(calloc(n, sizeof(double)));
  avstream_channel* master = list[0];
  if (s != nullptr && v != nullptr && errors != nullptr) {
    // Sampling times are kept relative to the first: as floats, milliseconds
    // since 1970 would all round to the same value and no fit could be made.
    double first = get_milliseconds();
    for (int k = 0; k < kSamplings; ++k) {
      s[k] = static_cast<float>(get_milliseconds() - first);
      for (int c = 0; c < n; ++c) v[c * kSamplings + k] = static_cast<float>(channel_time(list[c]));
      inthread_sleep(kSamplingMs);
    }
    for (int c = 0; c < n; ++c) errors[c] = avstream_fit_readings(s, v + c * kSamplings, kSamplings).error;
    master = list[avstream_choose_master(errors, n)];
  }
  free(s);
  free(v);
  free(errors);
  return master;
}

// Waits until every output has advanced once, at most 3 s; 0 when the clock
// is asked to end meanwhile.
int wait_for_outputs(avstream_clock* clock, array* copy) {
  int n = copy_channels(clock, copy);
  double t0 = get_milliseconds();
  for (;;) {
    double t = get_milliseconds();
    if (!clock_sleep(clock, 200.0)) return 0;
    if (all_advanced(static_cast<avstream_channel**>(copy->data), n)) return 1;
    if (t - t0 >= kOutputWaitMs) return 1;
  }
}

void run_clock(avstream_clock* clock, array* copy) {
  int n = copy_channels(clock, copy);
  if (n < 1) return;
  auto** list = static_cast<avstream_channel**>(copy->data);
  if (clock->lockstep.load()) {
    // Rendering: the first output is the master and nothing needs refreshing.
    clock->zero.store(channel_time(list[0]));
    clock->master.store(list[0]);
    snapshot_pass(clock, list, n);
    clock->rolling.store(1);
    return;
  }
  avstream_channel* master = measure_and_choose(list, n);
  clock->zero.store(channel_time(master) + kStartDelayMs);
  clock->master.store(master);
  do {
    n = copy_channels(clock, copy);
    snapshot_pass(clock, static_cast<avstream_channel**>(copy->data), n);
    clock->rolling.store(1);
  } while (clock_sleep(clock, kRefreshMs));
}

void* clock_thread(void* arg) {
  auto* clock = static_cast<avstream_clock*>(arg);
  array copy{};
  if (wait_for_outputs(clock, &copy)) run_clock(clock, &copy);
  array_reset(&copy);
  return nullptr;
}

avstream_clock* find_or_make_clock(const char* name) {
  for (int i = 0; i < array_count(&directory.clocks, sizeof(avstream_clock*)); ++i) {
    auto* clock = static_cast<avstream_clock**>(directory.clocks.data)[i];
    if (strcmp(static_cast<const char*>(clock->name.data), name) == 0) return clock;
  }
  auto* clock = static_cast<avstream_clock*>(calloc(1, sizeof(avstream_clock)));
  if (clock == nullptr) return nullptr;
  clock->zero.store(DBL_MAX);
  array_append(&clock->name, name, static_cast<int32_t>(strlen(name) + 1));
  if (clock->name.failed || thread_lock_make(&clock->lock) != 0 || thread_cond_make(&clock->wake) != 0) {
    array_reset(&clock->name);
    thread_lock_destroy(&clock->lock);
    free(clock);
    return nullptr;
  }
  array_append(&directory.clocks, &clock, sizeof(clock));
  return clock;
}

void free_clock(avstream_clock* clock) {
  // The clock thread reads the channels: it ends before they are freed.
  inthread_lock(&clock->lock);
  clock->quit.store(1);
  inthread_cond_signal(&clock->wake);
  inthread_unlock(&clock->lock);
  if (clock->thread.record != nullptr)
    while (!thread_waitfor(&clock->thread)) inthread_sleep(1.0);

  for (int i = 0; i < channel_count(clock); ++i) {
    avstream_channel* c = channel_at(clock, i);
    thread_cond_destroy(&c->cond);
    free(c);
  }
  array_reset(&clock->channels);
  array_reset(&clock->name);
  thread_cond_destroy(&clock->wake);
  thread_lock_destroy(&clock->lock);
  free(clock);
}

// One owner fewer; the last takes the clock out of the directory and frees it.
void release_clock(avstream_clock* clock) {
  std::unique_lock<std::mutex> hold(directory.lock);
  int last = --clock->owners == 0;
  if (last) {
    int count = array_count(&directory.clocks, sizeof(avstream_clock*));
    auto** clocks = static_cast<avstream_clock**>(directory.clocks.data);
    for (int i = 0; i < count; ++i) {
      if (clocks[i] != clock) continue;
      clocks[i] = clocks[count - 1];
      array_truncate(&directory.clocks, sizeof(avstream_clock*), count - 1);
      break;
    }
  }
  hold.unlock();
  if (last) free_clock(clock);
}

}  // namespace

avstream_channel* avstream_add_channel(const char* name, avstream_time_fn fn, void* arg) {
  avstream_clock* clock = nullptr;
  {
    std::lock_guard<std::mutex> hold(directory.lock);
    clock = find_or_make_clock(name);
    if (clock == nullptr) return nullptr;
    clock->owners += 1;
  }

  auto* channel = static_cast<avstream_channel*>(calloc(1, sizeof(avstream_channel)));
  int ok = channel != nullptr && thread_cond_make(&channel->cond) == 0;
  if (ok) {
    channel->clock = clock;
    channel->fn = fn;
    channel->arg = arg;
    inthread_lock(&clock->lock);
    array_append(&clock->channels, &channel, sizeof(channel));
    ok = !clock->channels.failed;
    inthread_unlock(&clock->lock);
    if (!ok) thread_cond_destroy(&channel->cond);
  }
  if (ok) return channel;
  free(channel);
  release_clock(clock);
  return nullptr;
}

void avstream_start(avstream_channel* channel, int lockstep) {
  avstream_clock* clock = channel->clock;
  inthread_lock(&clock->lock);
  clock->lockstep.store(lockstep);
  if (!clock->thread_started) {
    clock->thread_started = 1;
    thread_start(&clock->thread, clock_thread, clock);
  }
  inthread_unlock(&clock->lock);
}

int avstream_is_rolling(avstream_channel* channel) {
  avstream_clock* clock = channel->clock;
  if (!clock->rolling.load()) return 0;
  if (clock->zero_settled.load()) return 1;
  avstream_channel* master = clock->master.load();
  if (master == nullptr) return 0;
  double m = channel_time(master);
  double zero = clock->zero.load();
  if (!(m - zero >= 0)) return 0;
  // The first reader to see the planned start fixes time 0 at its reading.
  clock->zero.compare_exchange_strong(zero, m);
  clock->zero_settled.store(1);
  return 1;
}

double avstream_time(avstream_channel* channel) {
  if (!avstream_is_rolling(channel)) return 0;
  avstream_clock* clock = channel->clock;
  if (!clock->lockstep.load()) {
    avstream_channel* master = clock->master.load();
    return channel_time(master) + channel_offset(master) - clock->zero.load();
  }
  return channel_time(channel) + channel_offset(channel);
}

double avstream_reltime(avstream_channel* channel, double t) {
  if (!avstream_is_rolling(channel)) return 0;
  return t + channel_offset(channel) - channel->clock->zero.load();
}

void avstream_channel_advance(avstream_channel* channel, double start, double end) {
  (void)start;
  channel->advanced.store(1);
  avstream_clock* clock = channel->clock;
  if (!clock->lockstep.load() || !avstream_is_rolling(channel)) return;

  inthread_lock(&clock->lock);
  int n = channel_count(clock);
  channel->position = end + channel_offset(channel);
  channel->advanced_at_ms = get_milliseconds();
  channel->stalled = 0;
  int ahead = 0;
  for (int i = 0; i < n; ++i) {
    avstream_channel* other = channel_at(clock, i);
    if (other == channel || other->stopped.load() || other->stalled) continue;
    if (channel->position > other->position) ahead = 1;
  }
  if (ahead) {
    for (int i = 0; i < n; ++i) {
      avstream_channel* other = channel_at(clock, i);
      if (other != channel && other->position < channel->position) inthread_cond_signal(&other->cond);
    }
    if (inthread_cond_wait_ms(&channel->cond, &clock->lock, kLockstepPatienceMs) != 0) {
      // Nobody came: whoever behind has not advanced for that long is left out
      // until it advances again.
      double now = get_milliseconds();
      for (int i = 0; i < channel_count(clock); ++i) {
        avstream_channel* other = channel_at(clock, i);
        if (other != channel && other->position < channel->position &&
            now - other->advanced_at_ms >= kLockstepPatienceMs)
          other->stalled = 1;
      }
    }
  }
  inthread_unlock(&clock->lock);
}

void avstream_channel_stop(avstream_channel* channel) {
  avstream_clock* clock = channel->clock;
  inthread_lock(&clock->lock);
  if (!channel->stopped.load()) {
    channel->stopped_ms = channel->fn(channel->arg);
    channel->stopped_at_ms = get_milliseconds();
    channel->stopped.store(1, std::memory_order_release);
  }
  for (int i = 0; i < channel_count(clock); ++i) {
    avstream_channel* other = channel_at(clock, i);
    if (other != channel) inthread_cond_signal(&other->cond);
  }
  inthread_unlock(&clock->lock);
}

int avstream_is_master(avstream_channel* channel) { return channel->clock->master.load() == channel; }

void avstream_destroy(avstream_channel* channel) {
  avstream_channel_stop(channel);
  release_clock(channel->clock);
}

avstream_fit avstream_fit_readings(const float* s, const float* v, int n) {
  avstream_fit fit{};
  fit.intercept = fit.slope = fit.error = NAN;
  if (n < 1) return fit;
  auto* values = static_cast<double*>(malloc(sizeof(double) * n));
  auto* counts = static_cast<int*>(malloc(sizeof(int) * n));
  if (values == nullptr || counts == nullptr) {
    free(values);
    free(counts);
    return fit;
  }
  int runs = 0;
  for (int k = 0; k < n; ++k) {
    double x = v[k];
    if (runs > 0) {
      double run = values[runs - 1];
      double d = fabs(x - run);
      double larger = fmax(fabs(x), fabs(run));
      if (d < 1e-6 || d / larger < 1e-6) {
        counts[runs - 1] += 1;
        continue;
      }
    }
    values[runs] = x;
    counts[runs] = 1;
    ++runs;
  }
  fit.runs = runs;
  int kept = runs - 2;
  double sx = 0, sxx = 0, sy = 0, sxy = 0;
  int p = 0;
  for (int i = 0; i < kept; ++i) {
    double x = static_cast<double>(s[p]) - s[0];
    double y = values[i + 1] - values[1];
    sx += x;
    sxx += x * x;
    sy += y;
    sxy += x * y;
    p += counts[i + 1];
  }
  double nr = kept > 0 ? kept : 0;
  double d = sx * sx - nr * sxx;
  fit.intercept = (sx * sxy - sxx * sy) / d;
  fit.slope = (sx * sy - nr * sxy) / d;
  double first = runs > 1 ? values[1] : values[0];
  fit.error = fabs((static_cast<double>(v[n - 1]) - first) - fit.intercept -
                   fit.slope * (static_cast<double>(s[n - 1]) - s[0]));
  free(values);
  free(counts);
  return fit;
}

int avstream_choose_master(const double* errors, int n) {
  int best = 0;
  double best_error = errors[0];
  for (int i = 1; i < n; ++i) {
    if (errors[i] <= best_error || std::isnan(errors[i]) || std::isnan(best_error)) {
      best = i;
      best_error = errors[i];
    }
  }
  return best;
}
