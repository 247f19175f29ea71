// The records behind midi.h and the two platform services they run on.
#pragma once
#include <cstdint>

#include <zeal/base/array.h>
#include <zeal/io/midi.h>
#include <zeal/io/midi_sender.h>

enum { MIDI_SERVICE_NONE = 0, MIDI_SERVICE_ALSA = 1, MIDI_SERVICE_JACK = 2 };

struct midi_device {
  char* name;
  midi_io* io;
  int32_t input;  // asked for input
  midi_receive_fn callback;
  void* argument;
  int32_t in_open;  // the destination port exists
  int32_t output;   // asked for output
  int32_t out_open;
  midi_sender sender;
  uint8_t* packet_list;  // one incoming message as a packet list
  void* platform_in;
  void* platform_out;
  void* platform_queue;  // JACK: messages due, from the sender to the process callback
};

struct midi_io {
  char* client_name;
  int32_t service;
  void* client;  // JACK client; none for ALSA, whose ports are clients of their own
  array devices;  // midi_device pointers, so that handed-out devices stay put
};

constexpr int32_t MIDI_LIST_BYTES = 4 + MIDI_PACKET_HEADER + 65535;

// Hands one incoming message to the device's callback as a packet list.
void midi_deliver(midi_device* device, uint64_t stamp, const uint8_t* data, int32_t length);

int midi_alsa_available(const char* client_name);
int midi_alsa_open_in(midi_io* io, midi_device* device);
int midi_alsa_open_out(midi_io* io, midi_device* device);
void midi_alsa_send(void* device, const uint8_t* bytes, int32_t length);
void midi_alsa_close(midi_device* device);

void* midi_jack_client(const char* client_name);
int midi_jack_open_in(midi_io* io, midi_device* device);
int midi_jack_open_out(midi_io* io, midi_device* device);
void midi_jack_send(void* device, const uint8_t* bytes, int32_t length);
int midi_jack_activate(midi_io* io);
void midi_jack_close(midi_io* io);  // deactivates and closes the client
void midi_jack_free_device(midi_device* device);
