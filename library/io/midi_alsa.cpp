// MIDI on the ALSA sequencer, through RtMidi. Each port is a sequencer
// client named like ours.
#include <rtmidi/RtMidi.h>
#include <unistd.h>

#include <cstdio>

#include <zeal/base/log.h>
#include <zeal/io/midi_platform.h>

namespace {

void receive(double, std::vector<unsigned char>* message, void* user) {
  auto* device = static_cast<midi_device*>(user);
  midi_deliver(device, midi_host_time(), message->data(), static_cast<int32_t>(message->size()));
}

}  // namespace

int midi_alsa_available(const char* client_name) {
  if (access("/dev/snd/seq", R_OK | W_OK) != 0) return 0;
  try {
    RtMidiOut probe(RtMidi::LINUX_ALSA, client_name);
    return 1;
  } catch (const RtMidiError&) {
    return 0;
  }
}

int midi_alsa_open_in(midi_io* io, midi_device* device) {
  try {
    auto* in = new RtMidiIn(RtMidi::LINUX_ALSA, io->client_name);
    in->ignoreTypes(false, false, true);
    in->setCallback(receive, device);
    in->openVirtualPort(device->name ? device->name : "");
    device->platform_in = in;
    return 1;
  } catch (const RtMidiError& e) {
    log_warning("%s", e.what());
    return 0;
  }
}

int midi_alsa_open_out(midi_io* io, midi_device* device) {
  try {
    auto* out = new RtMidiOut(RtMidi::LINUX_ALSA, io->client_name);
    out->openVirtualPort(device->name ? device->name : "");
    device->platform_out = out;
    return 1;
  } catch (const RtMidiError& e) {
    log_warning("%s", e.what());
    return 0;
  }
}

void midi_alsa_send(void* user, const uint8_t* bytes, int32_t length) {
  auto* device = static_cast<midi_device*>(user);
  auto* out = static_cast<RtMidiOut*>(device->platform_out);
  try {
    out->sendMessage(bytes, static_cast<size_t>(length));
  } catch (const RtMidiError&) {
  }
}

void midi_alsa_close(midi_device* device) {
  delete static_cast<RtMidiIn*>(device->platform_in);
  delete static_cast<RtMidiOut*>(device->platform_out);
  device->platform_in = nullptr;
  device->platform_out = nullptr;
}
