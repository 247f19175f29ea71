// Films written through the film writer, read back with ffprobe and ffmpeg.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/stop.h"
#include "common/test_files.h"
#include "io/film.h"

namespace {

constexpr int kWidth = 320, kHeight = 240, kRate = 44100, kFps = 30;
constexpr int kFlashFrame = 45;  // white, while the tone starts at the same instant
constexpr double kPi = 3.14159265358979323846;

std::string run(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
    pclose(pipe);
  }
  return out;
}

// One map of ffprobe's fields per stream, video first when present.
std::vector<std::map<std::string, std::string>> probe(const std::string& path) {
  std::istringstream lines(run("ffprobe -v error -show_entries stream=codec_type,codec_name,width,"
                               "height,r_frame_rate,sample_rate,channels,start_time,duration "
                               "-of compact=p=0 '" + path + "'"));
  std::vector<std::map<std::string, std::string>> streams;
  for (std::string line; std::getline(lines, line);) {
    std::map<std::string, std::string> fields;
    std::istringstream items(line);
    for (std::string item; std::getline(items, item, '|');)
      fields[item.substr(0, item.find('='))] = item.substr(item.find('=') + 1);
    streams.push_back(fields);
  }
  return streams;
}

// A smooth pattern that moves with the frame number; a flash at kFlashFrame.
uint8_t pattern(int frame, int x, int y, int channel) {
  if (frame == kFlashFrame) return 255;
  double phase = (channel == 0 ? x : channel == 1 ? y : x + y) + 3.0 * frame;
  return static_cast<uint8_t>(128 + 90 * std::sin(phase / (25.0 + 10 * channel)));
}

void draw(film* f, int frame) {
  std::span<uint8_t> buffer = film_picture_buffer(f);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      uint8_t* p = &buffer[(static_cast<size_t>(kHeight - 1 - y) * kWidth + x) * 4];  // bottom first
      for (int c = 0; c < 3; ++c) p[c] = pattern(frame, x, y, c);
      p[3] = 255;
    }
}

// Silence, then a tone from the flash on, in blocks as the disk writer hands them over.
void feed_sound(film* f, int frames) {
  const int64_t total = static_cast<int64_t>(frames) * kRate / kFps;
  const int64_t onset = static_cast<int64_t>(kFlashFrame) * kRate / kFps;
  std::vector<float> block(2 * 512);
  for (int64_t n = 0; n < total; n += 512) {
    int64_t count = std::min<int64_t>(512, total - n);
    for (int64_t i = 0; i < count; ++i) {
      int64_t t = n + i;
      float v = t < onset ? 0.0f : static_cast<float>(0.5 * std::sin(2 * kPi * 440 * (t - onset) / kRate));
      block[2 * i] = block[2 * i + 1] = v;
    }
    ASSERT_EQ(film_add_sound(f, std::span<const float>(block.data(), 2 * count)), 1);
  }
}

film_settings small_film() {
  film_settings s;
  s.width = kWidth;
  s.height = kHeight;
  return s;
}

double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) sum += (a[i] - b[i]) * (a[i] - b[i]);
  return 10 * std::log10(255.0 * 255.0 * a.size() / std::max(sum, 1e-9));
}

