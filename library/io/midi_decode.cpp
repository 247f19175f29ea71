#include "io/midi_decode.h"

#include "base/parser.h"

namespace {

int next_byte(parser* p, int32_t* b) {
  char c;
  if (!parser_next_char(p, &c)) return 0;
  *b = static_cast<uint8_t>(c);
  return 1;
}

// One of the single-byte real-time messages.
int parse_the_byte(parser* p, int32_t wanted) {
  private_parser_begin(p);
  int32_t b;
  if (next_byte(p, &b) && b == wanted) {
    parser_commit(p);
    return 1;
  }
  parser_rollback(p);
  return 0;
}

// A status byte of `kind` (upper nibble) and two data bytes, taken as they
// are. `zero_velocity`: -1 any second byte, 0 only non-zero, 1 only zero.
int parse_channel_message(parser* p, int32_t kind, int zero_velocity, int32_t* channel,
                          int32_t* b1, int32_t* b2) {
  private_parser_begin(p);
  int32_t status;
  bool ok = next_byte(p, &status) && (status & 0xF0) == kind && next_byte(p, b1) &&
            next_byte(p, b2);
  if (ok && zero_velocity >= 0) ok = (*b2 == 0) == (zero_velocity == 1);
  if (!ok) {
    parser_rollback(p);
    return 0;
  }
  parser_commit(p);
  *channel = status & 15;
  return 1;
}

// Data bytes of 0x80 and above become negative values.
int32_t value(int32_t b) { return static_cast<int8_t>(b); }

void empty_event(midi_event* event) {
  if (event == nullptr) return;
  *event = midi_event{};
  event->magic = MIDI_EVENT_MAGIC;
}

int packet_parser(parser* p, const uint8_t* packet) {
  if (packet == nullptr) return parser_make(p, nullptr, 0);
  return parser_make(p, reinterpret_cast<const char*>(midi_packet_data(packet)),
                     midi_packet_length(packet));
}

int parse_with_builders(parser* p, midi_event* event) {
  return parse_a_midi_event(p, noteon, noteoff, cc, midiclock_tick, midiclock_start,
                            midiclock_stop, midiclock_continue, event);
}

}  // namespace

int parse_a_midi_event(parser* state, midi_note_fn on, midi_noteoff_fn off, midi_cc_fn control,
                       midi_clock_fn tick, midi_clock_fn start, midi_clock_fn stop,
                       midi_clock_fn resume, midi_event* event) {
  const uint8_t realtime[] = {0xF8, 0xFA, 0xFC, 0xFB};
  const midi_clock_fn builders[] = {tick, start, stop, resume};
  for (int i = 0; i < 4; ++i) {
    if (parse_the_byte(state, realtime[i])) {
      builders[i](event);
      return 1;
    }
  }
  int32_t channel, b1, b2;
  if (parse_channel_message(state, 0xB0, -1, &channel, &b1, &b2)) {
    control(event, channel, value(b1), value(b2));
    return 1;
  }
  if (parse_channel_message(state, 0x90, 0, &channel, &b1, &b2)) {
    on(event, channel, value(b1), value(b2));
    return 1;
  }
  if (parse_channel_message(state, 0x80, -1, &channel, &b1, &b2) ||
      parse_channel_message(state, 0x90, 1, &channel, &b1, &b2)) {
    off(event, channel, value(b1));
    return 1;
  }
  return 0;
}

int32_t midi_event_count(const uint8_t* packet) {
  parser p;
  packet_parser(&p, packet);
  int32_t count = 0;
  while (parse_with_builders(&p, nullptr)) ++count;
  parser_free(&p);
  return count;
}

void midi_event_get(const uint8_t* packet, midi_event* event, int32_t index) {
  parser p;
  packet_parser(&p, packet);
  for (int32_t i = 0; i < index; ++i) {
    if (!parse_with_builders(&p, nullptr)) break;
  }
  if (!parse_with_builders(&p, event)) empty_event(event);
  parser_free(&p);
}
