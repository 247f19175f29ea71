// Checks over the whole piece's sound, rendered once per test process, and
// the tool that writes it to a file.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "analysis.h"
#include "common/test_files.h"
#include "common/whole_program.h"
#include "piece/sound.h"

namespace {

const std::string kTool = ZEAL_BINARY_DIR "/tools/render-sound";

struct Render {
  std::vector<float> left, right;
};

int keep(void* arg, const float* left, const float* right) {
  auto* r = static_cast<Render*>(arg);
  r->left.insert(r->left.end(), left, left + PIPE_BLOCK);
  r->right.insert(r->right.end(), right, right + PIPE_BLOCK);
  return 1;
}

// The piece as the audio step renders it, block by block.
const Render& piece() {
  static Render r = [] {
    Render fresh;
    sound_render_piece(keep, &fresh);
    return fresh;
  }();
  return r;
}

void fft(std::vector<std::complex<double>>& a) {
  size_t n = a.size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    std::complex<double> step = std::polar(1.0, -2 * M_PI / len);
    for (size_t i = 0; i < n; i += len) {
      std::complex<double> w = 1;
      for (size_t k = 0; k < len / 2; ++k, w *= step) {
        auto u = a[i + k], v = a[i + k + len / 2] * w;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
      }
    }
  }
}

// Energy per MIDI note (a band of one semitone) of 2^17 samples (3 s) from `first`.
std::vector<double> note_energies(const std::vector<float>& x, size_t first) {
  const size_t n = 1 << 17;
  std::vector<std::complex<double>> a(n);
  for (size_t i = 0; i < n; ++i) a[i] = x[first + i] * (0.5 - 0.5 * std::cos(2 * M_PI * i / n));
  fft(a);
  // Each bin counts towards the notes near it, weighted by a Gaussian of
  // a third of a semitone: the grains' short windows spread every note over a few.
  std::vector<double> energy(128, 0.0);
  for (size_t bin = 1; bin < n / 2; ++bin) {
    double note = 69 + 12 * std::log2(bin * 44100.0 / n / 440.0);
    for (int m = std::max(0, (int)note - 2); m <= std::min(127, (int)note + 2); ++m)
      energy[m] += std::norm(a[bin]) * std::exp(-5.0 * (note - m) * (note - m));
  }
  return energy;
}

}  // namespace

// The tool writes exactly what the step renders, as a float WAV; it explains
// itself and reports a file it cannot write.
TEST(RenderSound, WritesWhatTheStepRendersAndReportsAnUnwritableFile) {
  TempDir dir;
  Program tool;
  ASSERT_TRUE(tool.start({kTool, dir.File("piece.wav")}));
  ASSERT_EQ(tool.wait_exit(60000), 0);
  SF_INFO info{};
  SNDFILE* file = sf_open(dir.File("piece.wav").c_str(), SFM_READ, &info);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(std::pair(info.samplerate, info.format), std::pair(44100, SF_FORMAT_WAV | SF_FORMAT_FLOAT));
  std::vector<float> frames(2 * info.frames);
  sf_readf_float(file, frames.data(), info.frames);
  sf_close(file);
  const Render& r = piece();
  ASSERT_EQ(frames.size(), 2 * r.left.size());
  for (size_t i = 0; i < r.left.size(); ++i)
    ASSERT_TRUE(frames[2 * i] == r.left[i] && frames[2 * i + 1] == r.right[i]) << i;

  ASSERT_TRUE(tool.start({kTool, "--help"}));
  EXPECT_EQ(tool.wait_exit(10000), 0);
  EXPECT_NE(tool.output.find("OUT.wav"), std::string::npos);
  ASSERT_TRUE(tool.start({kTool, "/nonexistent-directory/out.wav"}));
  EXPECT_NE(tool.wait_exit(10000), 0);
  EXPECT_EQ(tool.output.rfind("ERROR:", 0), 0u) << tool.output;
}

