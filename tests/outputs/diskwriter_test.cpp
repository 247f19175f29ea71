// The disk writer, reading what it wrote back with libsndfile.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app.h"
#include "base/perf.h"
#include "common/child.h"
#include "common/test_files.h"
#include "io/audio_devices.h"
#include "io/avstream.h"

namespace {

// Every block carries its call number on the left and its clock time on the
// right, scaled to stay exact in single precision.
constexpr double kCallScale = 1.0 / (1 << 24);
constexpr double kTimeScale = 1.0 / (1 << 16);

struct Marker {
  audio_device* device = nullptr;
  double stop_at_ms = 0;  // commit nothing from this clock time on
  int calls = 0;
  int last_committed = -1;
  double sleep_ms = 0;  // per rolled block, to render slower than it would
};

void mark_block(Marker* m, audio_frame* frame) {
  float* left = nullptr;
  float* right = nullptr;
  audio_frame_define_stereo(frame, &left, &right);
  for (int i = 0; i < AUDIO_FRAME_SAMPLES; ++i) {
    left[i] = static_cast<float>(m->calls * kCallScale);
    right[i] = static_cast<float>(frame->frame_ms * kTimeScale);
  }
  audio_frame_commit(frame);
  m->last_committed = m->calls;
}

void marker_callback(void* arg, audio_frame* frame) {
  auto* m = static_cast<Marker*>(arg);
  m->calls++;
  if (frame->frame_ms >= m->stop_at_ms) {
    audio_frame_commit_none(frame);
    return;
  }
  mark_block(m, frame);
}

std::string unique_name(const char* stem) {
  static std::atomic<int> serial{0};
  return std::string("diskwriter-test-") + stem + "-" + std::to_string(getpid()) + "-" +
         std::to_string(serial.fetch_add(1));
}

// Renders through the file writer as the runtime does, without the runtime;
// the commit's answer.
int render(Marker* m, const char* file, const char* sample_type, double stop_at_ms) {
  audio_io* io = nullptr;
  audio_io_make(&io);
  audio_device** list = nullptr;
  audio_io_define(io, &list);
  audio_device* writer = list[0];
  EXPECT_FALSE(audio_device_is_realtime(writer));
  if (file != nullptr) {
    EXPECT_EQ(audio_device_command(writer, "set-file", file), 1);
  }
  if (sample_type != nullptr) {
    EXPECT_EQ(audio_device_command(writer, "set-sample-type", sample_type), 1);
  }
  EXPECT_EQ(audio_device_command(writer, "stream_name", unique_name("render").c_str()), 1);
  EXPECT_EQ(audio_device_command(writer, "no-such-command", ""), 0);
  m->device = writer;
  m->stop_at_ms = stop_at_ms;
  audio_device_attach(writer, marker_callback, m);
  int committed = audio_io_commit(io, writer);
  audio_io_finish(&io);
  return committed;
}

struct Sound {
  SF_INFO info{};
  std::vector<float> samples;  // interleaved
  int ok = 0;
  int header_ok = 0;
};

uint32_t le32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

// libsndfile forgives a header that was never finished; other readers do
// not. The RIFF and data sizes must describe the file as it is.
int header_complete(const std::string& path) {
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) return 0;
  std::vector<unsigned char> bytes(1 << 12);
  size_t n = fread(bytes.data(), 1, bytes.size(), file);
  fseek(file, 0, SEEK_END);
  long size = ftell(file);
  fclose(file);
  if (n < 12 || memcmp(bytes.data(), "RIFF", 4) != 0 || le32(&bytes[4]) != static_cast<uint32_t>(size - 8))
    return 0;
  for (size_t at = 12; at + 8 <= n;) {
    uint32_t chunk = le32(&bytes[at + 4]);
    if (memcmp(&bytes[at], "data", 4) == 0) return at + 8 + chunk == static_cast<size_t>(size);
    at += 8 + chunk + (chunk & 1);
  }
  return 0;
}

