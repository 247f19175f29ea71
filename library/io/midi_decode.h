// Decoding incoming MIDI packets into event records.
//
// Each message kind is tried in a fixed order at the same position and the
// first that matches wins. Running status, system exclusive and the messages
// without a record end the decoding of a packet.
#pragma once
#include <cstdint>

#include <zeal/io/midi_event.h>

struct parser;

using midi_note_fn = void (*)(midi_event* event, int32_t channel, int32_t note, int32_t velocity);
using midi_noteoff_fn = void (*)(midi_event* event, int32_t channel, int32_t note);
using midi_cc_fn = void (*)(midi_event* event, int32_t channel, int32_t controller, int32_t value);
using midi_clock_fn = void (*)(midi_event* event);

// Decodes one message at the current position into `event` (which may be
// null) through the matching builder. 1 with the position after the
// message, or 0 with the position unchanged.
int parse_a_midi_event(parser* state, midi_note_fn on, midi_noteoff_fn off, midi_cc_fn control,
                       midi_clock_fn tick, midi_clock_fn start, midi_clock_fn stop,
                       midi_clock_fn resume, midi_event* event);

// Walks the messages of one packet once, from its start, looking at no more
// than a bound of its data bytes. Allocates nothing.
struct midi_event_cursor {
  const uint8_t* data;
  int32_t length;  // data bytes it may look at
  int32_t at;
};
// A cursor over the packet's first `limit` data bytes (all of them for a
// negative limit); over nothing without a packet.
midi_event_cursor midi_event_cursor_make(const uint8_t* packet, int32_t limit);
// The next message into `event` (which may be null): 1, or 0 at the end and
// from the first message that cannot be decoded on.
int midi_event_next(midi_event_cursor* cursor, midi_event* event);

// Messages decoded from the start of the packet until the first failure.
int32_t midi_event_count(const uint8_t* packet);
// Message `index` of the packet; an empty record (magic only) when there is
// none, negative indices included. Decodes from the start of the packet on
// every call: to take every message, walk a cursor instead.
void midi_event_get(const uint8_t* packet, midi_event* event, int32_t index);