TEST(Film, HoldsThePicturesAndTheSoundInStep) {
  TempDir dir;
  std::string path = dir.File("made/by/film/short.mp4");
  constexpr int kFrames = 90;
  std::string why;
  film* f = film_open(path.c_str(), small_film(), nullptr, &why);
  ASSERT_NE(f, nullptr) << why;
  std::thread sound([f] { feed_sound(f, kFrames); });
  for (int k = 0; k < kFrames; ++k) {
    draw(f, k);
    ASSERT_EQ(film_add_picture(f), 1);
  }
  sound.join();
  ASSERT_EQ(film_finish(f), 1);
  film_destroy(f);

  auto streams = probe(path);
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[0]["codec_name"], "h264");
  EXPECT_EQ(streams[0]["width"] + "x" + streams[0]["height"], "320x240");
  EXPECT_EQ(streams[0]["r_frame_rate"], "30/1");
  EXPECT_EQ(std::stod(streams[0]["start_time"]), 0.0);
  EXPECT_NEAR(std::stod(streams[0]["duration"]), 3.0, 1e-3);
  EXPECT_EQ(streams[1]["codec_name"], "aac");
  EXPECT_EQ(streams[1]["sample_rate"], "44100");
  EXPECT_EQ(streams[1]["channels"], "2");
  // The encoder's priming lies before 0: the sound ends where it was fed.
  EXPECT_NEAR(std::stod(streams[1]["start_time"]) + std::stod(streams[1]["duration"]), 3.0, 1e-3);

  // A decoded picture against the one fed.
  std::string decoded = run("ffmpeg -v error -i '" + path + "' -vf 'select=eq(n\\,20)' -frames:v 1 "
                            "-pix_fmt rgb24 -f rawvideo -");
  std::vector<uint8_t> fed;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      for (int c = 0; c < 3; ++c) fed.push_back(pattern(20, x, y, c));
  ASSERT_EQ(decoded.size(), fed.size());
  EXPECT_GT(psnr(fed, std::vector<uint8_t>(decoded.begin(), decoded.end())), 40.0);

  // Both streams on the film's own time line: the flash and the onset agree.
  std::string luma = run("ffmpeg -v error -copyts -i '" + path + "' -vf 'fps=30:start_time=0' "
                         "-s 8x8 -pix_fmt gray -f rawvideo -");
  int flash = -1;
  for (size_t i = 0; i + 64 <= luma.size() && flash < 0; i += 64)
    if (static_cast<uint8_t>(luma[i + 27]) > 200) flash = static_cast<int>(i / 64);
  std::string pcm = run("ffmpeg -v error -copyts -i '" + path + "' -af "
                        "'aresample=async=1:min_hard_comp=0:first_pts=0' -ac 1 -f f32le -");
  std::vector<float> samples(pcm.size() / 4);
  memcpy(samples.data(), pcm.data(), samples.size() * 4);
  auto loud = std::find_if(samples.begin(), samples.end(), [](float v) { return std::fabs(v) > 0.25f; });
  ASSERT_GE(flash, 0);
  ASSERT_NE(loud, samples.end());
  double onset_s = (loud - samples.begin()) / double(kRate);
  EXPECT_NEAR(onset_s, flash / double(kFps), 1.0 / kFps) << "flash at frame " << flash;
}

// A file system of the test's own, let go at the end; mounting needs root.
struct Mount {
  std::string dir;
  bool mounted = false;
  Mount(const std::string& path, unsigned long flags, const char* options) : dir(path) {
    std::filesystem::create_directories(dir);
    mounted = mount("tmpfs", dir.c_str(), "tmpfs", flags, options) == 0;
  }
  ~Mount() {
    if (mounted) umount(dir.c_str());
  }
};

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
  feed_sound(f, 4);
  film_destroy(f);
  auto streams = probe(path);
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_NEAR(std::stod(streams[0]["duration"]), 4.0 / kFps, 1e-3);
  EXPECT_NEAR(std::stod(streams[1]["start_time"]) + std::stod(streams[1]["duration"]), 4.0 / kFps, 1e-3);
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
  // Noise in a band: the encoder cannot shrink it, so the disk fills soon.
  uint32_t noise = 1;
  std::vector<float> silence(2 * kRate / kFps, 0.0f);
  int frames = 0;
  for (; frames < 900 && stop_raised(&stop) == 0; ++frames) {
    draw(f, frames);
    std::span<uint8_t> picture = film_picture_buffer(f);
    for (size_t i = 0; i < picture.size() / 4; ++i) picture[i] = static_cast<uint8_t>((noise = noise * 1664525u + 1013904223u) >> 24);
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
  auto streams = probe(path);
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[0]["codec_name"], "h264");
  double seconds = std::stod(streams[0]["duration"]);
  EXPECT_GT(seconds, 0.0);
  EXPECT_LT(seconds, frames / double(kFps));
  printf("%d frames fed, %.3f s kept\n", frames, seconds);
}

}  // namespace
