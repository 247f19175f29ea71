// Minimal output clock: every channel is its own clock. A channel rolls once
// started, its clock time is its own time, and lock step never waits.
#include "io/avstream.h"

#include <cstdlib>

struct avstream_channel {
  avstream_time_fn fn;
  void* arg;
  int started;
};

avstream_channel* avstream_add_channel(const char*, avstream_time_fn fn, void* arg) {
  auto* channel = static_cast<avstream_channel*>(calloc(1, sizeof(avstream_channel)));
  if (channel == nullptr) return nullptr;
  channel->fn = fn;
  channel->arg = arg;
  return channel;
}

void avstream_start(avstream_channel* channel, int) { channel->started = 1; }
int avstream_is_rolling(avstream_channel* channel) { return channel->started; }

double avstream_time(avstream_channel* channel) {
  return channel->started ? channel->fn(channel->arg) : 0.0;
}

double avstream_reltime(avstream_channel* channel, double t) { return channel->started ? t : 0.0; }
void avstream_channel_advance(avstream_channel*, double, double) {}
void avstream_destroy(avstream_channel* channel) { free(channel); }
