#include <zeal/app/bus.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <zeal/app/app.h>
#include <zeal/app/record.h>
#include <zeal/base/log.h>
#include <zeal/base/thread.h>
#include <zeal/io/midi_event.h>

namespace {

constexpr uint32_t kIndexMask = 0x7fffffffu;
constexpr int32_t kRingWidth = static_cast<int32_t>(sizeof(lf_ringbuffer));

void check_aligned(const void* p, const char* what, unsigned line) {
  if (reinterpret_cast<uintptr_t>(p) % alignof(int32_t) != 0) {
    printf("%s:%u: failed assertion `%s'\n", __FILE__, line, what);
    fflush(stdout);
    abort();
  }
}

uint8_t* byte_at(const lf_ringbuffer* ring, uint32_t k, int32_t size) {
  return static_cast<uint8_t*>(ring->data.data) + (k & kIndexMask) % static_cast<uint32_t>(size);
}

// Ring `index` of `rings`, or null (with the warning) when there is none.
lf_ringbuffer* ring_at(array* rings, int32_t index, const char* warning) {
  int32_t count = array_count(rings, kRingWidth);
  if (index < 0 || count < 0 || index >= count) {
    log_warning("%s", warning);
    return nullptr;
  }
  return static_cast<lf_ringbuffer*>(array_element(rings, kRingWidth, index));
}

lf_ringbuffer* consumer_ring(App* app) {
  return ring_at(&app->bus.consumers, app->control_ring, "ignoring unknown consumer.");
}

void lock_spinning(App* app) {
  while (app->bus_lock.fetch_add(-1) <= 0) {
    app->bus_lock.fetch_add(1);
    inthread_yield();
  }
}

void unlock(App* app) { app->bus_lock.fetch_add(1); }

int32_t append_ring(App* app, array* rings) {
  lock_spinning(app);
  int32_t index = array_count(rings, kRingWidth);
  auto* ring = static_cast<lf_ringbuffer*>(array_allocate(rings, kRingWidth, index < 0 ? 0 : index));
  if (ring == nullptr) {
    unlock(app);
    log_error("out of memory for the control bus");
    return -1;
  }
  lf_ringbuffer_make(ring, APP_BUS_EVENT_BYTES, APP_BUS_RING_EVENTS);
  unlock(app);
  return index;
}

void destroy_rings(array* rings) {
  int32_t count = array_count(rings, kRingWidth);
  for (int32_t i = 0; i < count; ++i)
    lf_ringbuffer_destroy(static_cast<lf_ringbuffer*>(array_element(rings, kRingWidth, i)));
  array_reset(rings);
}

}  // namespace

void lf_ringbuffer_make(lf_ringbuffer* ring, int32_t size, int32_t count) {
  check_aligned(&ring->read, "aligned read index", __LINE__);
  check_aligned(&ring->write, "aligned write index", __LINE__);
  ring->data = array{};
  array_grow(&ring->data, size * count);
  ring->read.store(-1);
  ring->write.store(0);
}

void lf_ringbuffer_destroy(lf_ringbuffer* ring) { array_reset(&ring->data); }

int32_t lf_ringbuffer_size(const lf_ringbuffer* ring) {
  return ring->data.failed ? -1 : ring->data.size;
}

int32_t lf_ringbuffer_used(const lf_ringbuffer* ring) {
  uint32_t write = static_cast<uint32_t>(ring->write.load());
  uint32_t read = static_cast<uint32_t>(ring->read.load());
  return static_cast<int32_t>((write - 1u - read) & kIndexMask);
}

int32_t lf_ringbuffer_free(const lf_ringbuffer* ring) {
  return lf_ringbuffer_size(ring) - lf_ringbuffer_used(ring);
}

int lf_ringbuffer_write(lf_ringbuffer* ring, const void* event, int32_t size) {
  int32_t ring_size = lf_ringbuffer_size(ring);
  if (ring_size <= 0 || lf_ringbuffer_free(ring) / size < 1) return 0;
  uint32_t write = static_cast<uint32_t>(ring->write.load());
  auto* bytes = static_cast<const uint8_t*>(event);
  for (int32_t i = 0; i < size; ++i) *byte_at(ring, write + static_cast<uint32_t>(i), ring_size) = bytes[i];
  ring->write.fetch_add(size);
  ring->write.fetch_and(static_cast<int32_t>(kIndexMask));
  return 1;
}

int lf_ringbuffer_read(lf_ringbuffer* ring, void* out, int32_t size) {
  int32_t ring_size = lf_ringbuffer_size(ring);
  if (ring_size <= 0 || lf_ringbuffer_used(ring) / size < 1) return 0;
  if (out != nullptr) {
    uint32_t first = static_cast<uint32_t>(ring->read.load()) + 1u;
    auto* bytes = static_cast<uint8_t*>(out);
    for (int32_t i = 0; i < size; ++i) bytes[i] = *byte_at(ring, first + static_cast<uint32_t>(i), ring_size);
  }
  ring->read.fetch_add(size);
  ring->read.fetch_and(static_cast<int32_t>(kIndexMask));
  return 1;
}

void app_bus_make(App* app) {
  lock_spinning(app);
  array_reset(&app->bus.producers);
  array_reset(&app->bus.consumers);
  app->bus.event_size = APP_BUS_EVENT_BYTES;
  unlock(app);
  app->midi_in_ring = append_ring(app, &app->bus.producers);
  app->display_events_ring = append_ring(app, &app->bus.producers);
  app->control_ring = append_ring(app, &app->bus.consumers);
}

