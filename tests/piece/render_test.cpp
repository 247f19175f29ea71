// The piece rendered by the real program with no X server (through EGL).
//
// Whole: it must end by itself with status 0 and leave a film, a WAV of the
// piece and one TGA per frame, black in the lead-in and at the end, with the
// box behind the fish in between, picture and sound starting together, the
// film holding the same pictures and sound, and a range of the end cut from
// it exactly. Long (about ten minutes): the frames take about 8 GB and are
// deleted once checked. ZEAL_RENDER_DIR=<dir> checks an existing rendering
// (made with --film <dir>/vv-plume.mp4 --diskwriter <dir>) instead.
//
// In ranges: drafts of the first seconds, whole and in two ranges, agree
// byte for byte and sample for sample.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/media.h"
#include "common/whole_program.h"
#include "piece/sound.h"

namespace {

const std::string kPiece = ZEAL_BINARY_DIR "/vv-plume";

// No X display: renders draw through EGL, as on a server or a cluster node.
const std::vector<std::string> kNoX = {"DISPLAY"};

// Renders with `args` after --no-configurator; its exit status.
int render(std::vector<std::string> args, std::string* output = nullptr, const std::vector<std::string>& env = kNoX) {
  args.insert(args.begin(), {kPiece, "--no-configurator"});
  Program piece;
  if (!piece.start(args, env, true)) return -2;
  int status = piece.wait_exit(3600000);
  if (output != nullptr) *output = piece.output;
  return status;
}

// The samples of a WAV file, interleaved, as written.
std::vector<float> wav_samples(const std::string& path) {
  SF_INFO info{};
  std::vector<float> samples;
  if (SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info)) {
    samples.resize(static_cast<size_t>(info.frames) * info.channels);
    sf_readf_float(file, samples.data(), info.frames);
    sf_close(file);
  }
  return samples;
}

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

TEST(Render, WholePieceToFilmAndDisk) {
  TempDir made;  // deleted with the frames however the checks end
  const char* given = getenv("ZEAL_RENDER_DIR");
  std::string dir = given != nullptr ? given : made.path;
  std::string film = dir + "/vv-plume.mp4", console;
  if (given == nullptr) {
    double t0 = get_milliseconds();
    EXPECT_EQ(render({"--film", film, "--diskwriter", dir}, &console), 0) << console;
    printf("render wall time: %.1f s\n", (get_milliseconds() - t0) / 1000.0);
  }
  std::vector<int> numbers = numbered_frames(dir, "vv-plume");

  // The sound: 2 s of lead-in and 123 s, in stereo.
  std::vector<float> sound = wav_samples(dir + "/vv-plume.wav");
  EXPECT_NEAR(sound.size() / 2 / 44100.0, 125.0, 1.0);
  auto loud = std::find_if(sound.begin(), sound.end(), [](float v) { return v != 0.0f; });
  ASSERT_NE(loud, sound.end());
  int64_t first_sound = (loud - sound.begin()) / 2;

  // 125 s of frames at 30 a second, numbered from 0 without gaps.
  ASSERT_EQ(numbers.size(), 3750u);
  EXPECT_EQ(numbers.front(), 0);
  EXPECT_EQ(numbers.back(), 3749);

  std::vector<int> sample;
  for (int n = 0; n < 3750; n += 100) sample.push_back(n);
  sample.push_back(3749);
  int boxed = 0, in_piece = 0;
  for (int n : sample) {
    Picture p(frame_name(dir, "vv-plume", n));
    ASSERT_TRUE(p.loaded()) << n;
    EXPECT_EQ(p.width, 1280);
    EXPECT_EQ(p.height, 720);
    double t = n / 30.0;
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
  for (int n = 0; n <= 120 && first_lit < 0; ++n)
    if (max_channel(Picture(frame_name(dir, "vv-plume", n))) > 2) first_lit = n;
  ASSERT_GE(first_lit, 0);
  double picture_zero = first_lit / 30.0;
  double sound_zero = double(first_sound - first_sound_of_piece()) / 44100.0;
  printf("scene time 0: picture %.4f s, sound %.4f s\n", picture_zero, sound_zero);
  EXPECT_NEAR(picture_zero, 2.0, 1.0 / 30.0 + 1e-6);
  EXPECT_NEAR(sound_zero, picture_zero, 1.0 / 30.0 + 1e-6);

  // The film: the same pictures and sound, as a film holds them.
  EXPECT_EQ(streams(film), "h264,1280,720,30/1\naac,44100,2,0/0\n");
  std::vector<long> film_ends = ends(film);
  ASSERT_EQ(film_ends.size(), 2u);
  EXPECT_EQ(film_ends[0], 125000);
  EXPECT_NEAR(film_ends[1], sound.size() / 2 * 1000.0 / 44100.0, 24.0);
  for (int n : {100, 900, 2000, 3300}) EXPECT_GT(psnr(luma(film, n), luma(frame_name(dir, "vv-plume", n))), 42.0) << n;
  std::vector<float> heard = decoded_sound(film);
  for (size_t at : {5 * 44100, 30 * 44100, 100 * 44100}) EXPECT_GT(likeness(heard, sound, 2 * at, 2 * (at + 44100)), 0.99);

  // The end, rendered as a range on its own: the same frames and the sound
  // from the range's first frame on, exactly.
  TempDir end;
  EXPECT_EQ(render({"--diskwriter", end.path, "--range", "3600:"}, &console), 0) << console;
  EXPECT_EQ(numbered_frames(end.path, "vv-plume").size(), 150u);
  for (int n = 3600; n < 3750; n += 7)
    EXPECT_TRUE(read_file(frame_name(end.path, "vv-plume", n)) == read_file(frame_name(dir, "vv-plume", n))) << n;
  std::vector<float> tail = wav_samples(end.path + "/vv-plume.wav");
  EXPECT_TRUE(tail == std::vector<float>(sound.begin() + 2 * 3600 * 1470, sound.end()));

  EXPECT_EQ(console.find("ERROR"), std::string::npos) << console;
  EXPECT_EQ(console.find("runtime error"), std::string::npos) << console;
  EXPECT_EQ(console.find("AddressSanitizer"), std::string::npos) << console;
}

// Drafts of the first 280 frames, whole and as [0, 200) and [200, 280), the
// second across the first change of chord (scene time 6 s): each range's
// frames are the whole rendering's, and the two sounds one after the other
// are its sound, sample for sample.
TEST(Render, RangesAreCutsOfAWholeRendering) {
  TempDir whole, first, second;
  std::string console;
  ASSERT_EQ(render({"--draft", "--diskwriter", whole.path, "--range", "0:280"}, &console), 0) << console;
  ASSERT_EQ(render({"--draft", "--diskwriter", first.path, "--range", "0:200"}, &console), 0) << console;
  ASSERT_EQ(render({"--draft", "--diskwriter", second.path, "--range", "200:280"}, &console), 0) << console;
  const std::string name = "vv-plume-draft";
  EXPECT_EQ(numbered_frames(first.path, name).size(), 200u);
  EXPECT_EQ(numbered_frames(second.path, name).size(), 80u);
  Picture draft(frame_name(whole.path, name, 150));
  EXPECT_EQ(std::pair(draft.width, draft.height), std::pair(640, 360));
  for (int n = 0; n < 280; ++n) {
    const TempDir& part = n < 200 ? first : second;
    ASSERT_TRUE(read_file(frame_name(part.path, name, n)) == read_file(frame_name(whole.path, name, n))) << n;
  }
  std::vector<float> joined = wav_samples(first.File(name + ".wav"));
  std::vector<float> rest = wav_samples(second.File(name + ".wav"));
  EXPECT_EQ(joined.size(), 2u * 200 * 1470);
  joined.insert(joined.end(), rest.begin(), rest.end());
  EXPECT_TRUE(joined == wav_samples(whole.File(name + ".wav")));
  EXPECT_EQ(joined.size(), 2u * 280 * 1470);
}

}  // namespace

