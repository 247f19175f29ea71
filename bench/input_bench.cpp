#include <benchmark/benchmark.h>

#include <vector>

#include <zeal/app/app.h>
#include <zeal/app/app_input.h>
#include <zeal/app/bus.h>
#include <zeal/io/midi_decode.h>
#include <zeal/io/midi_event.h>
#include "tests/common/midi_flood.h"

namespace {

int32_t read_all(uint32_t, uint32_t, App* app) {
  uint8_t event[APP_BUS_EVENT_BYTES];
  while (event_has_next(app, nullptr)) event_get_next(app, event);
  return APP_STEP;
}

// An app with only the control stream and its bus, read whole at every tick.
void make_control_bus(App* app) {
  app->config.streams = APP_STREAM_CONTROL_IN;
  app->handler = read_all;
  app->bus_lock.store(1);
  app_bus_make(app);
}

}  // namespace

// A control tick that moves a full producer ring (64 events) to the consumer
// and lets the handler read them: the most a tick ever carries per source.
static void BM_ControlTickFullRing(benchmark::State& state) {
  App app{};
  make_control_bus(&app);
  midi_event e;
  noteon(&e, 0, 60, 100);
  for (auto _ : state) {
    for (int i = 0; i < APP_BUS_RING_EVENTS; ++i) app_bus_post(&app, app.midi_in_ring, &e);
    app_controlin(&app, 0);
  }
  state.SetItemsProcessed(state.iterations() * APP_BUS_RING_EVENTS);
  app_bus_destroy(&app);
}
BENCHMARK(BM_ControlTickFullRing);

// Decoding every event of a four-message packet, as the MIDI-in callback does.
static void BM_DecodePacket(benchmark::State& state) {
  const uint8_t data[] = {0x90, 60, 100, 0xB1, 7, 100, 0xF8, 0x80, 60, 0};
  std::vector<uint8_t> packet(MIDI_PACKET_HEADER + sizeof data);
  midi_packet_write(packet.data(), 0, data, sizeof data);
  for (auto _ : state) {
    midi_event_cursor cursor = midi_event_cursor_make(packet.data(), APP_MIDI_IN_BYTES);
    midi_event e;
    while (midi_event_next(&cursor, &e)) benchmark::DoNotOptimize(e);
  }
}
BENCHMARK(BM_DecodePacket);

// The MIDI-in callback handed one 30 000-byte packet of note-ons, as another
// JACK client may send: it decodes the first APP_MIDI_IN_BYTES in one pass,
// fills the control bus and counts the rest. Must stay well under 1 ms.
static void BM_MidiInLargePacket(benchmark::State& state) {
  App app{};
  make_control_bus(&app);
  std::vector<uint8_t> packet = midi_flood_packet(30000, 100);
  for (auto _ : state) {
    app_midifn(&app, packet.data());
    state.PauseTiming();
    app_controlin(&app, 0);  // empties the bus for the next packet
    state.ResumeTiming();
  }
  app_bus_destroy(&app);
}
BENCHMARK(BM_MidiInLargePacket)->Unit(benchmark::kMicrosecond);

// Building a full event list (20 packets of three bytes).
static void BM_EventListFill(benchmark::State& state) {
  midi_event e;
  cc(&e, 0, 1, 2);
  for (auto _ : state) {
    midi_event_list* list = midi_event_list_new();
    for (int i = 0; i < 20; ++i) midi_event_list_add_at(list, &e, i);
    benchmark::DoNotOptimize(list->buffer);
    midi_event_list_destroy(list);
  }
}
BENCHMARK(BM_EventListFill);
