// Recording a live performance and rendering it again: the notes example
// played live and recorded, then rendered from its recording; recordings
// that cannot be replayed are refused before anything is drawn.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <zeal/app/app.h>
#include <zeal/app/bus.h>
#include <zeal/app/record.h>
#include <zeal/arch/opengl/input.h>
#include <zeal/io/midi_event.h>
#include "common/test_files.h"
#include "common/whole_program.h"
#include "common/x_input.h"
#include "midi_peer.h"

namespace {

constexpr double kFrameMs = 1000.0 / 30.0;

int handler_calls = 0;
int32_t counting_handler(uint32_t, uint32_t, App*) {
  handler_calls += 1;
  return APP_END;
}

TEST(Recording, BadRecordingsAreRefusedBeforeAnythingIsDrawn) {
  TempDir dir;
  struct Case {
    const char* text;  // null: no file at all
    int line;
    const char* why;
  } cases[] = {
      {nullptr, 0, "cannot read"},
      {"zeal-record 2\n0 end\n", 1, "version 1"},
      {"", 1, "empty"},
      {"zeal-record 1\n10 midi noteon 0 60\n20 end\n", 2, "midi event is"},
      {"zeal-record 1\n10 midi noteon 16 60 90\n20 end\n", 2, "midi event is"},
      {"zeal-record 1\n# a comment\n\n10 pedal 1\n20 end\n", 4, "unknown source"},
      {"zeal-record 1\nten key 1 97 4 97\n20 end\n", 2, "not a time"},
      {"zeal-record 1\n10 key 1 97 4\n20 end\n", 2, "CODE VALUE"},
      {"zeal-record 1\n10 bus 0 1 2 3\n20 end\n", 2, "eight hex words"},
      {"zeal-record 1\n10 key 1 97 4 97\n5 key 3 97 4 97\n20 end\n", 3, "out of time order"},
      {"zeal-record 1\n10 key 1 97 4 97\n9 end\n", 3, "out of time order"},
      {"zeal-record 1\n10 key 1 97 4 97\n", 2, "no end"},
      {"zeal-record 1\n10 end\n12 key 1 97 4 97\n", 3, "after the end"},
  };
  for (const Case& c : cases) {
    std::string path = c.text == nullptr ? dir.File("missing.txt") : dir.Write("take.txt", c.text);
    std::vector<std::string> args = {"notes", "--replay", path, "--diskwriter", dir.File("out")};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    handler_calls = 0;
    testing::internal::CaptureStdout();
    int status = app_run(static_cast<int>(argv.size()), argv.data(), APP_STREAM_CONTROL_IN | APP_STREAM_DISPLAY,
                         counting_handler);
    std::string out = testing::internal::GetCapturedStdout();
    std::string where = "ERROR: " + path + ":" + std::to_string(c.line) + ": ";
    EXPECT_EQ(status, 1) << out;
    EXPECT_EQ(out.find(where), 0u) << where << "\n" << out;
    EXPECT_NE(out.find(c.why), std::string::npos) << c.why << "\n" << out;
    EXPECT_EQ(handler_calls, 0) << out;
    EXPECT_FALSE(std::filesystem::exists(dir.File("out")));
  }
}

// Recording and replay reach the runtime only through what it hands them:
// input events carry the clock given at open, and a replay's due events go
// to the bus post and MIDI-in callback it was given, in order, at most half
// a ring a tick, MIDI as the bytes it was recorded from.
std::vector<std::vector<uint8_t>> replayed_midi;
std::vector<std::pair<int32_t, int32_t>> replayed_bus;  // ring, first word

TEST(Recording, GoesThroughTheClockAndCallbacksTheRuntimeHandsIt) {
  TempDir dir;
  App app{};
  std::string why;
  app.recorder = app_recorder_open(dir.File("take.txt").c_str(), [](const App*) { return 1234.5; }, &why);
  ASSERT_NE(app.recorder, nullptr) << why;
  const int32_t key[INPUT_EVENT_WORDS] = {static_cast<int32_t>(INPUT_KEYBOARD_ID), 0, 1, 97, 4, 97};
  app_record_input(&app, key, INPUT_EVENT_WORDS);
  ASSERT_TRUE(app_recorder_close(app.recorder));
  app.recorder = nullptr;
  EXPECT_EQ(read_file(dir.File("take.txt")), "zeal-record 1\n1234.5 key 1 97 4 97\n1234.5 end\n");

  std::string text = "zeal-record 1\n5 midi noteon 2 60 90\n5 bus 1 00000007 0 0 0 0 0 0 0\n";
  for (int i = 0; i < 40; ++i) text += "10 midi cc 0 1 " + std::to_string(i) + "\n";
  text += "20 end\n";
  std::string error;
  std::unique_ptr<app_replay> replay = app_replay_load(dir.Write("replay.txt", text).c_str(), &error);
  ASSERT_NE(replay, nullptr) << error;
  replay->post = [](App*, int32_t ring, const void* event) {
    replayed_bus.push_back({ring, *static_cast<const int32_t*>(event)});
    return 1;
  };
  replay->midi_in = [](void*, const uint8_t* packet) {
    const uint8_t* data = midi_packet_data(packet);
    replayed_midi.emplace_back(data, data + midi_packet_length(packet));
  };
  app.replay = replay.get();
  app_replay_tick(&app, 4.9);
  EXPECT_TRUE(replayed_midi.empty() && replayed_bus.empty());
  app_replay_tick(&app, 5.0);
  ASSERT_EQ(replayed_midi.size(), 1u);
  EXPECT_EQ(replayed_midi[0], (std::vector<uint8_t>{0x92, 60, 90}));
  EXPECT_EQ(replayed_bus, (std::vector<std::pair<int32_t, int32_t>>{{1, 7}}));
  app_replay_tick(&app, 10.0);
  EXPECT_EQ(replayed_midi.size(), 1u + APP_BUS_RING_EVENTS / 2);
  app_replay_tick(&app, 10.0);
  ASSERT_EQ(replayed_midi.size(), 41u);
  for (int i = 0; i < 40; ++i)
    EXPECT_EQ(replayed_midi[1 + static_cast<size_t>(i)], (std::vector<uint8_t>{0xB0, 1, static_cast<uint8_t>(i)}));

  // Given nowhere to go, the events are passed over.
  replay = app_replay_load(dir.File("replay.txt").c_str(), &error);
  app.replay = replay.get();
  app_replay_tick(&app, 5.0);
  EXPECT_EQ(replay->ticks_next, 2u);
  EXPECT_EQ(replayed_midi.size(), 41u);
}

// The notes one recording holds: note numbers with the clock time they
// began, and the end.
struct Take {
  std::vector<std::pair<double, int>> started;
  double end = -1.0;
  explicit Take(const std::string& text) {
    const std::string keys = "awsedftgyhujkolp;";
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
      std::istringstream words(line);
      double ms;
      std::string source, kind;
      if (!(words >> ms >> source)) continue;
      int a = 0, b = 0, c = 0;
      if (source == "end") end = ms;
      if (source == "midi" && words >> kind >> a >> b >> c && kind == "noteon" && c > 0) started.push_back({ms, b});
      if (source == "key" && words >> a >> b && a == 1 && keys.find(static_cast<char>(b)) != std::string::npos)
        started.push_back({ms, 60 + static_cast<int>(keys.find(static_cast<char>(b)))});
    }
  }
};