void app_bus_destroy(App* app) {
  lock_spinning(app);
  destroy_rings(&app->bus.producers);
  destroy_rings(&app->bus.consumers);
  unlock(app);
}

int app_bus_post(App* app, int32_t index, const void* event) {
  if (!app_has_stream(app, APP_STREAM_CONTROL_IN)) return 0;
  lf_ringbuffer* ring =
      ring_at(&app->bus.producers, index, "ignoring event on unconnected source.");
  return ring != nullptr && lf_ringbuffer_write(ring, event, APP_BUS_EVENT_BYTES);
}

void control_event_handler(void* user, const int32_t* event, int32_t words) {
  auto* app = static_cast<App*>(user);
  // A shorter record still fills a whole slot; its tail is zeroes rather
  // than whatever an earlier event left there.
  uint8_t slot[APP_BUS_EVENT_BYTES] = {};
  int32_t n = words < 0 ? 0 : (words > 8 ? 8 : words) * 4;
  if (event != nullptr && n > 0) memcpy(slot, event, static_cast<size_t>(n));
  app_bus_post(app, app->display_events_ring, slot);
}

namespace {

// Moves what waits in `producer` to every consumer; the events moved stay in
// `local`, and their count is returned.
int32_t accept_into(AppBus* bus, lf_ringbuffer* producer, uint8_t (&local)[APP_BUS_RING_EVENTS * APP_BUS_EVENT_BYTES]) {
  constexpr int32_t kSize = APP_BUS_EVENT_BYTES;
  int32_t n = lf_ringbuffer_used(producer) / kSize;
  if (n > APP_BUS_RING_EVENTS) n = APP_BUS_RING_EVENTS;
  if (n <= 0 || lf_ringbuffer_size(producer) <= 0) return 0;
  for (int32_t i = 0; i < n; ++i) lf_ringbuffer_read(producer, local + i * kSize, kSize);
  int32_t consumers = array_count(&bus->consumers, kRingWidth);
  for (int32_t c = 0; c < consumers; ++c) {
    auto* ring = static_cast<lf_ringbuffer*>(array_element(&bus->consumers, kRingWidth, c));
    int32_t room = lf_ringbuffer_size(ring) > 0 ? lf_ringbuffer_free(ring) / kSize : 0;
    int32_t m = room < n ? room : n;
    for (int32_t i = 0; i < m; ++i) lf_ringbuffer_write(ring, local + i * kSize, kSize);
    if (m < n)
      log_warning("one output is running too slow (%d) (must write: %d, written: %d)", c, n, m);
  }
  return n;
}

// What producer `ring` handed the handler at tick `t`, for the recording.
// Input events are recorded where the display delivers them, not here.
void record_accepted(App* app, int32_t ring, const uint8_t* events, int32_t n, double t) {
  if (ring == app->display_events_ring) return;
  for (int32_t i = 0; i < n; ++i) {
    app_record_event e{};
    e.ms = t;
    e.ring = ring;
    memcpy(e.words, events + i * APP_BUS_EVENT_BYTES, APP_BUS_EVENT_BYTES);
    e.source = ring == app->midi_in_ring && static_cast<uint32_t>(e.words[0]) == MIDI_EVENT_MAGIC ? APP_RECORD_MIDI
                                                                                                : APP_RECORD_BUS;
    app_recorder_add(app->recorder, e);
  }
}

}  // namespace

void private_bus_accept(AppBus* bus, lf_ringbuffer* producer) {
  uint8_t local[APP_BUS_RING_EVENTS * APP_BUS_EVENT_BYTES];
  accept_into(bus, producer, local);
}

void app_controlin(App* app, double t) {
  if (app->replay != nullptr) app_replay_tick(app, t);
  if (app->bus_lock.fetch_add(-1) > 0) {
    int32_t producers = array_count(&app->bus.producers, kRingWidth);
    uint8_t local[APP_BUS_RING_EVENTS * APP_BUS_EVENT_BYTES];
    for (int32_t i = 0; i < producers; ++i) {
      int32_t n = accept_into(&app->bus, static_cast<lf_ringbuffer*>(array_element(&app->bus.producers, kRingWidth, i)),
                              local);
      if (app->recorder != nullptr) record_accepted(app, i, local, n, t);
    }
  }
  if (app->recorder != nullptr) app_recorder_reached(app->recorder, t);
  app->bus_lock.fetch_add(1);
  app->control_ms = t;
  app_two_call_step(app, APP_STREAM_CONTROL_IN);
  // Each tick starts with only new events.
  while (event_has_next(app, nullptr)) event_get_next(app, nullptr);
}

int32_t event_has_next(App* app, double* time) {
  if (time != nullptr) *time = app->control_ms;
  // Without the stream nothing can be taken, so nothing waits either.
  if (!app_has_stream(app, APP_STREAM_CONTROL_IN)) return 0;
  lf_ringbuffer* ring = consumer_ring(app);
  if (ring == nullptr || lf_ringbuffer_size(ring) <= 0) return 0;
  return lf_ringbuffer_used(ring) / APP_BUS_EVENT_BYTES > 0 ? APP_BUS_EVENT_BYTES / 4 : 0;
}

void event_get_next(App* app, void* buffer) {
  if (!app_has_stream(app, APP_STREAM_CONTROL_IN)) return;
  lf_ringbuffer* ring = consumer_ring(app);
  if (ring != nullptr) lf_ringbuffer_read(ring, buffer, APP_BUS_EVENT_BYTES);
}
