// The whole piece rendered to disk by the real program under the virtual X
// server: it must end by itself with status 0 and leave a WAV of the piece and
// one TGA per frame, black in the lead-in and at the end, with the box behind
// the fish in between, and picture and sound starting together.
//
// Long (minutes): the frames take about 14 GB and are deleted once checked.
// ZEAL_RENDER_DIR=<dir> checks an existing rendering instead of making one.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sndfile.h>
#include <stb_image.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/thread.h"
#include "piece/sound.h"

namespace {

struct Picture {
  int width = 0, height = 0;
  std::vector<unsigned char> rgba;
  bool loaded() const { return !rgba.empty(); }
  int max_channel() const {
    int m = 0;
    for (size_t i = 0; i < rgba.size(); i += 4)
      m = std::max({m, int(rgba[i]), int(rgba[i + 1]), int(rgba[i + 2])});
    return m;
  }
  const unsigned char* at(int x, int y) const { return &rgba[(size_t(y) * width + x) * 4]; }
};

Picture load(const std::string& path) {
  Picture p;
  int n = 0;
  unsigned char* data = stbi_load(path.c_str(), &p.width, &p.height, &n, 4);
  if (data != nullptr) {
    p.rgba.assign(data, data + size_t(p.width) * p.height * 4);
    stbi_image_free(data);
  }
  return p;
}

std::vector<int> frame_numbers(const std::string& dir) {
  std::vector<int> numbers;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return numbers;
  while (dirent* e = readdir(d)) {
    int number = -1;
    char tail[8] = {};
    if (strlen(e->d_name) == strlen("vv-plume-00000000.tga") &&
        sscanf(e->d_name, "vv-plume-%8d%5s", &number, tail) == 2 && strcmp(tail, ".tga") == 0)
      numbers.push_back(number);
  }
  closedir(d);
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}

std::string frame_path(const std::string& dir, int number) {
  char name[64];
  snprintf(name, sizeof(name), "/vv-plume-%08d.tga", number);
  return dir + name;
}

void remove_rendering(const std::string& dir) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] != '.') unlinkat(dirfd(d), e->d_name, 0);
  }
  closedir(d);
  rmdir(dir.c_str());
}

// Runs the program; its exit status (128 + signal when killed).
int render(const std::string& dir, double* seconds) {
  std::string log = dir + "/console.log";
  double t0 = get_milliseconds();
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    FILE* out = freopen(log.c_str(), "w", stdout);
    (void)out;
    dup2(fileno(stdout), 2);
    std::string program = std::string(ZEAL_BINARY_DIR) + "/vv-plume";
    execl(program.c_str(), "vv-plume", "--no-configurator", "--diskwriter", dir.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  *seconds = (get_milliseconds() - t0) / 1000.0;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Deletes a rendering of our own however the checks end.
struct Cleanup {
  std::string dir;
  ~Cleanup() {
    if (!dir.empty()) remove_rendering(dir);
  }
};

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
  std::string dir;
  Cleanup cleanup;
  if (const char* given = getenv("ZEAL_RENDER_DIR")) {
    dir = given;
  } else {
    char pattern[] = "/tmp/vv-plume-render-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    cleanup.dir = dir;
    double seconds = 0;
    int status = render(dir, &seconds);
    printf("render wall time: %.1f s\n", seconds);
    EXPECT_EQ(status, 0);
  }
  std::vector<int> numbers = frame_numbers(dir);

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
    Picture p = load(frame_path(dir, n));
    ASSERT_TRUE(p.loaded()) << n;
    EXPECT_EQ(p.width, 1280);
    EXPECT_EQ(p.height, 720);
    double t = (n - first) / 30.0;  // seconds from the first frame
    if (t < 1.9 || t > 122.5) {
      EXPECT_LE(p.max_channel(), 2) << "frame " << n << " should be black";
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
    if (load(frame_path(dir, n)).max_channel() > 2) first_lit = n;
  ASSERT_GE(first_lit, 0);
  double picture_zero = (first_lit - first) / 30.0;
  double sound_zero = double(first_sound - first_sound_of_piece()) / 44100.0;
  printf("scene time 0: picture %.4f s, sound %.4f s\n", picture_zero, sound_zero);
  EXPECT_NEAR(picture_zero, 2.0, 1.0 / 30.0 + 1e-6);
  EXPECT_NEAR(sound_zero, picture_zero, 1.0 / 30.0 + 1e-6);

  std::string console;
  if (FILE* f = fopen((dir + "/console.log").c_str(), "r")) {
    char line[512];
    while (fgets(line, sizeof(line), f)) console += line;
    fclose(f);
  }
  EXPECT_EQ(console.find("ERROR"), std::string::npos) << console;
  EXPECT_EQ(console.find("runtime error"), std::string::npos) << console;
  EXPECT_EQ(console.find("AddressSanitizer"), std::string::npos) << console;
}

}  // namespace