// Whether note `note`'s bar is lit in the picture: its column, low down.
bool lit(const Picture& p, int note) {
  int x = static_cast<int>((note - 21 + 0.5) / 88.0 * p.width);
  int y = static_cast<int>(p.height * 0.85);
  const unsigned char* c = p.at(x, y);
  return c[0] + c[1] + c[2] > 90;
}

TEST(NotesExample, PlayedLiveAndRecordedRendersTheSamePerformanceTwice) {
  if (getenv("ZEAL_JACK") == nullptr) GTEST_SKIP() << "no JACK server";
  TempDir dir;
  std::string take = dir.File("take.txt");
  std::string rpath = "ZEAL_RPATH=" + dir.path + ":" ZEAL_SOURCE_DIR "/resources";
  {
    JackTurn turn;
    Program notes;
    XInput x;
    ASSERT_TRUE(notes.start({ZEAL_BINARY_DIR "/examples/notes", "--record", take}, {"ZEAL_MIDI_API=jack", rpath}));
    MidiPeer peer;
    ASSERT_TRUE(peer.connect(15000)) << "no zeal:tidepool ports";
    Window window = x.next_window(notes, 15000);
    ASSERT_NE(window, 0u) << notes.output;
    // Once the clock rolls (its ticks come out) and a controller sent has
    // reached the recording (which is written while the piece plays: a
    // slow server may lose what is sent before the ports are joined), a
    // phrase on MIDI and two keys.
    std::vector<PeerMessage> got;
    for (int i = 0; i < 1000 && got.size() < 5; ++i) got = peer.wait_for(5, 10);
    ASSERT_GE(got.size(), 5u) << "no clock ticks\n" << notes.output;
    for (int i = 0; i < 20 && read_file(take).find(" midi cc 0 1 1\n") == std::string::npos; ++i) {
      peer.send({0xB0, 1, 1});
      notes.read_for(1000);
    }
    ASSERT_NE(read_file(take).find(" midi cc 0 1 1\n"), std::string::npos) << read_file(take);
    for (const std::vector<uint8_t>& m : std::vector<std::vector<uint8_t>>{
             {0x90, 72, 80}, {0x80, 72, 0}, {0x90, 76, 80}, {0x90, 79, 60}, {0x90, 76, 0}, {0x80, 79, 0}}) {
      peer.send(m);
      inthread_sleep(250);
    }
    EXPECT_TRUE(notes.wait_for_text("note off 79 0 from midi\n", 5000)) << notes.output;
    ASSERT_TRUE(x.key(window, "d"));  // 64
    inthread_sleep(300);
    ASSERT_TRUE(x.key(window, "g"));  // 67
    inthread_sleep(700);
    ASSERT_TRUE(x.key(window, "Escape"));
    ASSERT_EQ(notes.wait_exit(10000), 0) << notes.output;
  }
  std::string recorded = read_file(take);
  Take t(recorded);
  ASSERT_EQ(t.started.size(), 5u) << recorded;
  ASSERT_GT(t.end, t.started.back().first) << recorded;

  auto render = [&](const std::string& out, std::vector<std::string> more = {}) {
    Program notes;
    more.insert(more.begin(), {ZEAL_BINARY_DIR "/examples/notes", "--replay", take, "--gl", "egl", "--diskwriter", out});
    EXPECT_TRUE(notes.start(more, {rpath}));
    EXPECT_EQ(notes.wait_exit(120000), 0) << notes.output;
  };
  double began = get_milliseconds();
  render(dir.File("one"));
  printf("rendered %.1f s of performance in %.1f s\n", t.end / 1000.0, (get_milliseconds() - began) / 1000.0);
  render(dir.File("two"));

  // The render ends with the frame the recorded end falls in.
  std::vector<int> frames = numbered_frames(dir.File("one"), "notes");
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames.front(), 0);
  EXPECT_EQ(static_cast<int>(frames.size()), static_cast<int>(std::ceil(t.end / kFrameMs))) << t.end;
  EXPECT_EQ(frames.back() + 1, static_cast<int>(frames.size()));

  // Each note appears in the frames within one frame of its recorded time.
  for (auto [ms, note] : t.started) {
    int first = -1;
    for (int n : frames)
      if (lit(Picture(frame_name(dir.File("one"), "notes", n)), note)) {
        first = n;
        break;
      }
    ASSERT_GE(first, 0) << "note " << note << " never drawn";
    printf("note %d recorded at %.1f ms, first drawn in frame %d (%+.1f ms)\n", note, ms, first, first * kFrameMs - ms);
    EXPECT_LE(std::fabs(first * kFrameMs - ms), kFrameMs) << "note " << note << " at " << ms << " ms, frame " << first;
  }

  // Two renders of one recording are the same, file for file, byte for byte.
  for (const auto& entry : std::filesystem::directory_iterator(dir.File("one"))) {
    std::string name = entry.path().filename().string();
    EXPECT_TRUE(read_file(entry.path().string()) == read_file(dir.File("two/" + name))) << name;
  }
  EXPECT_EQ(numbered_frames(dir.File("two"), "notes"), frames);

  // A cut of the replay is that part of the whole.
  int from = static_cast<int>(frames.size()) / 2;
  render(dir.File("cut"), {"--range", std::to_string(from) + ":"});
  std::vector<int> cut = numbered_frames(dir.File("cut"), "notes");
  ASSERT_EQ(cut.size(), frames.size() - static_cast<size_t>(from));
  for (int n : cut)
    EXPECT_TRUE(read_file(frame_name(dir.File("cut"), "notes", n)) == read_file(frame_name(dir.File("one"), "notes", n)))
        << n;
}

}  // namespace
