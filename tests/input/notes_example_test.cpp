// The notes example end to end: a peer MIDI client on the JACK server plays
// into "zeal:tidepool:in" and listens to "zeal:tidepool:out", keys come from
// the virtual X server, and the palette arrives through the loader.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/test_files.h"
#include "common/whole_program.h"
#include "common/x_input.h"
#include "midi_peer.h"

namespace {

using Bytes = std::vector<uint8_t>;
const Bytes kTick = {0xF8};

std::vector<Bytes> notes_heard(const std::vector<PeerMessage>& got) {
  std::vector<Bytes> out;
  for (const PeerMessage& m : got)
    if (m.bytes != kTick) out.push_back(m.bytes);
  return out;
}

}  // namespace

TEST(NotesExample, EchoesMidiAndKeysSendsClockAndLoadsItsPalette) {
  if (getenv("ZEAL_JACK") == nullptr) GTEST_SKIP() << "no JACK server";
  JackTurn turn;
  // The example has no resources folder: its performance log goes to the
  // first ZEAL_RPATH directory, here a private one, the palette comes from
  // the second.
  TempDir logs;
  std::string rpath = "ZEAL_RPATH=" + logs.path + ":" ZEAL_SOURCE_DIR "/resources";
  Program notes;
  XInput x;
  ASSERT_TRUE(notes.start({ZEAL_BINARY_DIR "/examples/notes"}, {"ZEAL_MIDI_API=jack", rpath}));
  MidiPeer peer;
  ASSERT_TRUE(peer.connect(15000)) << "no zeal:tidepool ports";
  EXPECT_TRUE(notes.wait_for_text("pal1.png: 64x4\n", 15000)) << notes.output;
  Window window = x.next_window(notes, 15000);
  ASSERT_NE(window, 0u) << notes.output;

  // Clock ticks flow once the output clock rolls.
  std::vector<PeerMessage> got;
  for (int i = 0; i < 1000 && got.size() < 10; ++i) got = peer.wait_for(10, 10);
  ASSERT_GE(got.size(), 10u) << "no clock ticks\n" << notes.output;

  peer.send({0x90, 64, 90});
  inthread_sleep(100);
  peer.send({0x90, 64, 0});  // a note on without velocity ends the note
  inthread_sleep(100);
  ASSERT_TRUE(x.key(window, "a"));  // middle C, pressed and released
  for (int i = 0; i < 300 && notes_heard(got).size() < 4; ++i) {
    inthread_sleep(10);
    got = peer.wait_for(0, 0);
  }
  std::vector<Bytes> echoed = {{0x90, 64, 90}, {0x80, 64, 0}, {0x90, 60, 100}, {0x80, 60, 0}};
  EXPECT_EQ(notes_heard(got), echoed);
  notes.read_for(200);
  for (const char* line : {"note on 64 90 from midi\n", "note off 64 0 from midi\n",
                           "note on 60 100 from keys\n", "note off 60 0 from keys\n"})
    EXPECT_NE(notes.output.find(line), std::string::npos) << line << notes.output;

  // Clock ticks keep coming. (At 48 a second, evenly spread, when the
  // machine is not loaded: a speed measured apart.)
  size_t before = got.size();
  inthread_sleep(1000);
  EXPECT_GT(peer.wait_for(0, 0).size(), before + 10);

  ASSERT_TRUE(x.key(window, "Escape"));
  EXPECT_EQ(notes.wait_exit(10000), 0) << notes.output;
  EXPECT_NE(logs.Read("perf.log").find("display-fps: "), std::string::npos);
}
