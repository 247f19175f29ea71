// Rendering targets as a user meets them, through the chord example: a film
// and files from one rendering, in lock step, targets that cannot be written, renderings
// stopped half way, and a disk that fills up.
#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>

#include <cmath>
#include <string>
#include <vector>

#include "common/run_app.h"
#include "common/media.h"
#include "common/test_files.h"
#include "common/whole_program.h"
#include "common/x_input.h"

namespace {

const std::string kChord = ZEAL_BINARY_DIR "/examples/chord";

// Sample frames of a WAV file, or -1 when libsndfile cannot read it.
long wav_frames(const std::string& path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr) return -1;
  sf_close(file);
  return static_cast<long>(info.frames);
}

// Waits until `dir` holds `count` frames of the chord, or the program ends.
bool wait_for_frames(Program& chord, const std::string& dir, size_t count) {
  for (double end = get_milliseconds() + 60000; get_milliseconds() < end; chord.read_for(20))
    if (numbered_frames(dir, "chord").size() >= count || !chord.running()) return chord.running();
  return false;
}

// Mean of all colour samples of a picture, 0 to 255.
double brightness(const Picture& p) {
  double sum = 0;
  for (size_t i = 0; i < p.rgba.size(); i += 4) sum += p.rgba[i] + p.rgba[i + 1] + p.rgba[i + 2];
  return sum / (p.rgba.size() / 4 * 3);
}

double correlation(const std::vector<double>& a, const std::vector<double>& b) {
  double n = static_cast<double>(a.size()), ma = 0, mb = 0;
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

// One rendering gives the film and the files; the film holds the same
// pictures and sound from the same instant, and two renderings give the
// same pictures byte for byte. (The chord's own sound runs on while the
// clock starts, so only the piece's sound is the same from one rendering to
// the next.)
TEST(RenderTargets, FilmAndFilesFromOneRendering) {
  TempDir dir;
  std::string film = dir.File("new/deeper/chord.mp4"), files = dir.File("files");
  Program chord;
  ASSERT_TRUE(chord.start({kChord, "--film", film, "--diskwriter", files}));
  ASSERT_EQ(chord.wait_exit(120000), 0) << chord.output;

  std::vector<int> frames = numbered_frames(files, "chord");
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames.front(), 0) << "numbered from the first frame the clock rolled";
  EXPECT_EQ(read_file(files + "/chord.wav").find("PEAK"), std::string::npos) << "no time of writing";
  EXPECT_EQ(streams(film), "h264,1280,720,30/1\naac,44100,2,0/0\n");
  std::vector<long> film_ends = ends(film);
  ASSERT_EQ(film_ends.size(), 2u);
  EXPECT_NEAR(film_ends[0], frames.size() * 1000.0 / 30.0, 1.0);
  EXPECT_NEAR(film_ends[1], wav_frames(files + "/chord.wav") * 1000.0 / 44100.0, 24.0);

  // The film's sound is the WAV's, in time: compared over the swell.
  std::vector<float> heard = decoded_sound(film), written = decoded_sound(files + "/chord.wav");
  ASSERT_GT(written.size(), 44100u * 2);
  EXPECT_GT(likeness(heard, written, 22050 * 2, written.size()), 0.99);

  // The files: pictures numbered without gaps, 30 for each second of sound,
  // at most the last one undrawn (the frame the display ended on). The
  // rings glow with the chord's loudness, so the pictures' brightness
  // follows the sound level frame by frame, in lock step within 4 frames
  // (the pictures are stamped with when they will be seen).
  EXPECT_EQ(frames.back() + 1, static_cast<int>(frames.size())) << "gaps";
  EXPECT_NEAR(frames.size() / 30.0, written.size() / 2 / 44100.0, 3.0 / 30.0);
  std::vector<double> light, level;
  for (int n : frames) {
    Picture p(frame_name(files, "chord", n));
    EXPECT_EQ(std::pair(p.width, p.height), std::pair(1280, 720)) << n;
    if (double b = brightness(p); b > 0) light.push_back(b);
  }
  EXPECT_GE(light.size() + 1, frames.size());
  for (size_t k = 0; (k + 1) * 2940 <= written.size(); ++k) {
    double sum = 0;
    for (size_t i = k * 2940; i < (k + 1) * 2940; i += 2) sum += written[i] * written[i];
    level.push_back(std::sqrt(sum / 1470));
  }
  EXPECT_LT(level.front(), 0.005);  // fading in from silence
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
    if (double c = correlation(a, b); c > best) best = c, best_lag = lag;
  }
  printf("pictures lead the sound by %d frames (correlation %.3f)\n", best_lag, best);
  EXPECT_GT(best, 0.98);
  EXPECT_LE(std::abs(best_lag), 4);

  TempDir again;
  ASSERT_TRUE(chord.start({kChord, "--diskwriter", again.path}));
  ASSERT_EQ(chord.wait_exit(120000), 0) << chord.output;
  EXPECT_EQ(numbered_frames(again.path, "chord"), frames);
  for (const char* name : {"chord-00000000.tga", "chord-00000060.tga"})
    EXPECT_TRUE(again.Read(name) == read_file(files + "/" + name)) << name;
}

