#include <zeal/io/midi_event.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

int32_t byte_value(int32_t v) { return static_cast<int8_t>(v); }

midi_event* start_event(midi_event* event, int32_t kind, int32_t channel) {
  if (event == nullptr) return nullptr;
  *event = midi_event{};
  event->magic = MIDI_EVENT_MAGIC;
  event->kind = kind;
  event->channel = channel;
  return event;
}

void channel_event(midi_event* event, int32_t channel, int32_t first_tag, int32_t first,
                   int32_t second_tag, int32_t second) {
  if (start_event(event, MIDI_KIND_CHANNEL, channel) == nullptr) return;
  event->first_tag = first_tag;
  event->first = byte_value(first);
  event->second_tag = second_tag;
  event->second = second_tag ? byte_value(second) : 0;
}

// The bytes of a record; 0 when it has none.
int32_t encode(const midi_event* e, uint8_t* bytes) {
  if (e->kind == MIDI_KIND_CLOCK) {
    static const uint8_t kClock[] = {0xFA, 0xFB, 0xFC, 0xF8};
    if (e->channel < 0 || e->channel > 3) return 0;
    bytes[0] = kClock[e->channel];
    return 1;
  }
  if (e->kind != MIDI_KIND_CHANNEL) return 0;
  uint8_t channel = static_cast<uint8_t>(e->channel & 15);
  bytes[1] = static_cast<uint8_t>(e->first);
  if (e->first_tag == MIDI_TAG_NOTE_ON) {
    bytes[0] = 0x90 | channel;
    bytes[2] = e->second_tag == MIDI_TAG_VELOCITY ? static_cast<uint8_t>(e->second) : 0;
    return 3;
  }
  if (e->first_tag == MIDI_TAG_CONTROLLER && e->second_tag == MIDI_TAG_CONTROLLER_VALUE) {
    bytes[0] = 0xB0 | channel;
    bytes[2] = static_cast<uint8_t>(e->second);
    return 3;
  }
  // Note-offs go out as real note-offs so that notes never hang elsewhere.
  if (e->first_tag == MIDI_TAG_NOTE_OFF) {
    bytes[0] = 0x80 | channel;
    bytes[2] = 0;
    return 3;
  }
  return 0;
}

}  // namespace

void cc(midi_event* event, int32_t channel, int32_t controller, int32_t value) {
  channel_event(event, channel, MIDI_TAG_CONTROLLER, controller, MIDI_TAG_CONTROLLER_VALUE, value);
}
void noteon(midi_event* event, int32_t channel, int32_t note, int32_t velocity) {
  channel_event(event, channel, MIDI_TAG_NOTE_ON, note, MIDI_TAG_VELOCITY, velocity);
}
void noteoff(midi_event* event, int32_t channel, int32_t note) {
  channel_event(event, channel, MIDI_TAG_NOTE_OFF, note, 0, 0);
}
void midiclock_start(midi_event* event) { start_event(event, MIDI_KIND_CLOCK, MIDI_CLOCK_START); }
void midiclock_continue(midi_event* event) { start_event(event, MIDI_KIND_CLOCK, MIDI_CLOCK_CONTINUE); }
void midiclock_stop(midi_event* event) { start_event(event, MIDI_KIND_CLOCK, MIDI_CLOCK_STOP); }
void midiclock_tick(midi_event* event) { start_event(event, MIDI_KIND_CLOCK, MIDI_CLOCK_TICK); }

uint64_t midi_host_time() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

uint64_t midi_packet_stamp(const uint8_t* packet) {
  uint64_t stamp;
  memcpy(&stamp, packet, 8);
  return stamp;
}

int32_t midi_packet_length(const uint8_t* packet) {
  uint16_t length;
  memcpy(&length, packet + 8, 2);
  return length;
}

const uint8_t* midi_packet_data(const uint8_t* packet) { return packet + MIDI_PACKET_HEADER; }

const uint8_t* midi_packet_next(const uint8_t* packet) {
  return packet + MIDI_PACKET_HEADER + midi_packet_length(packet);
}

void midi_packet_write(uint8_t* packet, uint64_t stamp, const uint8_t* data, int32_t length) {
  uint16_t n = static_cast<uint16_t>(length);
  memcpy(packet, &stamp, 8);
  memcpy(packet + 8, &n, 2);
  if (length > 0) memcpy(packet + MIDI_PACKET_HEADER, data, static_cast<size_t>(length));
}

int32_t midi_packet_list_count(const uint8_t* list) {
  uint32_t count;
  memcpy(&count, list, 4);
  return static_cast<int32_t>(count);
}

uint8_t* midi_packet_list_init(uint8_t* list) {
  uint32_t zero = 0;
  memcpy(list, &zero, 4);
  return list + 4;
}

uint8_t* midi_packet_list_add(uint8_t* list, int32_t size, uint8_t* current, uint64_t stamp,
                              int32_t length, const uint8_t* data) {
  if (current == nullptr || length < 1 || length > 65535) return nullptr;
  const uint8_t* end = list + size;
  uint32_t count = static_cast<uint32_t>(midi_packet_list_count(list));
  if (count > 0) {
    int32_t old = midi_packet_length(current);
    bool joinable = midi_packet_stamp(current) == stamp && data[0] != 0xF0 &&
                    midi_packet_data(current)[0] != 0xF0 && old + length <= 65535;
    if (joinable && current + MIDI_PACKET_HEADER + old + length <= end) {
      memcpy(current + MIDI_PACKET_HEADER + old, data, static_cast<size_t>(length));
      uint16_t n = static_cast<uint16_t>(old + length);
      memcpy(current + 8, &n, 2);
      return current;
    }
    current = current + MIDI_PACKET_HEADER + old;
  }
  if (current + MIDI_PACKET_HEADER + length > end) return nullptr;
  midi_packet_write(current, stamp, data, length);
  count += 1;
  memcpy(list, &count, 4);
  return current;
}

int32_t midi_message_length(uint8_t status) {
  if (status < 0x80 || status == 0xF0) return 0;
  if (status < 0xC0 || (status >= 0xE0 && status < 0xF0)) return 3;
  if (status < 0xE0) return 2;
  if (status == 0xF1 || status == 0xF3) return 2;
  if (status == 0xF2) return 3;
  return 1;
}

midi_event_list* midi_event_list_new() {
  auto* list = static_cast<midi_event_list*>(calloc(1, sizeof(midi_event_list)));
  if (list == nullptr) return nullptr;
  list->host_time = midi_host_time();
  list->current = midi_packet_list_init(list->buffer);
  return list;
}

void midi_event_list_add_at(midi_event_list* list, const midi_event* event, double t_ms) {
  if (list == nullptr || list->current == nullptr || event == nullptr) return;
  if (event->magic != MIDI_EVENT_MAGIC) return;
  uint8_t bytes[3];
  int32_t length = encode(event, bytes);
  if (length == 0) return;
  // A time before the list's creation (or not a number) cannot be converted
  // to an unsigned stamp: such events go out at once.
  double ns = t_ms * 1000000.0;
  uint64_t offset = 0;
  if (ns > 0) offset = ns < 9.0e18 ? static_cast<uint64_t>(ns) : 9000000000000000000u;
  list->current = midi_packet_list_add(list->buffer, MIDI_EVENT_LIST_BYTES, list->current,
                                       list->host_time + offset, length, bytes);
}

void midi_event_list_add(midi_event_list* list, const midi_event* event) {
  midi_event_list_add_at(list, event, 0.0);
}

void midi_event_list_destroy(midi_event_list* list) { free(list); }
