#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "common/test_files.h"
#include "piece/ftable.h"

namespace {

float At(const ftable& t, int row, int column) { return static_cast<float*>(t.rows.data)[row * t.width + column]; }

std::string Printed(const std::function<void()>& call) {
  testing::internal::CaptureStdout();
  call();
  return testing::internal::GetCapturedStdout();
}

// Loads `bytes` through an array stream.
int LoadBytes(ftable* t, const std::string& bytes) {
  array a{};
  array_append(&a, bytes.data(), static_cast<int32_t>(bytes.size()));
  stream* s = nullptr;
  stream_make_on_array(&s, STREAM_READ, &a);
  int result = 0;
  Printed([&] { result = ftable_make_on_stream(t, &s); });
  stream_destroy(&s);
  array_reset(&a);
  return result;
}

// The frames libsndfile decodes from the file at `path`, read as the loader
// reads them; empty when it cannot open the file.
std::vector<float> DiskFrames(const std::string& path, SF_INFO* info) {
  *info = SF_INFO{};
  std::vector<float> frames;
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, info);
  if (f == nullptr) return frames;
  const sf_count_t block = std::max(1, 262144 * 2 / info->channels);
  for (sf_count_t got = 1; got > 0;) {
    size_t done = frames.size();
    frames.resize(done + block * info->channels);
    got = sf_readf_float(f, frames.data() + done, block);
    frames.resize(done + std::max<sf_count_t>(got, 0) * info->channels);
  }
  sf_close(f);
  return frames;
}

// Loads the file at `path` from bytes in memory and expects what libsndfile
// reads from the file itself.
void ExpectLoadsAsFromDisk(const std::string& path) {
  SF_INFO info;
  std::vector<float> disk = DiskFrames(path, &info);
  ASSERT_FALSE(disk.empty());
  ftable t{};
  EXPECT_EQ(LoadBytes(&t, read_file(path)), 0);
  EXPECT_EQ(std::pair(t.width, t.rate), std::pair(info.channels, static_cast<float>(info.samplerate)));
  ASSERT_EQ(t.rows.size, static_cast<int32_t>(disk.size() * sizeof(float)));
  EXPECT_EQ(memcmp(t.rows.data, disk.data(), disk.size() * sizeof(float)), 0);
  ftable_free(&t);
}

}  // namespace

// Channels outside 1 .. width - 1 are not stored anywhere.
TEST(Ftable, PointsOutsideTheChannelsAreIgnored) {
  ftable t{};
  t.width = 3;
  ftable_add_point(&t, 1, 0, 10);
  for (int channel : {0, 3, -1}) ftable_add_point(&t, channel, 7, 7);
  EXPECT_EQ(ftable_rows(&t), 1);
  EXPECT_EQ(At(t, 0, 1), 10);
  ftable_free(&t);
}

// A table without rows has no keys to clamp to; one with a single row has
// nothing to play.
TEST(Ftable, EmptyTablesMakeNoSequence) {
  ftable t{};
  t.width = 5;
  ftable_env env{};
  ftable_env_make(&env, &t);
  EXPECT_EQ(env.valid, 0);
  EXPECT_EQ(Printed([&] { EXPECT_FALSE(ftable_env_check(&env)); }), "ERROR: Sequence has failed [error: 0]\n");
  ftable_add_point(&t, 1, 500, 1);
  ftable_env_make(&env, &t);
  EXPECT_EQ(env.valid, 1);
  EXPECT_EQ(Printed([&] { EXPECT_FALSE(ftable_env_check(&env)); }), "ERROR: Sequence is empty\n");
  ftable_env_free(&env);
  ftable_free(&t);
}

