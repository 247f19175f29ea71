#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "io/midi_decode.h"
#include "io/midi_event.h"

namespace {

// A packet of the layout the MIDI-in callback hands on.
std::vector<uint8_t> packet(std::vector<uint8_t> data) {
  std::vector<uint8_t> p(MIDI_PACKET_HEADER + data.size());
  midi_packet_write(p.data(), 1234, data.data(), static_cast<int32_t>(data.size()));
  return p;
}

midi_event event_at(const std::vector<uint8_t>& p, int32_t index) {
  midi_event e;
  e.kind = 99;  // must be overwritten
  midi_event_get(p.data(), &e, index);
  return e;
}

void expect_channel(const midi_event& e, int32_t channel, int32_t tag1, int32_t v1, int32_t tag2,
                    int32_t v2) {
  EXPECT_EQ(e.magic, MIDI_EVENT_MAGIC);
  EXPECT_EQ(e.reserved, 0);
  EXPECT_EQ(e.kind, MIDI_KIND_CHANNEL);
  EXPECT_EQ(e.channel, channel);
  EXPECT_EQ(e.first_tag, tag1);
  EXPECT_EQ(e.first, v1);
  EXPECT_EQ(e.second_tag, tag2);
  EXPECT_EQ(e.second, v2);
}

// The byte messages in a list, packet by packet: (stamp, bytes).
std::vector<std::pair<uint64_t, std::vector<uint8_t>>> packets_of(const midi_event_list* list) {
  std::vector<std::pair<uint64_t, std::vector<uint8_t>>> out;
  const uint8_t* p = list->buffer + 4;
  for (int32_t i = 0; i < midi_packet_list_count(list->buffer); ++i) {
    const uint8_t* d = midi_packet_data(p);
    out.push_back({midi_packet_stamp(p), std::vector<uint8_t>(d, d + midi_packet_length(p))});
    p = midi_packet_next(p);
  }
  return out;
}

}  // namespace

TEST(MidiDecode, NoteOnWithZeroVelocityIsNoteOff) {
  auto p = packet({0x90, 0x3C, 0x00});
  EXPECT_EQ(midi_event_count(p.data()), 1);
  expect_channel(event_at(p, 0), 0, MIDI_TAG_NOTE_OFF, 0x3C, 0, 0);
  auto q = packet({0x85, 0x40, 0x33, 0x9F, 0x41, 0x7F});
  EXPECT_EQ(midi_event_count(q.data()), 2);
  expect_channel(event_at(q, 0), 5, MIDI_TAG_NOTE_OFF, 0x40, 0, 0);
  expect_channel(event_at(q, 1), 15, MIDI_TAG_NOTE_ON, 0x41, MIDI_TAG_VELOCITY, 0x7F);
}

TEST(MidiDecode, ControllerThenClockTickAndTransport) {
  auto p = packet({0xB1, 0x07, 0x64, 0xF8});
  EXPECT_EQ(midi_event_count(p.data()), 2);
  expect_channel(event_at(p, 0), 1, MIDI_TAG_CONTROLLER, 7, MIDI_TAG_CONTROLLER_VALUE, 100);
  midi_event tick = event_at(p, 1);
  EXPECT_EQ(tick.kind, MIDI_KIND_CLOCK);
  EXPECT_EQ(tick.channel, MIDI_CLOCK_TICK);
  auto t = packet({0xFA, 0xFB, 0xFC});
  EXPECT_EQ(midi_event_count(t.data()), 3);
  EXPECT_EQ(event_at(t, 0).channel, MIDI_CLOCK_START);
  EXPECT_EQ(event_at(t, 1).channel, MIDI_CLOCK_CONTINUE);
  EXPECT_EQ(event_at(t, 2).channel, MIDI_CLOCK_STOP);
}

TEST(MidiDecode, DataByteFirstOrUnknownMessageEndsDecoding) {
  auto running = packet({0x3C, 0x40, 0x90, 0x3C, 0x40});
  EXPECT_EQ(midi_event_count(running.data()), 0);
  midi_event e = event_at(running, 0);
  EXPECT_EQ(e.magic, MIDI_EVENT_MAGIC);
  EXPECT_EQ(e.kind, MIDI_KIND_EMPTY);
  EXPECT_EQ(e.first_tag, 0);
  EXPECT_EQ(e.second, 0);
  // A program change stops the packet; what follows it is not decoded.
  auto program = packet({0xF8, 0xC0, 0x05, 0xF8});
  EXPECT_EQ(midi_event_count(program.data()), 1);
  EXPECT_EQ(event_at(program, 1).kind, MIDI_KIND_EMPTY);
  EXPECT_EQ(event_at(program, 5).kind, MIDI_KIND_EMPTY);
  EXPECT_EQ(midi_event_count(nullptr), 0);
}

TEST(MidiDecode, MessageCutShortIsNotCounted) {
  auto p = packet({0xF8, 0x90, 0x3C});
  EXPECT_EQ(midi_event_count(p.data()), 1);
  EXPECT_EQ(event_at(p, 1).kind, MIDI_KIND_EMPTY);
  EXPECT_EQ(midi_event_count(packet({0xB0}).data()), 0);
}

