// One MIDI packet of `bytes` bytes of note-ons, as a peer flooding the input
// sends it.
#pragma once
#include <cstdint>
#include <vector>

#include <zeal/io/midi_event.h>

inline std::vector<uint8_t> midi_flood_packet(size_t bytes, uint8_t velocity) {
  std::vector<uint8_t> notes(bytes);
  for (size_t i = 0; i + 2 < notes.size(); i += 3) {
    notes[i] = 0x90;
    notes[i + 1] = static_cast<uint8_t>(i / 3 % 128);
    notes[i + 2] = velocity;
  }
  std::vector<uint8_t> packet(MIDI_PACKET_HEADER + notes.size());
  midi_packet_write(packet.data(), 0, notes.data(), static_cast<int32_t>(notes.size()));
  return packet;
}
