// MIDI on a JACK server: one client with a MIDI port per direction, so that
// both ports appear under the client's own name.
#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <cstdio>

#include <zeal/base/log.h>
#include <zeal/io/midi_platform.h>

namespace {

constexpr size_t kQueueBytes = 16384;

jack_client_t* client_of(midi_io* io) { return static_cast<jack_client_t*>(io->client); }

void read_port(midi_device* d, jack_nframes_t frames) {
  void* buffer = jack_port_get_buffer(static_cast<jack_port_t*>(d->platform_in), frames);
  uint64_t now = midi_host_time();
  jack_nframes_t n = jack_midi_get_event_count(buffer);
  for (jack_nframes_t i = 0; i < n; ++i) {
    jack_midi_event_t event;
    if (jack_midi_event_get(&event, buffer, i) == 0)
      midi_deliver(d, now, event.buffer, static_cast<int32_t>(event.size));
  }
}

// Messages in the queue are a length byte followed by the bytes. A message
// that finds the port buffer full waits for the next cycle.
void write_port(midi_device* d, jack_nframes_t frames) {
  void* buffer = jack_port_get_buffer(static_cast<jack_port_t*>(d->platform_out), frames);
  jack_midi_clear_buffer(buffer);
  auto* queue = static_cast<jack_ringbuffer_t*>(d->platform_queue);
  uint8_t message[4];
  while (jack_ringbuffer_peek(queue, reinterpret_cast<char*>(message), 1) == 1) {
    size_t length = message[0];
    if (jack_ringbuffer_read_space(queue) < length + 1) break;
    jack_ringbuffer_peek(queue, reinterpret_cast<char*>(message), length + 1);
    if (jack_midi_event_write(buffer, 0, message + 1, length) != 0) break;
    jack_ringbuffer_read_advance(queue, length + 1);
  }
}

int process(jack_nframes_t frames, void* arg) {
  log_realtime_scope realtime;
  auto* io = static_cast<midi_io*>(arg);
  int32_t count = array_count(&io->devices, sizeof(midi_device*));
  for (int32_t i = 0; i < count; ++i) {
    midi_device* d = *static_cast<midi_device**>(array_element(&io->devices, sizeof(midi_device*), i));
    if (d->in_open) read_port(d, frames);
    if (d->out_open) write_port(d, frames);
  }
  return 0;
}

jack_port_t* register_port(midi_io* io, midi_device* device, unsigned long flags) {
  return jack_port_register(client_of(io), device->name ? device->name : "", JACK_DEFAULT_MIDI_TYPE,
                            flags, 0);
}

}  // namespace

void* midi_jack_client(const char* client_name) {
  jack_status_t status;
  return jack_client_open(client_name, JackNoStartServer, &status);
}

int midi_jack_open_in(midi_io* io, midi_device* device) {
  device->platform_in = register_port(io, device, JackPortIsInput);
  return device->platform_in != nullptr;
}

int midi_jack_open_out(midi_io* io, midi_device* device) {
  device->platform_queue = jack_ringbuffer_create(kQueueBytes);
  if (device->platform_queue == nullptr) return 0;
  device->platform_out = register_port(io, device, JackPortIsOutput);
  return device->platform_out != nullptr;
}

void midi_jack_send(void* user, const uint8_t* bytes, int32_t length) {
  auto* device = static_cast<midi_device*>(user);
  auto* queue = static_cast<jack_ringbuffer_t*>(device->platform_queue);
  if (jack_ringbuffer_write_space(queue) < static_cast<size_t>(length) + 1) {
    log_warning("MIDI output queue full, message dropped.");
    return;
  }
  // The reader takes a message only once all of its bytes are in.
  char header = static_cast<char>(length);
  jack_ringbuffer_write(queue, &header, 1);
  jack_ringbuffer_write(queue, reinterpret_cast<const char*>(bytes), static_cast<size_t>(length));
}

int midi_jack_activate(midi_io* io) {
  if (jack_set_process_callback(client_of(io), process, io) != 0) return 0;
  return jack_activate(client_of(io)) == 0;
}

void midi_jack_close(midi_io* io) {
  if (io->client == nullptr) return;
  // Messages already due are still in the queues: give the process callback
  // a few cycles to take them.
  int32_t count = array_count(&io->devices, sizeof(midi_device*));
  for (int32_t i = 0; i < count; ++i) {
    midi_device* d = *static_cast<midi_device**>(array_element(&io->devices, sizeof(midi_device*), i));
    auto* queue = static_cast<jack_ringbuffer_t*>(d->platform_queue);
    for (int wait = 0; d->out_open && queue != nullptr && wait < 50; ++wait) {
      if (jack_ringbuffer_read_space(queue) == 0) break;
      inthread_sleep(2.0);
    }
  }
  jack_deactivate(client_of(io));
  jack_client_close(client_of(io));
  io->client = nullptr;
}

void midi_jack_free_device(midi_device* device) {
  if (device->platform_queue != nullptr)
    jack_ringbuffer_free(static_cast<jack_ringbuffer_t*>(device->platform_queue));
  device->platform_queue = nullptr;
  device->platform_in = nullptr;
  device->platform_out = nullptr;
}
