#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <vector>

#include <zeal/io/midi_decode.h>
#include <zeal/io/midi_event.h>

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

using Fields = std::array<int32_t, 6>;  // kind, channel, first tag, first, second tag, second
Fields fields(const midi_event& e) { return {e.kind, e.channel, e.first_tag, e.first, e.second_tag, e.second}; }

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

// Every event of a packet, then an empty record (with the magic) past them.
TEST(MidiDecode, PacketsGiveTheirEventsUpToWhatCannotBeDecoded) {
  const int32_t CH = MIDI_KIND_CHANNEL, CLOCK = MIDI_KIND_CLOCK, ON = MIDI_TAG_NOTE_ON, OFF = MIDI_TAG_NOTE_OFF,
                VELOCITY = MIDI_TAG_VELOCITY, CC = MIDI_TAG_CONTROLLER, VALUE = MIDI_TAG_CONTROLLER_VALUE;
  const Fields tick = {CLOCK, MIDI_CLOCK_TICK, 0, 0, 0, 0};
  const struct {
    std::vector<uint8_t> bytes;
    std::vector<Fields> events;
  } cases[] = {
      {{0x90, 0x3C, 0x00}, {{CH, 0, OFF, 0x3C, 0, 0}}},  // a note-on without velocity is a note-off
      {{0x85, 0x40, 0x33, 0x9F, 0x41, 0x7F}, {{CH, 5, OFF, 0x40, 0, 0}, {CH, 15, ON, 0x41, VELOCITY, 0x7F}}},
      {{0xB1, 0x07, 0x64, 0xF8}, {{CH, 1, CC, 7, VALUE, 100}, tick}},
      {{0xFA, 0xFB, 0xFC}, {{CLOCK, MIDI_CLOCK_START, 0, 0, 0, 0}, {CLOCK, MIDI_CLOCK_CONTINUE, 0, 0, 0, 0},
                            {CLOCK, MIDI_CLOCK_STOP, 0, 0, 0, 0}}},
      {{0x3C, 0x40, 0x90, 0x3C, 0x40}, {}},  // a data byte first
      {{0xF8, 0xC0, 0x05, 0xF8}, {tick}},    // a program change stops the packet
      {{0xF8, 0x90, 0x3C}, {tick}},          // a message cut short is not counted
      {{0xB0}, {}},
      {{0xB2, 0x80, 0xFF}, {{CH, 2, CC, -128, VALUE, -1}}},  // high data bytes become negative values
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> p = packet(c.bytes);
    int32_t count = static_cast<int32_t>(c.events.size());
    ASSERT_EQ(midi_event_count(p.data()), count) << c.bytes.size();
    // Each event, then indices past them and before them.
    for (int32_t i : std::vector<int32_t>{0, 1, 2, count, count + 4, -1, INT32_MIN}) {
      midi_event e = event_at(p, i);
      EXPECT_EQ(e.magic, MIDI_EVENT_MAGIC);
      EXPECT_EQ(e.reserved, 0);
      EXPECT_EQ(fields(e), i >= 0 && i < count ? c.events[i] : Fields{}) << "event " << i;
    }
    // One walk gives the same events, and nothing once it has stopped.
    midi_event_cursor cursor = midi_event_cursor_make(p.data(), -1);
    midi_event e;
    for (const Fields& want : c.events) {
      ASSERT_TRUE(midi_event_next(&cursor, &e));
      EXPECT_EQ(fields(e), want);
    }
    EXPECT_FALSE(midi_event_next(&cursor, &e));
  }
  EXPECT_EQ(midi_event_count(nullptr), 0);
  midi_event_get(packet({0xB2, 0x80, 0xFF}).data(), nullptr, 0);  // no record: nothing to fill
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
  midiclock_tick(&e);
  midi_event_list_add_at(list, &e, 9.0);
  e.channel = 4;  // no such clock operation
  midi_event_list_add_at(list, &e, 10.0);
  midi_event_list_add_at(list, nullptr, 10.0);

  auto got = packets_of(list);
  std::vector<std::vector<uint8_t>> want = {{0x91, 60, 100}, {0x92, 61, 0}, {0x83, 62, 0}, {0xB4, 7, 99}, {0xF8}};
  ASSERT_EQ(got.size(), want.size());
  uint64_t stamps[] = {1, 2, 3, 4, 9};
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
