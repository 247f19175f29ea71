// The program played live under the virtual X server and a JACK server on
// its dummy driver: left alone it plays the whole piece and ends by itself;
// Alt+Return without a game mode keeps it running in its window, Escape ends
// it at once with status 0.
#include <gtest/gtest.h>

#include <string>

#include "common/whole_program.h"
#include "common/x_input.h"

namespace {

struct Live : testing::Test {
  Program piece;
  XInput x;
  void start() { ASSERT_TRUE(piece.start({ZEAL_BINARY_DIR "/vv-plume", "--no-configurator"}, {}, true)); }
  void expect_clean_console() {
    EXPECT_EQ(piece.output.find("ERROR"), std::string::npos) << piece.output;
    EXPECT_EQ(piece.output.find("runtime error"), std::string::npos) << piece.output;
  }
};

TEST_F(Live, PlaysUntilEscapeAndAltReturnKeepsItRunning) {
  if (getenv("ZEAL_JACK") == nullptr) GTEST_SKIP() << "no JACK server";
  start();
  Window id = x.next_window(piece, 15000.0);
  ASSERT_NE(id, 0u);
  // Through the calibration and into the lead-in.
  piece.read_for(4000.0);
  EXPECT_TRUE(piece.running()) << piece.output;
  ASSERT_TRUE(x.key(id, "Alt_L+Return"));
  // Without a game mode the window is made again, and the piece goes on.
  id = x.next_window(piece, 15000.0);
  ASSERT_NE(id, 0u);
  piece.read_for(2000.0);
  EXPECT_TRUE(piece.running()) << piece.output;
  ASSERT_TRUE(x.key(id, "Escape"));
  ASSERT_EQ(piece.wait_exit(15000), 0) << piece.output;
  EXPECT_NE(piece.output.find("120000.0000, 0.0000, 2.0000, 6.0000, 6.0000]"), std::string::npos);
  expect_clean_console();
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
