// A second MIDI client on the JACK server, as other software would be: it
// sends into "zeal:tidepool:in" and listens to "zeal:tidepool:out".
#pragma once
#include <errno.h>
#include <jack/jack.h>
#include <rtmidi/RtMidi.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include <zeal/base/thread.h>
#include <zeal/io/midi_event.h>

struct PeerMessage {
  uint64_t at;  // monotonic nanoseconds of arrival
  std::vector<uint8_t> bytes;
};

// Tests that make the client "zeal" on one JACK server run one at a time;
// each waits for the ports of the one before to be gone, so that every peer
// finds its own "zeal:tidepool:in".
struct JackTurn {
  JackTurn() {
    jack_status_t status;
    jack_client_t* c = jack_client_open("zeal-probe", JackNoStartServer, &status);
    if (c == nullptr) return;
    for (int i = 0; i < 100; ++i) {
      const char** ports = jack_get_ports(c, "^zeal[^:]*:tidepool", nullptr, 0);
      if (ports == nullptr) break;
      jack_free(ports);
      inthread_sleep(20);
    }
    jack_client_close(c);
  }
};

struct MidiPeer {
  // Made before the ports and so gone after them: the input's callback may
  // run until its port closes.
  std::mutex lock;
  std::vector<PeerMessage> got;
  RtMidiIn in{RtMidi::UNIX_JACK, "peer"};
  RtMidiOut out{RtMidi::UNIX_JACK, "peer"};

  // RtMidi's JACK ports free their buffers while JACK's process thread may
  // still be in a cycle that read the port before it closed: closed first
  // and given a few cycles, the ports are idle when they are destroyed.
  ~MidiPeer() {
    out.closePort();
    in.closePort();
    inthread_sleep(50);
  }

  static void receive(double, std::vector<unsigned char>* m, void* user) {
    auto* peer = static_cast<MidiPeer*>(user);
    uint64_t at = midi_host_time();
    std::lock_guard<std::mutex> hold(peer->lock);
    peer->got.push_back({at, std::vector<uint8_t>(m->begin(), m->end())});
  }

  // Links both of zeal's ports to ports of the peer's own, waiting up to
  // `ms` for them. The links are made here rather than by RtMidi, which does
  // not say when one failed: zeal's ports show before its client is active,
  // and until then JACK refuses to connect them.
  bool connect(double ms) {
    in.ignoreTypes(false, false, false);
    in.setCallback(receive, this);
    in.openVirtualPort("from-zeal");
    out.openVirtualPort("to-zeal");
    jack_status_t status;
    jack_client_t* probe = jack_client_open("zeal-probe", JackNoStartServer, &status);
    if (probe == nullptr) return false;
    std::string from = own_port(probe, "from-zeal"), to = own_port(probe, "to-zeal");
    bool linked = false;
    for (double end = get_milliseconds() + ms; !linked && get_milliseconds() < end; inthread_sleep(20))
      linked = link(probe, "zeal:tidepool:out", from) && link(probe, to, "zeal:tidepool:in");
    jack_client_close(probe);
    return linked;
  }

  static std::string own_port(jack_client_t* probe, const std::string& name) {
    const char** ports = jack_get_ports(probe, ("^peer[^:]*:" + name + "$").c_str(), JACK_DEFAULT_MIDI_TYPE, 0);
    std::string found = ports != nullptr ? ports[0] : "";
    jack_free(ports);
    return found;
  }

  static bool link(jack_client_t* probe, const std::string& from, const std::string& to) {
    int result = jack_connect(probe, from.c_str(), to.c_str());
    return result == 0 || result == EEXIST;
  }

  void send(std::vector<uint8_t> bytes) { out.sendMessage(bytes.data(), bytes.size()); }

  std::vector<PeerMessage> wait_for(size_t count, double ms) {
    for (double waited = 0; waited < ms; waited += 10) {
      {
        std::lock_guard<std::mutex> hold(lock);
        if (got.size() >= count) break;
      }
      inthread_sleep(10);
    }
    std::lock_guard<std::mutex> hold(lock);
    return got;
  }
};