TEST(Ftable, ReadersThatCannotAdvanceGiveUpInsteadOfHanging) {
  ftable t{};
  t.width = 2;
  for (float key : {0.0f, 6000.0f, 60000.0f}) ftable_add_point(&t, 1, key, key / 1000);
  ftable_env env{};
  ftable_env_make(&env, &t);
  auto* reader = static_cast<ftable_range*>(array_element(&env.readers, sizeof(ftable_range), 1));
  float row[2] = {};
  env.position = 200000;  // a loop whose keys all lie behind the position
  reader->flags = FTABLE_LOOP;
  EXPECT_FALSE(ftable_env_range_channelfront(&env, 1, row));
  reader->loop_start = 10;  // a loop beyond the rows
  EXPECT_FALSE(ftable_env_range_channelfront(&env, 1, row));
  reader->flags = 0;
  reader->speed = 0;
  env.position = 3000;
  EXPECT_FALSE(ftable_env_range_channelfront(&env, 1, row));
  ftable_env_free(&env);
  ftable_free(&t);
}

// Sound files, the hostile inputs, and files cut or broken:
// the valid ones load every frame, from a file and from bytes alike; the
// others leave an empty table and an "ERROR:" line naming them.
TEST(Ftable, SoundFilesLoadWholeOrFailClearly) {
  TempDir dir;
  // Frame k holds k / 65536 on the left and its negative on the right; more
  // frames than one read block.
  const int kRamp = 300000;
  SF_INFO info{0, 22050, 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0, 0};
  std::vector<float> frames;
  for (int k = 0; k < kRamp; ++k) frames.insert(frames.end(), {k / 65536.0f, -k / 65536.0f});
  SNDFILE* f = sf_open(dir.File("ramp.wav").c_str(), SFM_WRITE, &info);
  sf_writef_float(f, frames.data(), kRamp);
  sf_close(f);
  std::string ramp = dir.Read("ramp.wav");
  info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
  f = sf_open(dir.File("ramp.flac").c_str(), SFM_WRITE, &info);
  sf_writef_float(f, frames.data(), kRamp);
  sf_close(f);
  std::string flac = dir.Read("ramp.flac");
  const std::string hostile = std::string(ZEAL_SOURCE_DIR) + "/tests/data/hostile/";
  const struct {
    std::string path;
    int frames;  // -1: refused
    int channels;
    const char* printed;  // how what is printed begins
  } cases[] = {
      {dir.File("ramp.wav"), kRamp, 2, ""},
      // Data cut short: the frames that are there, and no trailing zeros.
      {dir.Write("cut.wav", ramp.substr(0, ramp.size() - (kRamp - 500) * 8)), 500, 2, ""},
      {dir.Write("header.wav", ramp.substr(0, 20)), -1, 0, "ERROR: "},
      {dir.Write("text.wav", "not a sound file\n"), -1, 0, "ERROR: "},
      {dir.Write("empty.wav", ""), -1, 0, "ERROR: "},
      {dir.File("missing.wav"), -1, 0, "ERROR: "},
      {hostile + "ogg-3ch-valid.ogg", 40000, 3, ""},
      {hostile + "flac-163k-valid.flac", 80000, 2, ""},
      {hostile + "ogg-small-valid.ogg", 80, 1, ""},
      {hostile + "flac-unknown-length.flac", 4000, 2, ""},  // read to its end
      {hostile + "ogg-3ch-length-wrap.ogg", -1, 0, "ERROR: "},  // claims more than a table holds
      // libsndfile seeks past the end of the data while reading the header.
      {hostile + "w64-valid-seeks-past-end.w64", 50, 1, ""},
      {hostile + "sds-seeks-past-end.sds", 50, 1, ""},
      // A FLAC cut short: fewer frames than it says it holds.
      {dir.Write("cut.flac", flac.substr(0, flac.size() / 2)), -1, 0, "WARNING: "},
      {hostile + "gif-huge-alloc.gif", -1, 0, "ERROR: "},
      {hostile + "pnm-height-zero.ppm", -1, 0, "ERROR: "},
  };
  for (const auto& c : cases) {
    std::string name = c.path.substr(c.path.rfind('/') + 1);
    SCOPED_TRACE(name);
    ftable from_file{}, from_bytes{};
    from_file.width = 3;  // what was there before goes
    array_append(&from_file.rows, "garbage!", 8);
    stream* s = nullptr;
    stream_make_on_file(&s, STREAM_READ, c.path.c_str());
    int result = 0;
    std::string printed = Printed([&] { result = ftable_make_on_stream(&from_file, &s, name.c_str()); });
    stream_destroy(&s);
    EXPECT_EQ(LoadBytes(&from_bytes, read_file(c.path)) == 0, result == 0);
    std::string expected = *c.printed ? c.printed + std::string("ftable_make_on_stream: ") + name + ": " : "";
    EXPECT_EQ(expected.empty() ? printed : printed.substr(0, expected.size()), expected);
    if (c.frames < 0) {
      EXPECT_NE(result, 0);
      EXPECT_EQ(std::pair(from_file.rows.data, from_file.width), std::pair(static_cast<void*>(nullptr), 0));
    } else {
      EXPECT_EQ(result, 0);
      EXPECT_EQ(from_file.width, c.channels);
      EXPECT_EQ(ftable_rows(&from_file), c.frames);
      ASSERT_EQ(from_bytes.rows.size, from_file.rows.size);
      EXPECT_EQ(memcmp(from_bytes.rows.data, from_file.rows.data, from_file.rows.size), 0);
    }
    if (c.frames >= 0) ExpectLoadsAsFromDisk(c.path);
    if (c.frames == kRamp) {
      EXPECT_EQ(from_file.rate, 22050.0f);
      for (int k = 0; k < kRamp; k += 997) ASSERT_EQ(At(from_file, k, 1), -k / 65536.0f) << k;
    }
    ftable_free(&from_file);
    ftable_free(&from_bytes);
  }
}

