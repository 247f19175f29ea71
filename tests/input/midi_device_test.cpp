#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <vector>

#include "io/midi.h"
#include "midi_peer.h"

namespace {

struct Incoming {
  std::mutex lock;
  std::vector<std::vector<uint8_t>> packets;  // whole packets, header included
};

void keep_packet(void* arg, const uint8_t* packet) {
  auto* in = static_cast<Incoming*>(arg);
  std::lock_guard<std::mutex> hold(in->lock);
  in->packets.emplace_back(packet, packet + MIDI_PACKET_HEADER + midi_packet_length(packet));
}

}  // namespace

TEST(MidiDevice, WithoutAServiceNoDeviceIsDefined) {
  setenv("ZEAL_MIDI_API", "none", 1);
  midi_io* io = nullptr;
  midi_io_make(&io);
  ASSERT_NE(io, nullptr);
  midi_device* d = reinterpret_cast<midi_device*>(1);
  midi_io_define_device(io, &d);
  EXPECT_EQ(d, nullptr);
  midi_io_commit(io);
  midi_io_finish(&io);
  EXPECT_EQ(io, nullptr);
  unsetenv("ZEAL_MIDI_API");
}

TEST(MidiDevice, PacketsComeInAndListsGoOutAtTheirStamps) {
  if (!jack_reachable()) GTEST_SKIP() << "no JACK server";
  setenv("ZEAL_MIDI_API", "jack", 1);
  midi_io* io = nullptr;
  midi_io_make(&io);
  midi_device* out = nullptr;
  midi_device* in = nullptr;
  midi_io_define_device(io, &out);
  midi_io_define_device(io, &in);
  ASSERT_NE(out, nullptr);
  ASSERT_NE(in, nullptr);
  midi_device_set_name(out, "tidepool:out");
  midi_device_enable_out(out);
  midi_device_set_name(in, "tidepool:in");
  Incoming incoming;
  midi_device_in(in, keep_packet, &incoming);
  midi_io_commit(io);
  EXPECT_TRUE(midi_device_is_out(out));
  EXPECT_TRUE(midi_device_is_in(in));

  MidiPeer peer;
  ASSERT_TRUE(peer.connect(3000));
  inthread_sleep(100);  // let the connections settle

  uint64_t before = midi_host_time();
  peer.send({0x90, 60, 100});
  peer.send({0xB1, 7, 64});
  for (int i = 0; i < 200; ++i) {
    {
      std::lock_guard<std::mutex> hold(incoming.lock);
      if (incoming.packets.size() >= 2) break;
    }
    inthread_sleep(10);
  }
  {
    std::lock_guard<std::mutex> hold(incoming.lock);
    ASSERT_EQ(incoming.packets.size(), 2u);
    const std::vector<uint8_t> want[] = {{0x90, 60, 100}, {0xB1, 7, 64}};
    for (int i = 0; i < 2; ++i) {
      const uint8_t* p = incoming.packets[i].data();
      EXPECT_EQ(midi_packet_length(p), 3);
      EXPECT_EQ(std::vector<uint8_t>(p + 10, p + 13), want[i]);
      EXPECT_GE(midi_packet_stamp(p), before);
      EXPECT_LE(midi_packet_stamp(p), midi_host_time());
    }
  }

  // Added out of order; the note-on and note-off share a stamp (one packet).
  midi_event_list* list = midi_event_list_new();
  midi_event e;
  noteon(&e, 2, 64, 90);
  midi_event_list_add_at(list, &e, 80.0);
  cc(&e, 2, 1, 5);
  midi_event_list_add_at(list, &e, 20.0);
  midiclock_tick(&e);
  midi_event_list_add_at(list, &e, 50.0);
  noteoff(&e, 2, 64);
  midi_event_list_add_at(list, &e, 50.0);
  midi_device_out(out, list);
  auto got = peer.wait_for(4, 2000);
  ASSERT_EQ(got.size(), 4u);
  const std::vector<uint8_t> order[] = {{0xB2, 1, 5}, {0xF8}, {0x82, 64, 0}, {0x92, 64, 90}};
  const double at[] = {20, 50, 50, 80};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(got[i].bytes, order[i]) << i;
    EXPECT_GE(got[i].at, list->host_time + static_cast<uint64_t>(at[i] * 1e6)) << i;
  }
  midi_event_list_destroy(list);
  midi_device_out(out, nullptr);
  midi_io_finish(&io);
  unsetenv("ZEAL_MIDI_API");
}
