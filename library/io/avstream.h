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
void avstream_destroy(avstream_channel* channel);