Sound read_sound(const std::string& path) {
  Sound s;
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &s.info);
  if (file == nullptr) return s;
  s.samples.resize(static_cast<size_t>(s.info.frames) * 2);
  s.ok = sf_readf_float(file, s.samples.data(), s.info.frames) == s.info.frames && s.info.channels == 2;
  sf_close(file);
  s.header_ok = header_complete(path);
  return s;
}

// The file holds whole blocks of consecutive calls, the first one rendered at
// clock time 0 once the clock rolls; returns the call number of the last
// block, or -1 when they do not.
int check_blocks(const Sound& s, int* first_call) {
  if (s.info.frames == 0 || s.info.frames % AUDIO_FRAME_SAMPLES != 0) return -1;
  int blocks = static_cast<int>(s.info.frames / AUDIO_FRAME_SAMPLES);
  int first = static_cast<int>(lround(s.samples[0] / kCallScale));
  for (int b = 0; b < blocks; ++b) {
    const float* block = &s.samples[static_cast<size_t>(b) * 2 * AUDIO_FRAME_SAMPLES];
    for (int i = 0; i < AUDIO_FRAME_SAMPLES; ++i)
      if (lround(block[2 * i] / kCallScale) != first + b) return -1;
  }
  if (first_call != nullptr) *first_call = first;
  if (s.samples[1] != 0.0f) return -1;
  return first + blocks - 1;
}

