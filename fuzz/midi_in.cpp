// MIDI packets as another program may send them, through the MIDI-in path:
// into a packet list as the platform glue builds it, then decoded by a
// bounded cursor, by count and by index, and echoed into an event list.
// The first input byte chooses the bound; the rest is the packet's data.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "base/parser.h"
#include "io/midi_decode.h"
#include "io/midi_event.h"
#include "fuzz/fuzz_check.h"

namespace {

constexpr int32_t kListBytes = 4 + MIDI_PACKET_HEADER + 65535;


bool same(const midi_event& a, const midi_event& b) {
  return a.magic == b.magic && a.reserved == b.reserved && a.kind == b.kind &&
         a.channel == b.channel && a.first_tag == b.first_tag && a.first == b.first &&
         a.second_tag == b.second_tag && a.second == b.second;
}

void check_record(const midi_event& e) {
  check(e.magic == MIDI_EVENT_MAGIC && e.reserved == 0);
  if (e.kind == MIDI_KIND_CLOCK) {
    check(e.channel >= MIDI_CLOCK_START && e.channel <= MIDI_CLOCK_TICK);
  } else {
    check(e.kind == MIDI_KIND_CHANNEL && e.channel >= 0 && e.channel <= 15);
    check(e.first >= -128 && e.first <= 127 && e.second >= -128 && e.second <= 127);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size < 2 || size > 1 + 65535) return 0;
  int32_t limit = bytes[0] == 0xFF ? -1 : bytes[0] * 16;
  const uint8_t* data = bytes + 1;
  auto length = static_cast<int32_t>(size - 1);

  std::vector<uint8_t> list(kListBytes);
  uint8_t* packet = midi_packet_list_init(list.data());
  check(midi_packet_list_add(list.data(), kListBytes, packet, 7, length, data) == packet);
  check(midi_packet_list_count(list.data()) == 1 && midi_packet_length(packet) == length);

  std::vector<midi_event> events;
  midi_event_cursor cursor = midi_event_cursor_make(packet, limit);
  midi_event e;
  while (midi_event_next(&cursor, &e)) {
    check_record(e);
    events.push_back(e);
  }
  check(!midi_event_next(&cursor, &e));
  auto walked = static_cast<int32_t>(events.size());
  int32_t count = midi_event_count(packet);
  // A message takes at least one byte: a bounded walk stops within the bound.
  check(limit < 0 ? walked == count : walked <= count && walked <= limit);

  // Taking events by index agrees with the walk, and past it gives the empty record.
  midi_event empty{};
  empty.magic = MIDI_EVENT_MAGIC;
  for (int32_t i : {0, walked / 2, walked - 1, count, -1}) {
    midi_event got;
    midi_event_get(packet, &got, i);
    if (i >= 0 && i < walked) check(same(got, events[static_cast<size_t>(i)]));
    if (i < 0 || i >= count) check(same(got, empty));
  }

  // The parser form decodes the first message alike.
  parser p;
  parser_make(&p, reinterpret_cast<const char*>(data), length);
  int first = parse_a_midi_event(&p, noteon, noteoff, cc, midiclock_tick, midiclock_start,
                                 midiclock_stop, midiclock_continue, &e);
  check(first == (count > 0));
  midi_event zeroth;
  midi_event_get(packet, &zeroth, 0);
  if (first) check(same(e, zeroth) && parser_position(&p) >= 1 && parser_position(&p) <= 3);
  parser_free(&p);

  // Echoed out, as a piece might: the list fills up and drops the rest.
  midi_event_list* out = midi_event_list_new();
  for (const midi_event& event : events) midi_event_list_add_at(out, &event, event.first);
  midi_event_list_destroy(out);
  return 0;
}
