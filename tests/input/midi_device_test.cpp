#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include <zeal/io/midi.h>
#include "midi_peer.h"

TEST(MidiDevice, ListPacketsGoOutEarliestFirstAndNeverEarly) {
  if (getenv("ZEAL_JACK") == nullptr) GTEST_SKIP() << "no JACK server";
  JackTurn turn;
  setenv("ZEAL_MIDI_API", "jack", 1);
  midi_io* io = nullptr;
  midi_io_make(&io);
  midi_device* out = nullptr;
  midi_device* in = nullptr;
  midi_io_define_device(io, &out);
  midi_io_define_device(io, &in);
  midi_device_set_name(out, "tidepool:out");
  midi_device_enable_out(out);
  midi_device_set_name(in, "tidepool:in");
  midi_device_in(in, [](void*, const uint8_t*) {}, nullptr);
  midi_io_commit(io);
  EXPECT_TRUE(midi_device_is_out(out));
  EXPECT_TRUE(midi_device_is_in(in));

  MidiPeer peer;
  ASSERT_TRUE(peer.connect(3000));
  inthread_sleep(100);  // let the connections settle

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

  // Closing sends what is still pending (within a second) first, so that
  // a note-off is not lost.
  list = midi_event_list_new();
  midi_event_list_add_at(list, &e, 100.0);
  midi_device_out(out, list);
  midi_io_finish(&io);
  got = peer.wait_for(5, 1000);
  ASSERT_EQ(got.size(), 5u);
  EXPECT_EQ(got[4].bytes, (std::vector<uint8_t>{0x82, 64, 0}));
  EXPECT_GE(got[4].at, list->host_time + 100000000u);
  midi_event_list_destroy(list);
  unsetenv("ZEAL_MIDI_API");
}
