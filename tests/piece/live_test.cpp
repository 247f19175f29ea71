// The program played live under the virtual X server and a JACK server on
// its dummy driver: left alone it plays the whole piece and ends by itself;
// Alt+Return without a game mode keeps it running in its window, Escape ends
// it at once with status 0. A recorded performance renders as long as it
// was played.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "common/media.h"
#include "common/whole_program.h"
#include "common/x_input.h"

namespace {

struct Live : testing::Test {
  Program piece;
  XInput x;
  void start(std::vector<std::string> more = {}) {
    std::vector<std::string> argv = {ZEAL_BINARY_DIR "/vv-plume", "--no-configurator"};
    argv.insert(argv.end(), more.begin(), more.end());
    ASSERT_TRUE(piece.start(argv, {}, true));
  }
  void expect_clean_console() {
    EXPECT_EQ(piece.output.find("ERROR"), std::string::npos) << piece.output;
    EXPECT_EQ(piece.output.find("runtime error"), std::string::npos) << piece.output;
  }
};

TEST_F(Live, PlaysUntilEscapeAndAltReturnKeepsItRunningAndRendersAsRecorded) {
  if (getenv("ZEAL_JACK") == nullptr) GTEST_SKIP() << "no JACK server";
  TempDir dir;
  double began = get_milliseconds();
  start({"--record", dir.File("take.txt")});
  Window id = x.next_window(piece, 15000.0);
  ASSERT_NE(id, 0u);
  // Through the calibration and into the lead-in.
  piece.read_for(4000.0);
  EXPECT_TRUE(piece.running()) << piece.output;
  ASSERT_TRUE(x.key(id, "Alt_L+Return"));
  // Without a game mode the window is made again, and the piece goes on.
  id = x.next_window(piece, 15000.0);
  ASSERT_NE(id, 0u);
  piece.read_for(10000.0 - (get_milliseconds() - began));
  EXPECT_TRUE(piece.running()) << piece.output;
  ASSERT_TRUE(x.key(id, "Escape"));
  double played = get_milliseconds() - began;
  ASSERT_EQ(piece.wait_exit(15000), 0) << piece.output;
  EXPECT_NE(piece.output.find("120000.0000, 0.0000, 2.0000, 6.0000, 6.0000]"), std::string::npos);
  expect_clean_console();

  // Its keys are in the recording, and the end: the clock time of Escape,
  // which rolls after the calibration.
  std::string take = dir.Read("take.txt");
  EXPECT_NE(take.find(" key 1 13 4 13\n"), std::string::npos) << take;
  EXPECT_NE(take.find(" key 1 27 4 27\n"), std::string::npos) << take;
  double end = 0.0;
  std::istringstream(take.substr(take.rfind('\n', take.size() - 2) + 1)) >> end;
  EXPECT_GT(end, played - 5000.0) << take;
  EXPECT_LT(end, played) << take;
  // Rendered again, the film lasts as long as the live run, within a frame.
  Program render;
  std::string film = dir.File("take.mp4");
  ASSERT_TRUE(render.start({ZEAL_BINARY_DIR "/vv-plume", "--no-configurator", "--replay", dir.File("take.txt"), "--draft",
                            "--gl", "egl", "--film", film}));
  ASSERT_EQ(render.wait_exit(600000), 0) << render.output;
  std::vector<long> film_ends = ends(dir.File("take-draft.mp4"));
  ASSERT_EQ(film_ends.size(), 2u) << render.output;
  // The pictures end with the frame the end falls in; the sound with them,
  // up to its encoder's last block of 1024 samples.
  EXPECT_GE(film_ends[0], end - 1.0) << take;
  EXPECT_LE(film_ends[0], end + 1000.0 / 30.0 + 1.0) << take;
  EXPECT_NEAR(film_ends[1], film_ends[0], 1024 * 1000.0 / 44100.0 + 1.0);
}

TEST_F(Live, WholePiecePlaysInRealTimeAndEndsByItself) {
  if (getenv("ZEAL_JACK") == nullptr) GTEST_SKIP() << "no JACK server";
  double began = get_milliseconds();
  start();
  // Calibration, 2 s of lead-in and the 123 s piece, played as it sounds.
  int status = piece.wait_exit(240000);
  double seconds = (get_milliseconds() - began) / 1000.0;
  ASSERT_EQ(status, 0) << piece.output;
  EXPECT_GE(seconds, 125.0);
  EXPECT_LT(seconds, 160.0);
  expect_clean_console();
}

}  // namespace
