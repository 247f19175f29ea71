// The disk writer, reading what it wrote back with libsndfile.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "base/perf.h"
#include "common/run_app.h"
#include "common/test_files.h"
#include "io/audio_devices.h"
#include "io/avstream.h"

namespace {

// Every block carries its call number on the left and its clock time on the
// right, scaled to stay exact in single precision.
constexpr double kCallScale = 1.0 / (1 << 24);
constexpr double kTimeScale = 1.0 / (1 << 16);

struct Marker {
  double stop_at_ms = 0;  // commit nothing from this clock time on
  int calls = 0;
  int last_committed = -1;
};

void mark_block(Marker* m, audio_frame* frame) {
  float *left = nullptr, *right = nullptr;
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
  EXPECT_EQ(file == nullptr || audio_device_command(writer, "set-file", file) == 1, true);
  EXPECT_EQ(sample_type == nullptr || audio_device_command(writer, "set-sample-type", sample_type) == 1, true);
  EXPECT_EQ(audio_device_command(writer, "stream_name", unique_name("render").c_str()), 1);
  EXPECT_EQ(audio_device_command(writer, "no-such-command", ""), 0);
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

TEST(DiskWriter, EveryCommittedBlockUpToTheSilentEndInFloatOrSixteenBits) {
  TempDir dir;
  std::string path = dir.File("float.wav");
  Marker m;
  ASSERT_EQ(render(&m, path.c_str(), "float", 300.0), 0);
  Sound s = read_sound(path);
  ASSERT_TRUE(s.ok);
  EXPECT_TRUE(s.header_ok);
  EXPECT_EQ(std::pair(s.info.format, s.info.samplerate), std::pair(SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100));
  int first = 0;
  // The last block written is the last one committed: the silent one after it is not.
  EXPECT_EQ(check_blocks(s, &first), m.last_committed);
  EXPECT_EQ(m.calls, m.last_committed + 1);
  // Blocks rendered before the clock rolled were dropped.
  EXPECT_GT(first, 1);
  const float* last = &s.samples[s.samples.size() - 2];
  EXPECT_GE(last[1] / kTimeScale, 300.0 - AUDIO_BLOCK_MS - 1e-3);
  EXPECT_LT(last[1] / kTimeScale, 300.0);

  Marker pcm;
  ASSERT_EQ(render(&pcm, dir.File("pcm.wav").c_str(), nullptr, 100.0), 0);
  s = read_sound(dir.File("pcm.wav"));
  EXPECT_EQ(s.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  EXPECT_GT(s.info.frames, 0);
  EXPECT_EQ(s.info.frames % AUDIO_FRAME_SAMPLES, 0);
  // Without a file name it renders into nothing, without complaint.
  Marker none;
  testing::internal::CaptureStdout();
  EXPECT_EQ(render(&none, nullptr, "float", 50.0), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_GT(none.last_committed, 0);
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
  EXPECT_EQ(printed, "ERROR: cannot write sound file \"" + path + "\": " + sf_strerror(nullptr) + "\n");
  EXPECT_EQ(m.calls, 0);
}

// The whole runtime, ended in one of several ways: by the handler, by a quit
// from another thread, or by a signal.
enum Ending { BY_HANDLER_STOP, BY_QUIT_FROM_ANOTHER_THREAD, BY_SIGNAL };
struct Rendering {
  Ending how;
  int signal_number;
  Marker marker{};
  std::atomic<double> rendered_ms{0};
  std::thread quitter{};
};
Rendering* running;

int32_t ending_handler(uint32_t stream, uint32_t phase, App* app) {
  if (stream == APP_STREAM_APP) {
    if (phase == APP_BEGIN) {
      perf_logenable(0);
      static std::string name;
      name = unique_name("run");
      app->config.name = name.c_str();
      if (running->how == BY_QUIT_FROM_ANOTHER_THREAD)
        running->quitter = std::thread([app] {
          while (running->rendered_ms.load() < 1000) inthread_sleep(1);
          app_quit(app, APP_STREAM_AUDIO);
        });
    }
    return APP_STEP;
  }
  if (phase != APP_STEP) return APP_STEP;
  audio_frame* frame = app->audio_frame;
  running->marker.calls++;
  mark_block(&running->marker, frame);
  // Once the clock rolls and some groups are in the file.
  if (running->how == BY_SIGNAL && running->rendered_ms.load() < 1000 && frame->frame_ms >= 1000)
    kill(getpid(), running->signal_number);
  running->rendered_ms.store(frame->frame_ms);
  // Ending by the handler: this block is the last, and it is committed.
  return running->how == BY_HANDLER_STOP && frame->frame_ms >= 500.0 ? APP_END : APP_STEP;
}

// However the program ends, every block rendered before the end is in the
// file, and its header gives the length as it is.
TEST(DiskWriterEnding, EveryEndingLeavesACompleteFile) {
  const struct {
    Ending how;
    int signal_number;
  } cases[] = {{BY_HANDLER_STOP, 0}, {BY_QUIT_FROM_ANOTHER_THREAD, 0}, {BY_SIGNAL, SIGINT}, {BY_SIGNAL, SIGTERM}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "ending " << c.how << " signal " << c.signal_number);
    TempDir dir;
    Rendering run{c.how, c.signal_number, {}, {0}, {}};
    running = &run;
    std::string out;
    EXPECT_EQ(run_app({"diskwriter-test", "--diskwriter", dir.path}, APP_STREAM_AUDIO, ending_handler, &out), 0)
        << out;
    if (run.quitter.joinable()) run.quitter.join();
    Sound s;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path))
      if (entry.path().extension() == ".wav") s = read_sound(entry.path().string());
    ASSERT_TRUE(s.ok);
    EXPECT_TRUE(s.header_ok);
    ASSERT_GT(check_blocks(s, nullptr), 0);
    double last_ms = s.samples[s.samples.size() - 1] / kTimeScale;
    EXPECT_GE(last_ms, c.how == BY_HANDLER_STOP ? 500.0 : 1000.0 - AUDIO_BLOCK_MS);
    // Stopped by the handler, the block it ended in is there too, and no more.
    EXPECT_TRUE(c.how != BY_HANDLER_STOP || last_ms < 500.0 + AUDIO_BLOCK_MS) << last_ms;
  }
}

}  // namespace
