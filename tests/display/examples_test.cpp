// The chord example played live under JACK until Escape. (Its renderings
// are the rendering targets' tests.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "common/whole_program.h"
#include "common/x_input.h"

static const std::string kChord = ZEAL_BINARY_DIR "/examples/chord";

TEST(ChordExample, PlaysLiveUnderJackUntilEscape) {
  if (getenv("ZEAL_JACK") == nullptr) GTEST_SKIP() << "no JACK server";
  Program chord;
  XInput x;
  ASSERT_TRUE(chord.start({kChord}));
  Window window = x.next_window(chord, 15000);
  ASSERT_NE(window, 0u) << chord.output;
  // Live, the chord breathes on past its first swell.
  chord.read_for(5000);
  ASSERT_TRUE(chord.running()) << chord.output;
  // Its sound goes to JACK through PortAudio.
  EXPECT_EQ(system("jack_lsp -c | grep -q '^PortAudio'"), 0);
  ASSERT_TRUE(x.key(window, "Escape"));
  EXPECT_EQ(chord.wait_exit(10000), 0) << chord.output;
}
