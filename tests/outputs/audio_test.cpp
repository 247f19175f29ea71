// The realtime audio path: the callback driven with our own buffers. (A real
// stream through the JACK server plays in the runtime's and the examples'
// tests.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <zeal/app/app.h>
#include <zeal/app/app_steps.h>
#include <zeal/base/log.h>
#include <zeal/io/audio_devices.h>
#include <zeal/io/avstream.h>

namespace {

struct Device {
  audio_realtime_device* device;
  float out[2 * AUDIO_FRAME_SAMPLES];
  PaStreamCallbackTimeInfo time{};

  Device() {
    device = reinterpret_cast<audio_realtime_device*>(audio_realtime_make(0, 0.0));
    audio_realtime_prepare(device);
  }
  ~Device() {
    audio_realtime_release(device);
    free(device);
  }
  int block(unsigned long frames = AUDIO_FRAME_SAMPLES) {
    memset(out, 0x7f, sizeof(out));  // not silence, so that zeros are seen to be written
    int result = portaudio_callback(nullptr, out, frames, &time, 0, device);
    time.outputBufferDacTime += AUDIO_FRAME_SAMPLES / AUDIO_SAMPLE_RATE;
    return result;
  }
  bool silent() const { return std::all_of(std::begin(out), std::end(out), [](float x) { return x == 0.0f; }); }
};

int calls;
bool define_only;

void play(void*, audio_frame* frame) {
  calls++;
  float *left = nullptr, *right = nullptr;
  audio_frame_define_stereo(frame, &left, &right);
  if (define_only) return;
  for (int i = 0; i < AUDIO_FRAME_SAMPLES; ++i) left[i] = 0.25f, right[i] = -0.25f;
  audio_frame_commit(frame);
}

// A block defined but never committed plays as silence, not stale samples.
TEST(AudioCallback, WrongBlockSizeOrDefinedFrameWithoutCommitCompletesTheStream) {
  Device d;
  calls = 0;
  define_only = false;
  audio_device_attach(&d.device->head, play, nullptr);
  EXPECT_EQ(d.block(255), paComplete);
  EXPECT_EQ(d.block(512), paComplete);
  EXPECT_EQ(calls, 0);
  ASSERT_EQ(d.block(), paContinue);
  EXPECT_EQ(std::pair(d.out[0], d.out[1]), std::pair(0.25f, -0.25f));
  define_only = true;
  testing::internal::CaptureStdout();
  EXPECT_EQ(d.block(), paComplete);
  log_flush();  // said from inside the callback: queued, not printed
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "defined frame without corresponding commit!\n");
  EXPECT_TRUE(d.silent());
}

double never_time(void*) { return 0; }

TEST(AudioCallback, BeforeTheClockRollsBlocksAreSilentAndTheHandlerIsNotCalled) {
  Device d;
  calls = 0;
  define_only = false;
  audio_device_attach(&d.device->head, play, nullptr);
  // A clock that is never started never rolls.
  d.device->head.channel = avstream_add_channel("audio-test-unstarted", never_time, nullptr);
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(d.block(), paContinue);  // nothing has sounded: silence does not end it
    ASSERT_TRUE(d.silent());
  }
  EXPECT_EQ(calls, 0);
}

// A handler that plays five blocks and then stops its audio stream.
int steps;
int32_t five_blocks(uint32_t stream, uint32_t phase, App* app) {
  if (stream != APP_STREAM_AUDIO) return APP_STEP;
  int slot = app_stream_index(APP_STREAM_AUDIO);
  if (phase == APP_BEGIN) {
    if (app->state[slot] == nullptr) app->state[slot] = malloc(16);
    return APP_STEP;
  }
  if (phase != APP_STEP) return APP_END;
  float *left = nullptr, *right = nullptr;
  audio_frame_define_stereo(app->audio_frame, &left, &right);
  for (int i = 0; i < AUDIO_FRAME_SAMPLES; ++i) left[i] = right[i] = 0.5f;
  audio_frame_commit(app->audio_frame);
  return ++steps < 5 ? APP_STEP : APP_END;
}

TEST(AudioCallback, AfterTheHandlerQuitsTheNextBlockIsSilentAndTheStreamCompletes) {
  Device d;
  App app{};
  app.handler = five_blocks;
  // The display keeps the process alive when audio quits.
  app.config.streams = APP_STREAM_AUDIO | APP_STREAM_DISPLAY;
  steps = 0;
  audio_device_attach(&d.device->head, audiofn, &app);
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(d.block(), paContinue);
    ASSERT_EQ(std::pair(d.out[0], d.out[1]), std::pair(0.5f, 0.5f));
  }
  EXPECT_FALSE(app_has_stream(&app, APP_STREAM_AUDIO));
  EXPECT_EQ(app.state[app_stream_index(APP_STREAM_AUDIO)], nullptr);  // freed when it quit
  EXPECT_EQ(d.block(), paComplete);
  EXPECT_TRUE(d.silent());
  EXPECT_EQ(steps, 5);
}

}  // namespace
