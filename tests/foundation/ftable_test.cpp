#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "piece/ftable.h"

namespace {

const float kScore[6][5] = {
    {0, 0, 1, 1, 1},           {6000, 100, 4, 5, 1},     {60000, 20, 3, 7.2f, 11},
    {90000, 45, 2, 10.2f, 18}, {112000, 42, 2, 10.2f, 18}, {120000, 0, 2, 6, 6},
};

// The piece's score, added channel by channel as the piece does.
void MakeScore(ftable* table) {
  *table = ftable{};
  table->width = 5;
  table->rate = 1.0f;
  for (int c = 1; c < 5; ++c) {
    for (const auto& row : kScore) ftable_add_point(table, c, row[0], row[c]);
  }
}

float At(const ftable& t, int row, int column) {
  return static_cast<float*>(t.rows.data)[row * t.width + column];
}

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

// Steps the sequence as the display does (one sample, then position += speed)
// until `until`, and returns the last sample.
std::vector<float> SampleAt(ftable_env* env, float until) {
  std::vector<float> out(5, -1.0f);
  while (env->position <= until) {
    ftable_env_range_front(env, out.data());
    if (env->position == until) break;
    env->position += env->speed * 1000.0f;  // whole seconds: exact in float
  }
  return out;
}

void ExpectNear(const std::vector<float>& got, const std::vector<float>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], 1e-4) << i;
}

struct TempPath {
  std::string path;
  TempPath() {
    char name[] = "/tmp/zeal-ftable-XXXXXX";
    close(mkstemp(name));
    path = name;
  }
  ~TempPath() { unlink(path.c_str()); }
  std::string Bytes() const {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }
};

// A stereo WAV of `frames` frames where frame k holds (k, -k) / 65536.
void WriteWav(const std::string& path, int frames) {
  SF_INFO info{};
  info.samplerate = 22050;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
  std::vector<float> samples;
  for (int k = 0; k < frames; ++k) {
    samples.push_back(k / 65536.0f);
    samples.push_back(-k / 65536.0f);
  }
  EXPECT_EQ(sf_writef_float(f, samples.data(), frames), frames);
  sf_close(f);
}

void ExpectWavTable(const ftable& t, int frames) {
  EXPECT_EQ(t.width, 2);
  EXPECT_EQ(t.rate, 22050.0f);
  ASSERT_EQ(ftable_rows(&t), frames);
  for (int k = 0; k < frames; k += 997) {
    EXPECT_EQ(At(t, k, 0), k / 65536.0f);
    EXPECT_EQ(At(t, k, 1), -k / 65536.0f);
  }
  EXPECT_EQ(At(t, frames - 1, 0), (frames - 1) / 65536.0f);
}

}  // namespace

TEST(Ftable, AddPointKeepsKeysInOrderAndFillsNaN) {
  ftable t{};
  t.width = 3;
  ftable_add_point(&t, 1, 0, 10);
  ftable_add_point(&t, 1, 6000, 20);
  ftable_add_point(&t, 2, 3000, 30);
  ASSERT_EQ(ftable_rows(&t), 3);
  EXPECT_EQ(t.rows.size, 3 * 3 * 4);
  EXPECT_EQ(At(t, 0, 0), 0);
  EXPECT_EQ(At(t, 1, 0), 3000);
  EXPECT_EQ(At(t, 2, 0), 6000);
  EXPECT_TRUE(IsQuietNan(At(t, 1, 1)));
  EXPECT_EQ(At(t, 1, 2), 30);
  EXPECT_TRUE(IsQuietNan(At(t, 0, 2)));
  EXPECT_TRUE(IsQuietNan(At(t, 2, 2)));

  // A key already present (within a millionth) changes only that channel.
  ftable_add_point(&t, 2, 5999.996f, 40);
  ftable_add_point(&t, 1, 3000, 15);
  ASSERT_EQ(ftable_rows(&t), 3);
  EXPECT_EQ(At(t, 2, 0), 6000);
  EXPECT_EQ(At(t, 2, 1), 20);
  EXPECT_EQ(At(t, 2, 2), 40);
  EXPECT_EQ(At(t, 1, 1), 15);
  // Before the first and after the last key.
  ftable_add_point(&t, 1, -5, 1);
  ftable_add_point(&t, 2, 1e6f, 2);
  ASSERT_EQ(ftable_rows(&t), 5);
  EXPECT_EQ(At(t, 0, 0), -5);
  EXPECT_EQ(At(t, 4, 0), 1e6f);
  EXPECT_EQ(At(t, 4, 2), 2);

  // Channels outside 1 .. width - 1 are not stored anywhere.
  ftable_add_point(&t, 0, 7, 7);
  ftable_add_point(&t, 3, 7, 7);
  ftable_add_point(&t, -1, 7, 7);
  EXPECT_EQ(ftable_rows(&t), 5);
  ftable_free(&t);
  EXPECT_EQ(t.rows.data, nullptr);
  EXPECT_EQ(t.width, 0);

  ftable failed{};
  failed.width = 3;
  array_fail(&failed.rows);
  ftable_add_point(&failed, 1, 0, 1);
  EXPECT_EQ(ftable_rows(&failed), -1);
  EXPECT_EQ(Printed(failed), "[]\n");
  ftable_free(&failed);
}

