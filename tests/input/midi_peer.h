// A second MIDI client on the JACK server, as other software would be: it
// sends into "zeal:tidepool:in" and listens to "zeal:tidepool:out".
#pragma once
#include <fcntl.h>
#include <jack/jack.h>
#include <rtmidi/RtMidi.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "base/thread.h"
#include "io/midi_event.h"

struct PeerMessage {
  uint64_t at;  // monotonic nanoseconds of arrival
  std::vector<uint8_t> bytes;
};

inline bool jack_reachable() {
  jack_status_t status;
  jack_client_t* c = jack_client_open("zeal-probe", JackNoStartServer, &status);
  if (c == nullptr) return false;
  jack_client_close(c);
  return true;
}

// Tests that make the client "zeal" on one JACK server take turns, and each
// waits for the ports of the one before to be gone, so that every peer
// finds its own "zeal:tidepool:in".
struct JackTurn {
  int fd = -1;
  JackTurn() {
    const char* server = getenv("JACK_DEFAULT_SERVER");
    std::string path = std::string("/tmp/zeal-input-test-") + (server ? server : "default") + ".lock";
    fd = open(path.c_str(), O_CREAT | O_RDWR, 0600);
    if (fd >= 0) flock(fd, LOCK_EX);
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
  ~JackTurn() {
    if (fd >= 0) close(fd);
  }
};

struct MidiPeer {
  // Made before the ports and so gone after them: the input's callback may
  // run until its port closes.
  std::mutex lock;
  std::vector<PeerMessage> got;
  RtMidiIn in{RtMidi::UNIX_JACK, "peer"};
  RtMidiOut out{RtMidi::UNIX_JACK, "peer"};

  static void receive(double, std::vector<unsigned char>* m, void* user) {
    auto* peer = static_cast<MidiPeer*>(user);
    uint64_t at = midi_host_time();
    std::lock_guard<std::mutex> hold(peer->lock);
    peer->got.push_back({at, std::vector<uint8_t>(m->begin(), m->end())});
  }

  template <class Ports>
  static int find(Ports& ports, const std::string& name) {
    for (unsigned i = 0; i < ports.getPortCount(); ++i)
      if (ports.getPortName(i) == name) return static_cast<int>(i);
    return -1;
  }

  // Connects to both of zeal's ports, waiting up to `ms` for them to appear.
  bool connect(double ms) {
    in.ignoreTypes(false, false, false);
    in.setCallback(receive, this);
    for (double waited = 0; waited < ms; waited += 20) {
      int source = find(in, "zeal:tidepool:out");
      int destination = find(out, "zeal:tidepool:in");
      if (source >= 0 && destination >= 0) {
        in.openPort(static_cast<unsigned>(source), "from-zeal");
        out.openPort(static_cast<unsigned>(destination), "to-zeal");
        return true;
      }
      inthread_sleep(20);
    }
    return false;
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
