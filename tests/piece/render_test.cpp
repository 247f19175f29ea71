// The whole piece rendered to disk by the real program under the virtual X
// server: it must end by itself with status 0 and leave a WAV of the piece and
// one TGA per frame, black in the lead-in and at the end, with the box behind
// the fish in between, and picture and sound starting together.
//
// Long (minutes): the frames take about 14 GB and are deleted once checked.
// ZEAL_RENDER_DIR=<dir> checks an existing rendering instead of making one.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/whole_program.h"
#include "piece/sound.h"

namespace {

int max_channel(const Picture& p) {
  int m = 0;
  for (size_t i = 0; i < p.rgba.size(); i += 4)
    m = std::max({m, int(p.rgba[i]), int(p.rgba[i + 1]), int(p.rgba[i + 2])});
  return m;
}

// Sample index of the first sound when the piece is rendered from scene time 0.
int64_t first_sound_of_piece() {
  struct Scan {
    int64_t at = 0;
    int64_t found = -1;
  } scan;
  sound_render_piece(
      [](void* arg, const float* left, const float* right) {
        auto* s = static_cast<Scan*>(arg);
        for (int i = 0; i < PIPE_BLOCK; ++i)
          if (left[i] != 0.0f || right[i] != 0.0f) {
            s->found = s->at + i;
            return 0;
          }
        s->at += PIPE_BLOCK;
        return 1;
      },
      &scan);
  return scan.found;
}

TEST(Render, WholePieceToDisk) {
  TempDir made;  // deleted with the frames however the checks end
  Program piece;
  const char* given = getenv("ZEAL_RENDER_DIR");
  std::string dir = given != nullptr ? given : made.path;
  if (given == nullptr) {
    double t0 = get_milliseconds();
    ASSERT_TRUE(piece.start({ZEAL_BINARY_DIR "/vv-plume", "--no-configurator", "--diskwriter", dir}, {}, true));
    int status = piece.wait_exit(3600000);
    printf("render wall time: %.1f s\n", (get_milliseconds() - t0) / 1000.0);
    EXPECT_EQ(status, 0) << piece.output;
  }
  std::vector<int> numbers = numbered_frames(dir, "vv-plume");

  // The sound: 32-bit float, 44100 Hz, stereo, 2 s of lead-in and 123 s.
  SF_INFO info{};
  SNDFILE* wav = sf_open((dir + "/vv-plume.wav").c_str(), SFM_READ, &info);
  ASSERT_NE(wav, nullptr) << sf_strerror(nullptr);
  EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  EXPECT_EQ(info.samplerate, 44100);
  EXPECT_EQ(info.channels, 2);
  double wav_seconds = double(info.frames) / 44100.0;
  EXPECT_NEAR(wav_seconds, 125.0, 1.0);
  // First sample that is not silence.
  int64_t first_sound = -1;
  std::vector<float> block(2 * 4096);
  for (int64_t at = 0; first_sound < 0;) {
    sf_count_t got = sf_readf_float(wav, block.data(), 4096);
    if (got <= 0) break;
    for (sf_count_t i = 0; i < 2 * got; ++i)
      if (block[i] != 0.0f) {
        first_sound = at + i / 2;
        break;
      }
    at += got;
  }
  sf_close(wav);
  ASSERT_GE(first_sound, 0);

  // About 125 s of frames at 30 a second, numbered without gaps.
  ASSERT_FALSE(numbers.empty());
  int first = numbers.front(), last = numbers.back();
  EXPECT_EQ(int(numbers.size()), last - first + 1);
  EXPECT_NEAR(double(numbers.size()), 3750.0, 60.0);

  std::vector<int> sample;
  for (int n = first; n <= last; n += 100) sample.push_back(n);
  sample.push_back(last);
  int boxed = 0, in_piece = 0;
  for (int n : sample) {
    Picture p(frame_name(dir, "vv-plume", n));
    ASSERT_TRUE(p.loaded()) << n;
    EXPECT_EQ(p.width, 1280);
    EXPECT_EQ(p.height, 720);
    double t = (n - first) / 30.0;  // seconds from the first frame
    if (t < 1.9 || t > 122.5) {
      EXPECT_LE(max_channel(p), 2) << "frame " << n << " should be black";
    } else if (t > 2.1 && t < 97.0) {
      ++in_piece;
      // The box fills the background: its corners are lit and bluish.
      // A particle may light one of them.
      int corners = 0;
      for (int x : {4, 1275})
        for (int y : {4, 715}) {
          const unsigned char* c = p.at(x, y);
          corners += c[2] > 8 && c[2] >= c[0];
        }
      boxed += corners >= 3;
    }
  }
  EXPECT_GT(in_piece, 25);
  EXPECT_EQ(boxed, in_piece);

  // Scene time 0: the first frame that is not black, and in the WAV the
  // first sound less where it falls in the piece's own sound (about 0.75 s).
  // Both files start at the same moment.
  int first_lit = -1;
  for (int n = first; n <= std::min(last, first + 120) && first_lit < 0; ++n)
    if (max_channel(Picture(frame_name(dir, "vv-plume", n))) > 2) first_lit = n;
  ASSERT_GE(first_lit, 0);
  double picture_zero = (first_lit - first) / 30.0;
  double sound_zero = double(first_sound - first_sound_of_piece()) / 44100.0;
  printf("scene time 0: picture %.4f s, sound %.4f s\n", picture_zero, sound_zero);
  EXPECT_NEAR(picture_zero, 2.0, 1.0 / 30.0 + 1e-6);
  EXPECT_NEAR(sound_zero, picture_zero, 1.0 / 30.0 + 1e-6);

  const std::string& console = piece.output;
  EXPECT_EQ(console.find("ERROR"), std::string::npos) << console;
  EXPECT_EQ(console.find("runtime error"), std::string::npos) << console;
  EXPECT_EQ(console.find("AddressSanitizer"), std::string::npos) << console;
}

}  // namespace