TEST(DiskWriter, FloatWhenAskedAndEveryBlockUpToTheSilentEnd) {
  TempDir dir;
  std::string path = dir.File("float.wav");
  Marker m;
  ASSERT_EQ(render(&m, path.c_str(), "float", 300.0), 0);
  Sound s = read_sound(path);
  ASSERT_TRUE(s.ok);
  EXPECT_TRUE(s.header_ok);
  EXPECT_EQ(s.info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  EXPECT_EQ(s.info.samplerate, 44100);
  int first = 0;
  // The last block written is the last one committed: the silent one after it is not.
  EXPECT_EQ(check_blocks(s, &first), m.last_committed);
  EXPECT_EQ(m.calls, m.last_committed + 1);
  // Blocks rendered before the clock rolled were dropped.
  EXPECT_GT(first, 1);
  const float* last = &s.samples[s.samples.size() - 2];
  EXPECT_GE(last[1] / kTimeScale, 300.0 - AUDIO_BLOCK_MS - 1e-3);
  EXPECT_LT(last[1] / kTimeScale, 300.0);
}

TEST(DiskWriter, SixteenBitWithoutSampleTypeAndDevNullWithoutSetFile) {
  TempDir dir;
  std::string path = dir.File("pcm.wav");
  Marker pcm;
  ASSERT_EQ(render(&pcm, path.c_str(), nullptr, 100.0), 0);
  Sound s = read_sound(path);
  ASSERT_TRUE(s.ok);
  EXPECT_EQ(s.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  EXPECT_GT(s.info.frames, 0);
  EXPECT_EQ(s.info.frames % AUDIO_FRAME_SAMPLES, 0);

  audio_io* io = nullptr;
  audio_io_make(&io);
  audio_device** list = nullptr;
  audio_io_define(io, &list);
  EXPECT_STREQ(reinterpret_cast<audio_file_writer*>(list[0])->file_name, "/dev/null");
  audio_io_finish(&io);

  Marker m;
  testing::internal::CaptureStdout();
  EXPECT_EQ(render(&m, nullptr, "float", 50.0), 0);
  std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(printed.find("ERROR:"), std::string::npos) << printed;
  EXPECT_GT(m.last_committed, 0);
}

// A file that cannot be made ends the rendering before it starts: rendering
// into nothing would only look like success.
TEST(DiskWriter, UnwritableFileIsReportedAndNothingIsRendered) {
  TempDir dir;
  std::string path = dir.File("no-such-directory/x.wav");
  Marker m;
  testing::internal::CaptureStdout();
  EXPECT_NE(render(&m, path.c_str(), "float", 100.0), 0);
  std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(printed.rfind("ERROR: ", 0), 0u) << printed;
  EXPECT_NE(printed.find(path), std::string::npos) << printed;
  EXPECT_NE(printed.find(sf_strerror(nullptr)), std::string::npos) << printed;
  EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1);
  EXPECT_EQ(m.calls, 0);
}

// The whole runtime in a child process, ended in one of several ways.
enum Ending { BY_HANDLER_STOP, BY_QUIT_FROM_ANOTHER_THREAD, BY_SIGNAL };
Ending ending;
Marker child_marker;
thread_handle quitter;

void* quit_later(void* arg) {
  inthread_sleep(600);
  app_quit(static_cast<App*>(arg), APP_STREAM_AUDIO);
  return nullptr;
}

int32_t child_handler(uint32_t stream, uint32_t phase, App* app) {
  if (stream == APP_STREAM_APP) {
    if (phase == APP_BEGIN) {
      perf_logenable(0);
      static std::string name = unique_name("child");
      app->config.name = name.c_str();
      if (ending == BY_QUIT_FROM_ANOTHER_THREAD) thread_start(&quitter, quit_later, app);
    }
    return APP_STEP;
  }
  if (phase != APP_STEP) return APP_STEP;
  audio_frame* frame = app->audio_frame;
  child_marker.calls++;
  mark_block(&child_marker, frame);
  if (frame->frame_ms > 0 && child_marker.sleep_ms > 0) inthread_sleep(child_marker.sleep_ms);
  // Ending by the handler: this block is the last, and it is committed.
  return ending == BY_HANDLER_STOP && frame->frame_ms >= 500.0 ? APP_END : APP_STEP;
}

// Runs the runtime rendering into `dir` in a child, ends it, and returns its
// exit status.
int run_child(const std::string& dir, Ending how, int signal_number) {
  auto body = [&] {
    ending = how;
    child_marker.sleep_ms = how == BY_HANDLER_STOP ? 0 : 0.5;
    std::string program = "diskwriter-child", flag = "--diskwriter";
    char* argv[] = {program.data(), flag.data(), const_cast<char*>(dir.c_str()), nullptr};
    exit_child(app_run(3, argv, APP_STREAM_AUDIO, child_handler));
  };
  // Signals come once the clock rolls and some groups are in the file.
  return child_run(body, 20000, nullptr, [&](pid_t pid) {
    if (how != BY_SIGNAL) return;
    inthread_sleep(1500);
    kill(pid, signal_number);
  });
}

// The one WAV file the child wrote in `dir`.
Sound child_sound(const std::string& dir) {
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    if (entry.path().extension() == ".wav") return read_sound(entry.path().string());
  return Sound{};
}

// However the process ends, every block rendered before the end is in the
// file, and its header gives the length as it is.
TEST(DiskWriterEnding, EveryEndingLeavesACompleteFile) {
  const struct {
    Ending how;
    int signal_number;
  } cases[] = {{BY_HANDLER_STOP, 0}, {BY_QUIT_FROM_ANOTHER_THREAD, 0}, {BY_SIGNAL, SIGINT}, {BY_SIGNAL, SIGTERM}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "ending " << c.how << " signal " << c.signal_number);
    TempDir dir;
    ASSERT_EQ(run_child(dir.path, c.how, c.signal_number), 0);
    Sound s = child_sound(dir.path);
    ASSERT_TRUE(s.ok);
    EXPECT_TRUE(s.header_ok);
    ASSERT_GT(check_blocks(s, nullptr), 0);
    if (c.how != BY_HANDLER_STOP) continue;
    // The process ended inside the block that stopped: that block is there too.
    double last_ms = s.samples[s.samples.size() - 1] / kTimeScale;
    EXPECT_GE(last_ms, 500.0);
    EXPECT_LT(last_ms, 500.0 + AUDIO_BLOCK_MS);
  }
}

}  // namespace
