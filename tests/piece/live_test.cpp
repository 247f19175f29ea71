// The program played live under the virtual X server and a JACK server on
// its dummy driver: left alone it plays the whole piece and ends by itself;
// Alt+Return without a game mode keeps it running in its window, Escape ends
// it at once with status 0.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "common/whole_program.h"

namespace {

// The root window's children: the program's window has neither a name nor a
// process id, so it is found as the one that was not there before.
std::set<unsigned long> top_windows() {
  std::set<unsigned long> ids;
  Display* x = XOpenDisplay(nullptr);
  if (x == nullptr) return ids;
  Window root = 0, parent = 0, *children = nullptr;
  unsigned int n = 0;
  if (XQueryTree(x, DefaultRootWindow(x), &root, &parent, &children, &n)) {
    for (unsigned int i = 0; i < n; ++i) ids.insert(children[i]);
    XFree(children);
  }
  XCloseDisplay(x);
  return ids;
}

struct Live : testing::Test {
  Program piece;
  std::set<unsigned long> before;
  void start() {
    before = top_windows();
    ASSERT_TRUE(piece.start({ZEAL_BINARY_DIR "/vv-plume", "--no-configurator"}, {}, true));
  }
  // The program's window, other than `old`; 0 if none shows within 15 s.
  unsigned long window(unsigned long old = 0) {
    double end = get_milliseconds() + 15000.0;
    while (get_milliseconds() < end) {
      for (unsigned long id : top_windows())
        if (!before.count(id) && id != old) return id;
      piece.read_for(100.0);
    }
    return 0;
  }
  void expect_clean_console() {
    EXPECT_EQ(piece.output.find("ERROR"), std::string::npos) << piece.output;
    EXPECT_EQ(piece.output.find("runtime error"), std::string::npos) << piece.output;
  }
};

TEST_F(Live, PlaysUntilEscapeAndAltReturnKeepsItRunning) {
  if (getenv("ZEAL_JACK") == nullptr) GTEST_SKIP() << "no JACK server";
  start();
  unsigned long id = window();
  ASSERT_NE(id, 0u);
  // Through the calibration and into the lead-in.
  piece.read_for(4000.0);
  EXPECT_TRUE(piece.running()) << piece.output;
  ASSERT_TRUE(send_keys_to(id, "alt+Return"));
  // Without a game mode the window is made again, and the piece goes on.
  id = window(id);
  ASSERT_NE(id, 0u);
  piece.read_for(2000.0);
  EXPECT_TRUE(piece.running()) << piece.output;
  ASSERT_TRUE(send_keys_to(id, "Escape"));
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
