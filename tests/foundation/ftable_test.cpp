#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/test_files.h"
#include "piece/ftable.h"

namespace {

const float kScore[6][5] = {
    {0, 0, 1, 1, 1},           {6000, 100, 4, 5, 1},       {60000, 20, 3, 7.2f, 11},
    {90000, 45, 2, 10.2f, 18}, {112000, 42, 2, 10.2f, 18}, {120000, 0, 2, 6, 6},
};

// The piece's score, added channel by channel as the piece does.
void MakeScore(ftable* table) {
  *table = ftable{};
  table->width = 5;
  table->rate = 1.0f;
  for (int c = 1; c < 5; ++c)
    for (const auto& row : kScore) ftable_add_point(table, c, row[0], row[c]);
}

float At(const ftable& t, int row, int column) { return static_cast<float*>(t.rows.data)[row * t.width + column]; }

bool IsQuietNan(float v) {
  uint32_t bits;
  memcpy(&bits, &v, sizeof bits);
  return bits == 0x7FC00000u;
}

std::string Printed(const ftable& t) {
  testing::internal::CaptureStdout();
  ftable_print(&t);
  return testing::internal::GetCapturedStdout();
}

// Steps the sequence forward a second at a time up to `until` and samples it there.
std::vector<float> SampleAt(ftable_env* env, float until) {
  std::vector<float> out(5, -1.0f);
  for (; env->position < until; env->position += 1000) ftable_env_range_front(env, out.data());
  ftable_env_range_front(env, out.data());
  return out;
}

// A WAV of `frames` frames where frame k holds k / 65536 in channel 0 and its
// negative in channel 1 (when there is one).
std::string WriteWav(const TempDir& dir, int frames, int channels, int format) {
  std::string path = dir.File("sound.wav");
  SF_INFO info{};
  info.samplerate = 22050;
  info.channels = channels;
  info.format = SF_FORMAT_WAV | format;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  std::vector<float> samples;
  for (int k = 0; k < frames; ++k) {
    samples.push_back(k / 65536.0f);
    if (channels == 2) samples.push_back(-k / 65536.0f);
  }
  sf_writef_float(f, samples.data(), frames);
  sf_close(f);
  return path;
}

void ExpectWavTable(const ftable& t, int frames, int channels) {
  EXPECT_EQ(t.width, channels);
  EXPECT_EQ(t.rate, 22050.0f);
  ASSERT_EQ(ftable_rows(&t), frames);
  for (int k = 0; k < frames; k += 997) {
    ASSERT_EQ(At(t, k, 0), k / 65536.0f) << k;
    if (channels == 2) {
      ASSERT_EQ(At(t, k, 1), -k / 65536.0f) << k;
    }
  }
}

// Loads `bytes` through an array stream; returns the result, captures the output.
int LoadBytes(ftable* t, const std::string& bytes, std::string* printed) {
  array a{};
  array_append(&a, bytes.data(), static_cast<int32_t>(bytes.size()));
  stream* s = nullptr;
  stream_make_on_array(&s, STREAM_READ, &a);
  testing::internal::CaptureStdout();
  int result = ftable_make_on_stream(t, &s);
  *printed = testing::internal::GetCapturedStdout();
  stream_destroy(&s);
  array_reset(&a);
  return result;
}

}  // namespace

TEST(Ftable, AddPointKeepsKeysInOrderAndFillsNaN) {
  ftable t{};
  t.width = 3;
  ftable_add_point(&t, 1, 0, 10);
  ftable_add_point(&t, 1, 6000, 20);
  ftable_add_point(&t, 2, 3000, 30);
  ASSERT_EQ(ftable_rows(&t), 3);
  EXPECT_EQ(At(t, 1, 0), 3000);
  EXPECT_EQ(At(t, 1, 2), 30);
  EXPECT_TRUE(IsQuietNan(At(t, 1, 1)));
  EXPECT_TRUE(IsQuietNan(At(t, 0, 2)));
  EXPECT_TRUE(IsQuietNan(At(t, 2, 2)));
  // A key already present (within a millionth) changes only that channel.
  ftable_add_point(&t, 2, 5999.996f, 40);
  ASSERT_EQ(ftable_rows(&t), 3);
  EXPECT_EQ(At(t, 2, 0), 6000);
  EXPECT_EQ(At(t, 2, 1), 20);
  EXPECT_EQ(At(t, 2, 2), 40);
  ftable_add_point(&t, 1, -5, 1);  // before the first key
  EXPECT_EQ(At(t, 0, 0), -5);
  EXPECT_EQ(At(t, 1, 0), 0);
  // Channels outside 1 .. width - 1 are not stored anywhere.
  for (int channel : {0, 3, -1}) ftable_add_point(&t, channel, 7, 7);
  EXPECT_EQ(ftable_rows(&t), 4);
  ftable_free(&t);

  ftable failed{};
  failed.width = 3;
  array_fail(&failed.rows);
  ftable_add_point(&failed, 1, 0, 1);
  EXPECT_EQ(ftable_rows(&failed), -1);
  EXPECT_EQ(Printed(failed), "[]\n");
}

