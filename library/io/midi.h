// MIDI devices: the system shows itself to other MIDI software as the client
// "zeal" with virtual ports. Incoming packets go to each input device's
// callback; outgoing event lists leave from an output device, each packet at
// its time stamp.
//
// The platform service is the ALSA sequencer where one exists, otherwise a
// JACK server; ZEAL_MIDI_API=alsa or =jack chooses one.
#pragma once
#include <cstdint>

#include <zeal/io/midi_event.h>

struct midi_io;
struct midi_device;

// Called on the platform's MIDI thread with one packet: an 8-byte time stamp
// (monotonic nanoseconds), a 16-bit length and the data bytes.
using midi_receive_fn = void (*)(void* arg, const uint8_t* packet);

void midi_io_make(midi_io** io);
// Creates the client on first use and hands out a new device; null when no
// MIDI service can be reached or memory ran out.
void midi_io_define_device(midi_io* io, midi_device** device);
void midi_device_set_name(midi_device* device, const char* text);
void midi_device_in(midi_device* device, midi_receive_fn callback, void* argument);
void midi_device_enable_out(midi_device* device);
// Creates the ports: an input gets a virtual destination, an output a
// virtual source. A port that cannot be made switches that direction off.
void midi_io_commit(midi_io* io);
// Calls the device's callback for each packet of a packet list in order.
void read_proc(const uint8_t* packet_list, midi_device* device);
// Sends every packet of the list at its time stamp, earliest first, never
// before; returns at once.
void midi_device_out(midi_device* device, const midi_event_list* list);
// Closes ports and client (messages still pending are sent first, up to a
// second ahead) and frees the record; clears the caller's pointer.
void midi_io_finish(midi_io** io);

// Whether a device's input or output port exists (after commit).
int midi_device_is_in(const midi_device* device);
int midi_device_is_out(const midi_device* device);
