// The output clock: the outputs of one stream name share one time base.
//
// Each output registers a channel with a function telling its own time. A
// clock thread measures the channels, chooses the steadiest as master and
// starts clock time 250 ms later; in rendering (lock-step) mode it instead
// holds the outputs together, an output that is ahead waiting for the others.
#pragma once

struct avstream_channel;
using avstream_time_fn = double (*)(void* arg);

// The channel, or null when memory ran out. Creates the clock of `name` on first use.
avstream_channel* avstream_add_channel(const char* name, avstream_time_fn fn, void* arg);
void avstream_start(avstream_channel* channel, int lockstep);
int avstream_is_rolling(avstream_channel* channel);
double avstream_time(avstream_channel* channel);
double avstream_reltime(avstream_channel* channel, double t);
void avstream_channel_advance(avstream_channel* channel, double start, double end);
// The output is done with its channel (stopping it); the last channel of a
// clock to go ends the clock thread and frees the clock with its channels.
void avstream_destroy(avstream_channel* channel);

// The output whose channel this is has ended: its time function is not called
// any more (its last reading is kept), it no longer holds other channels in
// lock step, and any channel waiting for it is woken.
void avstream_channel_stop(avstream_channel* channel);
// 1 when `channel` is its clock's master.
int avstream_is_master(avstream_channel* channel);

// The clock thread's fit of one channel: its readings `v` against the
// sampling times `s` (ms since the first sampling), both `n` long.
struct avstream_fit {
  int runs;          // runs of equal readings, before the first and last are dropped
  double intercept;  // of the least-squares line
  double slope;
  double error;  // distance of the last reading from the line; NaN for too few runs
};
avstream_fit avstream_fit_readings(const float* s, const float* v, int n);
// Index of the master among `n` channel errors (n >= 1): the smallest error,
// ties to the later channel, and any NaN comparison also to the later one.
int avstream_choose_master(const double* errors, int n);
