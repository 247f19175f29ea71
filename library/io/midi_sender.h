// Timed sending of MIDI messages from one output port: a thread holds the
// pending messages ordered by time stamp (ties in the order given) and hands
// each to the port once the monotonic clock has reached its stamp.
#pragma once
#include <cstdint>

#include <zeal/base/thread.h>

using midi_send_fn = void (*)(void* arg, const uint8_t* bytes, int32_t length);

struct midi_pending {
  uint64_t stamp;
  uint64_t order;
  uint8_t length;
  uint8_t bytes[3];
};

struct midi_sender {
  thread_handle thread;
  thread_lock lock;
  thread_cond wake;
  midi_pending* heap;  // a binary heap on (stamp, order)
  int32_t count;
  int32_t capacity;
  uint64_t order;
  uint64_t stop_after;  // stamps beyond this are dropped once stopping
  int32_t stopping;
  midi_send_fn send;
  void* arg;
};

// 1 when the thread runs.
int midi_sender_start(midi_sender* sender, midi_send_fn send, void* arg);
// Queues one message of 1 to 3 bytes; 0 when the queue is full.
int midi_sender_post(midi_sender* sender, uint64_t stamp, const uint8_t* bytes, int32_t length);
// Sends what is due within the next second, drops the rest, ends the thread.
void midi_sender_stop(midi_sender* sender);