TEST(MidiDecode, HighDataBytesBecomeNegativeValues) {
  auto p = packet({0xB2, 0x80, 0xFF});
  expect_channel(event_at(p, 0), 2, MIDI_TAG_CONTROLLER, -128, MIDI_TAG_CONTROLLER_VALUE, -1);
  midi_event_get(p.data(), nullptr, 0);  // no record: nothing to fill
}

TEST(MidiEventList, EncodesEachKindAndSkipsRecordsWithoutBytes) {
  midi_event_list* list = midi_event_list_new();
  ASSERT_NE(list, nullptr);
  midi_event e;
  noteon(&e, 17, 60, 100);  // channel masked to 4 bits
  midi_event_list_add_at(list, &e, 1.0);
  noteon(&e, 2, 61, 100);
  e.second_tag = 0;  // no velocity: sent with 0
  midi_event_list_add_at(list, &e, 2.0);
  noteoff(&e, 3, 62);
  midi_event_list_add_at(list, &e, 3.0);
  cc(&e, 4, 7, 99);
  midi_event_list_add_at(list, &e, 4.0);
  e.second_tag = MIDI_TAG_VELOCITY;  // a controller without its value tag adds nothing
  midi_event_list_add_at(list, &e, 5.0);
  e.magic = 0;  // nor does a record without the magic
  midi_event_list_add_at(list, &e, 5.0);
  midiclock_start(&e);
  midi_event_list_add_at(list, &e, 6.0);
  midiclock_continue(&e);
  midi_event_list_add_at(list, &e, 7.0);
  midiclock_stop(&e);
  midi_event_list_add_at(list, &e, 8.0);
  midiclock_tick(&e);
  midi_event_list_add_at(list, &e, 9.0);
  e.channel = 4;  // no such clock operation
  midi_event_list_add_at(list, &e, 10.0);
  midi_event_list_add_at(list, nullptr, 10.0);

  auto got = packets_of(list);
  std::vector<std::vector<uint8_t>> want = {{0x91, 60, 100}, {0x92, 61, 0}, {0x83, 62, 0},
                                            {0xB4, 7, 99},   {0xFA},        {0xFB},
                                            {0xFC},          {0xF8}};
  ASSERT_EQ(got.size(), want.size());
  uint64_t stamps[] = {1, 2, 3, 4, 6, 7, 8, 9};
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(got[i].second, want[i]) << i;
    EXPECT_EQ(got[i].first, list->host_time + stamps[i] * 1000000) << i;
  }
  midi_event_list_destroy(list);
  midi_event_list_destroy(nullptr);
  midi_event_list_add(nullptr, &e);
}

TEST(MidiEventList, AddStampsWithCreationTimeAndJoinsEqualStamps) {
  uint64_t before = midi_host_time();
  midi_event_list* list = midi_event_list_new();
  EXPECT_GE(list->host_time, before);
  EXPECT_LE(list->host_time, midi_host_time());
  midi_event e;
  noteon(&e, 0, 60, 1);
  midi_event_list_add(list, &e);
  midiclock_tick(&e);
  midi_event_list_add(list, &e);
  midi_event_list_add_at(list, &e, -5.0);  // before creation: at creation
  auto got = packets_of(list);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].first, list->host_time);
  EXPECT_EQ(got[0].second, (std::vector<uint8_t>{0x90, 60, 1, 0xF8, 0xF8}));
  midi_event_list_destroy(list);
}

TEST(MidiEventList, StopsAcceptingWhenItsBytesAreUsed) {
  midi_event_list* list = midi_event_list_new();
  midi_event e;
  cc(&e, 0, 1, 2);
  // Distinct stamps: every event is a packet of 10 + 3 bytes after the
  // 4-byte count, so 20 fit in 272 bytes.
  for (int i = 0; i < 30; ++i) midi_event_list_add_at(list, &e, i);
  EXPECT_EQ(midi_packet_list_count(list->buffer), 20);
  EXPECT_EQ(list->current, nullptr);
  midiclock_tick(&e);
  midi_event_list_add_at(list, &e, 0.0);  // even a one-byte event at a joinable stamp
  EXPECT_EQ(midi_packet_list_count(list->buffer), 20);
  midi_event_list_destroy(list);

  // Equal stamps join one packet: 4 + 10 + 3 n <= 272 holds for 86 events.
  list = midi_event_list_new();
  cc(&e, 0, 1, 2);
  for (int i = 0; i < 100; ++i) midi_event_list_add(list, &e);
  EXPECT_EQ(midi_packet_list_count(list->buffer), 1);
  EXPECT_EQ(midi_packet_length(list->buffer + 4), 86 * 3);
  midi_event_list_destroy(list);
}

TEST(MidiEventList, EncodedEventsDecodeToTheSameRecords) {
  midi_event_list* list = midi_event_list_new();
  midi_event in[4];
  noteon(&in[0], 9, 36, 127);
  noteoff(&in[1], 9, 36);
  cc(&in[2], 15, 64, 0);
  midiclock_tick(&in[3]);
  for (auto& e : in) midi_event_list_add(list, &e);
  const uint8_t* p = list->buffer + 4;
  ASSERT_EQ(midi_event_count(p), 4);
  for (int i = 0; i < 4; ++i) {
    midi_event out;
    midi_event_get(p, &out, i);
    EXPECT_EQ(memcmp(&out, &in[i], sizeof out), 0) << i;
  }
  midi_event_list_destroy(list);
}