TEST(Ftable, ScoreIsPrintedAndSampledHalfwayAtThreeSeconds) {
  ftable t{};
  MakeScore(&t);
  for (int r = 0; r < 6; ++r)
    for (int c = 0; c < 5; ++c) ASSERT_EQ(At(t, r, c), kScore[r][c]);
  std::string text = Printed(t);
  EXPECT_EQ(text.substr(0, text.find('\n')), "[0.0000, 0.0000, 1.0000, 1.0000, 1.0000");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6);
  EXPECT_EQ(text.substr(text.rfind('\n', text.size() - 2)), "\n120000.0000, 0.0000, 2.0000, 6.0000, 6.0000]\n");

  ftable_env env{};
  ftable_env_make(&env, &t);
  ASSERT_EQ(env.valid, 1);
  EXPECT_TRUE(ftable_env_check(&env));
  EXPECT_EQ(SampleAt(&env, 3000), (std::vector<float>{3000, 50, 2.5f, 3, 1}));
  EXPECT_EQ(SampleAt(&env, 6000), (std::vector<float>{6000, 100, 4, 5, 1}));
  std::vector<float> late = SampleAt(&env, 75000), want = {75000, 32.5f, 2.5f, 8.7f, 14.5f};
  for (size_t i = 0; i < want.size(); ++i) EXPECT_NEAR(late[i], want[i], 1e-4) << i;
  // Past the last breakpoint the caller keeps its values.
  std::vector<float> kept = {1, 2, 3, 4, 5};
  env.position = 120000;
  ftable_env_range_front(&env, kept.data());
  EXPECT_EQ(kept, (std::vector<float>{1, 2, 3, 4, 5}));

  // The output mask packs the selected channels; without linear mode a
  // sample holds the earlier row.
  ftable_env_make(&env, &t);
  env.mask[0] = (1u << 1) | (1u << 3);
  env.mask[1] = 0;
  env.mode = 0;
  float out[2] = {-1, -1};
  env.position = 4500;
  ftable_env_range_front(&env, out);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 1);
  ftable_env_free(&env);
  ftable_free(&t);
}

TEST(Ftable, BadKeysAndEmptyTablesMakeNoSequence) {
  ftable t{};
  t.width = 2;
  // Keys that do not rise cannot come from ftable_add_point: write them.
  float falling[] = {0, 1, 10, 2, 5, 3};
  array_append(&t.rows, falling, sizeof falling);
  ftable_env env{};
  ftable_env_make(&env, &t);
  EXPECT_EQ(env.valid, 0);
  EXPECT_EQ(env.error, 1);
  testing::internal::CaptureStdout();
  EXPECT_FALSE(ftable_env_check(&env));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: Sequence has failed [error: 1]\n");
  float out[2] = {7, 7};
  ftable_env_range_front(&env, out);
  EXPECT_EQ(out[1], 7);
  static_cast<float*>(t.rows.data)[2] = NAN;
  ftable_env_make(&env, &t);
  EXPECT_EQ(env.error, 3);
  ftable_free(&t);

  // No rows: no keys to clamp to. One row: nothing to play.
  t.width = 5;
  ftable_env_make(&env, &t);
  EXPECT_EQ(env.valid, 0);
  ftable_add_point(&t, 1, 500, 1);
  ftable_env_make(&env, &t);
  EXPECT_EQ(env.valid, 1);
  testing::internal::CaptureStdout();
  EXPECT_FALSE(ftable_env_check(&env));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: Sequence is empty\n");
  ftable_env_free(&env);
  ftable_free(&t);
}

