// The disk writer as the runtime drives it, reading what it wrote back with
// libsndfile.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <zeal/app/app.h>
#include <zeal/base/perf.h>
#include "common/run_app.h"
#include "common/test_files.h"
#include <zeal/io/audio.h>

namespace {

// Every block carries its call number on the left and its clock time on the
// right, scaled to stay exact in single precision.
constexpr double kCallScale = 1.0 / (1 << 24);
constexpr double kTimeScale = 1.0 / (1 << 16);

// The rendering ends by the handler, by a quit from another thread, or by a
// signal.
enum Ending { BY_HANDLER_STOP, BY_QUIT_FROM_ANOTHER_THREAD, BY_SIGNAL };
struct Rendering {
  Ending how;
  int signal_number;
  int calls = 0;
  std::atomic<double> rendered_ms{0};
  std::thread quitter{};
};
Rendering* running;

int32_t handler(uint32_t stream, uint32_t phase, App* app) {
  if (stream == APP_STREAM_APP) {
    if (phase == APP_BEGIN) {
      perf_logenable(0);
      app->config.name = "diskwriter-test";
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
  float *left = nullptr, *right = nullptr;
  audio_frame_define_stereo(frame, &left, &right);
  running->calls++;
  for (int i = 0; i < AUDIO_FRAME_SAMPLES; ++i) {
    left[i] = static_cast<float>(running->calls * kCallScale);
    right[i] = static_cast<float>(frame->frame_ms * kTimeScale);
  }
  audio_frame_commit(frame);
  // Once the clock rolls and some groups are in the file.
  if (running->how == BY_SIGNAL && running->rendered_ms.load() < 1000 && frame->frame_ms >= 1000)
    kill(getpid(), running->signal_number);
  running->rendered_ms.store(frame->frame_ms);
  // Ending by the handler: this block is the last, and it is committed.
  return running->how == BY_HANDLER_STOP && frame->frame_ms >= 500.0 ? APP_END : APP_STEP;
}

// Renders into `dir`; the exit status.
int render(Rendering* r, const std::string& dir, std::string* out) {
  running = r;
  int status = run_app({"diskwriter-test", "--diskwriter", dir}, APP_STREAM_AUDIO, handler, out);
  if (r->quitter.joinable()) r->quitter.join();
  return status;
}

uint32_t le32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

// libsndfile forgives a header that was never finished; other readers do
// not. The RIFF and data sizes must describe the file as it is.
bool header_complete(const std::string& bytes) {
  auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  if (bytes.size() < 12 || memcmp(b, "RIFF", 4) != 0 || le32(b + 4) != bytes.size() - 8) return false;
  for (size_t at = 12; at + 8 <= bytes.size();) {
    uint32_t chunk = le32(b + at + 4);
    if (memcmp(b + at, "data", 4) == 0) return at + 8 + chunk == bytes.size();
    at += 8 + chunk + (chunk & 1);
  }
  return false;
}

}  // namespace

// However the rendering ends, every block rendered before the end is in the
// float WAV file, in order from clock time 0 on, and its header gives the
// length as it is.
TEST(DiskWriter, EveryEndingLeavesACompleteFile) {
  const struct {
    Ending how;
    int signal_number;
  } cases[] = {{BY_HANDLER_STOP, 0}, {BY_QUIT_FROM_ANOTHER_THREAD, 0}, {BY_SIGNAL, SIGINT}, {BY_SIGNAL, SIGTERM}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "ending " << c.how << " signal " << c.signal_number);
    TempDir dir;
    Rendering r{c.how, c.signal_number};
    std::string out;
    ASSERT_EQ(render(&r, dir.path, &out), 0) << out;
    std::string path = dir.File("diskwriter-test.wav");
    EXPECT_TRUE(header_complete(read_file(path)));
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(std::pair(info.format, info.samplerate), std::pair(SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100));
    ASSERT_EQ(info.channels, 2);
    std::vector<float> s(2 * info.frames);
    ASSERT_EQ(sf_readf_float(file, s.data(), info.frames), info.frames);
    sf_close(file);
    ASSERT_GT(info.frames, 0);
    ASSERT_EQ(info.frames % AUDIO_FRAME_SAMPLES, 0);
    int first = static_cast<int>(std::lround(s[0] / kCallScale));
    EXPECT_EQ(s[1], 0.0f) << "the first block is at clock time 0";
    for (size_t i = 0; i < s.size(); i += 2)
      ASSERT_EQ(std::lround(s[i] / kCallScale), first + static_cast<long>(i / 2 / AUDIO_FRAME_SAMPLES)) << i;
    double last_ms = s.back() / kTimeScale;
    EXPECT_GE(last_ms, c.how == BY_HANDLER_STOP ? 500.0 : 1000.0 - AUDIO_BLOCK_MS);
    // Stopped by the handler, the block it ended in is there too, and no more.
    EXPECT_TRUE(c.how != BY_HANDLER_STOP || last_ms < 500.0 + AUDIO_BLOCK_MS) << last_ms;
  }
}

// A file that cannot be made ends the rendering before it starts: rendering
// into nothing would only look like success.
TEST(DiskWriter, UnwritableFileIsReportedAndNothingIsRendered) {
  TempDir dir;
  std::string path = dir.File("diskwriter-test.wav");
  std::filesystem::create_directory(path);  // where the file should go
  Rendering r{BY_HANDLER_STOP, 0};
  std::string out;
  EXPECT_EQ(render(&r, dir.path, &out), 1);
  EXPECT_EQ(lines_starting(out, "ERROR:"),
            std::vector<std::string>{"cannot write sound file \"" + path + "\": " + sf_strerror(nullptr)})
      << out;
  EXPECT_EQ(r.calls, 0);
}