TEST(Ftable, PrintsRowsOnLines) {
  ftable t{};
  EXPECT_EQ(Printed(t), "[]\n");
  MakeScore(&t);
  ASSERT_EQ(ftable_rows(&t), 6);
  std::string text = Printed(t);
  EXPECT_EQ(text.substr(0, text.find('\n')), "[0.0000, 0.0000, 1.0000, 1.0000, 1.0000");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6);
  EXPECT_NE(text.find("\n60000.0000, 20.0000, 3.0000, 7.2000, 11.0000\n"), std::string::npos);
  EXPECT_EQ(text.substr(text.rfind('\n', text.size() - 2)),
            "\n120000.0000, 0.0000, 2.0000, 6.0000, 6.0000]\n");
  ftable_free(&t);
}

TEST(FtableEnv, ScoreSampledAtThreeSecondsIsHalfway) {
  ftable t{};
  MakeScore(&t);
  for (int r = 0; r < 6; ++r) {
    for (int c = 0; c < 5; ++c) EXPECT_EQ(At(t, r, c), kScore[r][c]);
  }
  ftable_env env{};
  ftable_env_make(&env, &t);
  ASSERT_EQ(env.valid, 1);
  EXPECT_EQ(env.start, 0);
  EXPECT_EQ(env.end, 120000);
  EXPECT_EQ(env.first, static_cast<ftable_range*>(env.readers.data));
  EXPECT_EQ(array_count(&env.readers, sizeof(ftable_range)), 5);
  testing::internal::CaptureStdout();
  EXPECT_TRUE(ftable_env_check(&env));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

  EXPECT_EQ(SampleAt(&env, 3000), (std::vector<float>{3000, 50, 2.5f, 3, 1}));
  EXPECT_EQ(SampleAt(&env, 6000), (std::vector<float>{6000, 100, 4, 5, 1}));
  ExpectNear(SampleAt(&env, 75000), {75000, 32.5f, 2.5f, 8.7f, 14.5f});
  ExpectNear(SampleAt(&env, 119000), {119000, 5.25f, 2, 6.525f, 7.5f});
  // Past the last breakpoint the caller keeps its values.
  std::vector<float> kept = {1, 2, 3, 4, 5};
  env.position = 120000;
  ftable_env_range_front(&env, kept.data());
  EXPECT_EQ(kept, (std::vector<float>{1, 2, 3, 4, 5}));
  ftable_env_free(&env);
  ftable_free(&t);
}

TEST(FtableEnv, OutputMaskPacksTheSelectedChannels) {
  ftable t{};
  MakeScore(&t);
  ftable_env env{};
  ftable_env_make(&env, &t);
  env.mask[0] = (1u << 1) | (1u << 3);
  env.mask[1] = 0;
  env.position = 3000;
  float out[2] = {-1, -1};
  ftable_env_range_front(&env, out);
  EXPECT_EQ(out[0], 50);
  EXPECT_EQ(out[1], 3);
  // Without linear mode the sample holds the earlier row.
  env.mode = 0;
  env.position = 4500;
  ftable_env_range_front(&env, out);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 1);
  ftable_env_free(&env);
  ftable_free(&t);
}

TEST(FtableEnv, BadKeysAndEmptyTablesMakeNoSequence) {
  ftable t{};
  t.width = 2;
  // Keys that do not rise cannot come from ftable_add_point: write them.
  float falling[] = {0, 1, 10, 2, 5, 3};
  array_append(&t.rows, falling, sizeof falling);
  ftable_env env{};
  ftable_env_make(&env, &t);
  EXPECT_EQ(env.valid, 0);
  EXPECT_EQ(env.error, 1);
  EXPECT_EQ(env.readers.data, nullptr);
  testing::internal::CaptureStdout();
  EXPECT_FALSE(ftable_env_check(&env));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: Sequence has failed [error: 1]\n");
  float out[2] = {7, 7};
  ftable_env_range_front(&env, out);
  EXPECT_EQ(out[1], 7);

  static_cast<float*>(t.rows.data)[2] = NAN;
  ftable_env_make(&env, &t);
  EXPECT_EQ(env.error, 3);
  EXPECT_EQ(env.valid, 0);

  // No rows at all: nothing to clamp the keys to.
  ftable empty{};
  empty.width = 5;
  ftable_env_make(&env, &empty);
  EXPECT_EQ(env.valid, 0);
  ftable_env_make(&env, nullptr);
  EXPECT_EQ(env.valid, 0);

  // One row: valid, but there is nothing to play.
  ftable single{};
  single.width = 2;
  ftable_add_point(&single, 1, 500, 1);
  ftable_env_make(&env, &single);
  EXPECT_EQ(env.valid, 1);
  testing::internal::CaptureStdout();
  EXPECT_FALSE(ftable_env_check(&env));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: Sequence is empty\n");
  ftable_env_free(&env);
  ftable_free(&single);
  ftable_free(&t);
}

