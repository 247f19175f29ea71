#include <zeal/io/midi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <zeal/base/log.h>
#include <zeal/io/midi_platform.h>
#include <zeal/io/sound_libraries.h>

namespace {

constexpr int32_t kDeviceWidth = static_cast<int32_t>(sizeof(midi_device*));

int32_t device_count(const midi_io* io) { return array_count(&io->devices, kDeviceWidth); }
midi_device* device_at(const midi_io* io, int32_t i) {
  return *static_cast<midi_device**>(array_element(&io->devices, kDeviceWidth, i));
}

int want(const char* api, const char* name) { return api == nullptr || strcmp(api, name) == 0; }

int create_client(midi_io* io) {
  const char* api = getenv("ZEAL_MIDI_API");
  if (want(api, "alsa") && midi_alsa_available(io->client_name)) {
    io->service = MIDI_SERVICE_ALSA;
    return 1;
  }
  if (want(api, "jack")) {
    io->client = midi_jack_client(io->client_name);
    if (io->client != nullptr) {
      io->service = MIDI_SERVICE_JACK;
      return 1;
    }
  }
  return 0;
}

}  // namespace

void midi_io_make(midi_io** io) {
  sound_libraries_quiet();
  *io = static_cast<midi_io*>(calloc(1, sizeof(midi_io)));
  if (*io != nullptr) (*io)->client_name = strdup("zeal");
}

void midi_io_define_device(midi_io* io, midi_device** device) {
  *device = nullptr;
  if (io == nullptr) return;
  if (io->service == MIDI_SERVICE_NONE && !create_client(io)) return;
  auto* d = static_cast<midi_device*>(calloc(1, sizeof(midi_device)));
  if (d == nullptr) return;
  array_append(&io->devices, &d, kDeviceWidth);
  if (io->devices.failed) {
    free(d);
    return;
  }
  d->io = io;
  *device = d;
}

void midi_device_set_name(midi_device* device, const char* text) {
  if (device == nullptr) return;
  free(device->name);
  device->name = text ? strdup(text) : nullptr;
}

void midi_device_in(midi_device* device, midi_receive_fn callback, void* argument) {
  if (device == nullptr) return;
  device->input = 1;
  device->callback = callback;
  device->argument = argument;
}

void midi_device_enable_out(midi_device* device) {
  if (device != nullptr) device->output = 1;
}

int midi_device_is_in(const midi_device* device) { return device && device->in_open; }
int midi_device_is_out(const midi_device* device) { return device && device->out_open; }

void midi_io_commit(midi_io* io) {
  if (io == nullptr) return;
  bool jack = io->service == MIDI_SERVICE_JACK;
  for (int32_t i = 0; i < device_count(io); ++i) {
    midi_device* d = device_at(io, i);
    const char* name = d->name ? d->name : "";
    if (d->input && !d->in_open) {
      d->packet_list = static_cast<uint8_t*>(calloc(1, MIDI_LIST_BYTES));
      if (d->packet_list != nullptr)
        d->in_open = jack ? midi_jack_open_in(io, d) : midi_alsa_open_in(io, d);
      if (!d->in_open) log_warning("cannot make the MIDI destination \"%s\".", name);
    }
    if (d->output && !d->out_open) {
      d->out_open = jack ? midi_jack_open_out(io, d) : midi_alsa_open_out(io, d);
      if (d->out_open &&
          !midi_sender_start(&d->sender, jack ? midi_jack_send : midi_alsa_send, d)) {
        d->out_open = 0;
      }
      if (!d->out_open) log_warning("cannot make the MIDI source \"%s\".", name);
    }
  }
  if (jack && !midi_jack_activate(io)) {
    log_warning("cannot start the MIDI client.");
    for (int32_t i = 0; i < device_count(io); ++i) device_at(io, i)->in_open = 0;
  }
}

void midi_device_out(midi_device* device, const midi_event_list* list) {
  if (device == nullptr || list == nullptr || !device->out_open) return;
  const uint8_t* packet = list->buffer + 4;
  for (int32_t i = 0; i < midi_packet_list_count(list->buffer); ++i) {
    const uint8_t* data = midi_packet_data(packet);
    int32_t length = midi_packet_length(packet);
    // A packet may carry several messages; each goes out on its own.
    for (int32_t at = 0; at < length;) {
      int32_t n = midi_message_length(data[at]);
      if (n < 1 || n > 3 || at + n > length) break;
      if (!midi_sender_post(&device->sender, midi_packet_stamp(packet), data + at, n))
        log_warning("MIDI output queue full, message dropped.");
      at += n;
    }
    packet = midi_packet_next(packet);
  }
}

void midi_io_finish(midi_io** io) {
  midi_io* m = *io;
  if (m == nullptr) return;
  for (int32_t i = 0; i < device_count(m); ++i) midi_sender_stop(&device_at(m, i)->sender);
  if (m->service == MIDI_SERVICE_JACK) midi_jack_close(m);
  for (int32_t i = 0; i < device_count(m); ++i) {
    midi_device* d = device_at(m, i);
    if (m->service == MIDI_SERVICE_ALSA) midi_alsa_close(d);
    if (m->service == MIDI_SERVICE_JACK) midi_jack_free_device(d);
    free(d->packet_list);
    free(d->name);
    free(d);
  }
  array_reset(&m->devices);
  free(m->client_name);
  free(m);
  *io = nullptr;
}
