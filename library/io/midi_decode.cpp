#include <zeal/io/midi_decode.h>

#include <zeal/base/parser.h>

namespace {

struct builders {
  midi_note_fn on;
  midi_noteoff_fn off;
  midi_cc_fn control;
  midi_clock_fn tick, start, stop, resume;
};

constexpr builders kRecordBuilders = {noteon, noteoff, cc, midiclock_tick, midiclock_start,
                                      midiclock_stop, midiclock_continue};

// Data bytes of 0x80 and above become negative values.
int32_t value(uint8_t b) { return static_cast<int8_t>(b); }

// Decodes the message at the start of `data` (`left` bytes) into `event`
// through the matching builder: the bytes it took, or 0 when no message kind
// matches or the message is cut short. The kinds are tried in this order,
// each from the same place: the four real-time bytes, a controller, a
// note-on with a velocity, a note-off, a note-on of velocity 0.
int32_t decode_message(const uint8_t* data, int32_t left, const builders& b, midi_event* event) {
  if (left < 1) return 0;
  switch (data[0]) {
    case 0xF8: b.tick(event); return 1;
    case 0xFA: b.start(event); return 1;
    case 0xFC: b.stop(event); return 1;
    case 0xFB: b.resume(event); return 1;
    default: break;
  }
  int32_t kind = data[0] & 0xF0;
  if ((kind != 0xB0 && kind != 0x90 && kind != 0x80) || left < 3) return 0;
  int32_t channel = data[0] & 15;
  if (kind == 0xB0) b.control(event, channel, value(data[1]), value(data[2]));
  else if (kind == 0x90 && data[2] != 0) b.on(event, channel, value(data[1]), value(data[2]));
  else b.off(event, channel, value(data[1]));
  return 3;
}

void empty_event(midi_event* event) {
  if (event == nullptr) return;
  *event = midi_event{};
  event->magic = MIDI_EVENT_MAGIC;
}

}  // namespace

int parse_a_midi_event(parser* state, midi_note_fn on, midi_noteoff_fn off, midi_cc_fn control,
                       midi_clock_fn tick, midi_clock_fn start, midi_clock_fn stop,
                       midi_clock_fn resume, midi_event* event) {
  int32_t at = parser_position(state);
  if (state->text == nullptr || at < 0 || at >= state->length) return 0;
  const builders b = {on, off, control, tick, start, stop, resume};
  int32_t n = decode_message(reinterpret_cast<const uint8_t*>(state->text) + at,
                             state->length - at, b, event);
  if (n == 0) return 0;
  private_parser_begin(state);
  char c;
  for (int32_t i = 0; i < n; ++i) parser_next_char(state, &c);
  parser_commit(state);
  return 1;
}

midi_event_cursor midi_event_cursor_make(const uint8_t* packet, int32_t limit) {
  if (packet == nullptr) return midi_event_cursor{};
  int32_t length = midi_packet_length(packet);
  if (limit >= 0 && limit < length) length = limit;
  return midi_event_cursor{midi_packet_data(packet), length, 0};
}

int midi_event_next(midi_event_cursor* cursor, midi_event* event) {
  int32_t n = decode_message(cursor->data + cursor->at, cursor->length - cursor->at,
                             kRecordBuilders, event);
  // What cannot be decoded ends the packet for good.
  cursor->at = n > 0 ? cursor->at + n : cursor->length;
  return n > 0;
}

int32_t midi_event_count(const uint8_t* packet) {
  midi_event_cursor cursor = midi_event_cursor_make(packet, -1);
  int32_t count = 0;
  while (midi_event_next(&cursor, nullptr)) ++count;
  return count;
}

void midi_event_get(const uint8_t* packet, midi_event* event, int32_t index) {
  midi_event_cursor cursor = midi_event_cursor_make(packet, -1);
  bool found = index >= 0;
  for (int32_t i = 0; found && i < index; ++i) found = midi_event_next(&cursor, nullptr);
  if (!found || !midi_event_next(&cursor, event)) empty_event(event);
}
