// Incoming MIDI handed to a device's callback. The platform back ends call
// this; it lives apart from the device records so that they call nothing
// that calls them.
#include <zeal/io/midi.h>
#include <zeal/io/midi_event.h>
#include <zeal/io/midi_platform.h>

void read_proc(const uint8_t* packet_list, midi_device* device) {
  const uint8_t* packet = packet_list + 4;
  for (int32_t i = 0; i < midi_packet_list_count(packet_list); ++i) {
    device->callback(device->argument, packet);
    packet = midi_packet_next(packet);
  }
}

void midi_deliver(midi_device* device, uint64_t stamp, const uint8_t* data, int32_t length) {
  if (length < 1 || length > 65535 || device->callback == nullptr) return;
  uint8_t* list = device->packet_list;
  uint8_t* packet = midi_packet_list_init(list);
  midi_packet_list_add(list, MIDI_LIST_BYTES, packet, stamp, length, data);
  read_proc(list, device);
}