// With no X server at all a render draws through EGL, and gives the files a
// window on the virtual X server gives, byte for byte and sample for sample:
// in the lead-in, in the densest part and as a draft. A range into a film
// holds its frames.
TEST(Render, WithoutAnXServerTheSameFilesAsInAWindow) {
  struct Case {
    const char* range;
    bool draft;
  };
  for (const Case& c : {Case{"30:36", false}, Case{"3000:3006", false}, Case{"1780:1786", true}}) {
    SCOPED_TRACE(c.range);
    TempDir egl, glx;
    std::vector<std::string> args = {"--range", c.range};
    if (c.draft) args.push_back("--draft");
    std::string out;
    auto with = [&args](std::vector<std::string> more) {
      more.insert(more.begin(), args.begin(), args.end());
      return more;
    };
    ASSERT_EQ(render(with({"--diskwriter", egl.path}), &out), 0) << out;
    EXPECT_NE(out.find("renderer: "), std::string::npos) << out;
    EXPECT_NE(out.find("(EGL"), std::string::npos) << out;
    ASSERT_EQ(render(with({"--gl", "glx", "--diskwriter", glx.path}), &out, {}), 0) << out;
    EXPECT_NE(out.find("(GLX"), std::string::npos) << out;
    const char* stem = c.draft ? "vv-plume-draft" : "vv-plume";
    std::vector<int> frames = numbered_frames(egl.path, stem);
    ASSERT_EQ(frames.size(), 6u);
    EXPECT_EQ(numbered_frames(glx.path, stem), frames);
    for (int n : frames)
      EXPECT_TRUE(read_file(frame_name(egl.path, stem, n)) == read_file(frame_name(glx.path, stem, n))) << n;
    std::string wav = std::string("/") + stem + ".wav";
    EXPECT_TRUE(read_file(egl.path + wav) == read_file(glx.path + wav));
  }
  // Without --no-configurator: with no window system the window is skipped
  // and the command line stands.
  TempDir dir;
  std::string film = dir.File("f.mp4");
  Program piece;
  ASSERT_TRUE(piece.start({kPiece, "--film", film, "--range", "1780:1840"}, kNoX, true));
  ASSERT_EQ(piece.wait_exit(600000), 0) << piece.output;
  EXPECT_NE(piece.output.find("the configuration window is skipped"), std::string::npos) << piece.output;
  std::vector<long> film_ends = ends(film);
  ASSERT_EQ(film_ends.size(), 2u);
  EXPECT_NEAR(film_ends[0], 60 * 1000.0 / 30.0, 1.0);
}