TEST(Piece, LastsTheWholePieceAndStaysInRange) {
  const Render& r = piece();
  ASSERT_EQ(r.left.size(), (size_t)sound_block_count() * PIPE_BLOCK);
  EXPECT_EQ(sound_block_count(), 21190);  // 123 s
  for (size_t i = 0; i < r.left.size(); ++i) {
    ASSERT_TRUE(std::isfinite(r.left[i]) && std::fabs(r.left[i]) <= 1.8181818f) << i;
    ASSERT_TRUE(std::isfinite(r.right[i]) && std::fabs(r.right[i]) <= 1.8181818f) << i;
  }
  EXPECT_EQ(rms(r.left.data(), 750 * 441 / 10), 0.0);  // no pipe before 750 ms
  EXPECT_GT(rms(&r.left[60 * 44100], 44100), 0.05);
}

// The four strongest notes in the middle of each section are its chord,
// lowered by five semitones.
TEST(Piece, MidSectionPeaksAreTheSectionsNotes) {
  const Render& r = piece();
  const int chords[5][4] = {{69, 73, 78, 64}, {71, 76, 78, 66}, {69, 73, 76, 61}, {71, 76, 79, 64}, {71, 74, 78, 64}};
  for (int section = 0; section < 20; ++section) {
    std::set<int> notes;
    for (int p = 0; p < 4; ++p) notes.insert(section == 0 ? (int[]){52, 57, 61, 40}[p] : chords[section % 5][p] - 5);
    size_t middle = (size_t)((section * 6000 + 3000) * 44.1);
    std::vector<double> e = note_energies(r.left, middle - (1 << 16));
    std::vector<int> peaks;
    for (int m = 1; m < 127; ++m)
      if (e[m] > e[m - 1] && e[m] > e[m + 1]) peaks.push_back(m);
    std::sort(peaks.begin(), peaks.end(), [&](int a, int b) { return e[a] > e[b]; });
    ASSERT_GE(peaks.size(), 4u);
    EXPECT_EQ(std::set<int>(peaks.begin(), peaks.begin() + 4), notes) << "section " << section;
  }
}

TEST(Piece, TailDecaysAfterThePipesStop) {
  const Render& r = piece();
  auto level = [&](double from_s) {
    size_t first = (size_t)(from_s * 44100);
    return rms(&r.left[first], 22050) + rms(&r.right[first], 22050);
  };
  EXPECT_GT(level(120.0), 1e-4);
  for (double s = 120.5; s < 123.0; s += 0.5) EXPECT_LT(level(s), level(s - 0.5)) << s;
  EXPECT_LT(level(122.5), 0.1 * level(118.0));
}

// Denormal numbers would slow the tail down many times: none in the output,
// the reverb buffer or the filters when the piece ends.
TEST(Piece, NoDenormalsInTheTail) {
  auto* st = static_cast<sound_state*>(calloc(1, sizeof(sound_state)));
  ASSERT_TRUE(sound_make(st));
  float left[PIPE_BLOCK], right[PIPE_BLOCK];
  size_t subnormal = 0;
  auto count = [&](float x) { subnormal += std::fpclassify(x) == FP_SUBNORMAL; };
  for (int64_t block = 0; block < sound_block_count(); ++block) {
    sound_render(st, sound_block_ms(block), left, right);
    if (sound_block_ms(block) >= 119000.0)
      for (int k = 0; k < PIPE_BLOCK; ++k) count(left[k]), count(right[k]);
  }
  const float* buffer = static_cast<const float*>(st->rev.buffer.data);
  for (int32_t i = 0; i < array_count(&st->rev.buffer, sizeof(float)); ++i) count(buffer[i]);
  for (const biquad* b : {&st->rev.low_shelf, &st->rev.high_shelf, &st->rev.high_pass})
    for (float x : {b->x1, b->x2, b->y1, b->y2}) count(x);
  for (int i = 0; i < REVERB_TAPS; ++i)
    for (const reverb_allpass& ap : reverb_tap_at(&st->rev, i)->allpass) count(ap.x1), count(ap.y1);
  EXPECT_EQ(subnormal, 0u);
  EXPECT_GT(std::fabs(buffer[st->rev.write > 0 ? st->rev.write - 1 : 0]), 0.0f);
  sound_free(st);
  free(st);
}

// Pins the rendered output: any change to the sound changes this hash.
TEST(Piece, OutputIsPinned) {
  const Render& r = piece();
  uint64_t h = sample_hash(r.left.data(), r.left.size());
  h = sample_hash(r.right.data(), r.right.size(), h);
  EXPECT_EQ(h, 0xbdc89a7e288b63ceull) << std::hex << h;
}
