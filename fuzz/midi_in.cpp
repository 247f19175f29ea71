// MIDI packets as another program may send them, through the MIDI-in path:
// into a packet list as the platform glue builds it, then decoded by a
// bounded cursor, by count and by index, and echoed into an event list.
// Every decoding is compared with a second decoder written from the message
// table. The first input byte chooses the bound; the rest is the packet's
// data.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <zeal/base/parser.h>
#include <zeal/io/midi_decode.h>
#include <zeal/io/midi_event.h>
#include "fuzz/fuzz_check.h"

namespace {

constexpr int32_t kListBytes = 4 + MIDI_PACKET_HEADER + 65535;

bool same(const midi_event& a, const midi_event& b) {
  return a.magic == b.magic && a.reserved == b.reserved && a.kind == b.kind &&
         a.channel == b.channel && a.first_tag == b.first_tag && a.first == b.first &&
         a.second_tag == b.second_tag && a.second == b.second;
}

// A second decoder, written from the message table alone: the alternatives
// in their order, each a status byte under a mask, its length and the record
// it gives. Data bytes are taken as they come, as signed 8-bit values.
struct message_row {
  uint8_t status, mask;
  int32_t length;
  int32_t velocity;  // -1 any, 0 only zero, 1 only non-zero
  int32_t kind, operation, first_tag, second_tag;
};
constexpr message_row kMessages[] = {
    {0xF8, 0xFF, 1, -1, MIDI_KIND_CLOCK, MIDI_CLOCK_TICK, 0, 0},
    {0xFA, 0xFF, 1, -1, MIDI_KIND_CLOCK, MIDI_CLOCK_START, 0, 0},
    {0xFC, 0xFF, 1, -1, MIDI_KIND_CLOCK, MIDI_CLOCK_STOP, 0, 0},
    {0xFB, 0xFF, 1, -1, MIDI_KIND_CLOCK, MIDI_CLOCK_CONTINUE, 0, 0},
    {0xB0, 0xF0, 3, -1, MIDI_KIND_CHANNEL, -1, MIDI_TAG_CONTROLLER, MIDI_TAG_CONTROLLER_VALUE},
    {0x90, 0xF0, 3, 1, MIDI_KIND_CHANNEL, -1, MIDI_TAG_NOTE_ON, MIDI_TAG_VELOCITY},
    {0x80, 0xF0, 3, -1, MIDI_KIND_CHANNEL, -1, MIDI_TAG_NOTE_OFF, 0},
    {0x90, 0xF0, 3, 0, MIDI_KIND_CHANNEL, -1, MIDI_TAG_NOTE_OFF, 0},
};

std::vector<midi_event> decode_by_table(const uint8_t* data, int32_t length) {
  std::vector<midi_event> out;
  for (int32_t at = 0; at < length;) {
    const uint8_t* m = data + at;
    const message_row* match = nullptr;
    for (const message_row& row : kMessages) {
      if ((m[0] & row.mask) != row.status || row.length > length - at) continue;
      if (row.velocity >= 0 && (m[2] != 0) != (row.velocity == 1)) continue;
      match = &row;
      break;
    }
    if (match == nullptr) break;  // the rest of the packet is not decoded
    midi_event e{};
    e.magic = MIDI_EVENT_MAGIC;
    e.kind = match->kind;
    e.channel = match->operation >= 0 ? match->operation : m[0] & 15;
    if (match->length == 3) {
      e.first_tag = match->first_tag;
      e.first = static_cast<int8_t>(m[1]);
      e.second_tag = match->second_tag;
      e.second = match->second_tag != 0 ? static_cast<int8_t>(m[2]) : 0;
    }
    out.push_back(e);
    at += match->length;
  }
  return out;
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
  while (midi_event_next(&cursor, &e)) events.push_back(e);
  check(!midi_event_next(&cursor, &e));
  auto walked = static_cast<int32_t>(events.size());
  int32_t count = midi_event_count(packet);
  // The walk gives what the table says, record for record, within its bound.
  std::vector<midi_event> expected = decode_by_table(data, limit >= 0 && limit < length ? limit : length);
  check(expected.size() == events.size());
  for (size_t i = 0; i < events.size(); ++i) check(same(events[i], expected[i]));
  check(count == static_cast<int32_t>(decode_by_table(data, length).size()));

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
