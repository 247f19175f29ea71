// The control bus: control input from other threads reaches the handler's
// control stream without locks on the data path.
//
// Each source writes fixed 32-byte events into its own producer ring; once
// per control tick the runtime moves what has arrived from every producer
// into every consumer ring, and the handler reads its consumer ring during
// (control-in, step).
#pragma once
#include <atomic>
#include <cstdint>

#include <zeal/base/array.h>

struct App;
struct AppBus;

constexpr int32_t APP_BUS_EVENT_BYTES = 32;
constexpr int32_t APP_BUS_RING_EVENTS = 64;

// Single-producer single-consumer ring of whole events. Indices only grow
// and are kept modulo 2^31; byte k of the stream lives at data[k mod size].
// Bytes in use = (write - 1 - read) mod 2^31.
struct lf_ringbuffer {
  array data;
  std::atomic<int32_t> read;   // last byte read; starts at -1
  std::atomic<int32_t> write;  // next byte to write; starts at 0
};

void lf_ringbuffer_make(lf_ringbuffer* ring, int32_t size, int32_t count);
void lf_ringbuffer_destroy(lf_ringbuffer* ring);
int32_t lf_ringbuffer_size(const lf_ringbuffer* ring);  // -1 when the data failed
int32_t lf_ringbuffer_used(const lf_ringbuffer* ring);  // bytes
int32_t lf_ringbuffer_free(const lf_ringbuffer* ring);  // bytes
// Writes one event of `size` bytes; 0 (nothing written) without room.
int lf_ringbuffer_write(lf_ringbuffer* ring, const void* event, int32_t size);
// Takes one event of `size` bytes into `out` (discards it when `out` is
// null); 0 when none waits.
int lf_ringbuffer_read(lf_ringbuffer* ring, void* out, int32_t size);

// Builds the bus of the main sequence: two producer rings (MIDI input,
// display input) and one consumer ring, 64 events each.
void app_bus_make(App* app);
void app_bus_destroy(App* app);
// Writes one event into producer ring `index`: 1 when it went in, 0 when it
// was dropped (the ring full, no such ring, which warns, or no control-in
// stream).
int app_bus_post(App* app, int32_t index, const void* event);

// Display input handler: posts the first min(4 words, 32) bytes of the event,
// zero-padded to a full slot.
void control_event_handler(void* app, const int32_t* event, int32_t words);
void private_bus_accept(AppBus* bus, lf_ringbuffer* producer);
// The control tick at output-clock time `t`.
void app_controlin(App* app, double t);
// 8 (words per event) when an event waits for the handler, else 0; `time`
// (if given) receives the tick's time.
int32_t event_has_next(App* app, double* time);
// Takes the next event into `buffer` (32 bytes), or discards it.
void event_get_next(App* app, void* buffer);