// A target that cannot be written, or a command line that cannot be used,
// ends the program with one ERROR line before any window opens.
TEST(RenderTargets, WhatCannotBeWrittenEndsBeforeAnythingIsDrawn) {
  TempDir dir;
  dir.Write("plain-file", "not a directory");
  Mount readonly(dir.File("readonly"), MS_RDONLY, "size=1m");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string error;  // the line, or its beginning where it names what this machine has
    std::vector<std::string> env = {};
  };
  std::vector<Case> cases = {
      {{"--diskwriter", dir.File("plain-file/under")}, 1,
       "ERROR: cannot write into \"" + dir.File("plain-file/under") + "\": Not a directory"},
      {{"--film", dir.File("x.xyz")}, 1,
       "ERROR: cannot write film \"" + dir.File("x.xyz") + "\": unknown file extension \".xyz\""},
      // Command lines the runtime refuses (all of them in the app's tests).
      {{"--diskwritter", dir.File("out")}, 2, "ERROR: unknown option --diskwritter"},
      {{"--film", dir.File("x.mp4"), "extra", "--range", "0:10"}, 2, "ERROR: unexpected argument \"extra\""},
      // Drawing with no window system: EGL without a driver, a device that
      // is not there, and what cannot be asked of it.
      {{"--film", dir.File("x.mp4"), "--gl", "egl"}, 1, "ERROR: cannot render through EGL: ",
       {"__EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent/vendor.json"}},
      {{"--film", dir.File("x.mp4"), "--gl-device", "7"}, 1, "ERROR: cannot render through EGL: no EGL device 7"},
      {{"--diskwriter", dir.File("out")}, 1, "ERROR: ZEAL_GL_DEVICE is \"gpu\", not an EGL device number",
       {"ZEAL_GL_DEVICE=gpu", "DISPLAY"}},
      {{"--gl", "egl"}, 2, "ERROR: --gl egl and --gl-device go with --film or --diskwriter"},
      {{"--film", dir.File("x.mp4"), "--gl", "vulkan"}, 2, "ERROR: --gl takes egl or glx, not \"vulkan\""},
  };
  if (readonly.mounted)
    cases.push_back({{"--diskwriter", readonly.dir + "/new"}, 1,
                     "ERROR: cannot write into \"" + readonly.dir + "/new\": Read-only file system"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    std::vector<std::string> argv = {kChord};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    Program chord;
    ASSERT_TRUE(chord.start(argv, c.env));
    EXPECT_EQ(chord.wait_exit(20000), c.status);
    std::vector<std::string> errors = lines_starting(chord.output, "ERROR:");
    ASSERT_EQ(errors.size(), 1u) << chord.output;
    EXPECT_EQ(("ERROR: " + errors[0]).substr(0, c.error.size()), c.error);
    EXPECT_EQ(chord.output.find("trying out"), std::string::npos) << "a window was opened";
    EXPECT_EQ(c.status == 2, chord.output.find("usage:") != std::string::npos);
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 2) << "files were made";
}

// SIGINT or Escape half way: the program ends in order, with a film that
// plays and files that agree with it.
TEST(RenderTargets, StoppedHalfWayTheFilmStillPlays) {
  for (const char* how : {"SIGINT", "Escape"}) {
    SCOPED_TRACE(how);
    TempDir dir;
    std::string film = dir.File("chord.mp4");
    XInput x;
    Program chord;
    ASSERT_TRUE(chord.start({kChord, "--film", film, "--diskwriter", dir.path}));
    Window window = x.next_window(chord, 20000);
    ASSERT_TRUE(wait_for_frames(chord, dir.path, 30)) << chord.output;
    if (std::string(how) == "SIGINT") kill(chord.pid, SIGINT);
    else ASSERT_TRUE(x.key(window, "Escape"));
    EXPECT_EQ(chord.wait_exit(20000), 0) << chord.output;
    size_t frames = numbered_frames(dir.path, "chord").size();
    EXPECT_LT(frames, 110u) << "stopped before the end";
    std::vector<long> film_ends = ends(film);
    ASSERT_EQ(film_ends.size(), 2u);
    EXPECT_NEAR(film_ends[0], frames * 1000.0 / 30.0, 1.0);
    EXPECT_NEAR(film_ends[1], wav_frames(dir.File("chord.wav")) * 1000.0 / 44100.0, 24.0);
  }
}

// A disk that fills up: an ERROR line naming the file (the sound's too, if
// its last write fails as well), an orderly stop with status 1, and what was
// written still readable.
TEST(RenderTargets, AFullDiskEndsTheRenderingInOrder) {
  TempDir dir;
  Mount small(dir.File("small"), 0, "size=1m");
  if (!small.mounted) GTEST_SKIP() << "no small file system could be mounted here (needs root)";
  Program chord;
  ASSERT_TRUE(chord.start({kChord, "--diskwriter", small.dir}));
  EXPECT_EQ(chord.wait_exit(60000), 1) << chord.output;
  std::vector<std::string> errors = lines_starting(chord.output, "ERROR:");
  ASSERT_GE(errors.size(), 1u) << chord.output;
  EXPECT_LE(errors.size(), 2u) << chord.output;
  for (const std::string& error : errors) {
    EXPECT_NE(error.find(small.dir + "/chord"), std::string::npos) << error;
    EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
  }
  EXPECT_GT(wav_frames(small.dir + "/chord.wav"), 0);
  EXPECT_LT(numbered_frames(small.dir, "chord").size(), 100u) << "stopped before the end";
}