TEST(FtableEnv, ReadersThatCannotAdvanceGiveUp) {
  ftable t{};
  MakeScore(&t);
  ftable_env env{};
  ftable_env_make(&env, &t);
  env.position = 200000;  // beyond every key
  auto* reader = static_cast<ftable_range*>(array_element(&env.readers, sizeof(ftable_range), 1));
  float row[5] = {};
  reader->flags = FTABLE_LOOP;
  EXPECT_FALSE(ftable_env_range_channelfront(&env, 1, row));
  reader->flags = 0;
  reader->speed = 0;
  env.position = 3000;
  EXPECT_FALSE(ftable_env_range_channelfront(&env, 1, row));
  reader->flags = FTABLE_LOOP;
  reader->speed = 1;
  reader->loop_start = 10;  // beyond the rows: an empty loop
  EXPECT_FALSE(ftable_env_range_channelfront(&env, 1, row));
  ftable_env_free(&env);
  ftable_free(&t);
}

TEST(FtableStream, ReadsAWavFromAFileAndFromAnArray) {
  TempPath wav;
  const int frames = 300000;  // more than one read block
  WriteWav(wav.path, frames);

  ftable t{};
  stream* s = nullptr;
  stream_make_on_file(&s, STREAM_READ, wav.path.c_str());
  EXPECT_EQ(ftable_make_on_stream(&t, &s), 0);
  stream_destroy(&s);
  ExpectWavTable(t, frames);

  std::string bytes = wav.Bytes();
  array a{};
  array_append(&a, bytes.data(), static_cast<int32_t>(bytes.size()));
  stream_make_on_array(&s, STREAM_READ, &a);
  EXPECT_EQ(ftable_make_on_stream(&t, &s), 0);
  stream_destroy(&s);
  ExpectWavTable(t, frames);
  array_reset(&a);
  ftable_free(&t);
}

TEST(FtableStream, MonoFilesGetOneRowPerFrame) {
  TempPath wav;
  SF_INFO info{};
  info.samplerate = 8000;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(wav.path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr);
  float samples[3] = {0.5f, -0.25f, 0.0f};
  sf_writef_float(f, samples, 3);
  sf_close(f);
  ftable t{};
  stream* s = nullptr;
  stream_make_on_file(&s, STREAM_READ, wav.path.c_str());
  EXPECT_EQ(ftable_make_on_stream(&t, &s), 0);
  stream_destroy(&s);
  EXPECT_EQ(t.width, 1);
  ASSERT_EQ(ftable_rows(&t), 3);
  EXPECT_EQ(At(t, 0, 0), 0.5f);
  EXPECT_EQ(At(t, 1, 0), -0.25f);
  ftable_free(&t);
}

TEST(FtableStream, BadInputGivesAnErrorAndAnEmptyTable) {
  TempPath wav;
  WriteWav(wav.path, 1000);
  std::string bytes = wav.Bytes();
  const std::string expected_prefix = "ERROR ftable_make_on_stream ";

  struct Input {
    const char* what;
    std::string bytes;
  };
  for (const Input& input : {Input{"text", "this is not a sound file at all, just text\n"},
                             Input{"header only", bytes.substr(0, 20)},
                             Input{"empty", ""}}) {
    ftable t{};
    t.width = 3;
    array_append(&t.rows, "garbage!", 8);
    array a{};
    array_append(&a, input.bytes.data(), static_cast<int32_t>(input.bytes.size()));
    stream* s = nullptr;
    stream_make_on_array(&s, STREAM_READ, &a);
    testing::internal::CaptureStdout();
    EXPECT_NE(ftable_make_on_stream(&t, &s), 0) << input.what;
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed.substr(0, expected_prefix.size()), expected_prefix) << input.what;
    EXPECT_EQ(printed.back(), '\n');
    EXPECT_EQ(t.rows.data, nullptr);
    EXPECT_EQ(t.width, 0);
    EXPECT_EQ(t.rate, 0.0f);
    stream_destroy(&s);
    array_reset(&a);
  }

  // A WAV cut short in its data decodes the frames that are there.
  array a{};
  array_append(&a, bytes.data(), static_cast<int32_t>(bytes.size()) - 4000);
  stream* s = nullptr;
  stream_make_on_array(&s, STREAM_READ, &a);
  ftable t{};
  testing::internal::CaptureStdout();
  ftable_make_on_stream(&t, &s);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(ftable_rows(&t), 500);  // 4000 bytes are 500 stereo float frames
  for (int k = 0; k < ftable_rows(&t); ++k) ASSERT_EQ(At(t, k, 0), k / 65536.0f);
  stream_destroy(&s);
  array_reset(&a);
  ftable_free(&t);

  // A missing file: the failed stream reads nothing.
  stream_make_on_file(&s, STREAM_READ, "/nonexistent/file.wav");
  testing::internal::CaptureStdout();
  EXPECT_NE(ftable_make_on_stream(&t, &s), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout().substr(0, expected_prefix.size()),
            expected_prefix);
  EXPECT_EQ(ftable_rows(&t), 0);
  stream_destroy(&s);
}