TEST(Ftable, ReadersThatCannotAdvanceGiveUpInsteadOfHanging) {
  ftable t{};
  MakeScore(&t);
  ftable_env env{};
  ftable_env_make(&env, &t);
  auto* reader = static_cast<ftable_range*>(array_element(&env.readers, sizeof(ftable_range), 1));
  float row[5] = {};
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

TEST(Ftable, SoundFilesLoadFromFilesAndArrays) {
  TempDir dir;
  const int frames = 300000;  // more than one read block
  std::string path = WriteWav(dir, frames, 2, SF_FORMAT_FLOAT);
  ftable t{};
  stream* s = nullptr;
  stream_make_on_file(&s, STREAM_READ, path.c_str());
  EXPECT_EQ(ftable_make_on_stream(&t, &s), 0);
  stream_destroy(&s);
  ExpectWavTable(t, frames, 2);
  std::string printed;
  EXPECT_EQ(LoadBytes(&t, dir.Read("sound.wav"), &printed), 0);
  ExpectWavTable(t, frames, 2);
  // Mono: one row per frame, without a spare row from the allocation.
  WriteWav(dir, 3, 1, SF_FORMAT_PCM_16);
  EXPECT_EQ(LoadBytes(&t, dir.Read("sound.wav"), &printed), 0);
  ExpectWavTable(t, 3, 1);
  ftable_free(&t);
}

TEST(Ftable, BadSoundFilesGiveAnErrorAndAnEmptyTable) {
  TempDir dir;
  WriteWav(dir, 1000, 2, SF_FORMAT_FLOAT);
  std::string wav = dir.Read("sound.wav");
  const std::string prefix = "ERROR: ftable_make_on_stream: ";
  for (const std::string& bytes : {std::string("not a sound file\n"), wav.substr(0, 20), std::string()}) {
    ftable t{};
    t.width = 3;
    array_append(&t.rows, "garbage!", 8);
    std::string printed;
    EXPECT_NE(LoadBytes(&t, bytes, &printed), 0);
    EXPECT_EQ(printed.substr(0, prefix.size()), prefix);
    EXPECT_EQ(t.rows.data, nullptr);
    EXPECT_EQ(t.width, 0);
  }
  // Data cut short: the frames that are there, and no trailing zeros.
  ftable t{};
  std::string printed;
  LoadBytes(&t, wav.substr(0, wav.size() - 4000), &printed);
  ExpectWavTable(t, 500, 2);  // 4000 bytes are 500 stereo float frames
  stream* s = nullptr;
  stream_make_on_file(&s, STREAM_READ, dir.File("missing.wav").c_str());
  testing::internal::CaptureStdout();
  EXPECT_NE(ftable_make_on_stream(&t, &s), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout().substr(0, prefix.size()), prefix);
  EXPECT_EQ(ftable_rows(&t), 0);
  stream_destroy(&s);
}

// Every hostile input, and a few files made with sox: the valid ones load
// with every frame, from a file and from bytes alike; the others leave an
// empty table and an "ERROR:" line naming them.
TEST(Ftable, SoundFilesLoadWholeOrFailClearly) {
  TempDir dir;
  auto sox = [&](const std::string& name, const std::string& format, int frames) {
    std::string command = "sox -r 8000 -n " + format + " " + dir.File(name) + " synth " +
                          std::to_string(frames) + "s sine 300 2>/dev/null";
    EXPECT_EQ(system(command.c_str()), 0) << command;
    return dir.File(name);
  };
  const std::string hostile = std::string(ZEAL_SOURCE_DIR) + "/tests/data/hostile/";
  const struct {
    std::string path;
    int frames;  // -1: refused
    int channels;
  } cases[] = {
      {hostile + "ogg-3ch-valid.ogg", 40000, 3},
      {hostile + "flac-163k-valid.flac", 80000, 2},
      {hostile + "ogg-small-valid.ogg", 80, 1},
      {hostile + "flac-unknown-length.flac", 4000, 2},  // read to its end
      {hostile + "ogg-3ch-length-wrap.ogg", -1, 0},     // claims more than a table holds
      {hostile + "gif-huge-alloc.gif", -1, 0},
      {hostile + "pnm-height-zero.ppm", -1, 0},
      {sox("one.flac", "-c 1 -b 16", 1), 1, 1},
      {sox("two.ogg", "-c 2", 1000), 1000, 2},
      {sox("six.wav", "-c 6 -b 24", 7), 7, 6},
      {sox("u8.wav", "-c 1 -b 8", 5), 5, 1},
      {sox("a.aiff", "-c 2", 100), 100, 2},
  };
  for (const auto& c : cases) {
    std::string name = c.path.substr(c.path.rfind('/') + 1);
    ftable from_file{};
    stream* s = nullptr;
    stream_make_on_file(&s, STREAM_READ, c.path.c_str());
    testing::internal::CaptureStdout();
    int result = ftable_make_on_stream(&from_file, &s, name.c_str());
    std::string printed = testing::internal::GetCapturedStdout();
    stream_destroy(&s);
    ftable from_bytes{};
    std::string ignored;
    EXPECT_EQ(LoadBytes(&from_bytes, read_file(c.path), &ignored), result) << name;
    if (c.frames < 0) {
      EXPECT_NE(result, 0) << name;
      EXPECT_EQ(printed.rfind("ERROR: ftable_make_on_stream: " + name + ": ", 0), 0u) << printed;
      EXPECT_EQ(from_file.rows.data, nullptr) << name;
    } else {
      EXPECT_EQ(result, 0) << name << ": " << printed;
      EXPECT_EQ(printed, "") << name;
      EXPECT_EQ(from_file.width, c.channels) << name;
      EXPECT_EQ(ftable_rows(&from_file), c.frames) << name;
      ASSERT_EQ(from_bytes.rows.size, from_file.rows.size) << name;
      EXPECT_EQ(memcmp(from_bytes.rows.data, from_file.rows.data, from_file.rows.size), 0) << name;
    }
    ftable_free(&from_file);
    ftable_free(&from_bytes);
  }
}
