// MIDI event records, time-stamped event lists and the packet layout they
// share with the MIDI input side.
//
// An event record is eight 32-bit words; the same record travels on the
// control bus. A packet is an 8-byte time stamp (nanoseconds of the monotonic
// clock), a 16-bit data length and the data bytes; a packet list is a 32-bit
// packet count followed by packets laid end to end.
#pragma once
#include <cstdint>

constexpr uint32_t MIDI_EVENT_MAGIC = 0xa5f4ed7e;

enum : int32_t { MIDI_KIND_EMPTY = 0, MIDI_KIND_CLOCK = 1, MIDI_KIND_CHANNEL = 2 };
enum : int32_t { MIDI_CLOCK_START = 0, MIDI_CLOCK_CONTINUE = 1, MIDI_CLOCK_STOP = 2, MIDI_CLOCK_TICK = 3 };
enum : int32_t {
  MIDI_TAG_CONTROLLER = 3,
  MIDI_TAG_CONTROLLER_VALUE = 4,
  MIDI_TAG_NOTE_ON = 5,
  MIDI_TAG_VELOCITY = 6,
  MIDI_TAG_NOTE_OFF = 7,
};

struct midi_event {
  uint32_t magic;
  int32_t reserved;
  int32_t kind;
  int32_t channel;  // the operation for clock events
  int32_t first_tag;
  int32_t first;
  int32_t second_tag;
  int32_t second;
};
static_assert(sizeof(midi_event) == 32);

// Builders: zero-fill the record, then fill it; nothing without a record.
// Values are kept as signed 8-bit numbers.
void cc(midi_event* event, int32_t channel, int32_t controller, int32_t value);
void noteon(midi_event* event, int32_t channel, int32_t note, int32_t velocity);
void noteoff(midi_event* event, int32_t channel, int32_t note);
void midiclock_start(midi_event* event);
void midiclock_continue(midi_event* event);
void midiclock_stop(midi_event* event);
void midiclock_tick(midi_event* event);

// Nanoseconds of CLOCK_MONOTONIC: the clock of every packet time stamp.
uint64_t midi_host_time();

// Packets and packet lists.
constexpr int32_t MIDI_PACKET_HEADER = 10;
uint64_t midi_packet_stamp(const uint8_t* packet);
int32_t midi_packet_length(const uint8_t* packet);
const uint8_t* midi_packet_data(const uint8_t* packet);
const uint8_t* midi_packet_next(const uint8_t* packet);
// Writes a packet header and data at `packet` (room for 10 + length bytes).
void midi_packet_write(uint8_t* packet, uint64_t stamp, const uint8_t* data, int32_t length);

int32_t midi_packet_list_count(const uint8_t* list);
// Empties the list and gives the position of its first packet.
uint8_t* midi_packet_list_init(uint8_t* list);
// Adds a message: joins the current packet when the stamps are equal (and
// neither is system exclusive), else starts a new packet after it. Returns
// the new current packet, or null when the `size` bytes cannot hold it.
uint8_t* midi_packet_list_add(uint8_t* list, int32_t size, uint8_t* current, uint64_t stamp,
                              int32_t length, const uint8_t* data);
// Length of the message that starts with `status` (0 for a data byte or for
// system exclusive, whose end is its own terminator).
int32_t midi_message_length(uint8_t status);

// Event lists: built by one thread for one send.
constexpr int32_t MIDI_EVENT_LIST_BYTES = 272;
struct midi_event_list {
  uint64_t host_time;  // at creation
  uint8_t* current;    // null once the list is full
  alignas(8) uint8_t buffer[MIDI_EVENT_LIST_BYTES];
};

midi_event_list* midi_event_list_new();
// Adds the event stamped `t_ms` after the list's creation; ignored without a
// list, when the list is full, for a record without the magic and for
// records that have no byte form.
void midi_event_list_add_at(midi_event_list* list, const midi_event* event, double t_ms);
void midi_event_list_add(midi_event_list* list, const midi_event* event);
void midi_event_list_destroy(midi_event_list* list);
