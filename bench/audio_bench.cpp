#include <benchmark/benchmark.h>

#include <cstdlib>

#include <zeal/app/app.h>
#include <zeal/app/app_steps.h>
#include <zeal/base/perf.h>
#include <zeal/io/audio_devices.h>
#include <zeal/io/avstream.h>

namespace {

double wall_time(void*) { return get_milliseconds(); }

// A handler that only defines and commits its frame, writing no samples:
// what is left is the framework's work.
int32_t empty_handler(uint32_t stream, uint32_t phase, App* app) {
  if (stream == APP_STREAM_AUDIO && phase == APP_STEP) {
    float* left = nullptr;
    float* right = nullptr;
    audio_frame_define_stereo(app->audio_frame, &left, &right);
    audio_frame_commit(app->audio_frame);
  }
  return APP_STEP;
}

}  // namespace

// One realtime block as PortAudio would deliver it: clock mapping, the
// runtime's two-call step, completion rules, interleaving and the advance.
static void BM_AudioCallbackOverhead(benchmark::State& state) {
  auto* device = reinterpret_cast<audio_realtime_device*>(audio_realtime_make(0, 0.0));
  audio_realtime_prepare(device);
  // The statistics line is part of the cost; where it goes is not.
  perf_logfile("/dev/null");
  App app{};
  app.handler = empty_handler;
  app.config.streams = APP_STREAM_AUDIO;
  audio_device_attach(&device->head, audiofn, &app);
  // A rolling clock, as once the piece plays.
  device->head.channel = avstream_add_channel("audio-bench", wall_time, nullptr);
  avstream_channel_advance(device->head.channel, 0, 1);
  avstream_start(device->head.channel, 0);
  while (!avstream_is_rolling(device->head.channel)) inthread_sleep(10);

  float out[2 * AUDIO_FRAME_SAMPLES];
  PaStreamCallbackTimeInfo time{};
  time.outputBufferDacTime = get_milliseconds() * 0.001;
  for (auto _ : state) {
    benchmark::DoNotOptimize(portaudio_callback(nullptr, out, AUDIO_FRAME_SAMPLES, &time, 0, device));
    benchmark::ClobberMemory();
    time.outputBufferDacTime += AUDIO_FRAME_SAMPLES / AUDIO_SAMPLE_RATE;
  }
  avstream_channel_stop(device->head.channel);
  audio_realtime_release(device);
  free(device);
}
BENCHMARK(BM_AudioCallbackOverhead);