// A short chord in every format libsndfile writes here, with 1, 2, 3 and 8
// channels where the format takes them: loaded from bytes in memory, each
// file gives what libsndfile reads from it on disk, sample for sample (lossy
// codecs included: the decoder is the same).
TEST(Ftable, EveryFormatLoadsFromMemoryAsFromDisk) {
  TempDir dir;
  int majors = 0, subtypes = 0;
  sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &majors, sizeof majors);
  sf_command(nullptr, SFC_GET_FORMAT_SUBTYPE_COUNT, &subtypes, sizeof subtypes);
  std::vector<std::string> unwritten;
  int files = 0;
  for (int m = 0; m < majors; ++m) {
    SF_FORMAT_INFO major{m, nullptr, nullptr};
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &major, sizeof major);
    int written = 0;
    for (int k = 0; k < subtypes; ++k) {
      SF_FORMAT_INFO subtype{k, nullptr, nullptr};
      sf_command(nullptr, SFC_GET_FORMAT_SUBTYPE, &subtype, sizeof subtype);
      for (int channels : {1, 2, 3, 8}) {
        SF_INFO info{0, 8000, channels, major.format | subtype.format, 0, 0};
        // Header-less files need their format from the caller, and SD2
        // keeps its header in a resource fork beside the file: neither can
        // be read from its bytes alone.
        int kind = major.format & SF_FORMAT_TYPEMASK;
        if (kind == SF_FORMAT_RAW || kind == SF_FORMAT_SD2 || !sf_format_check(&info)) continue;
        std::string name = std::string(major.extension) + "-" + std::to_string(k) + "-" +
                           std::to_string(channels) + "." + major.extension;
        SCOPED_TRACE(std::string(major.name) + ", " + subtype.name + ", " + name);
        const int kFrames = 1000;
        std::vector<float> chord;
        for (int i = 0; i < kFrames; ++i)
          for (int c = 0; c < channels; ++c) chord.push_back(0.5f * std::sin(0.07f * (c + 1) * i));
        SNDFILE* f = sf_open(dir.File(name).c_str(), SFM_WRITE, &info);
        if (f == nullptr) continue;
        bool whole = sf_writef_float(f, chord.data(), kFrames) == kFrames;
        sf_close(f);
        if (!whole) continue;
        ++written;
        ++files;
        ExpectLoadsAsFromDisk(dir.File(name));
      }
    }
    if (written == 0) unwritten.push_back(major.name);
  }
  printf("%d files in %d formats; not tested:", files, majors);
  for (const std::string& name : unwritten) printf(" \"%s\"", name.c_str());
  printf("\n");
  EXPECT_EQ(unwritten.size(), 2u);
}
