// The chord example as a whole process: rendered to files, and played live
// under JACK until Escape.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "common/whole_program.h"
#include "common/x_input.h"

namespace {

const std::string kChord = ZEAL_BINARY_DIR "/examples/chord";

// Mean of all colour samples of a picture, 0 to 255.
double brightness(const Picture& p) {
  double sum = 0;
  for (size_t i = 0; i < p.rgba.size(); i += 4) sum += p.rgba[i] + p.rgba[i + 1] + p.rgba[i + 2];
  return sum / (p.rgba.size() / 4 * 3);
}

double correlation(const std::vector<double>& a, const std::vector<double>& b) {
  double n = static_cast<double>(a.size());
  double ma = 0, mb = 0;
  for (size_t i = 0; i < a.size(); ++i) ma += a[i] / n, mb += b[i] / n;
  double ab = 0, aa = 0, bb = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    ab += (a[i] - ma) * (b[i] - mb);
    aa += (a[i] - ma) * (a[i] - ma);
    bb += (b[i] - mb) * (b[i] - mb);
  }
  return ab / std::sqrt(aa * bb);
}

}  // namespace

TEST(ChordExample, RendersSoundAndPicturesInLockStepAndEndsByItself) {
  TempDir dir;
  Program chord;
  ASSERT_TRUE(chord.start({kChord, "--diskwriter", dir.path}));
  ASSERT_EQ(chord.wait_exit(120000), 0) << chord.output;

  // The sound: one four-second swell, in whole groups of 8 blocks.
  SF_INFO info{};
  SNDFILE* wav = sf_open((dir.path + "/chord.wav").c_str(), SFM_READ, &info);
  ASSERT_NE(wav, nullptr);
  ASSERT_EQ(info.channels, 2);
  double seconds = static_cast<double>(info.frames) / 44100.0;
  EXPECT_GE(seconds, 4.0);
  EXPECT_LT(seconds, 4.0 + 8 * 256 / 44100.0);
  std::vector<float> samples(static_cast<size_t>(info.frames) * 2);
  ASSERT_EQ(sf_readf_float(wav, samples.data(), info.frames), info.frames);
  sf_close(wav);

  // The pictures: 30 a second of sound, numbered without gaps, at most the
  // last one undrawn (the frame the display ended on).
  int others = 0;
  std::vector<int> numbers = numbered_frames(dir.path, "chord", &others);
  EXPECT_EQ(others, 1);  // chord.wav
  ASSERT_GE(numbers.size(), 30u);
  EXPECT_EQ(numbers.back() - numbers.front() + 1, static_cast<int>(numbers.size())) << "gaps";
  EXPECT_NEAR(static_cast<double>(numbers.size()) / 30.0, seconds, 3.0 / 30.0);
  std::vector<double> light, level;
  int undrawn = 0;
  for (int n : numbers) {
    Picture p(frame_name(dir.path, "chord", n));
    ASSERT_TRUE(p.loaded()) << n;
    EXPECT_EQ(std::pair(p.width, p.height), std::pair(1280, 720));
    double b = brightness(p);
    if (b == 0) ++undrawn;
    else light.push_back(b);
  }
  EXPECT_LE(undrawn, 1);
  for (size_t k = 0; (k + 1) * 44100 / 30 <= static_cast<size_t>(info.frames); ++k) {
    double sum = 0;
    for (size_t i = k * 44100 / 30; i < (k + 1) * 44100 / 30; ++i) sum += samples[2 * i] * samples[2 * i];
    level.push_back(std::sqrt(sum / (44100 / 30)));
  }
  // In lock step: the rings glow with the chord's loudness, so the
  // pictures' brightness follows the sound level frame by frame, within 4
  // frames (the pictures are stamped with when they will be seen).
  EXPECT_LT(level.front(), 0.005);  // fading in from silence
  EXPECT_GT(*std::max_element(level.begin(), level.end()), 0.05);
  int best_lag = 0;
  double best = -1;
  for (int lag = -8; lag <= 8; ++lag) {
    std::vector<double> a, b;
    for (size_t k = 0; k < light.size(); ++k) {
      long j = static_cast<long>(k) + lag;
      if (j < 0 || j >= static_cast<long>(level.size())) continue;
      a.push_back(light[k]);
      b.push_back(level[static_cast<size_t>(j)]);
    }
    double c = correlation(a, b);
    if (c > best) best = c, best_lag = lag;
  }
  printf("pictures lead the sound by %d frames (correlation %.3f)\n", best_lag, best);
  EXPECT_GT(best, 0.98);
  EXPECT_LE(std::abs(best_lag), 4);
}

TEST(ChordExample, PlaysLiveUnderJackUntilEscape) {
  if (!jack_running()) GTEST_SKIP() << "no JACK server";
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
