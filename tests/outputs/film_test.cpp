// Films written through the film writer, read back with ffprobe and ffmpeg.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <zeal/base/stop.h>
#include "common/media.h"
#include "common/test_files.h"
#include <zeal/io/film.h>

namespace {

constexpr int kWidth = 320, kHeight = 240, kRate = 44100, kFps = 30;
constexpr int kFlashFrame = 45;  // white, while the tone starts at the same instant
constexpr double kPi = 3.14159265358979323846;

// A smooth pattern that moves with the frame number; a flash at kFlashFrame.
uint8_t pattern(int frame, int x, int y, int channel) {
  if (frame == kFlashFrame) return 255;
  double phase = (channel == 0 ? x : channel == 1 ? y : x + y) + 3.0 * frame;
  return static_cast<uint8_t>(128 + 90 * std::sin(phase / (25.0 + 10 * channel)));
}

// Draws the pattern into the film's buffer, rows bottom first as OpenGL reads
// them; `noise` covers the lowest rows with what no encoder can shrink.
void draw(film* f, int frame, bool noise = false) {
  std::span<uint8_t> buffer = film_picture_buffer(f);
  uint32_t seed = frame + 1;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      for (int c = 0; c < 4; ++c) {
        bool noisy = noise && y > kHeight * 3 / 4;
        buffer[((kHeight - 1 - y) * kWidth + x) * 4 + c] =
            c == 3 ? 255 : noisy ? (seed = seed * 1664525u + 1013904223u) >> 24 : pattern(frame, x, y, c);
      }
}

// Interleaved stereo for `frames` pictures: silence, then a tone from the flash on.
std::vector<float> sound_for(int frames) {
  const int onset = kFlashFrame * kRate / kFps;
  std::vector<float> sound(2 * frames * kRate / kFps, 0.0f);
  for (size_t t = onset; t < sound.size() / 2; ++t)
    sound[2 * t] = sound[2 * t + 1] = static_cast<float>(0.5 * std::sin(2 * kPi * 440 * (t - onset) / kRate));
  return sound;
}

film_settings small_film() { return {.width = kWidth, .height = kHeight}; }

TEST(Film, HoldsThePicturesAndTheSoundInStep) {
  TempDir dir;
  std::string path = dir.File("made/by/film/short.mp4");
  constexpr int kFrames = 90;
  std::string why;
  film* f = film_open(path.c_str(), small_film(), nullptr, &why);
  ASSERT_NE(f, nullptr) << why;
  // Sound comes from its own thread in blocks, as the disk writer hands it over.
  std::thread sound([f] {
    std::vector<float> all = sound_for(kFrames);
    for (size_t n = 0; n < all.size(); n += 1024)
      EXPECT_EQ(film_add_sound(f, std::span<const float>(all).subspan(n, std::min<size_t>(1024, all.size() - n))), 1);
  });
  for (int k = 0; k < kFrames; ++k) {
    draw(f, k);
    ASSERT_EQ(film_add_picture(f), 1);
  }
  sound.join();
  ASSERT_EQ(film_finish(f), 1);
  film_destroy(f);

  EXPECT_EQ(streams(path), "h264,320,240,30/1\naac,44100,2,0/0\n");
  // The sound encoder's priming lies before 0: both end where they were fed.
  EXPECT_EQ(ends(path), (std::vector<long>{3000, 3000}));

  // A decoded picture against the one fed.
  std::string decoded = run("ffmpeg -v error -i '" + path + "' -vf 'select=eq(n\\,20)' -frames:v 1 "
                            "-pix_fmt rgb24 -f rawvideo -");
  std::string fed;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      for (int c = 0; c < 3; ++c) fed.push_back(static_cast<char>(pattern(20, x, y, c)));
  EXPECT_GT(psnr(fed, decoded), 40.0);

  // Both streams on the film's own time line: the flash and the onset agree.
  std::string luma = run("ffmpeg -v error -copyts -i '" + path + "' -vf 'fps=30:start_time=0' "
                         "-s 8x8 -pix_fmt gray -f rawvideo -");
  int flash = -1;
  for (size_t i = 0; i + 64 <= luma.size() && flash < 0; i += 64)
    if (static_cast<uint8_t>(luma[i + 27]) > 200) flash = static_cast<int>(i / 64);
  std::vector<float> samples = decoded_sound(path);  // interleaved stereo
  auto loud = std::find_if(samples.begin(), samples.end(), [](float v) { return std::fabs(v) > 0.25f; });
  EXPECT_EQ(flash, kFlashFrame);
  ASSERT_NE(loud, samples.end());
  // Closer than the encoder's priming (23 ms), which must not shift the sound.
  EXPECT_NEAR((loud - samples.begin()) / 2 / double(kRate), kFlashFrame / double(kFps), 0.002);
}

TEST(Film, RefusesTargetsItCannotWrite) {
  TempDir dir;
  dir.Write("plain-file", "not a directory");
  Mount readonly(dir.File("readonly"), MS_RDONLY, "size=1m");
  struct Case {
    std::string path, reason;
  };
  std::vector<Case> cases = {
      {dir.File("plain-file/under/x.mp4"), "no directory could be made: Not a directory"},
      {dir.File("x.xyz"), "unknown file extension \".xyz\""},
      {dir.File("x.wav"), "the format \"wav\" (.wav) cannot hold H.264 video with AAC sound"},
      {dir.File("x"), "no file extension to tell the format"},
  };
  if (readonly.mounted) {
    cases.push_back({readonly.dir + "/x.mp4", "Read-only file system"});
    cases.push_back({readonly.dir + "/new/x.mp4", "no directory could be made: Read-only file system"});
  } else {
    printf("NOTE: no read-only file system could be mounted here: those cases are skipped\n");
  }
  for (const Case& c : cases) {
    std::string why;
    EXPECT_EQ(film_open(c.path.c_str(), small_film(), nullptr, &why), nullptr) << c.path;
    EXPECT_EQ(why, c.reason) << c.path;
    EXPECT_FALSE(std::filesystem::exists(c.path)) << c.path;
  }
}

// Destroyed without a finish, after fewer frames than one fragment holds.
TEST(Film, CutShortBeforeItsFirstKeyFrameStillPlays) {
  TempDir dir;
  std::string path = dir.File("cut.mov");
  std::string why;
  film* f = film_open(path.c_str(), small_film(), nullptr, &why);
  ASSERT_NE(f, nullptr) << why;
  for (int k = 0; k < 4; ++k) {
    draw(f, k);
    film_add_picture(f);
  }
  film_add_sound(f, sound_for(4));
  film_destroy(f);
  EXPECT_EQ(ends(path), (std::vector<long>{133, 133}));
}

TEST(Film, AFullDiskStopsTheRenderAndKeepsWhatWasWritten) {
  TempDir dir;
  Mount small(dir.File("small"), 0, "size=2m");
  if (!small.mounted) GTEST_SKIP() << "no small file system could be mounted here (needs root)";
  std::string path = small.dir + "/full.mp4";
  stop_request stop;
  film_settings settings = small_film();
  settings.key_interval = 10;
  std::string why;
  film* f = film_open(path.c_str(), settings, &stop, &why);
  ASSERT_NE(f, nullptr) << why;
  testing::internal::CaptureStdout();
  std::vector<float> silence(2 * kRate / kFps, 0.0f);
  int frames = 0;
  for (; frames < 900 && stop_raised(&stop) == 0; ++frames) {
    draw(f, frames, true);
    film_add_picture(f);
    film_add_sound(f, silence);
  }
  EXPECT_EQ(stop_wait(&stop, 10000), 1);
  EXPECT_EQ(stop_status(&stop), 1);
  EXPECT_EQ(film_add_picture(f), 0);
  EXPECT_EQ(film_add_sound(f, silence), 0);
  EXPECT_EQ(film_finish(f), 0);
  film_destroy(f);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "ERROR: cannot write film \"" + path + "\": No space left on device\n");
  std::vector<long> kept = ends(path);
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_GT(kept[0], 0);
  EXPECT_LT(kept[0], frames * 1000 / kFps);
}

}  // namespace
